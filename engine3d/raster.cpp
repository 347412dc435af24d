#include "engine3d/raster.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "engine3d/raster_kernels.h"
#include "platform/cpu.h"

namespace zorbrix {

namespace {

constexpr int MAX_X = SCREEN_W - 1;
constexpr int MAX_Y = SCREEN_H - 1;

// The on-screen triangle rows, once per level with that level's span fill inlined; the AVX2 and AVX-512 ones
// only where the compiler can target them.
namespace rows_scalar {
inline void fill_span(uint32_t* dst, int count, uint32_t colour) { raster::fill_span_scalar(dst, count, colour); }
#include "engine3d/triangle_rows.inc"
}  // namespace rows_scalar

#if defined(__SSE2__)
namespace rows_sse2 {
inline void fill_span(uint32_t* dst, int count, uint32_t colour) { raster::fill_span_sse2(dst, count, colour); }
#include "engine3d/triangle_rows.inc"
}  // namespace rows_sse2
#endif

#if defined(ZORBRIX_RASTER_WIDE)
ZORBRIX_TARGET_BEGIN("avx2")
namespace rows_avx2 {
inline void fill_span(uint32_t* dst, int count, uint32_t colour) { raster::fill_span_avx2(dst, count, colour); }
#include "engine3d/triangle_rows.inc"
}  // namespace rows_avx2
ZORBRIX_TARGET_END
ZORBRIX_TARGET_BEGIN("avx512f,avx512vl")
namespace rows_avx512 {
inline void fill_span(uint32_t* dst, int count, uint32_t colour) { raster::fill_span_avx512(dst, count, colour); }
#include "engine3d/triangle_rows.inc"
}  // namespace rows_avx512
ZORBRIX_TARGET_END
#endif

// The whole fill, once per level: its triangle rows, and the span fill of the rows of triangles that cross the
// screen's edges inlined into the general path.
template <raster::FillSpanFn Fill, TriangleRowsFn Rows>
void fill_triangle_with(int x0, int y0, int x1, int y1, int x2, int y2, uint32_t colour, uint32_t* pixels) {
    // Vertices by y, with selects rather than branches: which vertex is on top is a coin toss.
    const auto order = [](int& xa, int& ya, int& xb, int& yb) {
        const bool exchange = ya > yb;
        const int top_x = exchange ? xb : xa, top_y = exchange ? yb : ya;
        xb = exchange ? xa : xb;
        yb = exchange ? ya : yb;
        xa = top_x;
        ya = top_y;
    };
    order(x0, y0, x1, y1);
    order(x0, y0, x2, y2);
    order(x1, y1, x2, y2);
    const auto on_screen = [](int x) { return static_cast<unsigned>(x) <= static_cast<unsigned>(MAX_X); };
    if (y0 >= 0 && y2 <= MAX_Y && on_screen(x0) && on_screen(x1) && on_screen(x2)) {
        Rows(x0, y0, x1, y1, x2, y2, colour, pixels);
        return;
    }
    const int ymax = std::min(y2, MAX_Y);
    if (ymax < 0 || y0 > ymax) return;  // entirely above or below the screen

    // 16.16 positions of the long edge (vertex 0 to 2) and the short edge (0 to 1, then 1 to 2). The
    // arithmetic is 64-bit so that far-off coordinates cannot overflow; on-screen results are those of
    // 32-bit fixed point.
    constexpr int64_t ONE = 65536;
    const auto slope = [](int from_x, int to_x, int from_y, int to_y) -> int64_t {
        const int64_t d = int64_t(to_x) - from_x;
        const int64_t rows = int64_t(to_y) - from_y;
        // Differences within 15 bits divide in 32 bits (the same quotient, several times faster).
        if (d > -32768 && d < 32768 && rows <= INT32_MAX) return int32_t(d * ONE) / int32_t(rows);
        return d * ONE / rows;
    };
    const int64_t dL = y2 != y0 ? slope(x0, x2, y0, y2) : 0;
    const int64_t dS2 = y2 != y1 ? slope(x1, x2, y1, y2) : 0;  // the short edge after row y1
    int64_t L = x0 * ONE;
    int64_t S, dS;
    if (y1 != y0) {
        S = x0 * ONE;
        dS = slope(x0, x1, y0, y1);
    } else {
        S = x1 * ONE;
        dS = dS2;
    }

    // Rows above the screen are only stepped: advance both edges to row 0 in one go. The short edge
    // changes direction at row y1 without restarting from x1.
    int64_t y = y0;
    if (y < 0) {
        const int64_t rows = -y;
        L += rows * dL;
        if (y1 < 0) {
            S += (int64_t(y1) - y0) * dS + (0 - int64_t(y1)) * dS2;
            dS = dS2;
        } else {
            S += rows * dS;
        }
        y = 0;
    }

    uint32_t* row = pixels + y * SCREEN_W;
    const auto span = [&] {
        const int64_t left = std::max<int64_t>(std::min(L, S) >> 16, 0);
        const int64_t right = std::min<int64_t>(std::max(L, S) >> 16, MAX_X);
        if (left <= right) Fill(row + left, static_cast<int>(right - left + 1), colour);
        L += dL;
        S += dS;
        row += SCREEN_W;
    };
    for (const int64_t upper_end = std::min<int64_t>(y1, int64_t(ymax) + 1); y < upper_end; ++y) span();
    dS = dS2;
    for (; y <= ymax; ++y) span();
}

}  // namespace

namespace {

// Truncates toward zero; false when the value is not a finite number inside the int range.
bool trunc_to_int(double v, int& out) {
    if (!(v > double(INT_MIN) - 1.0 && v < double(INT_MAX) + 1.0)) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

int clip_line(int& x0, int& y0, int& x1, int& y1) {
    const auto inside = [](int x, int y) { return x >= 0 && x <= MAX_X && y >= 0 && y <= MAX_Y; };
    if (inside(x0, y0) && inside(x1, y1)) return 1;  // the common case: no side test would move an end

    if (y0 < 0 && y1 < 0) return 0;
    if (y0 > MAX_Y && y1 > MAX_Y) return 0;
    if (x0 < 0 && x1 < 0) return 0;
    if (x0 > MAX_X && x1 > MAX_X) return 0;

    // Each side moves P0 onto its boundary, after exchanging the ends so that P0 is the one outside.
    // Differences are formed in double, so no coordinate pair can overflow.
    const auto d = [](int v) { return static_cast<double>(v); };
    if (y1 < 0 && y0 >= 0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    if (y0 < 0) {
        if (!trunc_to_int(d(x1) - (d(x1) - d(x0)) * d(y1) / (d(y1) - d(y0)), x0)) return 0;
        y0 = 0;
    }
    if (y1 > MAX_Y && y0 <= MAX_Y) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    if (y0 > MAX_Y) {
        if (!trunc_to_int(d(x1) - (d(x1) - d(x0)) * (d(y1) - MAX_Y) / (d(y1) - d(y0)), x0)) return 0;
        y0 = MAX_Y;
    }
    if (x1 < 0 && x0 >= 0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    if (x0 < 0) {
        if (!trunc_to_int(d(y1) - (d(y1) - d(y0)) * d(x1) / (d(x1) - d(x0)), y0)) return 0;
        x0 = 0;
    }
    if (x1 > MAX_X && x0 <= MAX_X) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    if (x0 > MAX_X) {
        if (!trunc_to_int(d(y1) - (d(y1) - d(y0)) * (d(x1) - MAX_X) / (d(x1) - d(x0)), y0)) return 0;
        x0 = MAX_X;
    }

    // A segment that passes beside a corner without crossing the screen survives the side tests above
    // with an end still outside; nothing of it is visible.
    return inside(x0, y0) && inside(x1, y1) ? 1 : 0;
}

namespace {

// The whole line, once per level, with the level's walk inlined.
template <raster::LineAddFn Add>
void draw_line_with(uint32_t* pixels, int x0, int y0, int x1, int y1, uint32_t colour) {
    if (!clip_line(x0, y0, x1, y1)) return;
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    if (dx == 0 && dy == 0) return;

    // The axis with the larger extent is the major one (x on a tie); the other advances by a 16.16 slope
    // per step, starting from the middle of its pixel. Written with masks rather than conditions, which
    // the compiler would turn back into branches: direction and steepness vary from line to line
    // without pattern, and mispredicted branches cost more than the arithmetic.
    const int steep = -int(std::abs(dx) < std::abs(dy));  // all ones when y is the major axis
    const int major_d = (dy & steep) | (dx & ~steep);     // nonzero
    const int minor_d = (dx & steep) | (dy & ~steep);
    const int backwards = major_d >> 31;  // all ones when stepping towards smaller coordinates
    const int32_t m = minor_d * 65536 / major_d;
    const raster::LineWalk walk{(y0 & steep) | (x0 & ~steep),
                                backwards | 1,
                                ((x0 & steep) | (y0 & ~steep)) * 65536 + 0x8000,
                                (m ^ backwards) - backwards,
                                (major_d ^ backwards) - backwards,
                                steep != 0};
    Add(pixels, SCREEN_W, walk, colour);
}

void init_scalar(RasterKernels& k) {
    k.fill_span.set(raster::fill_span_scalar, CpuLevel::scalar);
    k.line_add.set(raster::line_add_scalar, CpuLevel::scalar);
    k.triangle_rows.set(rows_scalar::fill_triangle_on_screen, CpuLevel::scalar);
    k.fill_triangle.set(fill_triangle_with<raster::fill_span_scalar, rows_scalar::fill_triangle_on_screen>,
                        CpuLevel::scalar);
    k.draw_line_add.set(draw_line_with<raster::line_add_scalar>, CpuLevel::scalar);
}

#if defined(__SSE2__)
void init_sse2(RasterKernels& k) {
    k.fill_span.set(raster::fill_span_sse2, CpuLevel::sse2);
    k.line_add.set(raster::line_add_sse2, CpuLevel::sse2);
    k.triangle_rows.set(rows_sse2::fill_triangle_on_screen, CpuLevel::sse2);
    k.fill_triangle.set(fill_triangle_with<raster::fill_span_sse2, rows_sse2::fill_triangle_on_screen>, CpuLevel::sse2);
    k.draw_line_add.set(draw_line_with<raster::line_add_sse2>, CpuLevel::sse2);
}
#else
constexpr zorbrix::KernelInit<RasterKernels> init_sse2 = nullptr;
#endif

// The AVX2 and AVX-512 levels have rows of their own; triangles crossing the screen's edges keep the SSE2 span
// fill (they are few, and a function compiled for every processor cannot inline a wider one).
#if defined(ZORBRIX_RASTER_WIDE)
void init_avx2(RasterKernels& k) {
    k.fill_span.set(raster::fill_span_avx2, CpuLevel::avx2);
    k.triangle_rows.set(rows_avx2::fill_triangle_on_screen, CpuLevel::avx2);
    k.fill_triangle.set(fill_triangle_with<raster::fill_span_sse2, rows_avx2::fill_triangle_on_screen>, CpuLevel::avx2);
}
void init_avx512(RasterKernels& k) {
    k.fill_span.set(raster::fill_span_avx512, CpuLevel::avx512);
    k.triangle_rows.set(rows_avx512::fill_triangle_on_screen, CpuLevel::avx512);
    k.fill_triangle.set(fill_triangle_with<raster::fill_span_sse2, rows_avx512::fill_triangle_on_screen>,
                        CpuLevel::avx512);
}
#else
constexpr zorbrix::KernelInit<RasterKernels> init_avx2 = nullptr;
constexpr zorbrix::KernelInit<RasterKernels> init_avx512 = nullptr;
#endif

RasterKernels& used_kernels() {
    static RasterKernels kernels = raster_kernels_chosen();
    return kernels;
}

// Built during static initialisation, so that no frame pays for it.
const RasterKernels& built_at_start_up = used_kernels();

}  // namespace

RasterKernels raster_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<RasterKernels>(level, {init_scalar, init_sse2, init_avx2, init_avx512});
}

const RasterKernels& raster_kernels() { return used_kernels(); }

void raster_use_level(CpuLevel level) { used_kernels() = raster_kernels_for(level); }

void fill_triangle(int x0, int y0, int x1, int y1, int x2, int y2, uint32_t colour, uint32_t* pixels) {
    used_kernels().fill_triangle(x0, y0, x1, y1, x2, y2, colour, pixels);
}

void draw_line_add(uint32_t* pixels, int x0, int y0, int x1, int y1, uint32_t colour) {
    used_kernels().draw_line_add(pixels, x0, y0, x1, y1, colour);
}

}  // namespace zorbrix
