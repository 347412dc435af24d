// The SSE2 kernels: four pixels per step, each byte widened into a 16-bit lane.
//
// The rules only use widen(v) = (v x 257) >> 1, products of two such values shifted right by 16 or more, sums and
// a clamp to 255, so they map exactly onto 16-bit lanes: unpacking a byte with itself gives v x 257, and
// _mm_mulhi_epu16 gives (x x y) >> 16, after which the remaining shift drops the same bits the scalar form drops.
// Rows that are not a multiple of four pixels finish with one more step on a small zero-padded copy.
#include "gfx/blit_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

namespace zorbrix {

namespace {

// widen() of the four low (or high) bytes of each half, one per 16-bit lane.
inline __m128i widen_lo(__m128i v) { return _mm_srli_epi16(_mm_unpacklo_epi8(v, v), 1); }
inline __m128i widen_hi(__m128i v) { return _mm_srli_epi16(_mm_unpackhi_epi8(v, v), 1); }

// Copies the alpha lane (lane 3 of each pixel) into all four lanes of that pixel.
inline __m128i broadcast_alpha(__m128i v) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF); }

// (x + y) >> 1 per byte: the rounding-up average minus the carry of an odd sum.
inline __m128i average_down(__m128i x, __m128i y, __m128i ones) {
    return _mm_sub_epi8(_mm_avg_epu8(x, y), _mm_and_si128(_mm_xor_si128(x, y), ones));
}

void copy_row_sse2(uint32_t* dst, const uint32_t* src, int count) {
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), v1);
    }
    for (; i < count; ++i) {
        dst[i] = src[i];
    }
}

inline __m128i blend4(__m128i s, __m128i d) {
    const __m128i ns = _mm_xor_si128(s, _mm_set1_epi32(-1));  // 255 - byte
    const __m128i w_lo = broadcast_alpha(widen_lo(ns));
    const __m128i w_hi = broadcast_alpha(widen_hi(ns));
    const __m128i t_lo = _mm_srli_epi16(_mm_mulhi_epu16(widen_lo(d), w_lo), 6);
    const __m128i t_hi = _mm_srli_epi16(_mm_mulhi_epu16(widen_hi(d), w_hi), 6);
    return _mm_adds_epu8(s, _mm_packus_epi16(t_lo, t_hi));
}

void blend_row_sse2(uint32_t* dst, const uint32_t* src, int count) {
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), blend4(s, d));
    }
    if (i < count) {
        const size_t bytes = static_cast<size_t>(count - i) * 4;
        uint32_t s[4] = {}, d[4] = {};
        std::memcpy(s, src + i, bytes);
        std::memcpy(d, dst + i, bytes);
        const __m128i out = blend4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(d)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
        std::memcpy(dst + i, d, bytes);
    }
}

inline __m128i blend4_faded(__m128i s, __m128i d, __m128i F) {
    const __m128i limit = _mm_set1_epi16(16383);
    // widen(s) x F >> 16 in every lane; in the alpha lane that is A, so k needs no multiply of its own.
    const __m128i m_lo = _mm_mulhi_epu16(widen_lo(s), F);
    const __m128i m_hi = _mm_mulhi_epu16(widen_hi(s), F);
    const __m128i k_lo = _mm_sub_epi16(limit, broadcast_alpha(m_lo));
    const __m128i k_hi = _mm_sub_epi16(limit, broadcast_alpha(m_hi));
    const __m128i lo = _mm_add_epi16(_mm_srli_epi16(_mm_mulhi_epu16(widen_lo(d), k_lo), 5), _mm_srli_epi16(m_lo, 6));
    const __m128i hi = _mm_add_epi16(_mm_srli_epi16(_mm_mulhi_epu16(widen_hi(d), k_hi), 5), _mm_srli_epi16(m_hi, 6));
    return _mm_packus_epi16(lo, hi);  // sums are at most 510; packing clamps them to 255
}

void blend_row_faded_sse2(uint32_t* dst, const uint32_t* src, int count, int fade_byte) {
    const __m128i F = _mm_set1_epi16(static_cast<short>(widen(static_cast<uint32_t>(fade_byte))));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), blend4_faded(s, d, F));
    }
    if (i < count) {
        const size_t bytes = static_cast<size_t>(count - i) * 4;
        uint32_t s[4] = {}, d[4] = {};
        std::memcpy(s, src + i, bytes);
        std::memcpy(d, dst + i, bytes);
        const __m128i out = blend4_faded(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), F);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
        std::memcpy(dst + i, d, bytes);
    }
}

// Four steps of the enlargement: a, b, c, e hold src[i..], src[i + 1..], src[i + h..], src[i + h + 1..]. Writes
// eight words of the upper row to top[0..1] and eight of the lower row to bottom[0..1].
inline void upscale4(__m128i a, __m128i b, __m128i c, __m128i e, __m128i top[2], __m128i bottom[2]) {
    const __m128i ones = _mm_set1_epi8(1);
    const __m128i ab = average_down(a, b, ones);
    const __m128i ce = average_down(c, e, ones);
    const __m128i ac = average_down(a, c, ones);
    // (a + b + c + e) >> 2 from the two halved sums and the bits they dropped: rounding the average of ab and ce
    // up is right only when both halvings dropped a 1.
    const __m128i dropped_both = _mm_and_si128(_mm_and_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, e)), ones);
    const __m128i odd = _mm_and_si128(_mm_andnot_si128(dropped_both, _mm_xor_si128(ab, ce)), ones);
    const __m128i abce = _mm_sub_epi8(_mm_avg_epu8(ab, ce), odd);
    top[0] = _mm_unpacklo_epi32(a, ab);
    top[1] = _mm_unpackhi_epi32(a, ab);
    bottom[0] = _mm_unpacklo_epi32(ac, abce);
    bottom[1] = _mm_unpackhi_epi32(ac, abce);
}

void upscale_row_pair_sse2(uint32_t* dst, const uint32_t* src, int dst_width) {
    const int h = dst_width / 2;
    const int steps = h - 1;
    __m128i top[2], bottom[2];
    int i = 0;
    for (; i + 4 <= steps; i += 4) {
        upscale4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 1)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + h)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + h + 1)), top, bottom);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), top[0]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + 4), top[1]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + dst_width), bottom[0]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + dst_width + 4), bottom[1]);
    }
    if (i < steps) {
        const int left = steps - i;
        uint32_t a[4] = {}, b[4] = {}, c[4] = {}, e[4] = {};
        for (int j = 0; j < left; ++j) {
            a[j] = src[i + j];
            b[j] = src[i + j + 1];
            c[j] = src[i + j + h];
            e[j] = src[i + j + h + 1];
        }
        upscale4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(c)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(e)), top, bottom);
        uint32_t upper[8], lower[8];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(upper), top[0]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(upper + 4), top[1]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lower), bottom[0]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lower + 4), bottom[1]);
        std::memcpy(dst + 2 * i, upper, static_cast<size_t>(left) * 8);
        std::memcpy(dst + 2 * i + dst_width, lower, static_cast<size_t>(left) * 8);
    }
}

}  // namespace

void row_kernels_init_sse2(RowKernels& k) {
    k.copy_row.set(copy_row_sse2, zorbrix::CpuLevel::sse2);
    k.blend_row.set(blend_row_sse2, zorbrix::CpuLevel::sse2);
    k.blend_row_faded.set(blend_row_faded_sse2, zorbrix::CpuLevel::sse2);
    k.upscale_row_pair.set(upscale_row_pair_sse2, zorbrix::CpuLevel::sse2);
}

}  // namespace zorbrix

#else

namespace zorbrix {
void row_kernels_init_sse2(RowKernels&) {}
}  // namespace zorbrix

#endif
