// The countdown clock: its text, its width and where it lands.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "gfx/clock.h"

using zorbrix::CLOCK_GLYPHS;
using zorbrix::clock_text;
using zorbrix::draw_clock;
using zorbrix::Image;
using zorbrix::IMAGE_ALPHA;
using zorbrix::text_width;

namespace {

// Digit glyphs 24 x 30 pixels, each a solid opaque colour 0xFF0000d0 + digit; the colon 10 x 30, 0xFF0000AA.
struct Glyphs {
    Image table[CLOCK_GLYPHS];
    Glyphs(int digit_width = 24, int colon_width = 10) {
        for (int i = 0; i < CLOCK_GLYPHS; ++i) {
            const int w = i == 10 ? colon_width : digit_width;
            const uint32_t colour = i == 10 ? 0xFF0000AAu : 0xFF0000D0u + static_cast<uint32_t>(i);
            std::vector<uint32_t> p(static_cast<size_t>(w) * 30, colour);
            table[i].set_pixels(p.data(), w, 30, IMAGE_ALPHA);
        }
    }
};

TEST(Clock, TextIsSecondsColonHundredths) {
    EXPECT_EQ(clock_text(26.537), "26:53");
    EXPECT_EQ(clock_text(0.0), "00:00");
    EXPECT_EQ(clock_text(27.0), "27:00");
    EXPECT_EQ(clock_text(5.05), "05:05");
    EXPECT_EQ(clock_text(0.999), "00:99");
    // Outside the countdown's range: nothing negative, nothing garbled.
    EXPECT_EQ(clock_text(-0.5), "00:00");
    EXPECT_EQ(clock_text(std::numeric_limits<double>::quiet_NaN()), "00:00");
    EXPECT_EQ(clock_text(123.456), "123:45");
    EXPECT_EQ(clock_text(1e300), "21474836:47");
}

TEST(Clock, WidthIsTheSumOfTheGlyphWidths) {
    const Glyphs g;
    EXPECT_EQ(text_width("12:34", g.table), 106);
    EXPECT_EQ(text_width("", g.table), 0);
    EXPECT_EQ(text_width(nullptr, g.table), 0);
    EXPECT_EQ(text_width("12", nullptr), 0);
    // Characters without a glyph take no room (and are never looked up outside the table).
    EXPECT_EQ(text_width("-1a;/\xff", g.table), 24);
}

TEST(Clock, DrawsCentredGlyphByGlyph) {
    const Glyphs g;
    std::vector<uint32_t> screen(512 * 384, 0);
    EXPECT_EQ(draw_clock(screen.data(), 512, 384, 344, g.table, 12.34), 0);
    // "12:34" is 106 pixels wide: it starts at (512 - 106) / 2 = 203.
    const auto at = [&](int x, int y) { return screen[static_cast<size_t>(y) * 512 + x]; };
    EXPECT_EQ(at(202, 344), 0u);
    EXPECT_EQ(at(203, 344), 0xFF0000D1u);
    EXPECT_EQ(at(226, 373), 0xFF0000D1u);
    EXPECT_EQ(at(227, 344), 0xFF0000D2u);
    EXPECT_EQ(at(251, 344), 0xFF0000AAu);
    EXPECT_EQ(at(261, 344), 0xFF0000D3u);
    EXPECT_EQ(at(285, 344), 0xFF0000D4u);
    EXPECT_EQ(at(308, 344), 0xFF0000D4u);
    EXPECT_EQ(at(309, 344), 0u);
    EXPECT_EQ(at(250, 343), 0u);
    EXPECT_EQ(at(250, 374), 0u);
}

TEST(Clock, GlyphThatFailedToLoadDrawsNothingAndTakesNoRoom) {
    Glyphs g;
    g.table[10] = Image();
    EXPECT_EQ(text_width("12:34", g.table), 96);
    std::vector<uint32_t> screen(512 * 384, 0);
    draw_clock(screen.data(), 512, 384, 344, g.table, 12.34);
    // (512 - 96) / 2 = 208; the "3" follows the "2" directly.
    EXPECT_EQ(screen[344 * 512 + 207], 0u);
    EXPECT_EQ(screen[344 * 512 + 208], 0xFF0000D1u);
    EXPECT_EQ(screen[344 * 512 + 256], 0xFF0000D3u);
    // The clock near the bottom edge is clipped, not written past the screen.
    draw_clock(screen.data(), 512, 384, 380, g.table, 1.0);
    draw_clock(screen.data(), 512, 384, 344, nullptr, 1.0);
}

}  // namespace
