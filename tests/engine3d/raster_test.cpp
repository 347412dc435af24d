#include "engine3d/raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine3d/raster_kernels.h"
#include "tests/support/kernel_levels.h"

using zorbrix::clip_line;
using zorbrix::draw_line_add;
using zorbrix::fill_triangle;
using zorbrix::raster_kernels;
using zorbrix::raster_kernels_for;
using zorbrix::raster_use_level;
using zorbrix::RasterKernels;
using zorbrix::SCREEN_H;
using zorbrix::SCREEN_W;
namespace raster = zorbrix::raster;

namespace {

struct Screen {
    std::vector<uint32_t> px = std::vector<uint32_t>(SCREEN_W * SCREEN_H, 0);
    uint32_t at(int x, int y) const { return px[y * SCREEN_W + x]; }
    int count_nonzero() const {
        return int(std::count_if(px.begin(), px.end(), [](uint32_t p) { return p != 0; }));
    }
    // Columns [first, last] of row y set, nothing else in that row.
    bool row_is(int y, int first, int last) const {
        for (int x = 0; x < SCREEN_W; ++x)
            if ((at(x, y) != 0) != (x >= first && x <= last)) return false;
        return true;
    }
};

// The fill loop row by row from the top vertex, in 32-bit fixed point, with no skipping of rows above
// the screen: the yardstick for the optimised fill on coordinates that fit 15 bits.
void reference_fill(int x0, int y0, int x1, int y1, int x2, int y2, uint32_t colour, uint32_t* px) {
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
    if (y0 > y2) std::swap(x0, x2), std::swap(y0, y2);
    if (y1 > y2) std::swap(x1, x2), std::swap(y1, y2);
    int32_t L = x0 * 65536, dL = y2 != y0 ? (x2 - x0) * 65536 / (y2 - y0) : 0;
    int32_t S = y1 != y0 ? x0 * 65536 : x1 * 65536, dS = y1 != y0 ? (x1 - x0) * 65536 / (y1 - y0) : 0;
    for (int y = y0; y <= std::min(y2, SCREEN_H - 1); ++y) {
        if (y == y1 && y2 != y1) dS = (x2 - x1) * 65536 / (y2 - y1);
        if (y >= 0) {
            const int left = std::max(std::min(L, S) >> 16, 0), right = std::min(std::max(L, S) >> 16, SCREEN_W - 1);
            for (int x = left; x <= right; ++x) px[y * SCREEN_W + x] = colour;
        }
        L += dL;
        S += dS;
    }
}

// A screen with guard words on both sides: drawing must never change them.
struct GuardedScreen {
    static constexpr int GUARD = 1024;
    std::vector<uint32_t> words = std::vector<uint32_t>(SCREEN_W * SCREEN_H + 2 * GUARD, 0xDEADBEEF);
    GuardedScreen() { std::fill(px(), px() + SCREEN_W * SCREEN_H, 0u); }
    uint32_t* px() { return words.data() + GUARD; }
    bool guards_intact() const {
        for (int i = 0; i < GUARD; ++i)
            if (words[i] != 0xDEADBEEF || words[words.size() - 1 - i] != 0xDEADBEEF) return false;
        return true;
    }
};

}  // namespace

TEST(FillTriangle, OneRowTriangleAndClampedSpan) {
    Screen s;  // one row: from x0 (long edge) to x1 (short edge); x2 plays no part
    fill_triangle(50, 10, 20, 10, 80, 10, 7, s.px.data());
    EXPECT_TRUE(s.row_is(10, 20, 50));
    fill_triangle(-5, 100, 600, 100, 0, 100, 7, s.px.data());  // clamped to 0..511
    EXPECT_TRUE(s.row_is(100, 0, 511));
    EXPECT_EQ(s.count_nonzero(), 31 + 512);
}

// Rows above the screen are skipped in one step and rows below end the fill; both must leave exactly
// what drawing row by row leaves.
TEST(FillTriangle, MatchesTheRowByRowLoopIncludingRowsAboveTheScreen) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> xs(-700, 1200), ys(-900, 1300);
    Screen ours, ref;
    for (int n = 0; n < 200; ++n) {
        const int x0 = xs(rng), y0 = ys(rng), x1 = xs(rng), y1 = n % 7 == 0 ? y0 : ys(rng), x2 = xs(rng),
                  y2 = n % 11 == 0 ? y1 : ys(rng);
        std::fill(ours.px.begin(), ours.px.end(), 0u);
        std::fill(ref.px.begin(), ref.px.end(), 0u);
        fill_triangle(x0, y0, x1, y1, x2, y2, 0xABCDEF, ours.px.data());
        reference_fill(x0, y0, x1, y1, x2, y2, 0xABCDEF, ref.px.data());
        ASSERT_EQ(ours.px, ref.px) << x0 << "," << y0 << " " << x1 << "," << y1 << " " << x2 << "," << y2;
    }
}

class RasterKernelLevels : public zorbrix::test::KernelLevelTest {
protected:
    void TearDown() override { raster_use_level(zorbrix::cpu_level()); }
};
ZORBRIX_KERNEL_LEVELS(RasterKernelLevels);

// Triangles inside the screen take the fast rows, with each level's span fill (scalar here, the vector
// levels below); small ones like the effects' and large ones, some touching column 0.
TEST(FillTriangle, OnScreenRowsMatchTheRowByRowLoopWithScalarSpans) {
    std::mt19937 rng(11);
    Screen ours, ref;
    raster_use_level(zorbrix::CpuLevel::scalar);
    EXPECT_EQ(raster_kernels().triangle_rows.level, zorbrix::CpuLevel::scalar);
    {
        for (int n = 0; n < 600; ++n) {
            const int reach = n % 3 == 0 ? 512 : 40;
            const int cx = int(rng() % 512), cy = int(rng() % 384);
            const auto x = [&] { return std::clamp(cx + int(rng() % (2 * reach)) - reach, n % 5 ? 1 : 0, 511); };
            const auto y = [&] { return std::clamp(cy + int(rng() % (2 * reach)) - reach, 0, 383); };
            const int x0 = x(), y0 = y(), x1 = x(), y1 = n % 7 == 0 ? y0 : y(), x2 = x(), y2 = y();
            const uint32_t colour = uint32_t(rng());
            fill_triangle(x0, y0, x1, y1, x2, y2, colour, ours.px.data());
            reference_fill(x0, y0, x1, y1, x2, y2, colour, ref.px.data());
        }
    }
    raster_use_level(zorbrix::cpu_level());
    EXPECT_EQ(ours.px, ref.px);
}

TEST_P(RasterKernelLevels, OnScreenRowsMatchTheRowByRowLoop) {
    std::mt19937 rng(11);
    Screen ours, ref;
    raster_use_level(level());
    EXPECT_EQ(raster_kernels().triangle_rows.level, level());
    {
        for (int n = 0; n < 600; ++n) {
            const int reach = n % 3 == 0 ? 512 : 40;
            const int cx = int(rng() % 512), cy = int(rng() % 384);
            const auto x = [&] { return std::clamp(cx + int(rng() % (2 * reach)) - reach, n % 5 ? 1 : 0, 511); };
            const auto y = [&] { return std::clamp(cy + int(rng() % (2 * reach)) - reach, 0, 383); };
            const int x0 = x(), y0 = y(), x1 = x(), y1 = n % 7 == 0 ? y0 : y(), x2 = x(), y2 = y();
            const uint32_t colour = uint32_t(rng());
            fill_triangle(x0, y0, x1, y1, x2, y2, colour, ours.px.data());
            reference_fill(x0, y0, x1, y1, x2, y2, colour, ref.px.data());
        }
    }
    EXPECT_EQ(ours.px, ref.px) << level_name();
}

TEST(FillTriangle, ExtremeCoordinatesStayInsideTheBuffer) {
    GuardedScreen s;
    uint32_t* px = s.px();
    const int big = 2147483647, small = -2147483647 - 1;
    fill_triangle(small, small, big, 0, 0, big, 1, px);
    fill_triangle(big, small, small, 100, big, big, 2, px);
    fill_triangle(0, -100000, 511, 383, -30000, 200000, 3, px);
    EXPECT_TRUE(s.guards_intact());
}

TEST(ClipLine, CrossingSegmentsAreClippedAndOthersRejected) {
    int x0 = -100, y0 = 50, x1 = 100, y1 = 50;
    ASSERT_EQ(clip_line(x0, y0, x1, y1), 1);
    EXPECT_EQ(x0, 0);
    EXPECT_EQ(y0, 50);
    EXPECT_EQ(x1, 100);

    // Ends on opposite sides come back with P0 moved to the last boundary it was clipped against.
    x0 = -50, y0 = -50, x1 = 600, y1 = 600;
    ASSERT_EQ(clip_line(x0, y0, x1, y1), 1);
    EXPECT_EQ(x0, 383);
    EXPECT_EQ(y0, 383);
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(y1, 0);

    x0 = -5, y0 = 10, x1 = -1, y1 = 300;  // entirely left
    EXPECT_EQ(clip_line(x0, y0, x1, y1), 0);
    x0 = 10, y0 = 384, x1 = 500, y1 = 1000;  // entirely below
    EXPECT_EQ(clip_line(x0, y0, x1, y1), 0);

    // Passing beside the top-left corner without crossing the screen: nothing visible (the side tests
    // alone would leave (0, -90) to (-100, 10)).
    x0 = -100, y0 = 10, x1 = 10, y1 = -100;
    EXPECT_EQ(clip_line(x0, y0, x1, y1), 0);
}

TEST(ClipLine, RandomSegmentsAroundEveryCorner) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> around(-160, 160);
    const int corners[4][2] = {{0, 0}, {511, 0}, {0, 383}, {511, 383}};
    for (const auto& corner : corners)
        for (int n = 0; n < 2000; ++n) {
            const int ax = corner[0] + around(rng), ay = corner[1] + around(rng);
            const int bx = corner[0] + around(rng), by = corner[1] + around(rng);
            // Does the true segment go clearly through the screen?
            bool crosses = false;
            for (int s = 0; s <= 400 && !crosses; ++s) {
                const double x = ax + (bx - ax) * s / 400.0, y = ay + (by - ay) * s / 400.0;
                crosses = x >= 2 && x <= 509 && y >= 2 && y <= 381;
            }
            int x0 = ax, y0 = ay, x1 = bx, y1 = by;
            const int visible = clip_line(x0, y0, x1, y1);
            if (crosses) {
                ASSERT_EQ(visible, 1) << ax << "," << ay << " " << bx << "," << by;
            }
            if (!visible) continue;
            for (const auto& [x, y] : {std::pair{x0, y0}, std::pair{x1, y1}}) {
                ASSERT_TRUE(x >= 0 && x <= 511 && y >= 0 && y <= 383) << ax << "," << ay << " " << bx << "," << by;
                // The clipped ends lie on the original segment, up to truncation.
                const double len = std::hypot(bx - ax, by - ay);
                const double dist = std::abs((bx - ax) * (y - ay) - (by - ay) * (x - ax)) / len;
                ASSERT_LT(dist, 1.5) << ax << "," << ay << " " << bx << "," << by;
            }
        }
}

TEST(DrawLineAdd, PixelsOfALineClippingAndSaturation) {
    Screen s;
    draw_line_add(s.px.data(), 10, 10, 20, 10, 0x010203);
    EXPECT_TRUE(s.row_is(10, 10, 19));  // the end point is not drawn
    draw_line_add(s.px.data(), -100, 50, 100, 50, 1);
    EXPECT_TRUE(s.row_is(50, 0, 99));
    draw_line_add(s.px.data(), 30, 200, 33, 100, 1);  // steep, upward: 100 pixels from P0
    EXPECT_NE(s.at(30, 200), 0u);
    EXPECT_EQ(s.at(33, 100), 0u);
    draw_line_add(s.px.data(), -100, 10, -1, 300, 1);  // entirely left: nothing
    draw_line_add(s.px.data(), 7, 7, 7, 7, 1);         // a point: nothing
    EXPECT_EQ(s.count_nonzero(), 10 + 100 + 100);

    s.px[5 * SCREEN_W + 5] = 0xF0F0F0F0;
    draw_line_add(s.px.data(), 5, 5, 6, 5, 0x40404040);
    EXPECT_EQ(s.at(5, 5), 0xFFFFFFFFu);  // every byte saturates, the top one included
    draw_line_add(s.px.data(), 0, 0, 1, 0, 0x404040);
    draw_line_add(s.px.data(), 0, 0, 1, 0, 0x404040);
    EXPECT_EQ(s.at(0, 0), 0x808080u);
}

TEST(DrawLineAdd, NeverWritesOutsideTheScreenForAny16BitCoordinates) {
    GuardedScreen s;
    uint32_t* px = s.px();
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> any(-32768, 32767), near(-600, 1100);
    for (int n = 0; n < 20000; ++n) {
        auto pick = [&] { return n % 2 ? any(rng) : near(rng); };
        draw_line_add(px, pick(), pick(), pick(), pick(), 0x01010101);
    }
    const int extremes[] = {-32768, -1, 0, 383, 384, 511, 512, 32767};
    for (int a : extremes)
        for (int b : extremes)
            for (int c : extremes)
                for (int d : extremes) draw_line_add(px, a, b, c, d, 0x01010101);
    EXPECT_TRUE(s.guards_intact());
}

TEST_P(RasterKernelLevels, MatchScalarByteForByte) {
    const RasterKernels scalar = raster_kernels_for(zorbrix::CpuLevel::scalar), k = raster_kernels_for(level());
    std::mt19937 rng(5);
    std::uniform_int_distribution<uint32_t> word;
    std::vector<uint32_t> a(SCREEN_W * SCREEN_H), b;
    for (auto& p : a) p = word(rng);
    b = a;
    for (int n = 0; n < 3000; ++n) {
        // Spans of every length and start alignment.
        const int count = int(word(rng) % 520), start = int(word(rng) % (a.size() - 520));
        const uint32_t colour = word(rng);
        scalar.fill_span(a.data() + start, count, colour);
        k.fill_span(b.data() + start, count, colour);
        // A span between guard words: nothing outside it may change.
        {
            zorbrix::test::GuardedBuffer<uint32_t> span(size_t(count), 0x11111111u);
            k.fill_span(span.data(), count, colour);
            for (int i = 0; i < count; ++i) ASSERT_EQ(span[size_t(i)], colour) << count;
            ASSERT_TRUE(span.guards_intact()) << "span of " << count;
        }

        // Random line walks that stay on the screen.
        raster::LineWalk w{};
        w.steep = word(rng) & 1;
        const int major_len = w.steep ? SCREEN_H : SCREEN_W, minor_len = w.steep ? SCREEN_W : SCREEN_H;
        const int from = int(word(rng) % major_len), to = int(word(rng) % major_len);
        const int minor_from = int(word(rng) % minor_len), minor_to = int(word(rng) % minor_len);
        if (from == to) continue;
        w.major0 = from;
        w.major_step = to > from ? 1 : -1;
        w.count = std::abs(to - from);
        w.minor_fixed = minor_from * 65536 + 0x8000;
        w.minor_slope = (minor_to - minor_from) * 65536 / w.count;
        scalar.line_add(a.data(), SCREEN_W, w, colour);
        k.line_add(b.data(), SCREEN_W, w, colour);
    }
    EXPECT_EQ(a, b);
    // Every level has its own span fill and triangle rows; the line walk is SSE2 from SSE2 up.
    EXPECT_EQ(k.fill_span.level, level());
    EXPECT_EQ(k.triangle_rows.level, level());
    EXPECT_EQ(k.line_add.level, zorbrix::CpuLevel::sse2);
    EXPECT_EQ(k.fill_triangle.level, level());
    EXPECT_EQ(k.draw_line_add.level, zorbrix::CpuLevel::sse2);
    EXPECT_EQ(raster_kernels().level, zorbrix::cpu_level());

    // Whole lines and triangles, clipped ones included, through the level's compiled-in versions.
    std::vector<uint32_t> c(SCREEN_W * SCREEN_H, 0x01020304u), d = c;
    for (int n = 0; n < 2000; ++n) {
        const auto coordinate = [&] { return int(word(rng) % 1400) - 400; };
        const int x0 = coordinate(), y0 = coordinate(), x1 = coordinate(), y1 = coordinate();
        const int x2 = coordinate(), y2 = coordinate();
        const uint32_t colour = word(rng);
        if (n & 1) {
            scalar.draw_line_add(c.data(), x0, y0, x1, y1, colour & 0x3F3F3F3Fu);
            k.draw_line_add(d.data(), x0, y0, x1, y1, colour & 0x3F3F3F3Fu);
        } else {
            scalar.fill_triangle(x0, y0, x1, y1, x2, y2, colour, c.data());
            k.fill_triangle(x0, y0, x1, y1, x2, y2, colour, d.data());
        }
    }
    EXPECT_EQ(c, d);
}
