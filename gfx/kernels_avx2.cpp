// The AVX2 kernels: the SSE2 arithmetic on eight pixels per step. Only these functions are compiled for AVX2 (by
// attribute, not by a file-wide flag), so nothing else in the program can pick up AVX2 instructions by accident;
// they are used only after the CPU has been asked.
//
// 256-bit unpacks and packs work within each 128-bit half, so unpack-then-pack keeps pixel order; only the
// interleave of the enlargement needs a cross-half permute.
#include "gfx/blit_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <cstring>

#define ZX_AVX2 __attribute__((target("avx2")))

namespace zorbrix {

namespace {

ZX_AVX2 inline __m256i load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
ZX_AVX2 inline void store(uint32_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

ZX_AVX2 inline __m256i widen_lo(__m256i v) { return _mm256_srli_epi16(_mm256_unpacklo_epi8(v, v), 1); }
ZX_AVX2 inline __m256i widen_hi(__m256i v) { return _mm256_srli_epi16(_mm256_unpackhi_epi8(v, v), 1); }

// Byte shuffles that fill the four 16-bit lanes of a pixel with one of its bytes repeated (v x 257): the alpha byte
// of the pixels in the low or the high half of each 128-bit lane, or the high byte of a pixel's alpha lane.
ZX_AVX2 inline __m256i alpha_of_low_pixels(__m256i v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(3, 3, 3, 3, 3, 3, 3, 3, 7, 7, 7, 7, 7, 7, 7, 7,  //
                                                   3, 3, 3, 3, 3, 3, 3, 3, 7, 7, 7, 7, 7, 7, 7, 7));
}
ZX_AVX2 inline __m256i alpha_of_high_pixels(__m256i v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(11, 11, 11, 11, 11, 11, 11, 11, 15, 15, 15, 15, 15, 15, 15, 15,  //
                                                   11, 11, 11, 11, 11, 11, 11, 11, 15, 15, 15, 15, 15, 15, 15, 15));
}
// Copies the alpha lane (lane 3) of each widened pixel into its four lanes.
ZX_AVX2 inline __m256i broadcast_alpha_lane(__m256i v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15,  //
                                                   6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15));
}

ZX_AVX2 inline __m256i average_down(__m256i x, __m256i y, __m256i ones) {
    return _mm256_sub_epi8(_mm256_avg_epu8(x, y), _mm256_and_si256(_mm256_xor_si256(x, y), ones));
}

ZX_AVX2 void copy_row_avx2(uint32_t* dst, const uint32_t* src, int count) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i v0 = load(src + i);
        const __m256i v1 = load(src + i + 8);
        store(dst + i, v0);
        store(dst + i + 8, v1);
    }
    for (; i < count; ++i) {
        dst[i] = src[i];
    }
}

ZX_AVX2 inline __m256i blend8(__m256i s, __m256i d) {
    const __m256i ns = _mm256_xor_si256(s, _mm256_set1_epi32(-1));  // 255 - byte
    const __m256i w_lo = _mm256_srli_epi16(alpha_of_low_pixels(ns), 1);
    const __m256i w_hi = _mm256_srli_epi16(alpha_of_high_pixels(ns), 1);
    const __m256i t_lo = _mm256_srli_epi16(_mm256_mulhi_epu16(widen_lo(d), w_lo), 6);
    const __m256i t_hi = _mm256_srli_epi16(_mm256_mulhi_epu16(widen_hi(d), w_hi), 6);
    return _mm256_adds_epu8(s, _mm256_packus_epi16(t_lo, t_hi));
}

ZX_AVX2 void blend_row_avx2(uint32_t* dst, const uint32_t* src, int count) {
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        store(dst + i, blend8(load(src + i), load(dst + i)));
    }
    if (i < count) {
        const size_t bytes = static_cast<size_t>(count - i) * 4;
        uint32_t s[8] = {}, d[8] = {};
        std::memcpy(s, src + i, bytes);
        std::memcpy(d, dst + i, bytes);
        store(d, blend8(load(s), load(d)));
        std::memcpy(dst + i, d, bytes);
    }
}

ZX_AVX2 inline __m256i blend8_faded(__m256i s, __m256i d, __m256i F) {
    const __m256i limit = _mm256_set1_epi16(16383);
    // widen(s) x F >> 16 in every lane; in the alpha lane that is A, so k needs no multiply of its own.
    const __m256i m_lo = _mm256_mulhi_epu16(widen_lo(s), F);
    const __m256i m_hi = _mm256_mulhi_epu16(widen_hi(s), F);
    const __m256i k_lo = _mm256_sub_epi16(limit, broadcast_alpha_lane(m_lo));
    const __m256i k_hi = _mm256_sub_epi16(limit, broadcast_alpha_lane(m_hi));
    const __m256i lo =
        _mm256_add_epi16(_mm256_srli_epi16(_mm256_mulhi_epu16(widen_lo(d), k_lo), 5), _mm256_srli_epi16(m_lo, 6));
    const __m256i hi =
        _mm256_add_epi16(_mm256_srli_epi16(_mm256_mulhi_epu16(widen_hi(d), k_hi), 5), _mm256_srli_epi16(m_hi, 6));
    return _mm256_packus_epi16(lo, hi);
}

ZX_AVX2 void blend_row_faded_avx2(uint32_t* dst, const uint32_t* src, int count, int fade_byte) {
    const __m256i F = _mm256_set1_epi16(static_cast<short>(widen(static_cast<uint32_t>(fade_byte))));
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        store(dst + i, blend8_faded(load(src + i), load(dst + i), F));
    }
    if (i < count) {
        const size_t bytes = static_cast<size_t>(count - i) * 4;
        uint32_t s[8] = {}, d[8] = {};
        std::memcpy(s, src + i, bytes);
        std::memcpy(d, dst + i, bytes);
        store(d, blend8_faded(load(s), load(d), F));
        std::memcpy(dst + i, d, bytes);
    }
}

// Eight steps of the enlargement; see the SSE2 version for the arithmetic.
ZX_AVX2 inline void upscale8(__m256i a, __m256i b, __m256i c, __m256i e, __m256i top[2], __m256i bottom[2]) {
    const __m256i ones = _mm256_set1_epi8(1);
    const __m256i ab = average_down(a, b, ones);
    const __m256i ce = average_down(c, e, ones);
    const __m256i ac = average_down(a, c, ones);
    const __m256i dropped_both =
        _mm256_and_si256(_mm256_and_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(c, e)), ones);
    const __m256i odd = _mm256_and_si256(_mm256_andnot_si256(dropped_both, _mm256_xor_si256(ab, ce)), ones);
    const __m256i abce = _mm256_sub_epi8(_mm256_avg_epu8(ab, ce), odd);
    // Within each half: [a0 ab0 a1 ab1 | a4 ab4 a5 ab5] and [a2 ab2 a3 ab3 | a6 ab6 a7 ab7]; the permutes put the
    // halves back in order.
    const __m256i t_lo = _mm256_unpacklo_epi32(a, ab);
    const __m256i t_hi = _mm256_unpackhi_epi32(a, ab);
    const __m256i b_lo = _mm256_unpacklo_epi32(ac, abce);
    const __m256i b_hi = _mm256_unpackhi_epi32(ac, abce);
    top[0] = _mm256_permute2x128_si256(t_lo, t_hi, 0x20);
    top[1] = _mm256_permute2x128_si256(t_lo, t_hi, 0x31);
    bottom[0] = _mm256_permute2x128_si256(b_lo, b_hi, 0x20);
    bottom[1] = _mm256_permute2x128_si256(b_lo, b_hi, 0x31);
}

ZX_AVX2 void upscale_row_pair_avx2(uint32_t* dst, const uint32_t* src, int dst_width) {
    const int h = dst_width / 2;
    const int steps = h - 1;
    __m256i top[2], bottom[2];
    int i = 0;
    for (; i + 8 <= steps; i += 8) {
        upscale8(load(src + i), load(src + i + 1), load(src + i + h), load(src + i + h + 1), top, bottom);
        store(dst + 2 * i, top[0]);
        store(dst + 2 * i + 8, top[1]);
        store(dst + 2 * i + dst_width, bottom[0]);
        store(dst + 2 * i + dst_width + 8, bottom[1]);
    }
    if (i < steps) {
        const int left = steps - i;
        uint32_t a[8] = {}, b[8] = {}, c[8] = {}, e[8] = {};
        for (int j = 0; j < left; ++j) {
            a[j] = src[i + j];
            b[j] = src[i + j + 1];
            c[j] = src[i + j + h];
            e[j] = src[i + j + h + 1];
        }
        upscale8(load(a), load(b), load(c), load(e), top, bottom);
        uint32_t upper[16], lower[16];
        store(upper, top[0]);
        store(upper + 8, top[1]);
        store(lower, bottom[0]);
        store(lower + 8, bottom[1]);
        std::memcpy(dst + 2 * i, upper, static_cast<size_t>(left) * 8);
        std::memcpy(dst + 2 * i + dst_width, lower, static_cast<size_t>(left) * 8);
    }
}

}  // namespace

void row_kernels_init_avx2(RowKernels& k) {
    k.copy_row.set(copy_row_avx2, zorbrix::CpuLevel::avx2);
    k.blend_row.set(blend_row_avx2, zorbrix::CpuLevel::avx2);
    k.blend_row_faded.set(blend_row_faded_avx2, zorbrix::CpuLevel::avx2);
    k.upscale_row_pair.set(upscale_row_pair_avx2, zorbrix::CpuLevel::avx2);
}

}  // namespace zorbrix

#else

namespace zorbrix {
void row_kernels_init_avx2(RowKernels&) {}
}  // namespace zorbrix

#endif
