// Image, the clipped blits, the faded blits, the enlargement of the video frame and the frame layout.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "gfx/image.h"

using zorbrix::clip_blit;
using zorbrix::draw_centered_faded;
using zorbrix::draw_corners;
using zorbrix::fade_to_byte;
using zorbrix::Image;
using zorbrix::IMAGE_ALPHA;
using zorbrix::row_kernels_for;
using zorbrix::upscale_video_2x;

namespace {

constexpr uint32_t kBackground = 0x00123456u;

struct Canvas {
    int width;
    int height;
    std::vector<uint32_t> pixels;
    Canvas(int w, int h, uint32_t fill = kBackground) : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
    uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    uint32_t* data() { return pixels.data(); }
};

// A picture whose every pixel is different: (row << 12) | column, with the given alpha byte.
Image numbered_image(int w, int h, int flags, uint32_t alpha = 0) {
    std::vector<uint32_t> p(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = (alpha << 24) | (uint32_t(y) << 12) | x;
    Image img;
    EXPECT_EQ(img.set_pixels(p.data(), w, h, flags), 1);
    return img;
}

Image solid_image(int w, int h, uint32_t colour, int flags) {
    std::vector<uint32_t> p(static_cast<size_t>(w) * h, colour);
    Image img;
    EXPECT_EQ(img.set_pixels(p.data(), w, h, flags), 1);
    return img;
}

// What a copy-mode draw must give, pixel by pixel: every canvas pixel that some image pixel lands on takes it.
Canvas expected_copy(const Canvas& before, const Image& img, int x, int y) {
    Canvas out = before;
    for (int cy = 0; cy < out.height; ++cy)
        for (int cx = 0; cx < out.width; ++cx) {
            const int64_t sx = int64_t{cx} - x, sy = int64_t{cy} - y;
            if (sx >= 0 && sy >= 0 && sx < img.width() && sy < img.height())
                out.at(cx, cy) = img.pixels()[sy * img.width() + sx];
        }
    return out;
}

TEST(Image, StartsEmptyAndStoresACopy) {
    Image img;
    EXPECT_EQ(img.width(), 0);
    EXPECT_EQ(img.height(), 0);
    EXPECT_EQ(img.pixels(), nullptr);
    EXPECT_FALSE(img.has_alpha());

    std::vector<uint32_t> p = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(img.set_pixels(p.data(), 3, 2, IMAGE_ALPHA | 8), 1);
    p[0] = 99;
    EXPECT_EQ(img.width(), 3);
    EXPECT_EQ(img.height(), 2);
    EXPECT_TRUE(img.has_alpha());
    EXPECT_EQ(img.pixels()[0], 1u);
    EXPECT_EQ(img.pixels()[5], 6u);

    // Replacing with a block of its own pixels must not read freed memory.
    ASSERT_EQ(img.set_pixels(img.pixels() + 3, 3, 1, 0), 1);
    EXPECT_EQ(img.pixels()[0], 4u);
    EXPECT_EQ(img.pixels()[2], 6u);
    EXPECT_FALSE(img.has_alpha());

    Image moved = std::move(img);
    EXPECT_EQ(moved.width(), 3);
    EXPECT_EQ(img.width(), 0);
    EXPECT_EQ(img.pixels(), nullptr);
}

TEST(Image, RejectsImpossibleSizesAndKeepsWhatItHad) {
    Image img = solid_image(2, 2, 7, 0);
    const uint32_t one = 1;
    EXPECT_EQ(img.set_pixels(&one, -1, 5, 0), 0);
    EXPECT_EQ(img.set_pixels(&one, 5, -1, 0), 0);
    EXPECT_EQ(img.set_pixels(nullptr, 2, 2, 0), 0);
    EXPECT_EQ(img.set_pixels(&one, INT_MAX, INT_MAX, 0), 0);  // far more than memory holds
    EXPECT_EQ(img.width(), 2);
    EXPECT_EQ(img.pixels()[3], 7u);
    // An empty size is a valid (empty) picture.
    EXPECT_EQ(img.set_pixels(nullptr, 0, 0, IMAGE_ALPHA), 1);
    EXPECT_EQ(img.pixels(), nullptr);
    EXPECT_EQ(img.width(), 0);
}

TEST(Image, EmptyImageDrawsNothingAnywhere) {
    Image empty;
    Canvas c(32, 24);
    const Canvas before = c;
    empty.draw(c.data(), c.width, c.height, 0, 0);
    empty.draw_faded(c.data(), c.width, c.height, 3, 3, 1.0);
    draw_centered_faded(c.data(), c.width, c.height, empty, 1.0);
    const Image corners[4];
    draw_corners(c.data(), c.width, c.height, corners);
    EXPECT_EQ(c.pixels, before.pixels);
}

TEST(ClipBlit, CutsOnEverySideWithoutOverflow) {
    const auto r = clip_blit(30, 20, 512, 384, -10, 5);  // loses its 10 leftmost columns
    ASSERT_TRUE(r);
    EXPECT_EQ((std::array{r->left, r->top, r->right, r->bottom, r->dx, r->dy}), (std::array{10, 0, 29, 19, 0, 5}));
    EXPECT_FALSE(clip_blit(30, 20, 512, 384, 512, 0));
    EXPECT_FALSE(clip_blit(0, 0, 512, 384, 0, 0));
    EXPECT_FALSE(clip_blit(30, 20, -5, 384, 0, 0));
    for (const int p : {INT_MIN, INT_MAX}) {
        EXPECT_FALSE(clip_blit(30, 20, 512, 384, p, 0));
        EXPECT_FALSE(clip_blit(30, 20, 512, 384, 0, p));
    }
    // A picture of INT_MAX columns starting at INT_MIN + 5 reaches x = 3: four columns show.
    const auto far = clip_blit(INT_MAX, INT_MAX, 512, 384, INT_MIN + 5, -3);
    ASSERT_TRUE(far);
    EXPECT_EQ((std::array{far->left, far->top, far->right, far->bottom}),
              (std::array{INT_MAX - 4, 3, INT_MAX - 1, 386}));
}

TEST(Image, CopyDrawLandsExactlyWhereItShouldAtEveryPosition) {
    const Image img = numbered_image(13, 7, 0, 0xAB);
    const Canvas blank(20, 12);
    for (int y = -9; y <= 14; ++y) {
        for (int x = -15; x <= 22; ++x) {
            Canvas c = blank;
            img.draw(c.data(), c.width, c.height, x, y);
            ASSERT_EQ(c.pixels, expected_copy(blank, img, x, y).pixels) << "at " << x << ", " << y;
        }
    }
    // A picture larger than the destination on every side.
    const Image big = numbered_image(40, 30, 0);
    Canvas c = blank;
    big.draw(c.data(), c.width, c.height, -7, -5);
    EXPECT_EQ(c.pixels, expected_copy(blank, big, -7, -5).pixels);
    // Far-away and extreme positions draw nothing and do not crash.
    for (const int p : {INT_MIN, INT_MAX, -1000000, 1000000}) {
        Canvas d = blank;
        img.draw(d.data(), d.width, d.height, p, 0);
        img.draw_faded(d.data(), d.width, d.height, 0, p, 1.0);
        EXPECT_EQ(d.pixels, blank.pixels);
    }
    img.draw(nullptr, 20, 12, 0, 0);
}

TEST(Image, AlphaDrawBlendsEveryRowOfTheClippedRectangle) {
    std::mt19937 rng(3);
    std::vector<uint32_t> p(17 * 9);
    for (auto& v : p) v = rng();
    Image img;
    img.set_pixels(p.data(), 17, 9, IMAGE_ALPHA);
    Canvas c(16, 8);
    for (auto& v : c.pixels) v = rng();
    Canvas expected = c;
    // Drawn at (-3, 2): source rows 0..5, columns 3..16 onto destination rows 2..7, columns 0..13.
    for (int row = 0; row < 6; ++row)
        row_kernels_for(zorbrix::CpuLevel::scalar)
            .blend_row(&expected.at(0, row + 2), &p[static_cast<size_t>(row) * 17 + 3], 14);
    img.draw(c.data(), c.width, c.height, -3, 2);
    EXPECT_EQ(c.pixels, expected.pixels);

    // The faded draw goes through the faded blend with the fade as a byte.
    Canvas f = c, f_expected = c;
    for (int row = 0; row < 6; ++row)
        row_kernels_for(zorbrix::CpuLevel::scalar)
            .blend_row_faded(&f_expected.at(0, row + 2), &p[static_cast<size_t>(row) * 17 + 3], 14, fade_to_byte(0.37));
    img.draw_faded(f.data(), f.width, f.height, -3, 2, 0.37);
    EXPECT_EQ(f.pixels, f_expected.pixels);
}

TEST(Image, FadedDrawClampsTheFade) {
    const Image img = numbered_image(9, 5, IMAGE_ALPHA, 0xC0);
    Canvas a(12, 8), b(12, 8);
    img.draw_faded(a.data(), a.width, a.height, 1, 1, 1.7);
    img.draw_faded(b.data(), b.width, b.height, 1, 1, 1.0);
    EXPECT_EQ(a.pixels, b.pixels);
    Canvas c(12, 8), d(12, 8);
    img.draw_faded(c.data(), c.width, c.height, 1, 1, -0.3);
    img.draw_faded(d.data(), d.width, d.height, 1, 1, 0.0);
    EXPECT_EQ(c.pixels, d.pixels);
    EXPECT_EQ(c.pixels, Canvas(12, 8).pixels);  // the background has no byte of value 1, so nothing changes
    Canvas n(12, 8);
    img.draw_faded(n.data(), n.width, n.height, 1, 1, std::nan(""));
    EXPECT_EQ(n.pixels, Canvas(12, 8).pixels);
}

TEST(Image, FadedDrawOfAnImageWithoutAlphaIsAnOpaqueFade) {
    std::mt19937 rng(11);
    std::vector<uint32_t> p(300 * 3);           // wider than the chunk the opaque fade works in
    for (auto& v : p) v = rng() & 0x00FFFFFFu;  // alpha 0, as a picture without an alpha channel may carry
    Image img;
    img.set_pixels(p.data(), 300, 3, 0);
    for (const double fade : {0.0, 0.25, 0.5, 1.0}) {
        Canvas c(302, 3);
        for (auto& v : c.pixels) v = rng();
        Canvas expected = c;
        std::vector<uint32_t> opaque(p);
        for (auto& v : opaque) v |= 0xFF000000u;
        for (int row = 0; row < 3; ++row)
            row_kernels_for(zorbrix::CpuLevel::scalar)
                .blend_row_faded(&expected.at(2, row), &opaque[static_cast<size_t>(row) * 300], 300,
                                 fade_to_byte(fade));
        img.draw_faded(c.data(), c.width, c.height, 2, 0, fade);
        ASSERT_EQ(c.pixels, expected.pixels) << "fade " << fade;
    }
}

TEST(UpscaleVideo2x, FillsAllButTheTopTwoRowsAndTheOuterColumns) {
    std::mt19937 rng(21);
    std::vector<uint32_t> frame(256 * 192);
    for (auto& v : frame) v = rng() & 0x00FFFFFFu;
    constexpr uint32_t kUntouched = 0xCAFEF00Du;
    Canvas screen(512, 384, kUntouched);
    upscale_video_2x(screen.data(), frame.data(), 512, 384);
    for (int y = 0; y < 384; ++y) {
        for (int x = 0; x < 512; ++x) {
            const bool written = y >= 2 && x >= 1 && x <= 510;
            ASSERT_EQ(screen.at(x, y) != kUntouched, written) << x << ", " << y;
        }
    }
    // Source pixel (i, p) lands at (2i + 1, 2p + 2); a row pair lands on screen rows 2p + 2 and 2p + 3.
    Canvas expected(512, 384, kUntouched);
    for (int p = 0; p < 191; ++p)
        row_kernels_for(zorbrix::CpuLevel::scalar)
            .upscale_row_pair(&expected.at(1, 2 * p + 2), &frame[static_cast<size_t>(p) * 256], 512);
    EXPECT_EQ(screen.pixels, expected.pixels);
    EXPECT_EQ(screen.at(1, 2), frame[0]);
    EXPECT_EQ(screen.at(2 * 100 + 1, 2 * 50 + 2), frame[50 * 256 + 100]);

    // Too small to have a row pair: nothing happens.
    Canvas tiny(8, 3, kUntouched);
    upscale_video_2x(tiny.data(), frame.data(), 8, 3);
    EXPECT_EQ(tiny.pixels, Canvas(8, 3, kUntouched).pixels);
    upscale_video_2x(tiny.data(), frame.data(), -8, 3);
    upscale_video_2x(tiny.data(), frame.data(), 3, 8);
    upscale_video_2x(nullptr, frame.data(), 512, 384);
    EXPECT_EQ(tiny.pixels, Canvas(8, 3, kUntouched).pixels);
}

TEST(DrawCorners, PutsEachImageInItsCorner) {
    Image corners[4];
    corners[0] = solid_image(5, 3, 0x00000011u, 0);
    corners[1] = solid_image(4, 6, 0x00000022u, 0);
    corners[2] = solid_image(7, 2, 0x00000033u, 0);
    corners[3] = solid_image(3, 5, 0x00000044u, 0);
    Canvas c(20, 16, 0);
    draw_corners(c.data(), c.width, c.height, corners);
    Canvas expected(20, 16, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) expected.at(x, y) = 0x11;
    for (int y = 0; y < 6; ++y)
        for (int x = 16; x < 20; ++x) expected.at(x, y) = 0x22;
    for (int y = 14; y < 16; ++y)
        for (int x = 13; x < 20; ++x) expected.at(x, y) = 0x33;
    for (int y = 11; y < 16; ++y)
        for (int x = 0; x < 3; ++x) expected.at(x, y) = 0x44;
    EXPECT_EQ(c.pixels, expected.pixels);
    draw_corners(c.data(), c.width, c.height, nullptr);
}

TEST(DrawCenteredFaded, CentresRoundingTowardZero) {
    const Image img = solid_image(4, 4, 0xFFFFFFFFu, IMAGE_ALPHA);
    Canvas c(11, 9, 0);
    draw_centered_faded(c.data(), c.width, c.height, img, 1.0);
    // (11 - 4) / 2 = 3, (9 - 4) / 2 = 2.
    EXPECT_EQ(c.pixels, expected_copy(Canvas(11, 9, 0), img, 3, 2).pixels);

    // Larger than the screen: (10 - 13) / 2 = -1 (toward zero), not -2.
    const Image big = numbered_image(13, 13, IMAGE_ALPHA, 0xFF);
    Canvas d(10, 10, 0);
    draw_centered_faded(d.data(), d.width, d.height, big, 1.0);
    // At full fade an opaque pixel shows as it is, but for bytes of value 1, which round down to 0.
    const auto full_fade = [](uint32_t v) {
        uint32_t out = 0;
        for (int k = 0; k < 4; ++k) {
            const uint32_t b = (v >> (8 * k)) & 0xFF;
            out |= (b == 1 ? 0 : b) << (8 * k);
        }
        return out;
    };
    EXPECT_EQ(d.at(0, 0), full_fade(big.pixels()[1 * 13 + 1]));
    EXPECT_EQ(d.at(9, 9), full_fade(big.pixels()[10 * 13 + 10]));
}

}  // namespace
