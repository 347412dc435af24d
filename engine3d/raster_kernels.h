#pragma once
// The rasterizer's two inner loops, each as a plain scalar reference and an SSE2 version that gives
// identical bytes. SSE2 is part of every x86-64 processor, so the choice is made when compiling: the
// rasterizer calls the inline `fill_span` and `line_add` below, and `active_kernels()` names the same
// pair for tests and benchmarks.

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace raster {

// A line walk: count pixels; pixel k sits at major = major0 + k·major_step along the major axis and
// minor = (minor_fixed + k·minor_slope) >> 16 along the other; steep lines have y as the major axis.
struct LineWalk {
    int major0;
    int major_step;  // +1 or -1
    int32_t minor_fixed;
    int32_t minor_slope;
    int count;
    bool steep;
};

// Stores the colour into count consecutive pixels.
inline void fill_span_scalar(uint32_t* dst, int count, uint32_t colour) {
    for (int i = 0; i < count; ++i) dst[i] = colour;
}

// Per byte min(255, p + c), all four bytes.
inline uint32_t add_saturate_scalar(uint32_t p, uint32_t c) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t sum = ((p >> shift) & 0xFF) + ((c >> shift) & 0xFF);
        out |= (sum > 255 ? 255u : sum) << shift;
    }
    return out;
}

// Adds the colour to every pixel of the walk, per byte with saturation at 255.
inline void line_add_scalar(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour) {
    int major = walk.major0;
    int32_t minor = walk.minor_fixed;
    for (int k = 0; k < walk.count; ++k) {
        const int x = walk.steep ? (minor >> 16) : major;
        const int y = walk.steep ? major : (minor >> 16);
        uint32_t& p = pixels[y * pitch + x];
        p = add_saturate_scalar(p, colour);
        major += walk.major_step;
        minor += walk.minor_slope;
    }
}

#if defined(__SSE2__)

inline void fill_span_sse2(uint32_t* dst, int count, uint32_t colour) {
    if (count < 4) {
        // 1 to 3 pixels: three stores that cover them exactly (some twice), no loop.
        if (count > 0) {
            dst[0] = colour;
            dst[count >> 1] = colour;
            dst[count - 1] = colour;
        }
        return;
    }
    // Unaligned 4-pixel stores whose last ones may overlap the ones before them; short spans (the usual
    // case for the effects' triangles) take two or four stores and no loop.
    const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
    const auto store = [&](int at) { _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + at), c); };
    if (count <= 8) {
        store(0);
        store(count - 4);
        return;
    }
    if (count <= 16) {
        store(0);
        store(4);
        store(count - 8);
        store(count - 4);
        return;
    }
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        store(i);
        store(i + 4);
    }
    if (i + 4 <= count) store(i);
    store(count - 4);
}

inline void line_add_sse2(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour) {
    const __m128i c = _mm_cvtsi32_si128(static_cast<int>(colour));
    const auto add = [c](uint32_t* q) {
        *q = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_adds_epu8(_mm_cvtsi32_si128(static_cast<int>(*q)), c)));
    };
    int32_t minor = walk.minor_fixed;
    // Separate loops for the two axes: the minor coordinate is a column (steep) or a row (shallow), the
    // major step a row or a pixel.
    if (walk.steep) {
        uint32_t* row = pixels + walk.major0 * pitch;
        const int row_step = walk.major_step * pitch;
        for (int k = 0; k < walk.count; ++k) {
            add(row + (minor >> 16));
            row += row_step;
            minor += walk.minor_slope;
        }
    } else {
        int x = walk.major0;
        for (int k = 0; k < walk.count; ++k) {
            add(pixels + (minor >> 16) * pitch + x);
            x += walk.major_step;
            minor += walk.minor_slope;
        }
    }
}

inline void fill_span(uint32_t* dst, int count, uint32_t colour) { fill_span_sse2(dst, count, colour); }
inline void line_add(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour) {
    line_add_sse2(pixels, pitch, walk, colour);
}
constexpr const char* KERNELS_NAME = "sse2";

#else

inline void fill_span(uint32_t* dst, int count, uint32_t colour) { fill_span_scalar(dst, count, colour); }
inline void line_add(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour) {
    line_add_scalar(pixels, pitch, walk, colour);
}
constexpr const char* KERNELS_NAME = "scalar";

#endif

using FillSpanFn = void (*)(uint32_t* dst, int count, uint32_t colour);
using LineAddFn = void (*)(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour);

struct Kernels {
    FillSpanFn fill_span;
    LineAddFn line_add;
    const char* name;
};

// The pair the rasterizer runs.
inline Kernels active_kernels() { return Kernels{fill_span, line_add, KERNELS_NAME}; }

}  // namespace raster
