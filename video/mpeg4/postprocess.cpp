// Deblocking filters across 8x8 block edges, after the deblocking filter of MPEG-4 visual's informative annex.
#include "video/mpeg4/postprocess.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorbrix::mpeg4 {
namespace {

// Default mode on ten samples v[0..9] across an edge between v[4] and v[5]; only v[4] and v[5] change.
inline void default_mode(int v[10], int qp) {
    const int a0 = 2 * v[3] - 5 * v[4] + 5 * v[5] - 2 * v[6];
    if (std::abs(a0) >= 8 * qp) return;
    const int h = (v[4] - v[5]) / 2;
    if (h == 0) return;
    const int a1 = 2 * v[1] - 5 * v[2] + 5 * v[3] - 2 * v[4];
    const int a2 = 2 * v[5] - 5 * v[6] + 5 * v[7] - 2 * v[8];
    const int m = std::abs(a0) - std::min(std::abs(a1), std::abs(a2));
    if (m <= 0) return;
    const int d = (5 * m + 32) >> 6;
    if (d == 0) return;
    if ((a0 < 0 && h > 0) || (a0 > 0 && h < 0)) {
        const int c = h > 0 ? std::min(d, h) : -std::min(d, -h);
        v[4] -= c;
        v[5] += c;
    }
}

// DC offset mode: v[1..8] become a 9-tap low-pass of the padded sequence p0, v1..v8, p9.
inline void dc_offset_mode(int v[10], int p0, int p9) {
    int p[18];
    for (int m = 0; m < 5; ++m) p[m] = p0;          // p_(-4) .. p_0
    for (int m = 1; m <= 8; ++m) p[m + 4] = v[m];   // p_1 .. p_8
    for (int m = 13; m < 18; ++m) p[m] = p9;        // p_9 .. p_13
    for (int n = 1; n <= 8; ++n) {
        const int* q = p + n + 4;  // q[0] = p_n
        const int s = q[-4] + q[-3] + 2 * q[-2] + 2 * q[-1] + 4 * q[0] + 2 * q[1] + 2 * q[2] + q[3] + q[4] + 8;
        v[n] = std::clamp(s >> 4, 0, 255);
    }
}

inline bool near(int a, int b) { return std::abs(a - b) <= 1; }

}  // namespace

void filter_vertical_edges_scalar(uint8_t* rows, int width, int stride, const uint8_t* quant_row, bool luma) {
    for (int x = 8; x < width; x += 8) {
        const int qp = quant_row[luma ? x / 16 : x / 8];
        int v[4][10];
        int eq = 0;
        for (int r = 0; r < 4; ++r) {
            const uint8_t* p = rows + r * stride + x - 5;
            for (int k = 0; k < 10; ++k) v[r][k] = p[k];
            for (int k = 1; k <= 7; ++k) eq += near(v[r][k], v[r][k + 1]);
        }
        if (eq < 16) {
            for (int r = 0; r < 4; ++r) default_mode(v[r], qp);
        } else {
            if (std::abs(v[0][1] - v[0][8]) >= 2 * qp) continue;
            for (int r = 0; r < 4; ++r) {
                const int p0 = std::abs(v[r][0] - v[r][1]) < qp ? v[r][0] : v[r][1];
                const int p9 = std::abs(v[r][9] - v[r][8]) < qp ? v[r][9] : v[r][8];
                dc_offset_mode(v[r], p0, p9);
            }
        }
        for (int r = 0; r < 4; ++r) {
            uint8_t* p = rows + r * stride + x - 5;
            for (int k = 1; k <= 8; ++k) p[k] = static_cast<uint8_t>(v[r][k]);
        }
    }
}

void filter_horizontal_edges_scalar(uint8_t* first_below, int width, int stride, const uint8_t* quant_row, bool luma) {
    for (int x = 0; x < width; x += 8) {
        const int qp = quant_row[luma ? x / 16 : x / 8];
        int v[8][10];
        int eq = 0;
        bool flat = true;
        for (int c = 0; c < 8; ++c) {
            for (int k = 0; k < 10; ++k) v[c][k] = first_below[(k - 5) * stride + x + c];
            for (int k = 1; k <= 8; ++k) eq += near(v[c][k], v[c][k + 1]);
            flat = flat && std::abs(v[c][1] - v[c][8]) <= 2 * qp;
        }
        if (eq > 32) {
            if (!flat) continue;
            for (int c = 0; c < 8; ++c) {
                const int p0 = std::abs(v[c][0] - v[c][1]) <= qp ? v[c][0] : v[c][1];
                const int p9 = std::abs(v[c][9] - v[c][8]) <= qp ? v[c][9] : v[c][8];
                dc_offset_mode(v[c], p0, p9);
            }
        } else {
            for (int c = 0; c < 8; ++c) default_mode(v[c], qp);
        }
        for (int c = 0; c < 8; ++c)
            for (int k = 1; k <= 8; ++k) first_below[(k - 5) * stride + x + c] = static_cast<uint8_t>(v[c][k]);
    }
}

#if defined(__SSE2__)

namespace {

// 16-bit lane helpers.
inline __m128i abs16(__m128i a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }

inline int hsum16(__m128i v) {
    v = _mm_add_epi16(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi16(v, _mm_srli_si128(v, 4));
    v = _mm_add_epi16(v, _mm_srli_si128(v, 2));
    return static_cast<int16_t>(_mm_cvtsi128_si32(v));
}

}  // namespace

void filter_horizontal_edges_sse2(uint8_t* first_below, int width, int stride, const uint8_t* quant_row, bool luma) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1);
    for (int x = 0; x < width; x += 8) {
        const int qp = quant_row[luma ? x / 16 : x / 8];
        __m128i v[10];
        for (int k = 0; k < 10; ++k)
            v[k] = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(first_below + (k - 5) * stride + x)), zero);
        __m128i cnt = zero;
        for (int k = 1; k <= 8; ++k)
            cnt = _mm_add_epi16(cnt, _mm_and_si128(_mm_cmplt_epi16(abs16(_mm_sub_epi16(v[k], v[k + 1])), _mm_set1_epi16(2)), one));
        const int eq = hsum16(cnt);
        const __m128i q = _mm_set1_epi16(static_cast<int16_t>(qp));
        if (eq > 32) {
            const __m128i q2 = _mm_set1_epi16(static_cast<int16_t>(2 * qp));
            const __m128i steep = _mm_cmpgt_epi16(abs16(_mm_sub_epi16(v[1], v[8])), q2);
            if (_mm_movemask_epi8(steep) != 0) continue;
            // p0 = v0 where |v0 - v1| <= QP, else v1; likewise p9.
            const __m128i keep0 = _mm_cmpgt_epi16(abs16(_mm_sub_epi16(v[0], v[1])), q);
            const __m128i p0 = _mm_or_si128(_mm_and_si128(keep0, v[1]), _mm_andnot_si128(keep0, v[0]));
            const __m128i keep9 = _mm_cmpgt_epi16(abs16(_mm_sub_epi16(v[9], v[8])), q);
            const __m128i p9 = _mm_or_si128(_mm_and_si128(keep9, v[8]), _mm_andnot_si128(keep9, v[9]));
            __m128i p[18];
            for (int m = 0; m < 5; ++m) p[m] = p0;
            for (int m = 1; m <= 8; ++m) p[m + 4] = v[m];
            for (int m = 13; m < 18; ++m) p[m] = p9;
            const __m128i eight = _mm_set1_epi16(8);
            for (int n = 1; n <= 8; ++n) {
                const __m128i* c = p + n + 4;
                __m128i s = _mm_add_epi16(c[-4], c[-3]);
                s = _mm_add_epi16(s, _mm_slli_epi16(_mm_add_epi16(_mm_add_epi16(c[-2], c[-1]), _mm_add_epi16(c[1], c[2])), 1));
                s = _mm_add_epi16(s, _mm_slli_epi16(c[0], 2));
                s = _mm_add_epi16(s, _mm_add_epi16(_mm_add_epi16(c[3], c[4]), eight));
                const __m128i r = _mm_srai_epi16(s, 4);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(first_below + (n - 5) * stride + x), _mm_packus_epi16(r, r));
            }
        } else {
            // Default mode, eight columns at once.
            const __m128i two = _mm_set1_epi16(2), five = _mm_set1_epi16(5);
            auto taps = [&](__m128i a, __m128i b, __m128i c, __m128i d) {
                return _mm_sub_epi16(_mm_add_epi16(_mm_mullo_epi16(two, _mm_sub_epi16(a, d)), _mm_mullo_epi16(five, c)),
                                     _mm_mullo_epi16(five, b));
            };
            const __m128i a0 = taps(v[3], v[4], v[5], v[6]);
            const __m128i a1 = taps(v[1], v[2], v[3], v[4]);
            const __m128i a2 = taps(v[5], v[6], v[7], v[8]);
            const __m128i diff = _mm_sub_epi16(v[4], v[5]);
            // h = diff / 2 truncated toward zero.
            const __m128i h = _mm_srai_epi16(_mm_add_epi16(diff, _mm_srli_epi16(diff, 15)), 1);
            const __m128i abs_a0 = abs16(a0);
            const __m128i m = _mm_sub_epi16(abs_a0, _mm_min_epi16(abs16(a1), abs16(a2)));
            const __m128i d = _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(m, five), _mm_set1_epi16(32)), 6);
            __m128i ok = _mm_cmplt_epi16(abs_a0, _mm_set1_epi16(static_cast<int16_t>(8 * qp)));
            ok = _mm_and_si128(ok, _mm_cmpgt_epi16(m, zero));
            // Opposite signs of a0 and h (h = 0 excluded by the sign test itself).
            const __m128i opp = _mm_or_si128(_mm_and_si128(_mm_cmplt_epi16(a0, zero), _mm_cmpgt_epi16(h, zero)),
                                             _mm_and_si128(_mm_cmpgt_epi16(a0, zero), _mm_cmplt_epi16(h, zero)));
            ok = _mm_and_si128(ok, opp);
            const __m128i mag = _mm_min_epi16(_mm_max_epi16(d, zero), abs16(h));
            const __m128i neg = _mm_cmplt_epi16(h, zero);
            __m128i c = _mm_sub_epi16(_mm_xor_si128(mag, neg), neg);
            c = _mm_and_si128(c, ok);
            const __m128i n4 = _mm_sub_epi16(v[4], c), n5 = _mm_add_epi16(v[5], c);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(first_below - stride + x), _mm_packus_epi16(n4, n4));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(first_below + x), _mm_packus_epi16(n5, n5));
        }
    }
}

void filter_vertical_edges_sse2(uint8_t* rows, int width, int stride, const uint8_t* quant_row, bool luma) {
    // Vertical edges run along rows, so the equality count of the four rows is taken eight byte pairs at a time
    // (two rows per register); the filtering itself is cheap per row and stays in scalar code.
    const __m128i one = _mm_set1_epi8(1);
    const __m128i zero = _mm_setzero_si128();
    for (int x = 8; x < width; x += 8) {
        const int qp = quant_row[luma ? x / 16 : x / 8];
        uint8_t* p = rows + x - 5;
        auto pair_rows = [&](int r, int offset) {
            return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + r * stride + offset)),
                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + (r + 1) * stride + offset)));
        };
        // Pairs (v1, v2) .. (v7, v8): lanes 0..6 of each row's eight; lane 7 would pair v8 with v9.
        const __m128i lanes = _mm_set_epi8(0, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1);
        __m128i ones = zero;
        for (int r = 0; r < 4; r += 2) {
            const __m128i a = pair_rows(r, 1), b = pair_rows(r, 2);  // v1..v8 and v2..v9
            const __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
            ones = _mm_add_epi8(ones, _mm_and_si128(_mm_cmpeq_epi8(_mm_subs_epu8(d, one), zero), lanes));
        }
        const __m128i sums = _mm_sad_epu8(ones, zero);
        const int eq = _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
        if (eq < 16) {
            for (int r = 0; r < 4; ++r) {
                uint8_t* q = p + r * stride;
                int v[10];
                for (int k = 1; k <= 8; ++k) v[k] = q[k];
                v[0] = v[9] = 0;  // not read by the default mode
                default_mode(v, qp);
                q[4] = static_cast<uint8_t>(v[4]);
                q[5] = static_cast<uint8_t>(v[5]);
            }
        } else {
            if (std::abs(p[1] - p[8]) >= 2 * qp) continue;
            for (int r = 0; r < 4; ++r) {
                uint8_t* q = p + r * stride;
                int v[10];
                for (int k = 0; k < 10; ++k) v[k] = q[k];
                const int p0 = std::abs(v[0] - v[1]) < qp ? v[0] : v[1];
                const int p9 = std::abs(v[9] - v[8]) < qp ? v[9] : v[8];
                dc_offset_mode(v, p0, p9);
                for (int k = 1; k <= 8; ++k) q[k] = static_cast<uint8_t>(v[k]);
            }
        }
    }
}

void filter_vertical_edges(uint8_t* rows, int width, int stride, const uint8_t* quant_row, bool luma) {
    filter_vertical_edges_sse2(rows, width, stride, quant_row, luma);
}
void filter_horizontal_edges(uint8_t* first_below, int width, int stride, const uint8_t* quant_row, bool luma) {
    filter_horizontal_edges_sse2(first_below, width, stride, quant_row, luma);
}

#else

void filter_vertical_edges_sse2(uint8_t* rows, int width, int stride, const uint8_t* quant_row, bool luma) {
    filter_vertical_edges_scalar(rows, width, stride, quant_row, luma);
}
void filter_horizontal_edges_sse2(uint8_t* first_below, int width, int stride, const uint8_t* quant_row, bool luma) {
    filter_horizontal_edges_scalar(first_below, width, stride, quant_row, luma);
}
void filter_vertical_edges(uint8_t* rows, int width, int stride, const uint8_t* quant_row, bool luma) {
    filter_vertical_edges_scalar(rows, width, stride, quant_row, luma);
}
void filter_horizontal_edges(uint8_t* first_below, int width, int stride, const uint8_t* quant_row, bool luma) {
    filter_horizontal_edges_scalar(first_below, width, stride, quant_row, luma);
}

#endif

namespace {
void filter_plane(const uint8_t* src, int src_stride, uint8_t* out, int out_stride, int width, int height,
                  const uint8_t* quant, int quant_stride, uint32_t flags, uint32_t vflag, uint32_t hflag, bool luma) {
    const int mb = luma ? 16 : 8;
    for (int y = 0; y < height; y += 4) {
        uint8_t* o = out + static_cast<ptrdiff_t>(y) * out_stride;
        if (!(flags & PP_SKIP_COPY)) {
            for (int r = 0; r < 4 && y + r < height; ++r)
                std::memcpy(o + r * out_stride, src + static_cast<ptrdiff_t>(y + r) * src_stride, width);
        }
        const uint8_t* qrow = quant + (y / mb) * quant_stride;
        if ((flags & vflag) && y + 4 <= height) filter_vertical_edges(o, width, out_stride, qrow, luma);
        if ((flags & hflag) && y % 8 == 4 && y >= 12)
            filter_horizontal_edges(out + static_cast<ptrdiff_t>(y - 4) * out_stride, width, out_stride, qrow, luma);
    }
}
}  // namespace

void postprocess_frame(const uint8_t* src_y, const uint8_t* src_u, const uint8_t* src_v, int src_stride, uint8_t* out_y,
                       uint8_t* out_u, uint8_t* out_v, int out_stride, int width, int height, const uint8_t* quant,
                       int quant_stride, uint32_t flags) {
    filter_plane(src_y, src_stride, out_y, out_stride, width, height, quant, quant_stride, flags, PP_LUMA_VERTICAL,
                 PP_LUMA_HORIZONTAL, true);
    filter_plane(src_u, src_stride / 2, out_u, out_stride / 2, width / 2, height / 2, quant, quant_stride, flags,
                 PP_CHROMA_VERTICAL, PP_CHROMA_HORIZONTAL, false);
    filter_plane(src_v, src_stride / 2, out_v, out_stride / 2, width / 2, height / 2, quant, quant_stride, flags,
                 PP_CHROMA_VERTICAL, PP_CHROMA_HORIZONTAL, false);
}

}  // namespace zorbrix::mpeg4
