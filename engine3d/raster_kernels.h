#pragma once
// The rasterizer's two inner loops, each as a plain scalar reference and vector versions that give
// identical bytes: the span fill in SSE2, AVX2 and AVX-512 (whose masked stores fill a short span without a
// branch on its length: the effects' spans are mostly under 16 pixels, and mispredicted length tests cost
// more than the stores), the saturating line walk in SSE2. They are inline so that the triangle rows, compiled
// once per level in raster.cpp, inline their level's span fill; `RasterKernels` (engine3d/raster.h) holds
// them per level.

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZORBRIX_RASTER_WIDE 1
#define ZORBRIX_RASTER_AVX2_TARGET __attribute__((target("avx2")))
#define ZORBRIX_RASTER_AVX512_TARGET __attribute__((target("avx512f,avx512vl")))
#endif

namespace zorbrix {

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
    // One loop for both axes (no branch on the line's direction): the major step moves a row (steep) or
    // a pixel, the minor coordinate counts columns (steep) or rows.
    const ptrdiff_t steep = -ptrdiff_t(walk.steep);
    const ptrdiff_t major_stride = (ptrdiff_t(walk.major_step) * pitch & steep) | (walk.major_step & ~steep);
    const ptrdiff_t minor_stride = (1 & steep) | (pitch & ~steep);
    uint32_t* q = pixels + ((ptrdiff_t(walk.major0) * pitch & steep) | (walk.major0 & ~steep));
    int32_t minor = walk.minor_fixed;
    for (int k = 0; k < walk.count; ++k) {
        uint32_t* p = q + (minor >> 16) * minor_stride;
        *p = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_adds_epu8(_mm_cvtsi32_si128(static_cast<int>(*p)), c)));
        q += major_stride;
        minor += walk.minor_slope;
    }
}

#if defined(ZORBRIX_RASTER_WIDE)
// Thirty-two pixels per step; the last 0 to 32 pixels take two masked 16-pixel stores (the second often
// with an empty mask), so a span of up to 32 pixels, nearly every span of the effects, runs no loop and no
// test of its length. Masked-off pixels are neither read nor written. count >= 0. Only where
// zorbrix::cpu_allows(CpuLevel::avx512).
ZORBRIX_RASTER_AVX512_TARGET inline void fill_span_avx512(uint32_t* dst, int count, uint32_t colour) {
    const __m512i c = _mm512_set1_epi32(static_cast<int>(colour));
    for (; count > 32; count -= 32, dst += 32) {
        _mm512_storeu_si512(dst, c);
        _mm512_storeu_si512(dst + 16, c);
    }
    const uint32_t mask = count == 32 ? ~0u : (1u << count) - 1;
    _mm512_mask_storeu_epi32(dst, static_cast<__mmask16>(mask), c);
    _mm512_mask_storeu_epi32(dst + 16, static_cast<__mmask16>(mask >> 16), c);
}

// Sixteen pixels per step; the last 1 to 16 pixels take two masked 8-pixel stores, so a span of up to 16
// pixels runs no loop and no test of its length. Masked-off pixels are neither read nor written.
// count >= 0. Only where zorbrix::cpu_allows(CpuLevel::avx2).
ZORBRIX_RASTER_AVX2_TARGET inline void fill_span_avx2(uint32_t* dst, int count, uint32_t colour) {
    const __m256i c = _mm256_set1_epi32(static_cast<int>(colour));
    for (; count > 16; count -= 16, dst += 16) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8), c);
    }
    const __m256i low = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i high = _mm256_setr_epi32(8, 9, 10, 11, 12, 13, 14, 15);
    const __m256i n = _mm256_set1_epi32(count);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(dst), _mm256_cmpgt_epi32(n, low), c);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(dst) + 8, _mm256_cmpgt_epi32(n, high), c);
}

#endif
#endif

using FillSpanFn = void (*)(uint32_t* dst, int count, uint32_t colour);
using LineAddFn = void (*)(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour);

}  // namespace raster

}  // namespace zorbrix
