// The AVX-512BW kernels: the AVX2 arithmetic on sixteen pixels per step, with masked loads and stores for the last,
// partial step. Compiled for AVX-512 by attribute only and used only after the CPU has been asked.
#include "gfx/blit_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

// GCC 12's AVX-512 intrinsics start from a deliberately undefined register, which its own flow analysis then
// reports as "may be used uninitialized" wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define ZX_AVX512 __attribute__((target("avx512f,avx512bw")))

namespace zorbrix {

namespace {

ZX_AVX512 inline __m512i load(const uint32_t* p) { return _mm512_loadu_si512(p); }
ZX_AVX512 inline void store(uint32_t* p, __m512i v) { _mm512_storeu_si512(p, v); }
ZX_AVX512 inline __m512i load_first(const uint32_t* p, int n) {
    return _mm512_maskz_loadu_epi32(static_cast<__mmask16>((1u << n) - 1), p);
}
ZX_AVX512 inline void store_first(uint32_t* p, __m512i v, int n) {
    _mm512_mask_storeu_epi32(p, static_cast<__mmask16>((1u << n) - 1), v);
}

ZX_AVX512 inline __m512i widen_lo(__m512i v) { return _mm512_srli_epi16(_mm512_unpacklo_epi8(v, v), 1); }
ZX_AVX512 inline __m512i widen_hi(__m512i v) { return _mm512_srli_epi16(_mm512_unpackhi_epi8(v, v), 1); }

// Byte shuffles within each 128-bit lane (the patterns written as four little-endian words per lane): see the AVX2
// version.
ZX_AVX512 inline __m512i alpha_of_low_pixels(__m512i v) {
    return _mm512_shuffle_epi8(v, _mm512_setr4_epi32(0x03030303, 0x03030303, 0x07070707, 0x07070707));
}
ZX_AVX512 inline __m512i alpha_of_high_pixels(__m512i v) {
    return _mm512_shuffle_epi8(v, _mm512_setr4_epi32(0x0B0B0B0B, 0x0B0B0B0B, 0x0F0F0F0F, 0x0F0F0F0F));
}
ZX_AVX512 inline __m512i broadcast_alpha_lane(__m512i v) {
    return _mm512_shuffle_epi8(v, _mm512_setr4_epi32(0x07060706, 0x07060706, 0x0F0E0F0E, 0x0F0E0F0E));
}

ZX_AVX512 inline __m512i average_down(__m512i x, __m512i y, __m512i ones) {
    return _mm512_sub_epi8(_mm512_avg_epu8(x, y), _mm512_and_si512(_mm512_xor_si512(x, y), ones));
}

ZX_AVX512 void copy_row_avx512(uint32_t* dst, const uint32_t* src, int count) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        store(dst + i, load(src + i));
    }
    if (i < count) {
        store_first(dst + i, load_first(src + i, count - i), count - i);
    }
}

ZX_AVX512 inline __m512i blend16(__m512i s, __m512i d) {
    // w = widen(255 - a) = 32767 - widen(a). (Complementing s first would do too, but the compiler turns that into
    // a ternary-logic instruction that waits on the previous step's result register.)
    const __m512i top = _mm512_set1_epi16(32767);
    const __m512i w_lo = _mm512_sub_epi16(top, _mm512_srli_epi16(alpha_of_low_pixels(s), 1));
    const __m512i w_hi = _mm512_sub_epi16(top, _mm512_srli_epi16(alpha_of_high_pixels(s), 1));
    const __m512i t_lo = _mm512_srli_epi16(_mm512_mulhi_epu16(widen_lo(d), w_lo), 6);
    const __m512i t_hi = _mm512_srli_epi16(_mm512_mulhi_epu16(widen_hi(d), w_hi), 6);
    return _mm512_adds_epu8(s, _mm512_packus_epi16(t_lo, t_hi));
}

ZX_AVX512 void blend_row_avx512(uint32_t* dst, const uint32_t* src, int count) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        store(dst + i, blend16(load(src + i), load(dst + i)));
    }
    if (i < count) {
        const int n = count - i;
        store_first(dst + i, blend16(load_first(src + i, n), load_first(dst + i, n)), n);
    }
}

ZX_AVX512 inline __m512i blend16_faded(__m512i s, __m512i d, __m512i F) {
    const __m512i limit = _mm512_set1_epi16(16383);
    const __m512i m_lo = _mm512_mulhi_epu16(widen_lo(s), F);
    const __m512i m_hi = _mm512_mulhi_epu16(widen_hi(s), F);
    const __m512i k_lo = _mm512_sub_epi16(limit, broadcast_alpha_lane(m_lo));
    const __m512i k_hi = _mm512_sub_epi16(limit, broadcast_alpha_lane(m_hi));
    const __m512i lo =
        _mm512_add_epi16(_mm512_srli_epi16(_mm512_mulhi_epu16(widen_lo(d), k_lo), 5), _mm512_srli_epi16(m_lo, 6));
    const __m512i hi =
        _mm512_add_epi16(_mm512_srli_epi16(_mm512_mulhi_epu16(widen_hi(d), k_hi), 5), _mm512_srli_epi16(m_hi, 6));
    return _mm512_packus_epi16(lo, hi);
}

ZX_AVX512 void blend_row_faded_avx512(uint32_t* dst, const uint32_t* src, int count, int fade_byte) {
    const __m512i F = _mm512_set1_epi16(static_cast<short>(widen(static_cast<uint32_t>(fade_byte))));
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        store(dst + i, blend16_faded(load(src + i), load(dst + i), F));
    }
    if (i < count) {
        const int n = count - i;
        store_first(dst + i, blend16_faded(load_first(src + i, n), load_first(dst + i, n), F), n);
    }
}

// Sixteen steps of the enlargement; see the SSE2 version for the arithmetic. The unpacks interleave within each
// 128-bit lane; one two-source permute per output puts the lanes in order.
ZX_AVX512 inline void upscale16(__m512i a, __m512i b, __m512i c, __m512i e, __m512i top[2], __m512i bottom[2]) {
    const __m512i ones = _mm512_set1_epi8(1);
    const __m512i ab = average_down(a, b, ones);
    const __m512i ce = average_down(c, e, ones);
    const __m512i ac = average_down(a, c, ones);
    const __m512i dropped_both =
        _mm512_and_si512(_mm512_and_si512(_mm512_xor_si512(a, b), _mm512_xor_si512(c, e)), ones);
    const __m512i odd = _mm512_and_si512(_mm512_andnot_si512(dropped_both, _mm512_xor_si512(ab, ce)), ones);
    const __m512i abce = _mm512_sub_epi8(_mm512_avg_epu8(ab, ce), odd);
    const __m512i first = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
    const __m512i second = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
    const __m512i t_lo = _mm512_unpacklo_epi32(a, ab);
    const __m512i t_hi = _mm512_unpackhi_epi32(a, ab);
    const __m512i b_lo = _mm512_unpacklo_epi32(ac, abce);
    const __m512i b_hi = _mm512_unpackhi_epi32(ac, abce);
    top[0] = _mm512_permutex2var_epi64(t_lo, first, t_hi);
    top[1] = _mm512_permutex2var_epi64(t_lo, second, t_hi);
    bottom[0] = _mm512_permutex2var_epi64(b_lo, first, b_hi);
    bottom[1] = _mm512_permutex2var_epi64(b_lo, second, b_hi);
}

ZX_AVX512 void upscale_row_pair_avx512(uint32_t* dst, const uint32_t* src, int dst_width) {
    const int h = dst_width / 2;
    const int steps = h - 1;
    __m512i top[2], bottom[2];
    int i = 0;
    for (; i + 16 <= steps; i += 16) {
        upscale16(load(src + i), load(src + i + 1), load(src + i + h), load(src + i + h + 1), top, bottom);
        store(dst + 2 * i, top[0]);
        store(dst + 2 * i + 16, top[1]);
        store(dst + 2 * i + dst_width, bottom[0]);
        store(dst + 2 * i + dst_width + 16, bottom[1]);
    }
    if (i < steps) {
        const int n = steps - i;  // 1..15 steps: 2n words in each row
        upscale16(load_first(src + i, n), load_first(src + i + 1, n), load_first(src + i + h, n),
                  load_first(src + i + h + 1, n), top, bottom);
        const int first = n < 8 ? 2 * n : 16;
        store_first(dst + 2 * i, top[0], first);
        store_first(dst + 2 * i + dst_width, bottom[0], first);
        if (n > 8) {
            store_first(dst + 2 * i + 16, top[1], 2 * n - 16);
            store_first(dst + 2 * i + dst_width + 16, bottom[1], 2 * n - 16);
        }
    }
}

}  // namespace

void row_kernels_init_avx512(RowKernels& k) {
    k.copy_row.set(copy_row_avx512, zorbrix::CpuLevel::avx512);
    k.blend_row.set(blend_row_avx512, zorbrix::CpuLevel::avx512);
    k.blend_row_faded.set(blend_row_faded_avx512, zorbrix::CpuLevel::avx512);
    k.upscale_row_pair.set(upscale_row_pair_avx512, zorbrix::CpuLevel::avx512);
}

}  // namespace zorbrix

#else

namespace zorbrix {
void row_kernels_init_avx512(RowKernels&) {}
}  // namespace zorbrix

#endif
