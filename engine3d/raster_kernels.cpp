#include "engine3d/raster_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace raster {

void fill_span_scalar(uint32_t* dst, int count, uint32_t colour) {
    for (int i = 0; i < count; ++i) dst[i] = colour;
}

namespace {

// Per byte min(255, p + c), all four bytes.
uint32_t add_saturate(uint32_t p, uint32_t c) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t sum = ((p >> shift) & 0xFF) + ((c >> shift) & 0xFF);
        out |= (sum > 255 ? 255u : sum) << shift;
    }
    return out;
}

}  // namespace

void line_add_scalar(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour) {
    int major = walk.major0;
    int32_t minor = walk.minor_fixed;
    for (int k = 0; k < walk.count; ++k) {
        const int x = walk.steep ? (minor >> 16) : major;
        const int y = walk.steep ? major : (minor >> 16);
        uint32_t& p = pixels[y * pitch + x];
        p = add_saturate(p, colour);
        major += walk.major_step;
        minor += walk.minor_slope;
    }
}

#if defined(__SSE2__)

void fill_span_sse2(uint32_t* dst, int count, uint32_t colour) {
    int i = 0;
    // Single stores up to a 16-byte boundary, then aligned 4-pixel stores, then the tail.
    while (i < count && (reinterpret_cast<uintptr_t>(dst + i) & 15) != 0) dst[i++] = colour;
    const __m128i c = _mm_set1_epi32(static_cast<int>(colour));
    for (; i + 8 <= count; i += 8) {
        _mm_store_si128(reinterpret_cast<__m128i*>(dst + i), c);
        _mm_store_si128(reinterpret_cast<__m128i*>(dst + i + 4), c);
    }
    for (; i + 4 <= count; i += 4) _mm_store_si128(reinterpret_cast<__m128i*>(dst + i), c);
    for (; i < count; ++i) dst[i] = colour;
}

void line_add_sse2(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour) {
    const __m128i c = _mm_cvtsi32_si128(static_cast<int>(colour));
    int32_t minor = walk.minor_fixed;
    // Address arithmetic: one pointer steps along the major axis, the minor offset is added per pixel.
    uint32_t* p = walk.steep ? pixels + walk.major0 * pitch : pixels + walk.major0;
    const int major_stride = walk.steep ? walk.major_step * pitch : walk.major_step;
    const int minor_stride = walk.steep ? 1 : pitch;
    for (int k = 0; k < walk.count; ++k) {
        uint32_t* q = p + (minor >> 16) * minor_stride;
        const __m128i v = _mm_adds_epu8(_mm_cvtsi32_si128(static_cast<int>(*q)), c);
        *q = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
        p += major_stride;
        minor += walk.minor_slope;
    }
}

#endif

const Kernels& active_kernels() {
    static const Kernels chosen = [] {
#if defined(__SSE2__)
        return Kernels{fill_span_sse2, line_add_sse2, "sse2"};
#else
        return Kernels{fill_span_scalar, line_add_scalar, "scalar"};
#endif
    }();
    return chosen;
}

}  // namespace raster
