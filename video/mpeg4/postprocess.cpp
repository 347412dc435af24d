// Deblocking filters across 8x8 block edges, after the deblocking filter of MPEG-4 visual's informative annex.
#include "video/mpeg4/postprocess.h"
#include "platform/cpu.h"
#include "video/mpeg4/kernel_choice.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZORBRIX_DEBLOCK_AVX2 1
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
    for (int m = 0; m < 5; ++m) p[m] = p0;         // p_(-4) .. p_0
    for (int m = 1; m <= 8; ++m) p[m + 4] = v[m];  // p_1 .. p_8
    for (int m = 13; m < 18; ++m) p[m] = p9;       // p_9 .. p_13
    for (int n = 1; n <= 8; ++n) {
        const int* q = p + n + 4;  // q[0] = p_n
        const int s = q[-4] + q[-3] + 2 * q[-2] + 2 * q[-1] + 4 * q[0] + 2 * q[1] + 2 * q[2] + q[3] + q[4] + 8;
        v[n] = std::clamp(s >> 4, 0, 255);
    }
}

inline bool near(int a, int b) { return std::abs(a - b) <= 1; }

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

// 16-bit lane helpers.
inline __m128i abs16(__m128i a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }

inline int hsum16(__m128i v) {
    v = _mm_add_epi16(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi16(v, _mm_srli_si128(v, 4));
    v = _mm_add_epi16(v, _mm_srli_si128(v, 2));
    return static_cast<int16_t>(_mm_cvtsi128_si32(v));
}

void filter_horizontal_edges_sse2(uint8_t* first_below, int width, int stride, const uint8_t* quant_row, bool luma) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1);
    for (int x = 0; x < width; x += 8) {
        const int qp = quant_row[luma ? x / 16 : x / 8];
        __m128i rows[10];
        __m128i changes = zero;
        for (int k = 0; k < 10; ++k) {
            rows[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(first_below + (k - 5) * stride + x));
            if (k > 0) changes = _mm_or_si128(changes, _mm_xor_si128(rows[k - 1], rows[k]));
        }
        // Columns that hold one value down all ten rows stay as they are in either mode.
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(changes, zero)) == 0xFFFF) continue;
        __m128i v[10];
        for (int k = 0; k < 10; ++k) v[k] = _mm_unpacklo_epi8(rows[k], zero);
        __m128i cnt = zero;
        for (int k = 1; k <= 8; ++k)
            cnt = _mm_add_epi16(
                cnt, _mm_and_si128(_mm_cmplt_epi16(abs16(_mm_sub_epi16(v[k], v[k + 1])), _mm_set1_epi16(2)), one));
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
                s = _mm_add_epi16(
                    s, _mm_slli_epi16(_mm_add_epi16(_mm_add_epi16(c[-2], c[-1]), _mm_add_epi16(c[1], c[2])), 1));
                s = _mm_add_epi16(s, _mm_slli_epi16(c[0], 2));
                s = _mm_add_epi16(s, _mm_add_epi16(_mm_add_epi16(c[3], c[4]), eight));
                const __m128i r = _mm_srai_epi16(s, 4);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(first_below + (n - 5) * stride + x),
                                 _mm_packus_epi16(r, r));
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

// Four rows of two consecutive edges, one sample per 16-bit lane: lanes 0..3 are rows 0..3 at the first edge,
// lanes 4..7 rows 0..3 at the second.
struct EdgePair {
    __m128i v[10];
};

// Filters the edge pair whose samples v1..v9 are in `e`; `carry` holds, in lanes 4..7, the final v8 of the edge
// before the first one (the v0 of the first edge; the second edge's v0 is the first edge's final v8). Returns the
// final v8 of both edges; e.v[1..8] are replaced by the filtered samples.
inline __m128i filter_edge_pair(EdgePair& e, __m128i carry, __m128i q) {
    __m128i* v = e.v;
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);

    // Equality count per edge, broadcast over its four lanes.
    __m128i cnt = zero;
    for (int k = 1; k <= 7; ++k) cnt = _mm_sub_epi16(cnt, _mm_cmplt_epi16(abs16(_mm_sub_epi16(v[k], v[k + 1])), two));
    cnt = _mm_add_epi16(cnt, _mm_srli_epi64(cnt, 32));
    cnt = _mm_add_epi16(cnt, _mm_srli_epi64(cnt, 16));
    cnt = _mm_shufflehi_epi16(_mm_shufflelo_epi16(cnt, 0), 0);
    const __m128i use_default = _mm_cmplt_epi16(cnt, _mm_set1_epi16(16));

    // DC offset mode where the count is high and the first row's |v1 - v8| < 2 QP.
    __m128i flat = _mm_cmplt_epi16(abs16(_mm_sub_epi16(v[1], v[8])), _mm_add_epi16(q, q));
    flat = _mm_shufflehi_epi16(_mm_shufflelo_epi16(flat, 0), 0);
    const __m128i use_dc = _mm_andnot_si128(use_default, flat);

    // p9 = v9 where |v9 - v8| < QP, else v8.
    const __m128i take9 = _mm_cmplt_epi16(abs16(_mm_sub_epi16(v[9], v[8])), q);
    const __m128i p9 = _mm_or_si128(_mm_and_si128(take9, v[9]), _mm_andnot_si128(take9, v[8]));
    const __m128i eight = _mm_set1_epi16(8);

    // The last output sample does not depend on p0: v4 + v5 + 2 v6 + 2 v7 + 4 v8 + 6 p9.
    __m128i s8 = _mm_add_epi16(_mm_add_epi16(v[4], v[5]), _mm_slli_epi16(_mm_add_epi16(v[6], v[7]), 1));
    s8 = _mm_add_epi16(s8, _mm_slli_epi16(v[8], 2));
    s8 = _mm_add_epi16(s8, _mm_add_epi16(_mm_slli_epi16(p9, 2), _mm_add_epi16(p9, p9)));
    s8 = _mm_srai_epi16(_mm_add_epi16(s8, eight), 4);
    const __m128i out8 = _mm_or_si128(_mm_and_si128(use_dc, s8), _mm_andnot_si128(use_dc, v[8]));

    // v0: the previous edge's final v8 (the previous pair's second edge, then this pair's first edge).
    v[0] = _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(carry), _mm_castsi128_pd(out8), 1));
    const __m128i take0 = _mm_cmplt_epi16(abs16(_mm_sub_epi16(v[0], v[1])), q);
    const __m128i p0 = _mm_or_si128(_mm_and_si128(take0, v[0]), _mm_andnot_si128(take0, v[1]));

    __m128i dc[9];
    {
        __m128i p[18];
        for (int m = 0; m < 5; ++m) p[m] = p0;
        for (int m = 1; m <= 8; ++m) p[m + 4] = v[m];
        for (int m = 13; m < 18; ++m) p[m] = p9;
        for (int n = 1; n <= 7; ++n) {
            const __m128i* c = p + n + 4;
            __m128i s = _mm_add_epi16(c[-4], c[-3]);
            s = _mm_add_epi16(s,
                              _mm_slli_epi16(_mm_add_epi16(_mm_add_epi16(c[-2], c[-1]), _mm_add_epi16(c[1], c[2])), 1));
            s = _mm_add_epi16(s, _mm_slli_epi16(c[0], 2));
            s = _mm_add_epi16(s, _mm_add_epi16(_mm_add_epi16(c[3], c[4]), eight));
            dc[n] = _mm_srai_epi16(s, 4);
        }
    }

    // Default mode: only v4 and v5 change.
    const __m128i five = _mm_set1_epi16(5);
    auto taps = [&](__m128i a, __m128i b, __m128i c, __m128i d) {
        return _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(a, d), 1), _mm_mullo_epi16(five, _mm_sub_epi16(c, b)));
    };
    const __m128i a0 = taps(v[3], v[4], v[5], v[6]);
    const __m128i a1 = taps(v[1], v[2], v[3], v[4]);
    const __m128i a2 = taps(v[5], v[6], v[7], v[8]);
    const __m128i diff = _mm_sub_epi16(v[4], v[5]);
    const __m128i h = _mm_srai_epi16(_mm_add_epi16(diff, _mm_srli_epi16(diff, 15)), 1);  // toward zero
    const __m128i abs_a0 = abs16(a0);
    const __m128i m = _mm_sub_epi16(abs_a0, _mm_min_epi16(abs16(a1), abs16(a2)));
    const __m128i d = _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(m, five), _mm_set1_epi16(32)), 6);
    __m128i ok = _mm_and_si128(use_default, _mm_cmplt_epi16(abs_a0, _mm_slli_epi16(q, 3)));
    ok = _mm_and_si128(ok, _mm_cmpgt_epi16(m, zero));
    const __m128i opp = _mm_or_si128(_mm_and_si128(_mm_cmplt_epi16(a0, zero), _mm_cmpgt_epi16(h, zero)),
                                     _mm_and_si128(_mm_cmpgt_epi16(a0, zero), _mm_cmplt_epi16(h, zero)));
    ok = _mm_and_si128(ok, opp);
    const __m128i mag = _mm_min_epi16(d, abs16(h));  // d > 0 wherever m > 0
    const __m128i neg = _mm_cmplt_epi16(h, zero);
    const __m128i c = _mm_and_si128(_mm_sub_epi16(_mm_xor_si128(mag, neg), neg), ok);

    for (int n = 1; n <= 7; ++n) v[n] = _mm_or_si128(_mm_and_si128(use_dc, dc[n]), _mm_andnot_si128(use_dc, v[n]));
    v[4] = _mm_sub_epi16(v[4], c);
    v[5] = _mm_add_epi16(v[5], c);
    v[8] = out8;
    return out8;
}

// Loads two edges (x and x + 8) from four 16-byte rows of columns x-4 .. x+11 (`r`) and the column x+12 as byte 15
// of `s` (rows read from x-3).
inline void load_edge_pair(EdgePair& e, const __m128i r[4], const __m128i s[4]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i t0 = _mm_unpacklo_epi8(r[0], r[1]), t1 = _mm_unpackhi_epi8(r[0], r[1]);
    const __m128i t2 = _mm_unpacklo_epi8(r[2], r[3]), t3 = _mm_unpackhi_epi8(r[2], r[3]);
    const __m128i u0 = _mm_unpacklo_epi16(t0, t2), u1 = _mm_unpackhi_epi16(t0, t2);  // columns 0..3, 4..7
    const __m128i u2 = _mm_unpacklo_epi16(t1, t3), u3 = _mm_unpackhi_epi16(t1, t3);  // columns 8..11, 12..15
    const __m128i w0 = _mm_unpacklo_epi32(u0, u2), w1 = _mm_unpackhi_epi32(u0, u2);
    const __m128i w2 = _mm_unpacklo_epi32(u1, u3), w3 = _mm_unpackhi_epi32(u1, u3);
    e.v[1] = _mm_unpacklo_epi8(w0, zero);
    e.v[2] = _mm_unpackhi_epi8(w0, zero);
    e.v[3] = _mm_unpacklo_epi8(w1, zero);
    e.v[4] = _mm_unpackhi_epi8(w1, zero);
    e.v[5] = _mm_unpacklo_epi8(w2, zero);
    e.v[6] = _mm_unpackhi_epi8(w2, zero);
    e.v[7] = _mm_unpacklo_epi8(w3, zero);
    e.v[8] = _mm_unpackhi_epi8(w3, zero);
    const __m128i last = _mm_unpackhi_epi16(_mm_unpackhi_epi8(s[0], s[1]), _mm_unpackhi_epi8(s[2], s[3]));
    e.v[9] = _mm_unpackhi_epi64(e.v[1], _mm_unpackhi_epi8(last, zero));
}

// Back to four 16-byte rows of columns x-4 .. x+11.
inline void store_edge_pair(const EdgePair& e, __m128i r[4]) {
    const __m128i b12 = _mm_packus_epi16(e.v[1], e.v[2]), b34 = _mm_packus_epi16(e.v[3], e.v[4]);
    const __m128i b56 = _mm_packus_epi16(e.v[5], e.v[6]), b78 = _mm_packus_epi16(e.v[7], e.v[8]);
    // bKL: bytes 0..7 column K of lanes 0..7, bytes 8..15 column L.
    const __m128i t0 = _mm_unpacklo_epi8(b12, _mm_srli_si128(b12, 8));  // (v1, v2) per lane
    const __m128i t1 = _mm_unpacklo_epi8(b34, _mm_srli_si128(b34, 8));
    const __m128i t2 = _mm_unpacklo_epi8(b56, _mm_srli_si128(b56, 8));
    const __m128i t3 = _mm_unpacklo_epi8(b78, _mm_srli_si128(b78, 8));
    const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);  // v1..v4: lanes 0..3, 4..7
    const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);  // v5..v8
    const __m128i w0 = _mm_unpacklo_epi32(u0, u2), w1 = _mm_unpackhi_epi32(u0, u2);  // lanes 0,1 / 2,3
    const __m128i w2 = _mm_unpacklo_epi32(u1, u3), w3 = _mm_unpackhi_epi32(u1, u3);  // lanes 4,5 / 6,7
    r[0] = _mm_unpacklo_epi64(w0, w2);
    r[1] = _mm_unpackhi_epi64(w0, w2);
    r[2] = _mm_unpacklo_epi64(w1, w3);
    r[3] = _mm_unpackhi_epi64(w1, w3);
}

inline __m128i qp_pair(int a, int b) {
    return _mm_unpacklo_epi64(_mm_set1_epi16(static_cast<int16_t>(a)), _mm_set1_epi16(static_cast<int16_t>(b)));
}

void filter_vertical_edges_sse2(uint8_t* rows, int width, int stride, const uint8_t* quant_row, bool luma) {
    // Two edges at a time, four rows each, transposed into 16-bit lanes. The edges interact only through the
    // sample just left of an edge (v0), which the previous edge may have changed in DC offset mode; that sample is
    // the previous edge's final v8, which is computed first and carried over.
    if (width <= 8) return;
    const int edges = (width - 1) / 8;
    auto qp_of = [&](int x) { return static_cast<int>(quant_row[luma ? x / 16 : x / 8]); };
    __m128i carry = _mm_set_epi16(rows[3 * stride + 3], rows[2 * stride + 3], rows[stride + 3], rows[3], 0, 0, 0, 0);
    EdgePair e;
    int x = 8;
    for (int i = 0; i + 1 < edges; i += 2, x += 16) {
        __m128i r[4], s[4];
        __m128i changes = _mm_setzero_si128();
        for (int k = 0; k < 4; ++k) {
            r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + k * stride + x - 4));
            s[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + k * stride + x - 3));
            changes = _mm_or_si128(changes, _mm_xor_si128(r[k], s[k]));
        }
        // Rows that hold one value from x - 4 to x + 12, with the edge before ending on that value too (v0), stay
        // as they are in either mode; the carry is then that value already.
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(changes, _mm_setzero_si128())) == 0xFFFF &&
            _mm_extract_epi16(carry, 4) == rows[x - 4] && _mm_extract_epi16(carry, 5) == rows[stride + x - 4] &&
            _mm_extract_epi16(carry, 6) == rows[2 * stride + x - 4] &&
            _mm_extract_epi16(carry, 7) == rows[3 * stride + x - 4])
            continue;
        load_edge_pair(e, r, s);
        carry = filter_edge_pair(e, carry, qp_pair(qp_of(x), qp_of(x + 8)));
        store_edge_pair(e, r);
        for (int k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(rows + k * stride + x - 4), r[k]);
    }
    if (edges & 1) {
        // The last edge alone: columns x-4 .. x+4 exist; the second lanes work on zeros and are dropped.
        alignas(16) uint8_t buf[4][16] = {};
        __m128i r[4];
        for (int k = 0; k < 4; ++k) {
            std::memcpy(buf[k], rows + k * stride + x - 4, 9);
            r[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(buf[k]));
        }
        load_edge_pair(e, r, r);
        filter_edge_pair(e, carry, qp_pair(qp_of(x), 0));
        store_edge_pair(e, r);
        for (int k = 0; k < 4; ++k) _mm_storel_epi64(reinterpret_cast<__m128i*>(rows + k * stride + x - 4), r[k]);
    }
}

void init_sse2(DeblockKernels& k) {
    k.filter_vertical_edges.set(filter_vertical_edges_sse2, CpuLevel::sse2);
    k.filter_horizontal_edges.set(filter_horizontal_edges_sse2, CpuLevel::sse2);
}

#else

constexpr KernelInit<DeblockKernels> init_sse2 = nullptr;

#endif

#if defined(ZORBRIX_DEBLOCK_AVX2)
// The AVX2 level: the SSE2 arithmetic on twice the lanes.
ZORBRIX_TARGET_BEGIN("avx2")
namespace deblock_avx2 {
#include "video/mpeg4/deblock_wide.inc"
}  // namespace deblock_avx2
ZORBRIX_TARGET_END

// The AVX-512 level: the same code with the AVX-512 register file (32 vector registers).
ZORBRIX_TARGET_BEGIN("avx2,avx512f,avx512bw,avx512vl")
namespace deblock_avx512 {
#include "video/mpeg4/deblock_wide.inc"
}  // namespace deblock_avx512
ZORBRIX_TARGET_END

void init_avx2(DeblockKernels& k) {
    k.filter_vertical_edges.set(deblock_avx2::filter_vertical_edges, CpuLevel::avx2);
    k.filter_horizontal_edges.set(deblock_avx2::filter_horizontal_edges, CpuLevel::avx2);
}
void init_avx512(DeblockKernels& k) {
    k.filter_vertical_edges.set(deblock_avx512::filter_vertical_edges, CpuLevel::avx512);
    k.filter_horizontal_edges.set(deblock_avx512::filter_horizontal_edges, CpuLevel::avx512);
}
#else
constexpr KernelInit<DeblockKernels> init_avx2 = nullptr;
constexpr KernelInit<DeblockKernels> init_avx512 = nullptr;
#endif

void init_scalar(DeblockKernels& k) {
    k.filter_vertical_edges.set(filter_vertical_edges_scalar, CpuLevel::scalar);
    k.filter_horizontal_edges.set(filter_horizontal_edges_scalar, CpuLevel::scalar);
}

const DeblockKernels& built_at_start_up = deblock_kernels();

}  // namespace

DeblockKernels deblock_kernels_for(CpuLevel level) {
    return build_kernel_table<DeblockKernels>(level, {init_scalar, init_sse2, init_avx2, init_avx512});
}

const DeblockKernels& deblock_kernels() {
    static const DeblockKernels kernels = deblock_kernels_chosen();
    return kernels;
}

void filter_vertical_edges(uint8_t* rows, int width, int stride, const uint8_t* quant_row, bool luma) {
    deblock_kernels().filter_vertical_edges(rows, width, stride, quant_row, luma);
}
void filter_horizontal_edges(uint8_t* first_below, int width, int stride, const uint8_t* quant_row, bool luma) {
    deblock_kernels().filter_horizontal_edges(first_below, width, stride, quant_row, luma);
}

namespace {
void filter_plane(const uint8_t* src, int src_stride, uint8_t* out, int out_stride, int width, int height,
                  const uint8_t* quant, int quant_stride, uint32_t flags, uint32_t vflag, uint32_t hflag, bool luma) {
    const int mb = luma ? 16 : 8;
    const DeblockKernels& k = deblock_kernels();
    for (int y = 0; y < height; y += 4) {
        uint8_t* o = out + static_cast<ptrdiff_t>(y) * out_stride;
        if (!(flags & PP_SKIP_COPY)) {
            for (int r = 0; r < 4 && y + r < height; ++r)
                std::memcpy(o + r * out_stride, src + static_cast<ptrdiff_t>(y + r) * src_stride, width);
        }
        const uint8_t* qrow = quant + (y / mb) * quant_stride;
        if ((flags & vflag) && y + 4 <= height) k.filter_vertical_edges(o, width, out_stride, qrow, luma);
        if ((flags & hflag) && y % 8 == 4 && y >= 12)
            k.filter_horizontal_edges(out + static_cast<ptrdiff_t>(y - 4) * out_stride, width, out_stride, qrow, luma);
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
