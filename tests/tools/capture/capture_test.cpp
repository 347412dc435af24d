// zorbrix-capture end to end: the whole intro rendered offline, checked against the music through its log and
// against the intro's own pictures through its frames; the faults the intro must survive, each in a folder of its
// own with the data damaged or missing.

#include "assets/video/backdrop.h"
#include "gfx/clock.h"
#include "gfx/image.h"
#include "gfx/png_writer.h"
#include "loading/file_load.h"
#include "tests/support/test_files.h"
#include "tests/support/test_paths.h"
#include "tools/capture/rgb_to_yuv.h"
#include "tools/encoder/y4m.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using zorbrix::clock_text;
using zorbrix::file_init;
using zorbrix::Image;
using zorbrix::IMAGE_ALPHA;
using zorbrix::text_width;
using zorbrix::write_png_rgb;

namespace {

constexpr int kW = 512;
constexpr int kH = 384;
constexpr int kClockTop = 344;  // the clock's top edge in scene 1

struct LogLine {
    long frame = 0;
    double t = 0;
    int order = 0, row = 0, scene = 0, scroll = 0;
    double clock = 0;
    int caption = 0;
    double fade = 0;
    char effect = '-';
};

std::vector<LogLine> read_log(const fs::path& path) {
    std::vector<LogLine> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (text.empty() || text[0] == '#') continue;
        std::istringstream s(text);
        LogLine l;
        s >> l.frame >> l.t >> l.order >> l.row >> l.scene >> l.scroll >> l.clock >> l.caption >> l.fade >> l.effect;
        if (s) lines.push_back(l);
    }
    return lines;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Whether two files hold the same bytes (and both exist), read in large blocks.
bool same_file(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), std::streamsize(ba.size()));
        fb.read(bb.data(), std::streamsize(bb.size()));
        if (fa.gcount() != fb.gcount()) return false;
        if (fa.gcount() == 0) return true;
        if (std::memcmp(ba.data(), bb.data(), size_t(fa.gcount())) != 0) return false;
    }
}

// A fresh folder under the test output.
fs::path fresh_dir(const std::string& name) {
    const fs::path dir = test_output_path("capture_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A path in single quotes, for the shell.
std::string shell_quoted(const fs::path& path) {
    std::string s = "'";
    s += path.string();
    s += "'";
    return s;
}

// Runs the capture in `dir` with the arguments; its standard error goes to `err` (dir/capture.err by default).
// The exit status.
int run_capture(const fs::path& dir, const std::string& args, const fs::path& err = {}) {
    const fs::path err_path = err.empty() ? dir / "capture.err" : err;
    std::string command = "cd " + shell_quoted(dir) + " && " + shell_quoted(build_dir() + "/bin/zorbrix-capture");
    command += " " + args + " > /dev/null 2> " + shell_quoted(err_path);
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// A data folder `dir`/data holding the generated files, less the names given.
void loose_files(const fs::path& dir, const std::set<std::string>& leave_out = {}) {
    fs::create_directories(dir / "data");
    for (const auto& entry : fs::directory_iterator(build_dir() + "/data")) {
        const std::string name = entry.path().filename().string();
        if (!leave_out.count(name)) fs::create_symlink(entry.path(), dir / "data" / name);
    }
}

// The luma planes of the frames whose numbers are wanted (all when the set is empty), and the frame count.
std::map<long, std::vector<uint8_t>> read_frames(const fs::path& path, const std::set<long>& wanted, long* count) {
    std::map<long, std::vector<uint8_t>> frames;
    zorbrix::enc::Y4mReader reader;
    std::string error;
    *count = 0;
    if (!reader.open(path.string(), &error)) return frames;
    zorbrix::enc::YuvFrame frame;
    while (reader.read_frame(&frame, &error)) {
        if (wanted.empty() || wanted.count(*count)) frames[*count] = frame.y;
        ++*count;
    }
    return frames;
}

// The share of the picture's fully opaque pixels that the frame shows exactly, with the picture's top-left corner at
// (x, y). Opaque pixels drawn last replace what lies under them, whatever the backdrop.
double opaque_match(const std::vector<uint8_t>& luma, const Image& image, int x, int y) {
    long opaque = 0, same = 0;
    for (int j = 0; j < image.height(); ++j) {
        for (int i = 0; i < image.width(); ++i) {
            const uint32_t p = image.pixels()[j * image.width() + i];
            const int sx = x + i, sy = y + j;
            if ((p >> 24) != 255 || sx < 0 || sy < 0 || sx >= kW || sy >= kH) continue;
            ++opaque;
            same += luma[size_t(sy) * kW + size_t(sx)] == bt601_luma(p & 0xffffff);
        }
    }
    return opaque ? double(same) / double(opaque) : -1.0;
}

// The clock's text drawn at the scene's place matches the frame.
double clock_match(const std::vector<uint8_t>& luma, const Image glyphs[11], const char* text) {
    int x = (kW - text_width(text, glyphs)) / 2;
    double worst = 1.0;
    for (const char* c = text; *c; ++c) {
        const Image& glyph = glyphs[*c - '0'];
        worst = std::min(worst, opaque_match(luma, glyph, x, kClockTop));
        x += glyph.width();
    }
    return worst;
}

// The intro's pictures, from the archive beside the tests (the tests run in build/bin).
struct Pictures {
    Image corners[4], logo, text, glyphs[11];
    Pictures() {
        file_init("zorbrix.kf", "data/");
        const char* corner_files[4] = {"corner_upper_left.tga", "corner_upper_right.tga", "corner_lower_right.tga",
                                       "corner_lower_left.tga"};
        for (int i = 0; i < 4; ++i) corners[i].load(corner_files[i], IMAGE_ALPHA);
        logo.load("zorbrixlogo_stor.tga", IMAGE_ALPHA);
        text.load("tekst.tga", IMAGE_ALPHA);
        for (int i = 0; i < 10; ++i) glyphs[i].load((std::to_string(i) + ".tga").c_str(), IMAGE_ALPHA);
        glyphs[10].load("kolon.tga", IMAGE_ALPHA);
    }
    void corner_place(int i, int* x, int* y) const {
        *x = (i == 1 || i == 2) ? kW - corners[i].width() : 0;
        *y = (i == 2 || i == 3) ? kH - corners[i].height() : 0;
    }
};

int expected_scene(int order) {
    if (order <= 1) return 1;
    if (order <= 2) return 2;
    if (order <= 3) return 3;
    if (order <= 7) return 4;
    if (order <= 8) return 5;
    return 6;
}

TEST(Capture, TheWholeIntroFollowsTheMusicAndShowsItsPictures) {
    const fs::path dir = fresh_dir("full");
    const fs::path bin = build_dir() + "/bin";
    // Run where the intro's data is, writing into the test's folder.
    const std::string args = shell_quoted(dir / "intro.y4m") + " --fps 10 --log " + shell_quoted(dir / "intro.log") +
                             " --wav " + shell_quoted(dir / "intro.wav");
    ASSERT_EQ(run_capture(bin, args, dir / "capture.err"), 0) << read_file(dir / "capture.err");
    const std::vector<LogLine> log = read_log(dir / "intro.log");
    ASSERT_GT(log.size(), 1000u);

    // Every frame belongs to the scene its order calls for: each scene starts on the first frame at which the order
    // passes the previous scene's limit, and all five scenes and the scroller are seen, in order.
    std::vector<long> scene_start(7, -1);
    for (size_t i = 0; i < log.size(); ++i) {
        ASSERT_EQ(log[i].frame, long(i));
        ASSERT_EQ(log[i].scene, expected_scene(log[i].order)) << "frame " << i << " order " << log[i].order;
        if (scene_start[log[i].scene] < 0) scene_start[log[i].scene] = long(i);
    }
    for (int s = 1; s <= 6; ++s) EXPECT_GE(scene_start[s], 0) << "scene " << s << " never shown";
    EXPECT_EQ(scene_start[1], 0);
    EXPECT_EQ(log[0].order, 0);  // the song's first row begins at time 0

    // The countdown: 27:00 on the first frame, 27 s less the frame's time on every frame, 00:00 on any frame from
    // 27 s to the end of the scene. The last frame of the countdown is looked at below.
    EXPECT_EQ(log[0].clock, 27.0);
    long clock_last_frame = -1;
    for (const LogLine& l : log) {
        if (l.scene != 1) continue;
        EXPECT_NEAR(l.clock, std::max(0.0, 27.0 - l.t), 0.006) << "frame " << l.frame;
        if (l.t >= 27.0) {
            EXPECT_EQ(l.clock, 0.0) << "frame " << l.frame;
        }
        clock_last_frame = l.frame;
    }
    ASSERT_GE(clock_last_frame, 0);
    const std::string clock_last_text = clock_text(log[size_t(clock_last_frame)].clock);

    // Scene 4 at order 5, row 40: the blob, caption 5 at three quarters. Scene 5's logo at rows 54 to 56 at full
    // strength, at row 63 at 0.3.
    int seen_order5_row40 = 0, seen_logo_rows = 0;
    for (const LogLine& l : log) {
        if (l.scene == 4 && l.order == 5 && l.row == 40) {
            ++seen_order5_row40;
            EXPECT_EQ(l.effect, 'A');
            EXPECT_EQ(l.caption, 5);
            EXPECT_NEAR(l.fade, 0.75, 1e-9);
        }
        if (l.scene == 5 && l.row >= 54 && l.row <= 63) {
            ++seen_logo_rows;
            EXPECT_NEAR(l.fade, l.row <= 56 ? 1.0 : 1 - (l.row - 56) * 0.1, 1e-9) << "row " << l.row;
        }
    }
    EXPECT_GT(seen_order5_row40, 0);
    EXPECT_GE(seen_logo_rows, 8);

    // The frames to look at: the first, the clock at 00:00, the logo at full strength, and the first frame after
    // each Page Down in the scroller.
    const Pictures pictures;
    long logo_frame = -1;
    std::vector<std::pair<long, int>> scroll_steps;  // frame, offset
    for (const LogLine& l : log) {
        if (logo_frame < 0 && l.scene == 5 && l.fade == 1.0) logo_frame = l.frame;
        if (l.scene == 6 && (scroll_steps.empty() || scroll_steps.back().second != l.scroll)) {
            scroll_steps.emplace_back(l.frame, l.scroll);
        }
    }
    ASSERT_GE(logo_frame, 0);
    ASSERT_GE(scroll_steps.size(), 3u);
    std::set<long> wanted = {0, clock_last_frame, logo_frame};
    for (const auto& step : scroll_steps) wanted.insert(step.first);
    long count = 0;
    const auto frames = read_frames(dir / "intro.y4m", wanted, &count);
    EXPECT_EQ(count, long(log.size()));
    ASSERT_EQ(frames.size(), wanted.size());

    // The sound is exactly as long as the video.
    EXPECT_EQ(fs::file_size(dir / "intro.wav"), 44u + size_t(count) * 44100 / 10 * 4);

    // Corners in their places, the clock centred with its top at 344.
    for (int i = 0; i < 4; ++i) {
        int x = 0, y = 0;
        pictures.corner_place(i, &x, &y);
        EXPECT_EQ(opaque_match(frames.at(0), pictures.corners[i], x, y), 1.0) << "corner " << i;
    }
    EXPECT_EQ(clock_match(frames.at(0), pictures.glyphs, "27:00"), 1.0);
    EXPECT_EQ(clock_match(frames.at(clock_last_frame), pictures.glyphs, clock_last_text.c_str()), 1.0)
        << clock_last_text;
    EXPECT_LT(clock_match(frames.at(0), pictures.glyphs, "00:00"), 0.9);

    // The logo centred (and not a few pixels off).
    const int lx = (kW - pictures.logo.width()) / 2, ly = (kH - pictures.logo.height()) / 2;
    EXPECT_EQ(opaque_match(frames.at(logo_frame), pictures.logo, lx, ly), 1.0);
    EXPECT_LT(opaque_match(frames.at(logo_frame), pictures.logo, lx + 6, ly), 0.9);

    // The scroller: each Page Down moves the text by one screen, up to its last screenful, and the frame shows it
    // there.
    for (size_t i = 0; i < scroll_steps.size(); ++i) {
        const auto [frame, offset] = scroll_steps[i];
        EXPECT_EQ(offset, std::min<int>(int(i) * 384, pictures.text.height() - 384)) << "step " << i;
        EXPECT_GE(opaque_match(frames.at(frame), pictures.text, 0, -offset), 0.999) << "offset " << offset;
        if (i > 0) {
            EXPECT_LT(opaque_match(frames.at(frame), pictures.text, 0, -offset + 384), 0.9);
        }
    }
    EXPECT_EQ(scroll_steps.back().second, pictures.text.height() - 384);

    // The backdrop upright: the video's first frame as the viewer should see it, not mirrored top to bottom. The
    // enlargement puts source pixel (i, j) at screen (1 + 2i, 2 + 2j) unchanged.
    std::vector<uint32_t> upright(size_t(zorbrix::assets::kBackdropWidth) * zorbrix::assets::kBackdropHeight);
    zorbrix::assets::render_backdrop_rgb(0, upright.data());
    double error_upright = 0, error_flipped = 0;
    long samples = 0;
    for (int j = 40; j < 150; j += 2) {  // rows clear of the corners and the clock
        for (int i = 40; i < 216; i += 2) {
            const int shown = frames.at(0)[size_t(2 + 2 * j) * kW + size_t(1 + 2 * i)];
            error_upright += std::abs(shown - bt601_luma(upright[size_t(j) * 256 + size_t(i)]));
            error_flipped += std::abs(shown - bt601_luma(upright[size_t(191 - j) * 256 + size_t(i)]));
            ++samples;
        }
    }
    EXPECT_LT(error_upright / samples, 4.0);
    EXPECT_LT(error_upright * 2, error_flipped);

    fs::remove(dir / "intro.y4m");
}

// The show's pacing, measured on a 25 fps capture log the way a viewer sees it: the drop into scene 2 (order 2)
// comes at 27.00 s, one row (0.12 s) at most from the clock's zero; the clock never sits at 00:00 for more than a
// quarter of a second; and scenes 2, 3 and 5 never leave their own picture (the intro picture, the logo) invisible
// for more than 1.5 s. The figures land in build/test-output/capture_pacing/pacing.txt.
struct Pacing {
    double order2 = -1;        // time of the first frame of order 2
    double clock_zero = 0;     // seconds of frames whose clock reads 00:00
    double longest_blank = 0;  // seconds, the longest run of frames in scenes 2, 3, 5 with the picture invisible
    int blank_scene = 0;
};

Pacing measure_pacing(const std::vector<LogLine>& log, int fps) {
    Pacing p;
    int clock_zero_frames = 0, run = 0, run_scene = 0;
    for (const LogLine& l : log) {
        if (p.order2 < 0 && l.order == 2) p.order2 = l.t;
        if (l.scene == 1 && l.clock < 0.005) ++clock_zero_frames;
        // A fade of 0 draws nothing: the scene's picture is gone.
        const bool blank = (l.scene == 2 || l.scene == 3 || l.scene == 5) && l.fade <= 0.0;
        if (blank && l.scene == run_scene) {
            ++run;
        } else {
            run = blank ? 1 : 0;
            run_scene = blank ? l.scene : 0;
        }
        if (double(run) / fps > p.longest_blank) {
            p.longest_blank = double(run) / fps;
            p.blank_scene = run_scene;
        }
    }
    p.clock_zero = double(clock_zero_frames) / fps;
    return p;
}

TEST(Capture, TheDropComesOnZeroAndNoSceneLeavesTheScreenBlank) {
    const fs::path dir = fresh_dir("pacing");
    const fs::path bin = build_dir() + "/bin";
    constexpr int kFps = 25;
    // Up to the end scroller, which follows scene 5 at about 118 s.
    const std::string args = "/dev/null --fps 25 --max-seconds 125 --log " + shell_quoted(dir / "intro.log");
    ASSERT_EQ(run_capture(bin, args, dir / "capture.err"), 0) << read_file(dir / "capture.err");
    const std::vector<LogLine> log = read_log(dir / "intro.log");
    ASSERT_FALSE(log.empty());
    ASSERT_EQ(log.back().scene, 6) << "the capture stopped before the scroller";
    const Pacing p = measure_pacing(log, kFps);
    std::ofstream(dir / "pacing.txt") << "order 2 (scene 2) at " << p.order2 << " s\n"
                                      << "clock at 00:00 for " << p.clock_zero << " s\n"
                                      << "longest blank stretch " << p.longest_blank << " s (scene " << p.blank_scene
                                      << ")\n";
    EXPECT_NEAR(p.order2, 27.0, 0.12);
    EXPECT_LE(p.clock_zero, 0.25);
    EXPECT_LE(p.longest_blank, 1.5) << "in scene " << p.blank_scene;

    // The measure itself: a log with the old song's shape (the drop at 30.72 s, pictures gone for the last 28 rows
    // of 128) fails all three checks.
    std::vector<LogLine> old_shape;
    for (long f = 0; f < 60 * kFps; ++f) {
        LogLine l;
        l.frame = f;
        l.t = double(f) / kFps;
        const int row = int(l.t / 0.12);
        l.order = row < 256 ? row / 128 : 2;
        l.row = row < 256 ? row % 128 : (row - 256) % 128;
        l.scene = l.order <= 1 ? 1 : 2;
        l.clock = l.scene == 1 ? std::max(0.0, 27.0 - l.t) : -1;
        l.fade = l.scene == 2 ? std::max(0.0, 1 - l.row * 0.01) : -1;
        old_shape.push_back(l);
    }
    const Pacing old = measure_pacing(old_shape, kFps);
    EXPECT_GT(std::abs(old.order2 - 27.0), 0.12);
    EXPECT_GT(old.clock_zero, 0.25);
    EXPECT_GT(old.longest_blank, 1.5);
}

// ---------------------------------------------------------------------------------------------------------------
// Legibility on captured frames: the captions (and their labels) over the turning objects at every fade from one
// half up, and the scroller's body text wherever the blob passes under it. The contrast ratio is the usual one,
// (L1 + 0.05) / (L2 + 0.05) of relative luminances, taken from the frames' luma.

double luminance(uint8_t luma) {
    const double v = std::clamp((luma - 16) / 219.0, 0.0, 1.0);
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// The contrast of a picture's light text against what lies right around it, on one frame. Text pixels: the
// picture's opaque pixels lighter than `text_luma`. Around: the frame's pixels within 3 of a text pixel where the
// picture holds no stroke of text (its plate, its halo, or nothing). The frame is cut into 16 x 16 tiles; in each
// tile with enough of both, the dimmest fifth of the text against the brightest fifth around it. A block of text
// (the label: tiles above `label_below` in the picture; the rest) reads as well as its middle tile: where a bright
// object's edge runs right beside a letter one tile may be poor while the words read well. With `panel_only`, only
// tiles whose text lies on a dense panel count (the scroller's body text; its display titles float on halos).
struct Legibility {
    double text = 1e9, label = 1e9;  // the ratios measured; 1e9: none
    double text_worst_tile = 1e9;    // the text's poorest tile
};

Legibility measure_legibility(const std::vector<uint8_t>& luma, const Image& picture, int px, int py, int text_luma,
                              int label_below, bool panel_only = false) {
    const int w = picture.width(), h = picture.height();
    auto at = [&](int i, int j) { return picture.pixels()[j * w + i]; };
    auto is_text = [&](int i, int j) {
        if (i < 0 || j < 0 || i >= w || j >= h) return false;
        const uint32_t p = at(i, j);
        return (p >> 24) == 255 && bt601_luma(p & 0xffffff) >= text_luma;
    };
    auto is_stroke = [&](int i, int j) {  // any light part of a letter, edges included
        if (i < 0 || j < 0 || i >= w || j >= h) return false;
        const uint32_t p = at(i, j);
        const int a = int(p >> 24);
        return a > 0 && bt601_luma(p & 0xffffff) * 255 > 70 * a;
    };
    struct Tile {
        std::vector<double> text, around;
        int far = 0, far_dense = 0;  // pixels further from the text, and those of them on a dense panel
    };
    std::map<std::pair<int, int>, Tile> tiles;
    for (int j = 0; j < h; ++j) {
        const int sy = py + j;
        if (sy < 0 || sy >= kH) continue;
        for (int i = 0; i < w; ++i) {
            const int sx = px + i;
            if (sx < 0 || sx >= kW) continue;
            Tile& tile = tiles[{sx / 16, sy / 16}];
            if (is_text(i, j)) {
                tile.text.push_back(luminance(luma[size_t(sy) * kW + size_t(sx)]));
                continue;
            }
            if (is_stroke(i, j)) continue;
            bool near = false;
            for (int dj = -3; dj <= 3 && !near; ++dj)
                for (int di = -3; di <= 3 && !near; ++di) near = is_text(i + di, j + dj);
            if (near) {
                tile.around.push_back(luminance(luma[size_t(sy) * kW + size_t(sx)]));
            } else {
                ++tile.far;
                tile.far_dense += (at(i, j) >> 24) >= 100;
            }
        }
    }
    std::vector<double> text_ratios, label_ratios;
    for (auto& [place, tile] : tiles) {
        if (tile.text.size() < 8 || tile.around.size() < 8) continue;
        if (panel_only && tile.far_dense * 2 < tile.far) continue;
        std::sort(tile.text.begin(), tile.text.end());
        std::sort(tile.around.begin(), tile.around.end());
        const double dim_text = tile.text[tile.text.size() / 5];
        const double bright_around = tile.around[tile.around.size() * 4 / 5];
        const bool label = place.second * 16 + 8 < py + label_below;
        (label ? label_ratios : text_ratios).push_back((dim_text + 0.05) / (bright_around + 0.05));
    }
    auto middle = [](std::vector<double>& v) {
        if (v.empty()) return 1e9;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double worst_tile = text_ratios.empty() ? 1e9 : *std::min_element(text_ratios.begin(), text_ratios.end());
    return {middle(text_ratios), middle(label_ratios), worst_tile};
}

// The first row below a picture's top band of text: the rows holding text split at the first gap of 4 empty rows.
int label_split(const Image& picture, int text_luma) {
    int first = -1, gap = 0;
    for (int j = 0; j < picture.height(); ++j) {
        bool any = false;
        for (int i = 0; i < picture.width() && !any; ++i) {
            const uint32_t p = picture.pixels()[j * picture.width() + i];
            any = (p >> 24) == 255 && bt601_luma(p & 0xffffff) >= text_luma;
        }
        if (any && first < 0) first = j;
        if (first >= 0) {
            if (any && gap >= 4) return j;
            gap = any ? 0 : gap + 1;
        }
    }
    return 0;
}

// A captured frame as an RGB picture (BT.601, chroma repeated over its 2 x 2 block).
std::vector<uint32_t> frame_rgb(const zorbrix::enc::YuvFrame& f) {
    std::vector<uint32_t> rgb(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const double Y = 1.164 * (f.y[size_t(y) * kW + x] - 16);
            const double U = f.u[size_t(y / 2) * (kW / 2) + x / 2] - 128,
                         V = f.v[size_t(y / 2) * (kW / 2) + x / 2] - 128;
            auto c = [](double v) { return uint32_t(std::clamp(std::lround(v), 0L, 255L)); };
            rgb[size_t(y) * kW + x] = c(Y + 1.596 * V) << 16 | c(Y - 0.392 * U - 0.813 * V) << 8 | c(Y + 2.017 * U);
        }
    return rgb;
}

TEST(CaptureLegibility, CaptionsAndScrollerTextReadOverTheObjects) {
    const fs::path dir = fresh_dir("legibility");
    const fs::path bin = build_dir() + "/bin";
    const Pictures pictures;
    Image captions[16];
    const char* caption_files[16] = {"text_100_mbit_lan.tga",
                                     "text_34_mbit_internet.tga",
                                     "text_barbeque.tga",
                                     "text_web_address.tga",
                                     "text_pc_amiga_demo.tga",
                                     "text_c64_demo.tga",
                                     "text_wild_demo.tga",
                                     "text_tracked_music.tga",
                                     "text_rendered_graphics.tga",
                                     "text_pixeled_graphics.tga",
                                     "text_c64_graphics.tga",
                                     "text_c64_music.tga",
                                     "text_counterstrike_4_vs_4.tga",
                                     "text_quake_3.tga",
                                     "text_starcraft_broodwar.tga",
                                     "text_xbill.tga"};
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(captions[i].load(caption_files[i], IMAGE_ALPHA)) << caption_files[i];
    ASSERT_GT(pictures.text.height(), 384);

    // The captions' scene from its start, 6 frames a second; the logo and the scroller's pages.
    struct Part {
        const char* name;
        std::string args;
    };
    const Part parts[] = {{"captions", "--fps 6 --start-order 4 --max-seconds 61.4"},
                          {"scroller", "--fps 8 --start-order 8 --max-seconds 24"}};
    Legibility caption_worst, caption_worst_75, scroller_worst;
    std::vector<double> caption_ratios;
    long worst_caption_frame = -1, worst_scroller_frame = -1;
    double worst_caption_ratio = 1e9, worst_scroller_ratio = 1e9;
    zorbrix::enc::YuvFrame worst_caption_yuv, worst_scroller_yuv;
    for (const Part& part : parts) {
        const fs::path y4m = dir / (std::string(part.name) + ".y4m"),
                       log_path = dir / (std::string(part.name) + ".log");
        ASSERT_EQ(run_capture(bin, shell_quoted(y4m) + " " + part.args + " --log " + shell_quoted(log_path),
                              dir / "capture.err"),
                  0)
            << read_file(dir / "capture.err");
        const std::vector<LogLine> log = read_log(log_path);
        zorbrix::enc::Y4mReader reader;
        std::string error;
        ASSERT_TRUE(reader.open(y4m.string(), &error)) << error;
        zorbrix::enc::YuvFrame frame;
        for (size_t n = 0; n < log.size() && reader.read_frame(&frame, &error); ++n) {
            const LogLine& l = log[n];
            if (l.scene == 4 && l.fade >= 0.5 && l.caption >= 0) {
                const Image& c = captions[l.caption];
                const Legibility here = measure_legibility(frame.y, c, (kW - c.width()) / 2, (kH - c.height()) / 2, 150,
                                                           label_split(c, 150));
                caption_worst.text = std::min(caption_worst.text, here.text);
                caption_worst.label = std::min(caption_worst.label, here.label);
                if (l.fade >= 0.75) {
                    caption_worst_75.text = std::min(caption_worst_75.text, here.text);
                    caption_worst_75.label = std::min(caption_worst_75.label, here.label);
                }
                const double frame_worst = std::min(here.text, here.label);
                if (frame_worst < worst_caption_ratio) {
                    worst_caption_ratio = frame_worst;
                    worst_caption_frame = l.frame;
                    worst_caption_yuv = frame;
                }
            }
            if (l.scene == 6) {
                // Body text: ivory and cream (the amber headings and ice-blue small print are left out).
                const Legibility here = measure_legibility(frame.y, pictures.text, 0, -l.scroll, 200, 0, true);
                scroller_worst.text = std::min(scroller_worst.text, here.text);
                scroller_worst.text_worst_tile = std::min(scroller_worst.text_worst_tile, here.text_worst_tile);
                if (here.text_worst_tile < worst_scroller_ratio) {
                    worst_scroller_ratio = here.text_worst_tile;
                    worst_scroller_frame = l.frame;
                    worst_scroller_yuv = frame;
                }
            }
        }
        fs::remove(y4m);
    }
    ASSERT_GE(worst_caption_frame, 0);
    ASSERT_GE(worst_scroller_frame, 0);
    write_png_rgb(test_output_path("legibility_caption_worst.png"), frame_rgb(worst_caption_yuv).data(), kW, kH);
    write_png_rgb(test_output_path("legibility_scroller_worst.png"), frame_rgb(worst_scroller_yuv).data(), kW, kH);
    std::ofstream(dir / "contrast.txt") << "captions at fade >= 0.5: titles " << caption_worst.text << ":1, labels "
                                        << caption_worst.label << ":1 (worst frame " << worst_caption_frame
                                        << " of the captions capture)\n"
                                        << "captions at fade >= 0.75: titles " << caption_worst_75.text << ":1, labels "
                                        << caption_worst_75.label << ":1\n"
                                        << "scroller body text: " << scroller_worst.text << ":1, in its poorest "
                                        << "16 x 16 tile " << scroller_worst.text_worst_tile << ":1 (worst frame "
                                        << worst_scroller_frame << " of the scroller capture)\n";
    // From three quarters up, titles and labels read like body text (4.5:1). At half strength the caption, plate
    // included, lets half of what lies under it through: over the cream objects that alone holds any light text near
    // 3:1, which the bold titles keep and the labels come within a tenth of.
    EXPECT_GE(caption_worst_75.text, 4.5);
    EXPECT_GE(caption_worst_75.label, 4.5);
    EXPECT_GE(caption_worst.text, 3.0);
    EXPECT_GE(caption_worst.label, 2.8);
    // The scroller's body text at least 4.5:1 wherever the blob passes, tile by tile.
    EXPECT_GE(scroller_worst.text, 4.5);
    EXPECT_GE(scroller_worst.text_worst_tile, 4.5);
}

// --start-order: the song and the scenes begin at that order, the clock and the video at that moment of the song;
// an order the song does not have, or no number at all, is refused with status 2.
TEST(Capture, StartOrderBeginsThereAndRefusesOrdersTheSongLacks) {
    const fs::path dir = fresh_dir("start_order");
    const fs::path bin = build_dir() + "/bin";
    ASSERT_EQ(
        run_capture(bin, "/dev/null --fps 10 --start-order 1 --max-seconds 1 --log " + shell_quoted(dir / "one.log"),
                    dir / "one.err"),
        0)
        << read_file(dir / "one.err");
    const std::vector<LogLine> one = read_log(dir / "one.log");
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(one[0].order, 1);
    EXPECT_EQ(one[0].row, 0);
    EXPECT_EQ(one[0].scene, 1);
    EXPECT_NEAR(one[0].clock, 27.0 - 97 * 0.12, 0.006);  // order 1 starts 97 rows into the song
    ASSERT_EQ(
        run_capture(bin, "/dev/null --fps 10 --start-order 8 --max-seconds 1 --log " + shell_quoted(dir / "eight.log"),
                    dir / "eight.err"),
        0)
        << read_file(dir / "eight.err");
    const std::vector<LogLine> eight = read_log(dir / "eight.log");
    ASSERT_FALSE(eight.empty());
    EXPECT_EQ(eight[0].scene, 5);
    EXPECT_EQ(eight[0].order, 8);
    for (const char* bad : {"10", "256", "-1", "x"}) {
        EXPECT_EQ(run_capture(bin, std::string("/dev/null --start-order ") + bad, dir / "bad.err"), 2) << bad;
        const std::string err = read_file(dir / "bad.err");
        EXPECT_NE(err.find("--start-order"), std::string::npos) << err;
    }
}

TEST(Capture, TwoCapturesAreByteIdentical) {
    const fs::path dir = fresh_dir("twice");
    const fs::path bin = build_dir() + "/bin";
    for (const char* name : {"a", "b"}) {
        const std::string base = (dir / name).string();
        // Into scene 4, so the video, the music, both effects and the fades are all in it.
        const std::string args = shell_quoted(base + ".y4m") + " --fps 4 --max-seconds 64 --log " +
                                 shell_quoted(base + ".log") + " --wav " + shell_quoted(base + ".wav");
        ASSERT_EQ(run_capture(bin, args, base + ".err"), 0) << read_file(base + ".err");
    }
    const std::vector<LogLine> log = read_log(dir / "a.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().scene, 4);
    EXPECT_GT(fs::file_size(dir / "a.y4m"), 250u * 295000u);
    EXPECT_TRUE(same_file(dir / "a.y4m", dir / "b.y4m"));
    EXPECT_GT(fs::file_size(dir / "a.wav"), 60u * 44100u * 4u);
    EXPECT_TRUE(same_file(dir / "a.wav", dir / "b.wav"));
    fs::remove(dir / "a.y4m");
    fs::remove(dir / "b.y4m");
}

// The first seconds, as the normal data gives them: the reference for the runs with damaged data.
const std::string kShort = "out.y4m --fps 10 --max-seconds 2";

std::string reference_frames() {
    const fs::path dir = fresh_dir("reference");
    const std::string args = shell_quoted(dir / "out.y4m") + " --fps 10 --max-seconds 2";
    if (run_capture(build_dir() + "/bin", args, dir / "capture.err") != 0) return {};
    return read_file(dir / "out.y4m");
}

TEST(CaptureFaults, WithoutAReadableArchiveTheLooseFilesServe) {
    const std::string reference = reference_frames();
    ASSERT_GT(reference.size(), 10u * 295000u);

    // No archive: everything comes from data/.
    const fs::path missing = fresh_dir("no_archive");
    loose_files(missing);
    ASSERT_EQ(run_capture(missing, kShort), 0) << read_file(missing / "capture.err");
    EXPECT_TRUE(read_file(missing / "out.y4m") == reference);

    // An archive that is not one (wrong magic): the same, from data/.
    const fs::path garbage = fresh_dir("garbage_archive");
    loose_files(garbage);
    std::ofstream(garbage / "zorbrix.kf") << std::string(4096, 'x');
    ASSERT_EQ(run_capture(garbage, kShort), 0) << read_file(garbage / "capture.err");
    EXPECT_TRUE(read_file(garbage / "out.y4m") == reference);

    // A real archive with its entries' data overwritten: whatever the damaged entries give (checksum failures fall
    // back to data/, damaged pictures may show noise), the intro runs on.
    const fs::path damaged = fresh_dir("damaged_archive");
    loose_files(damaged);
    std::string archive = read_file(build_dir() + "/bin/zorbrix.kf");
    ASSERT_GT(archive.size(), 100000u);
    for (size_t i = 2000; i < archive.size(); i += 997) archive[i] = char(archive[i] ^ 0x5a);
    std::ofstream(damaged / "zorbrix.kf", std::ios::binary) << archive;
    EXPECT_EQ(run_capture(damaged, kShort), 0) << read_file(damaged / "capture.err");
}

TEST(CaptureFaults, MissingPicturesStayEmptyAndTheIntroRunsToTheEnd) {
    // Nothing but the soundtrack, not one picture (nor the video): every scene and the scroller still run.
    const fs::path none = fresh_dir("no_pictures");
    std::set<std::string> pictures;
    for (const auto& entry : fs::directory_iterator(build_dir() + "/data")) {
        if (entry.path().extension() == ".tga") pictures.insert(entry.path().filename().string());
    }
    ASSERT_GE(pictures.size(), 34u);
    pictures.insert("zorbrix.nvd");
    loose_files(none, pictures);
    ASSERT_EQ(run_capture(none, "/dev/null --fps 2 --log intro.log"), 0) << read_file(none / "capture.err");
    const std::vector<LogLine> log = read_log(none / "intro.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().scene, 6);
    // Without a text the scroller's offset is clamped to its height - 384 and Escape follows.
    EXPECT_EQ(log.back().scroll, 0);

    // One corner missing: that one is absent, the other three are there.
    const fs::path one = fresh_dir("one_corner_missing");
    loose_files(one, {"corner_upper_right.tga"});
    ASSERT_EQ(run_capture(one, "out.y4m --fps 10 --max-seconds 0.1"), 0) << read_file(one / "capture.err");
    long count = 0;
    const auto frames = read_frames(one / "out.y4m", {0}, &count);
    ASSERT_EQ(frames.count(0), 1u);
    const Pictures full;
    for (int i = 0; i < 4; ++i) {
        int x = 0, y = 0;
        full.corner_place(i, &x, &y);
        const double match = opaque_match(frames.at(0), full.corners[i], x, y);
        if (i == 1) {
            EXPECT_LT(match, 0.5);
        } else {
            EXPECT_EQ(match, 1.0) << "corner " << i;
        }
    }
}

TEST(CaptureFaults, MissingVideoLeavesABlackBackdrop) {
    const fs::path dir = fresh_dir("no_video");
    loose_files(dir, {"zorbrix.nvd"});
    ASSERT_EQ(run_capture(dir, "out.y4m --fps 10 --max-seconds 0.5"), 0) << read_file(dir / "capture.err");
    long count = 0;
    const auto frames = read_frames(dir / "out.y4m", {}, &count);
    ASSERT_GE(count, 4);
    for (const auto& [frame, luma] : frames) {
        // Between the corners and above the clock, only black.
        long lit = 0;
        for (int y = 80; y < 300; ++y) {
            for (int x = 100; x < 412; ++x) lit += luma[size_t(y) * kW + size_t(x)] != 16;
        }
        EXPECT_EQ(lit, 0) << "frame " << frame;
    }
}

TEST(CaptureFaults, MissingSoundtrackAndBadArgumentsAreReported) {
    const fs::path dir = fresh_dir("no_module");
    loose_files(dir, {"ambient3.xm"});
    EXPECT_EQ(run_capture(dir, "out.y4m --fps 10"), 1);
    EXPECT_NE(read_file(dir / "capture.err").find("\"ambient3.xm\" is missing"), std::string::npos)
        << read_file(dir / "capture.err");

    EXPECT_EQ(run_capture(dir, ""), 2);
    EXPECT_NE(read_file(dir / "capture.err").find("usage: zorbrix-capture"), std::string::npos);
    EXPECT_EQ(run_capture(dir, "out.y4m --fps 0"), 2);
    EXPECT_EQ(run_capture(dir, "out.y4m --png stills"), 2);
    EXPECT_EQ(run_capture(dir, "out.y4m --bogus"), 2);
    // Asking for help is not an error, and writes nothing.
    EXPECT_EQ(run_capture(dir, "out.y4m --help"), 0);
    EXPECT_FALSE(fs::exists(dir / "out.y4m"));
    EXPECT_EQ(run_capture(dir, "no/such/folder/out.y4m --max-seconds 0.1"), 1);
    EXPECT_NE(read_file(dir / "capture.err").find("no/such/folder/out.y4m"), std::string::npos);
}

// ---- Outputs: never clobbered, never left half-written, every failure reported ------------------------------------

// A shell script run in `dir`, CAP standing for the capture tool; its standard error goes to dir/capture.err unless
// the script redirects it. The script's status (128 + N when the tool was killed by signal N).
int run_script(const fs::path& dir, const std::string& text) {
    const std::string tool = shell_quoted(build_dir() + "/bin/zorbrix-capture");
    std::string command = "cd " + shell_quoted(dir) + " && { ";
    for (size_t from = 0;;) {
        const size_t at = text.find("CAP", from);
        command.append(text, from, at == std::string::npos ? std::string::npos : at - from);
        if (at == std::string::npos) break;
        command += tool;
        from = at + 3;
    }
    command += " ; } > /dev/null 2> capture.err";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The names in `dir`, less the data folder and capture.err.
std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    names.erase("data");
    names.erase("capture.err");
    names.erase("zorbrix.kf");  // the intro makes an empty archive where none is
    return names;
}

constexpr const char* kOneSecond = "--fps 10 --max-seconds 1";

TEST(CaptureOutputs, DevicesFifosAndSymlinksAreWrittenThroughNeverReplaced) {
    const fs::path dir = fresh_dir("outputs_special");
    loose_files(dir);
    ASSERT_TRUE(make_char_node(dir / "null", 3)) << "mknod needs root";
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directories(dir / "real");
    fs::create_symlink("real/log.txt", dir / "log_link");
    // The video into a device, the sound into a FIFO with a reader, the log through a symlink.
    const int status = run_script(dir, std::string("cat fifo > from_fifo & CAP null --wav fifo --log log_link ") +
                                           kOneSecond + "; s=$?; wait; exit $s");
    EXPECT_EQ(status, 0) << read_file(dir / "capture.err");
    EXPECT_TRUE(is_char_device(dir / "null"));
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(fs::file_size(dir / "from_fifo"), 44u + 44100u * 4u);  // one second of 16-bit stereo after its header
    EXPECT_TRUE(fs::is_symlink(dir / "log_link"));
    EXPECT_EQ(read_log(dir / "real/log.txt").size(), 10u);
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"fifo", "from_fifo", "log_link", "null", "real"}));
    EXPECT_EQ(names_in(dir / "real"), std::set<std::string>{"log.txt"});
}

TEST(CaptureOutputs, AnyFailedOutputFailsTheRunAndLeavesNothingBehind) {
    const fs::path dir = fresh_dir("outputs_failures");
    loose_files(dir);
    ASSERT_TRUE(make_char_node(dir / "full", 7) && make_char_node(dir / "null", 3));
    fs::permissions(dir / "null",
                    fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    { std::ofstream(dir / "old.y4m") << "an earlier capture"; }
    fs::create_directories(dir / "ro");
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                    fs::perms::others_exec | fs::perms::group_read | fs::perms::group_exec);
    struct Case {
        const char* what;
        std::string script;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"video into a full device", std::string("CAP full ") + kOneSecond,
         "cannot write full: No space left on device"},
        {"log into a full device", std::string("CAP old.y4m --wav a.wav --log full ") + kOneSecond,
         "cannot write full: No space left on device"},
        {"sound into a full device", std::string("CAP old.y4m --wav full --log a.log ") + kOneSecond,
         "cannot write full: No space left on device"},
        {"stills into a read-only folder",
         std::string("setpriv --reuid=65534 --regid=65534 --clear-groups CAP null --png ro --every 1 ") + kOneSecond,
         "cannot create ro/still_0000.png: Permission denied"},
        {"stills under a file", std::string("CAP old.y4m --png old.y4m/stills --every 1 ") + kOneSecond,
         "cannot create the folder old.y4m/stills"},
        {"credits into a full standard error", std::string("CAP old.y4m ") + kOneSecond + " 2> full; echo $? > status",
         nullptr},
        {"a file-size limit", std::string("ulimit -f 200; CAP old.y4m --wav a.wav ") + kOneSecond, nullptr},
        // (A shell starts background commands with SIGINT ignored; env gives the capture its default back.)
        {"interrupted",
         std::string("env --default-signal=INT CAP old.y4m --wav a.wav & p=$!; sleep 1; kill -INT $p; wait $p"),
         nullptr},
        {"terminated", std::string("CAP old.y4m --wav a.wav --log a.log & p=$!; sleep 1; kill -TERM $p; wait $p"),
         nullptr},
        {"hung up", std::string("CAP old.y4m --log a.log & p=$!; sleep 1; kill -HUP $p; wait $p"), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int status = run_script(dir, c.script);
        const std::string err = read_file(dir / "capture.err");
        if (c.message) {
            EXPECT_EQ(status, 1) << err;
            EXPECT_NE(err.find(std::string("zorbrix-capture: ") + c.message), std::string::npos) << err;
        } else if (fs::exists(dir / "status")) {
            status = std::stoi(read_file(dir / "status"));
            fs::remove(dir / "status");
            EXPECT_EQ(status, 1);
        } else {
            EXPECT_GT(status, 128) << err;  // killed by the signal, after removing its temporaries
        }
        EXPECT_EQ(read_file(dir / "old.y4m"), "an earlier capture");
        EXPECT_TRUE(is_char_device(dir / "full") && is_char_device(dir / "null"));
        EXPECT_EQ(names_in(dir), (std::set<std::string>{"full", "null", "old.y4m", "ro"}));
        EXPECT_TRUE(fs::is_empty(dir / "ro"));
    }
}

// The video is written on its own thread, a frame behind: a write that fails still ends the whole run within a few
// frames, with the output's own message, instead of rendering the intro's fifteen minutes for nothing.
TEST(CaptureOutputs, AFailedVideoWriteEndsTheRunAtOnce) {
    const fs::path dir = fresh_dir("outputs_early_end");
    loose_files(dir);
    ASSERT_TRUE(make_char_node(dir / "full", 7));
    EXPECT_EQ(run_script(dir, "CAP full --log a.log"), 1);
    const std::string err = read_file(dir / "capture.err");
    EXPECT_NE(err.find("zorbrix-capture: cannot write full: No space left on device"), std::string::npos) << err;
    // The last progress line counts the frames rendered.
    const size_t seconds = err.rfind(" s ");
    ASSERT_NE(seconds, std::string::npos) << err;
    const long frames = std::atol(err.c_str() + seconds + 3);
    EXPECT_GE(frames, 1) << err;
    EXPECT_LE(frames, 5) << err;
    EXPECT_EQ(names_in(dir), std::set<std::string>{"full"});
}

}  // namespace
