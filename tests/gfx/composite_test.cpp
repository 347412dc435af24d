// One frame composed the way the intro composes it, written as a PNG for people to look at
// (build/test-output/gfx_composite.png): enlarged video backdrop, corner frames, a faded centred overlay, the clock.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gfx/clock.h"
#include "gfx/image.h"
#include "gfx/png_writer.h"
#include "tests/support/test_paths.h"

using zorbrix::CLOCK_GLYPHS;
using zorbrix::draw_centered_faded;
using zorbrix::draw_clock;
using zorbrix::draw_corners;
using zorbrix::Image;
using zorbrix::IMAGE_ALPHA;
using zorbrix::upscale_video_2x;
using zorbrix::write_png_rgb;

namespace {

// Premultiplies a colour 0xRRGGBB by alpha (0..255) into 0xAARRGGBB.
uint32_t premultiplied(uint32_t rgb, uint32_t alpha) {
    uint32_t out = alpha << 24;
    for (int k = 0; k < 3; ++k) out |= (((rgb >> (8 * k)) & 0xFF) * alpha / 255) << (8 * k);
    return out;
}

// A 3 x 5 bitmap font for 0-9 and ':' (one 15-bit row-major mask each), scaled 6x, white with a half-alpha edge.
Image glyph(int index) {
    static const uint16_t masks[11] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF,
                                       0x79EF, 0x7249, 0x7BEF, 0x7BCF, 0x0410};
    const int w = 3 * 6 + 4, h = 5 * 6;
    std::vector<uint32_t> p(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 18; ++x)
            if (masks[index] >> (14 - (y / 6) * 3 - x / 6) & 1)
                p[static_cast<size_t>(y) * w + x] = premultiplied(0xFFFFFF, (x % 6 == 5 || y % 6 == 5) ? 128 : 255);
    Image img;
    img.set_pixels(p.data(), w, h, IMAGE_ALPHA);
    return img;
}

TEST(Composite, FrameLooksRight) {
    // The backdrop: a colour gradient with a dark ring, as a 256 x 192 video frame.
    std::vector<uint32_t> frame(256 * 192);
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x) {
            const double r = std::hypot(x - 128.0, y - 96.0);
            const uint32_t shade = std::fabs(r - 60) < 6 ? 40 : 255;
            frame[y * 256 + x] = ((x * shade / 255) << 16) | ((y * 255 / 191 * shade / 255) << 8) | (shade / 2);
        }
    std::vector<uint32_t> screen(512 * 384, 0);
    upscale_video_2x(screen.data(), frame.data(), 512, 384);

    // Corner frames: L-shaped, orange, fading out along the arms.
    Image corners[4];
    for (int c = 0; c < 4; ++c) {
        const int w = 96, h = 64;
        std::vector<uint32_t> p(w * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int fx = (c == 1 || c == 2) ? w - 1 - x : x;  // mirrored for the right-hand corners
                const int fy = (c == 2 || c == 3) ? h - 1 - y : y;
                if (fx < 8 || fy < 8) {
                    const uint32_t alpha = 255 - static_cast<uint32_t>(std::max(fx * 255 / w, fy * 255 / h));
                    p[y * w + x] = premultiplied(0xFF9020, alpha);
                }
            }
        corners[c].set_pixels(p.data(), w, h, IMAGE_ALPHA);
    }
    draw_corners(screen.data(), 512, 384, corners);

    // A centred overlay: a disc with a soft edge, at 60 % fade.
    std::vector<uint32_t> disc(161 * 121);
    for (int y = 0; y < 121; ++y)
        for (int x = 0; x < 161; ++x) {
            const double r = std::hypot((x - 80) / 80.0, (y - 60) / 60.0);
            const double a = std::clamp((1.0 - r) * 6.0, 0.0, 1.0);
            disc[y * 161 + x] = premultiplied(0x3060FF, static_cast<uint32_t>(a * 255));
        }
    Image overlay;
    overlay.set_pixels(disc.data(), 161, 121, IMAGE_ALPHA);
    draw_centered_faded(screen.data(), 512, 384, overlay, 0.6);

    Image glyphs[CLOCK_GLYPHS];
    for (int i = 0; i < CLOCK_GLYPHS; ++i) glyphs[i] = glyph(i);
    draw_clock(screen.data(), 512, 384, 344, glyphs, 26.537);

    // A few spot checks; the picture itself is for the eye.
    EXPECT_EQ(screen[0] >> 24, 255u);                          // corner frame, opaque at its very corner
    EXPECT_EQ(screen[383 * 512 + 511] & 0xFFFFFF, 0xFF9020u);  // lower right corner frame, opaque colour
    const uint32_t middle = screen[192 * 512 + 256];           // the disc's centre: 60 % blue over the backdrop
    EXPECT_GT(middle & 0xFF, 150u);

    for (auto& p : screen) p &= 0x00FFFFFFu;
    ASSERT_TRUE(write_png_rgb(test_output_path("gfx_composite.png"), screen.data(), 512, 384));
}

}  // namespace
