#include "assets/images/images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "gfx/png_writer.h"
#include "tests/support/test_paths.h"

namespace zorbrix::assets {
namespace {

constexpr int kScreenW = 512, kScreenH = 384;

// Drawing every picture takes a moment; do it once for the whole suite.
class Images : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pictures_ = new std::vector<Picture>;
        std::string error;
        ok_ = render_all_images(pictures_, &error);
        error_ = error;
        for (const Picture& p : *pictures_) by_name_[p.name] = &p;
    }
    static void TearDownTestSuite() {
        delete pictures_;
        pictures_ = nullptr;
        by_name_.clear();
    }
    void SetUp() override { ASSERT_TRUE(ok_) << error_; }

    static const Picture& get(const std::string& name) {
        auto it = by_name_.find(name);
        if (it == by_name_.end()) throw std::runtime_error("no picture " + name);
        return *it->second;
    }
    static uint8_t alpha(const Picture& p, int x, int y) { return uint8_t(p.pixels[size_t(y) * p.width + x] >> 24); }
    // Bounding box of the pixels whose alpha reaches `threshold`: x0, y0, x1, y1 (exclusive); all 0 if none.
    static std::array<int, 4> ink_box(const Picture& p, int threshold) {
        int x0 = p.width, y0 = p.height, x1 = 0, y1 = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                if (alpha(p, x, y) >= threshold) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x + 1), y1 = std::max(y1, y + 1);
                }
        if (x1 == 0) return {0, 0, 0, 0};
        return {x0, y0, x1, y1};
    }

    static std::vector<Picture>* pictures_;
    static std::map<std::string, const Picture*> by_name_;
    static bool ok_;
    static std::string error_;
};

std::vector<Picture>* Images::pictures_ = nullptr;
std::map<std::string, const Picture*> Images::by_name_;
bool Images::ok_ = false;
std::string Images::error_;

// write_all_images draws everything afresh, so comparing its files with the suite's pictures also shows
// that drawing is deterministic: the same bytes every time.
TEST_F(Images, EveryFileIsWrittenUnderItsNameAndHoldsTheSameBytesAsAnotherDrawing) {
    const std::string dir = test_output_path("images/tga");
    std::filesystem::remove_all(dir);
    std::string error;
    ASSERT_TRUE(write_all_images(dir, &error)) << error;

    std::set<std::string> expected = {"tekst.tga",
                                      "corner_upper_left.tga",
                                      "corner_upper_right.tga",
                                      "corner_lower_right.tga",
                                      "corner_lower_left.tga",
                                      "zorbrixlogo_stor.tga",
                                      "intro_1.tga",
                                      "intro_2.tga",
                                      "kolon.tga"};
    for (int d = 0; d <= 9; ++d) expected.insert(std::to_string(d) + ".tga");
    const std::vector<std::string> captions = caption_file_names();
    ASSERT_EQ(captions.size(), 16u);
    EXPECT_EQ(captions[0], "text_100_mbit_lan.tga");
    EXPECT_EQ(captions[3], "text_web_address.tga");
    EXPECT_EQ(captions[12], "text_counterstrike_4_vs_4.tga");
    EXPECT_EQ(captions[15], "text_xbill.tga");
    expected.insert(captions.begin(), captions.end());
    ASSERT_EQ(expected.size(), 35u);

    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) written.insert(entry.path().filename().string());
    EXPECT_EQ(written, expected);
    const std::vector<std::string> names = image_file_names();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);

    // Each file is an uncompressed 32-bit Targa, rows bottom-up, that reads back as the picture drawn.
    for (const std::string& name : expected) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        const std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GE(f.size(), 18u) << name;
        const int w = f[12] | f[13] << 8, h = f[14] | f[15] << 8;
        EXPECT_EQ(f[2], 2) << name;
        EXPECT_EQ(f[16], 32) << name;
        ASSERT_EQ(f.size(), 18u + size_t(w) * h * 4) << name;
        const Picture& p = get(name);
        ASSERT_EQ(w, p.width) << name;
        ASSERT_EQ(h, p.height) << name;
        bool same = true;
        for (int y = 0; y < h && same; ++y)
            for (int x = 0; x < w && same; ++x) {
                const uint8_t* b = &f[18 + (size_t(h - 1 - y) * w + x) * 4];
                same = (uint32_t(b[3]) << 24 | b[2] << 16 | b[1] << 8 | b[0]) == p.pixels[size_t(y) * w + x];
            }
        EXPECT_TRUE(same) << name << " differs from the suite's drawing (rows not bottom-up, or not deterministic)";
    }
}

TEST_F(Images, ColoursArePremultipliedAndEveryPictureShowsSomething) {
    for (const Picture& p : *pictures_) {
        size_t bad = 0, solid = 0;
        for (uint32_t v : p.pixels) {
            const uint32_t a = v >> 24;
            if (((v >> 16) & 0xff) > a || ((v >> 8) & 0xff) > a || (v & 0xff) > a) ++bad;
            if (a >= 200) ++solid;
        }
        EXPECT_EQ(bad, 0u) << p.name;
        EXPECT_GT(solid, 20u) << p.name << " is (nearly) empty";
        EXPECT_EQ(p.pixels.size(), size_t(p.width) * p.height) << p.name;
    }
}

TEST_F(Images, ClockGlyphsShareOneHeightAndDigitsOneWidth) {
    const Picture& zero = get("0.tga");
    EXPECT_LE(zero.height, 40) << "the clock at y 344 must end within the 384-row screen";
    EXPECT_GE(zero.height, 24);
    for (int d = 0; d <= 9; ++d) {
        const Picture& g = get(std::to_string(d) + ".tga");
        EXPECT_EQ(g.width, zero.width) << d;
        EXPECT_EQ(g.height, zero.height) << d;
        // The digit's ink stays inside its cell with room for the halo, so neighbours do not touch.
        const auto box = ink_box(g, 128);
        EXPECT_GE(box[0], 2) << d;
        EXPECT_LE(box[2], g.width - 2) << d;
    }
    const Picture& colon = get("kolon.tga");
    EXPECT_EQ(colon.height, zero.height);
    EXPECT_LT(colon.width, zero.width);
    const int clock_width = 4 * zero.width + colon.width;  // "27:00"
    EXPECT_LE(clock_width, kScreenW / 2);
}

TEST_F(Images, OverlaysFitTheScreenAndLeaveThePictureVisible) {
    for (const Picture& p : *pictures_) {
        if (p.name == "tekst.tga") continue;
        EXPECT_LE(p.width, kScreenW) << p.name;
        EXPECT_LE(p.height, kScreenH) << p.name;
    }
    // The corners are mirror images of one ornament and stay modest.
    const Picture& ul = get("corner_upper_left.tga");
    EXPECT_LE(ul.width, 96);
    EXPECT_LE(ul.height, 96);
    const Picture& ur = get("corner_upper_right.tga");
    const Picture& lr = get("corner_lower_right.tga");
    const Picture& ll = get("corner_lower_left.tga");
    for (int y = 0; y < ul.height; ++y)
        for (int x = 0; x < ul.width; ++x) {
            const uint32_t v = ul.pixels[size_t(y) * ul.width + x];
            ASSERT_EQ(v, ur.pixels[size_t(y) * ur.width + (ur.width - 1 - x)]) << x << "," << y;
            ASSERT_EQ(v, lr.pixels[size_t(lr.height - 1 - y) * lr.width + (lr.width - 1 - x)]) << x << "," << y;
            ASSERT_EQ(v, ll.pixels[size_t(ll.height - 1 - y) * ll.width + x]) << x << "," << y;
        }
    // The ornament hugs the corner: its far inner quarter is empty.
    for (int y = ul.height / 2; y < ul.height; ++y)
        for (int x = ul.width / 2; x < ul.width; ++x) ASSERT_EQ(alpha(ul, x, y), 0) << x << "," << y;
}

TEST_F(Images, CaptionsSitBelowTheObjectAndClearOfTheCorners) {
    const Picture& corner = get("corner_lower_left.tga");
    for (const std::string& name : caption_file_names()) {
        const Picture& p = get(name);
        // Where the text lands on the screen when the caption is drawn centred.
        const int ox = (kScreenW - p.width) / 2, oy = (kScreenH - p.height) / 2;
        const auto box = ink_box(p, 160);
        ASSERT_NE(box[2], 0) << name;
        EXPECT_GE(oy + box[1], kScreenH * 2 / 3) << name << " overlaps the middle of the screen";
        EXPECT_LE(oy + box[3], kScreenH - 8) << name;
        EXPECT_GE(ox + box[0], corner.width) << name << " runs into the lower left corner";
        EXPECT_LE(ox + box[2], kScreenW - corner.width) << name << " runs into the lower right corner";
    }
}

TEST_F(Images, ScrollerTextIsAWholeNumberOfScreens) {
    const Picture& t = get("tekst.tga");
    EXPECT_EQ(t.width, kScreenW);
    EXPECT_EQ(t.height % kScreenH, 0);
    EXPECT_GE(t.height, 4 * kScreenH);
    // Every screen-high page carries text.
    for (int page = 0; page < t.height / kScreenH; ++page) {
        size_t solid = 0;
        for (int y = page * kScreenH; y < (page + 1) * kScreenH; ++y)
            for (int x = 0; x < t.width; ++x) solid += alpha(t, x, y) == 255;
        EXPECT_GT(solid, 800u) << "page " << page;
    }
    // Nothing crosses from one page into the next: a Page Down always shows whole pages.
    for (int boundary = kScreenH; boundary < t.height; boundary += kScreenH)
        for (int y = boundary - 4; y < boundary + 4; ++y)
            for (int x = 0; x < t.width; ++x) ASSERT_EQ(alpha(t, x, y), 0) << "row " << y;
}

TEST(ImagesErrors, MissingFontsAreReportedNotDrawnAsEmptyPictures) {
    std::vector<Picture> pictures;
    std::string error;
    EXPECT_FALSE(render_all_images(&pictures, &error, test_output_path("no-fonts-here")));
    EXPECT_NE(error.find("DejaVuSans"), std::string::npos) << error;
    EXPECT_NE(error.find("fonts-dejavu-core"), std::string::npos) << error;
    EXPECT_TRUE(pictures.empty());
}

TEST(ImagesErrors, AnUnwritableFolderIsReported) {
    const std::string file = test_output_path("images-not-a-folder");
    std::ofstream(file) << "x";
    std::string error;
    EXPECT_FALSE(write_all_images(file + "/sub", &error));
    EXPECT_FALSE(error.empty());
}

// ---------------------------------------------------------------------------------------------------------------
// Pictures for people: a contact sheet of everything over a dark, cool backdrop, and mock-ups of whole screens.

struct Screen {
    int w, h;
    std::vector<uint32_t> px;  // 0x00RRGGBB
    Screen(int width, int height) : w(width), h(height), px(size_t(width) * height, 0) {}

    // Stand-in for the moving video: a dark, cool gradient with a brighter diagonal band.
    void backdrop(int x0, int y0, int bw, int bh) {
        for (int y = y0; y < y0 + bh && y < h; ++y)
            for (int x = x0; x < x0 + bw && x < w; ++x) {
                const float t = float(y - y0) / float(bh), u = float(x - x0) / float(bw);
                const float band = std::exp(-std::pow((u * 1.2f - t - 0.1f) * 4.0f, 2.0f));
                const int r = int(10 + 20 * t + 50 * band), g = int(22 + 30 * t + 70 * band),
                          b = int(40 + 50 * t + 90 * band);
                px[size_t(y) * w + x] = uint32_t(r << 16 | g << 8 | b);
            }
    }
    // Stand-in for the cream 3D object in the middle of the screen: a shaded disc of the fill colour.
    void blob(int cx, int cy, int radius) {
        for (int y = cy - radius; y <= cy + radius; ++y)
            for (int x = cx - radius; x <= cx + radius; ++x) {
                const float dx = float(x - cx) / radius, dy = float(y - cy) / radius;
                const float d2 = dx * dx + dy * dy;
                if (d2 > 1 || x < 0 || y < 0 || x >= w || y >= h) continue;
                const float shade = 0.55f + 0.45f * std::sqrt(1 - d2) * (0.7f - 0.3f * dx - 0.3f * dy);
                px[size_t(y) * w + x] = uint32_t(int(250 * shade) << 16 | int(224 * shade) << 8 | int(175 * shade));
            }
    }
    // Premultiplied "over": out = src + dst * (255 - a) / 255, per channel.
    void draw(const Picture& p, int x0, int y0) {
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const int dx = x0 + x, dy = y0 + y;
                if (dx < 0 || dy < 0 || dx >= w || dy >= h) continue;
                const uint32_t s = p.pixels[size_t(y) * p.width + x], d = px[size_t(dy) * w + dx];
                const uint32_t a = s >> 24;
                uint32_t out = 0;
                for (int shift = 0; shift <= 16; shift += 8) {
                    const uint32_t c = ((s >> shift) & 0xff) + ((d >> shift) & 0xff) * (255 - a) / 255;
                    out |= std::min<uint32_t>(c, 255) << shift;
                }
                px[size_t(dy) * w + dx] = out;
            }
    }
};

TEST_F(Images, ContactSheetAndScreenMockUps) {
    // Contact sheet: every overlay (the scroller text separately), packed in rows.
    Screen sheet(1040, 1040);
    sheet.backdrop(0, 0, sheet.w, sheet.h);
    int x = 8, y = 8, row_h = 0;
    for (const Picture& full : *pictures_) {
        if (full.name == "tekst.tga") continue;
        // Captions are mostly transparent: show only their text band.
        const auto box = ink_box(full, 1);
        Picture p{full.name, box[2] - box[0], box[3] - box[1], {}};
        for (int yy = box[1]; yy < box[3]; ++yy)
            p.pixels.insert(p.pixels.end(), full.pixels.begin() + ptrdiff_t(yy) * full.width + box[0],
                            full.pixels.begin() + ptrdiff_t(yy) * full.width + box[2]);
        if (x + p.width > sheet.w - 8) x = 8, y += row_h + 8, row_h = 0;
        sheet.draw(p, x, y);
        x += p.width + 8;
        row_h = std::max(row_h, p.height);
    }
    EXPECT_TRUE(write_png_rgb(test_output_path("images_contact_sheet.png"), sheet.px.data(), sheet.w, sheet.h));

    // Screen mock-ups, each 512 x 384 with the four corners: the clock, the intro pictures, two captions and the
    // logo over the object, then every page of the scroller text.
    const Picture& tekst = get("tekst.tga");
    const int pages = tekst.height / kScreenH;
    const int shots = 6 + pages;
    Screen mock(2 * kScreenW, ((shots + 1) / 2) * kScreenH);
    for (int i = 0; i < shots; ++i) {
        const int sx = (i % 2) * kScreenW, sy = (i / 2) * kScreenH;
        mock.backdrop(sx, sy, kScreenW, kScreenH);
        auto centred = [&](const Picture& p) {
            mock.draw(p, sx + (kScreenW - p.width) / 2, sy + (kScreenH - p.height) / 2);
        };
        auto glyph = [&](char c) -> const Picture& { return get(c == ':' ? "kolon.tga" : std::string(1, c) + ".tga"); };
        if (i == 0) {
            // The countdown: centred, top edge at row 344.
            const std::string text = "27:00";
            int width = 0;
            for (char c : text) width += glyph(c).width;
            int cx = sx + (kScreenW - width) / 2;
            for (char c : text) {
                mock.draw(glyph(c), cx, sy + 344);
                cx += glyph(c).width;
            }
        } else if (i == 1 || i == 2) {
            centred(get(i == 1 ? "intro_1.tga" : "intro_2.tga"));
        } else if (i == 3 || i == 4) {
            mock.blob(sx + 256, sy + 192, i == 3 ? 150 : 110);
            centred(get(i == 3 ? "text_counterstrike_4_vs_4.tga" : "text_web_address.tga"));
        } else if (i == 5) {
            mock.blob(sx + 256, sy + 192, 130);
            centred(get("zorbrixlogo_stor.tga"));
        } else {
            mock.blob(sx + 256, sy + 192, 120);
        }
        const Picture* corners[4] = {&get("corner_upper_left.tga"), &get("corner_upper_right.tga"),
                                     &get("corner_lower_right.tga"), &get("corner_lower_left.tga")};
        mock.draw(*corners[0], sx, sy);
        mock.draw(*corners[1], sx + kScreenW - corners[1]->width, sy);
        mock.draw(*corners[2], sx + kScreenW - corners[2]->width, sy + kScreenH - corners[2]->height);
        mock.draw(*corners[3], sx, sy + kScreenH - corners[3]->height);
        if (i >= 6) {
            // The scroller draws the text at (0, -scroll_offset), clipped to the screen.
            const int page = i - 6;
            Picture slice{"", kScreenW, kScreenH, {}};
            slice.pixels.assign(tekst.pixels.begin() + ptrdiff_t(page) * kScreenH * kScreenW,
                                tekst.pixels.begin() + ptrdiff_t(page + 1) * kScreenH * kScreenW);
            mock.draw(slice, sx, sy);
        }
    }
    EXPECT_TRUE(write_png_rgb(test_output_path("images_screen_mockups.png"), mock.px.data(), mock.w, mock.h));
}

}  // namespace
}  // namespace zorbrix::assets
