// Fixed-point inverse DCT (row pass with 32-bit sums, column pass in saturating 16-bit arithmetic) and the
// clamping block writers. The SSE2 versions compute exactly the same values as the scalar references.
#include "video/mpeg4/idct.h"
#include "video/mpeg4/kernel_choice.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZORBRIX_IDCT_AVX2 1
#endif

namespace zorbrix::mpeg4 {
namespace {

// Row weights: C_r[0] = round(16384 s_r), C_r[m] = round(16384 s_r sqrt(2) cos(m pi / 16)); rows 4..7 repeat
// rows 0, 3, 2, 1.
constexpr int16_t kRowWeights[8][8] = {
    {16384, 22725, 21407, 19266, 16384, 12873, 8867, 4520},  {22725, 31521, 29692, 26722, 22725, 17855, 12299, 6270},
    {21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906}, {19266, 26722, 25172, 22654, 19266, 15137, 10426, 5315},
    {16384, 22725, 21407, 19266, 16384, 12873, 8867, 4520},  {19266, 26722, 25172, 22654, 19266, 15137, 10426, 5315},
    {21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906}, {22725, 31521, 29692, 26722, 22725, 17855, 12299, 6270},
};
// Row rounding constants; row 0's 65536 rounds the final shift of the column pass.
constexpr int32_t kRowRounding[8] = {65536, 3597, 2260, 1203, 0, 120, 512, 512};

constexpr int16_t kTan1 = 13036;     // tan(pi/16) * 65536
constexpr int16_t kTan2 = 27146;     // tan(2pi/16) * 65536
constexpr int16_t kTan3m1 = -21746;  // (tan(3pi/16) - 1) * 65536
constexpr int16_t kCos4 = 23170;     // cos(pi/4) * 32768

inline int16_t sat16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
inline int16_t adds(int16_t a, int16_t b) { return sat16(int32_t{a} + b); }
inline int16_t subs(int16_t a, int16_t b) { return sat16(int32_t{a} - b); }
inline int16_t mulhi(int16_t v, int16_t k) { return static_cast<int16_t>((int32_t{v} * k) >> 16); }
// 32-bit sums wrap like the packed multiply-accumulate they model.
inline int32_t wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

inline uint8_t clamp_u8(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

void idct_8x8_scalar(int16_t block[64]) {
    int16_t scratch[64];
    for (int r = 0; r < 8; ++r) {
        const int16_t* c = kRowWeights[r];
        const int64_t x0 = block[r * 8 + 0], x1 = block[r * 8 + 1], x2 = block[r * 8 + 2], x3 = block[r * 8 + 3];
        const int64_t x4 = block[r * 8 + 4], x5 = block[r * 8 + 5], x6 = block[r * 8 + 6], x7 = block[r * 8 + 7];
        const int64_t rr = kRowRounding[r];
        const int32_t e0 = wrap32(c[0] * (x0 + x4) + c[2] * x2 + c[6] * x6 + rr);
        const int32_t e1 = wrap32(c[0] * (x0 - x4) + c[6] * x2 - c[2] * x6 + rr);
        const int32_t e2 = wrap32(c[0] * (x0 - x4) - c[6] * x2 + c[2] * x6 + rr);
        const int32_t e3 = wrap32(c[0] * (x0 + x4) - c[2] * x2 - c[6] * x6 + rr);
        const int32_t o0 = wrap32(c[1] * x1 + c[3] * x3 + c[5] * x5 + c[7] * x7);
        const int32_t o1 = wrap32(c[3] * x1 - c[7] * x3 - c[1] * x5 - c[5] * x7);
        const int32_t o2 = wrap32(c[5] * x1 - c[1] * x3 + c[7] * x5 + c[3] * x7);
        const int32_t o3 = wrap32(c[7] * x1 - c[5] * x3 + c[3] * x5 - c[1] * x7);
        int16_t* y = scratch + r * 8;
        y[0] = sat16(wrap32(int64_t{e0} + o0) >> 11);
        y[1] = sat16(wrap32(int64_t{e1} + o1) >> 11);
        y[2] = sat16(wrap32(int64_t{e2} + o2) >> 11);
        y[3] = sat16(wrap32(int64_t{e3} + o3) >> 11);
        y[4] = sat16(wrap32(int64_t{e3} - o3) >> 11);
        y[5] = sat16(wrap32(int64_t{e2} - o2) >> 11);
        y[6] = sat16(wrap32(int64_t{e1} - o1) >> 11);
        y[7] = sat16(wrap32(int64_t{e0} - o0) >> 11);
    }
    for (int col = 0; col < 8; ++col) {
        const int16_t x0 = scratch[0 * 8 + col], x1 = scratch[1 * 8 + col], x2 = scratch[2 * 8 + col];
        const int16_t x3 = scratch[3 * 8 + col], x4 = scratch[4 * 8 + col], x5 = scratch[5 * 8 + col];
        const int16_t x6 = scratch[6 * 8 + col], x7 = scratch[7 * 8 + col];
        const int16_t t17 = adds(x1, mulhi(x7, kTan1));
        const int16_t t35 = adds(adds(x3, mulhi(x5, kTan3m1)), x5);
        const int16_t b0 = adds(t17, t35);
        const int16_t u17 = subs(mulhi(x1, kTan1), x7);
        const int16_t u35 = subs(adds(x3, mulhi(x3, kTan3m1)), x5);
        const int16_t b3 = subs(u17, u35);
        const int16_t d04 = subs(x0, x4);
        const int16_t g26 = subs(mulhi(x2, kTan2), x6);
        const int16_t a1 = adds(d04, g26);
        const int16_t a2 = subs(d04, g26);
        const int16_t c = subs(t17, t35);
        const int16_t v = adds(u17, u35);
        const int16_t h1 = mulhi(adds(c, v), kCos4);
        const int16_t h2 = mulhi(subs(c, v), kCos4);
        const int16_t b1 = adds(h1, h1);
        const int16_t b2 = adds(h2, h2);
        const int16_t s04 = adds(x0, x4);
        const int16_t h26 = adds(x2, mulhi(x6, kTan2));
        const int16_t a0 = adds(s04, h26);
        const int16_t a3 = subs(s04, h26);
        block[0 * 8 + col] = static_cast<int16_t>(adds(a0, b0) >> 6);
        block[7 * 8 + col] = static_cast<int16_t>(subs(a0, b0) >> 6);
        block[1 * 8 + col] = static_cast<int16_t>(adds(a1, b1) >> 6);
        block[6 * 8 + col] = static_cast<int16_t>(subs(a1, b1) >> 6);
        block[2 * 8 + col] = static_cast<int16_t>(adds(a2, b2) >> 6);
        block[5 * 8 + col] = static_cast<int16_t>(subs(a2, b2) >> 6);
        block[3 * 8 + col] = static_cast<int16_t>(adds(a3, b3) >> 6);
        block[4 * 8 + col] = static_cast<int16_t>(subs(a3, b3) >> 6);
    }
}

// The reference treats every block as full.
void idct_8x8_sparse_scalar(int16_t block[64], unsigned /*rows*/) { idct_8x8_scalar(block); }

// How many leading rows a sparse transform must pass: 1, 2, 4 or 8 (the highest row in `rows`, rounded up).
inline int leading_rows(unsigned rows) {
    rows &= 0xFF;
    if (rows <= 0x01) return 1;
    if (rows <= 0x03) return 2;
    if (rows <= 0x0F) return 4;
    return 8;
}

void put_block_clamped_scalar(const int16_t block[64], uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y, dst += stride)
        for (int x = 0; x < 8; ++x) dst[x] = clamp_u8(block[y * 8 + x]);
}

void add_block_clamped_scalar(const int16_t block[64], uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y, dst += stride)
        for (int x = 0; x < 8; ++x) dst[x] = clamp_u8(sat16(int32_t{dst[x]} + block[y * 8 + x]));
}

#if defined(__SSE2__)

// Weights laid out for pmaddwd on the word pairs (x0, x2), (x4, x6), (x1, x3), (x5, x7).
struct RowTables {
    alignas(16) int16_t even02[8][8];
    alignas(16) int16_t even46[8][8];
    alignas(16) int16_t odd13[8][8];
    alignas(16) int16_t odd57[8][8];
    alignas(16) int32_t rounding[8][4];
};

RowTables make_row_tables() {
    RowTables t{};
    for (int r = 0; r < 8; ++r) {
        const int16_t* c = kRowWeights[r];
        const int16_t e02[8] = {
            c[0], c[2], c[0], c[6], c[0], static_cast<int16_t>(-c[6]), c[0], static_cast<int16_t>(-c[2])};
        const int16_t e46[8] = {
            c[0], c[6], static_cast<int16_t>(-c[0]), static_cast<int16_t>(-c[2]), static_cast<int16_t>(-c[0]),
            c[2], c[0], static_cast<int16_t>(-c[6])};
        const int16_t o13[8] = {c[1], c[3],
                                c[3], static_cast<int16_t>(-c[7]),
                                c[5], static_cast<int16_t>(-c[1]),
                                c[7], static_cast<int16_t>(-c[5])};
        const int16_t o57[8] = {c[5], c[7], static_cast<int16_t>(-c[1]), static_cast<int16_t>(-c[5]), c[7],
                                c[3], c[3], static_cast<int16_t>(-c[1])};
        std::memcpy(t.even02[r], e02, sizeof e02);
        std::memcpy(t.even46[r], e46, sizeof e46);
        std::memcpy(t.odd13[r], o13, sizeof o13);
        std::memcpy(t.odd57[r], o57, sizeof o57);
        for (int k = 0; k < 4; ++k) t.rounding[r][k] = kRowRounding[r];
    }
    return t;
}

const RowTables kRowTables = make_row_tables();

inline __m128i row_pass(__m128i x, int r) {
    // Words x0 x2 x1 x3 | x4 x6 x5 x7, then each pair broadcast.
    x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, _MM_SHUFFLE(3, 1, 2, 0)), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i p02 = _mm_shuffle_epi32(x, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128i p13 = _mm_shuffle_epi32(x, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128i p46 = _mm_shuffle_epi32(x, _MM_SHUFFLE(2, 2, 2, 2));
    const __m128i p57 = _mm_shuffle_epi32(x, _MM_SHUFFLE(3, 3, 3, 3));
    __m128i e =
        _mm_add_epi32(_mm_madd_epi16(p02, _mm_load_si128(reinterpret_cast<const __m128i*>(kRowTables.even02[r]))),
                      _mm_madd_epi16(p46, _mm_load_si128(reinterpret_cast<const __m128i*>(kRowTables.even46[r]))));
    e = _mm_add_epi32(e, _mm_load_si128(reinterpret_cast<const __m128i*>(kRowTables.rounding[r])));
    const __m128i o =
        _mm_add_epi32(_mm_madd_epi16(p13, _mm_load_si128(reinterpret_cast<const __m128i*>(kRowTables.odd13[r]))),
                      _mm_madd_epi16(p57, _mm_load_si128(reinterpret_cast<const __m128i*>(kRowTables.odd57[r]))));
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(e, o), 11);  // y0 y1 y2 y3
    const __m128i hi = _mm_srai_epi32(_mm_sub_epi32(e, o), 11);  // y7 y6 y5 y4
    return _mm_packs_epi32(lo, _mm_shuffle_epi32(hi, _MM_SHUFFLE(0, 1, 2, 3)));
}

// The row pass of a row of zeros: every output is the row's rounding constant shifted down (32 for row 0, 1 for
// rows 1 and 2, 0 below).
inline __m128i zero_row(int r) { return _mm_set1_epi16(static_cast<int16_t>(kRowRounding[r] >> 11)); }

// The column pass over the eight row-pass results, stored into block.
inline void column_pass(__m128i x0, __m128i x1, __m128i x2, __m128i x3, __m128i x4, __m128i x5, __m128i x6, __m128i x7,
                        int16_t block[64]) {
    __m128i* b = reinterpret_cast<__m128i*>(block);
    const __m128i tan1 = _mm_set1_epi16(kTan1), tan2 = _mm_set1_epi16(kTan2);
    const __m128i tan3m1 = _mm_set1_epi16(kTan3m1), cos4 = _mm_set1_epi16(kCos4);
    const __m128i t17 = _mm_adds_epi16(x1, _mm_mulhi_epi16(x7, tan1));
    const __m128i t35 = _mm_adds_epi16(_mm_adds_epi16(x3, _mm_mulhi_epi16(x5, tan3m1)), x5);
    const __m128i b0 = _mm_adds_epi16(t17, t35);
    const __m128i u17 = _mm_subs_epi16(_mm_mulhi_epi16(x1, tan1), x7);
    const __m128i u35 = _mm_subs_epi16(_mm_adds_epi16(x3, _mm_mulhi_epi16(x3, tan3m1)), x5);
    const __m128i b3 = _mm_subs_epi16(u17, u35);
    const __m128i d04 = _mm_subs_epi16(x0, x4);
    const __m128i g26 = _mm_subs_epi16(_mm_mulhi_epi16(x2, tan2), x6);
    const __m128i a1 = _mm_adds_epi16(d04, g26);
    const __m128i a2 = _mm_subs_epi16(d04, g26);
    const __m128i c = _mm_subs_epi16(t17, t35);
    const __m128i v = _mm_adds_epi16(u17, u35);
    const __m128i h1 = _mm_mulhi_epi16(_mm_adds_epi16(c, v), cos4);
    const __m128i h2 = _mm_mulhi_epi16(_mm_subs_epi16(c, v), cos4);
    const __m128i b1 = _mm_adds_epi16(h1, h1);
    const __m128i b2 = _mm_adds_epi16(h2, h2);
    const __m128i s04 = _mm_adds_epi16(x0, x4);
    const __m128i h26 = _mm_adds_epi16(x2, _mm_mulhi_epi16(x6, tan2));
    const __m128i a0 = _mm_adds_epi16(s04, h26);
    const __m128i a3 = _mm_subs_epi16(s04, h26);
    _mm_storeu_si128(b + 0, _mm_srai_epi16(_mm_adds_epi16(a0, b0), 6));
    _mm_storeu_si128(b + 7, _mm_srai_epi16(_mm_subs_epi16(a0, b0), 6));
    _mm_storeu_si128(b + 1, _mm_srai_epi16(_mm_adds_epi16(a1, b1), 6));
    _mm_storeu_si128(b + 6, _mm_srai_epi16(_mm_subs_epi16(a1, b1), 6));
    _mm_storeu_si128(b + 2, _mm_srai_epi16(_mm_adds_epi16(a2, b2), 6));
    _mm_storeu_si128(b + 5, _mm_srai_epi16(_mm_subs_epi16(a2, b2), 6));
    _mm_storeu_si128(b + 3, _mm_srai_epi16(_mm_adds_epi16(a3, b3), 6));
    _mm_storeu_si128(b + 4, _mm_srai_epi16(_mm_subs_epi16(a3, b3), 6));
}

// The transform with row passes for the first `Rows` rows only (the others hold zeros).
template <int Rows>
inline void idct_rows_sse2(int16_t block[64]) {
    const __m128i* b = reinterpret_cast<const __m128i*>(block);
    auto row = [&](int r) { return r < Rows ? row_pass(_mm_loadu_si128(b + r), r) : zero_row(r); };
    column_pass(row(0), row(1), row(2), row(3), row(4), row(5), row(6), row(7), block);
}

void idct_8x8_sse2(int16_t block[64]) { idct_rows_sse2<8>(block); }

void idct_8x8_sparse_sse2(int16_t block[64], unsigned rows) {
    switch (leading_rows(rows)) {
    case 1: idct_rows_sse2<1>(block); break;
    case 2: idct_rows_sse2<2>(block); break;
    case 4: idct_rows_sse2<4>(block); break;
    default: idct_rows_sse2<8>(block); break;
    }
}

void put_block_clamped_sse2(const int16_t block[64], uint8_t* dst, int stride) {
    const __m128i* b = reinterpret_cast<const __m128i*>(block);
    for (int y = 0; y < 8; y += 2) {
        const __m128i p = _mm_packus_epi16(_mm_loadu_si128(b + y), _mm_loadu_si128(b + y + 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), p);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (y + 1) * stride), _mm_srli_si128(p, 8));
    }
}

void add_block_clamped_sse2(const int16_t block[64], uint8_t* dst, int stride) {
    const __m128i* b = reinterpret_cast<const __m128i*>(block);
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y) {
        uint8_t* row = dst + y * stride;
        const __m128i pred = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)), zero);
        const __m128i sum = _mm_adds_epi16(pred, _mm_loadu_si128(b + y));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row), _mm_packus_epi16(sum, sum));
    }
}

void init_sse2(IdctKernels& k) {
    k.idct_8x8.set(idct_8x8_sse2, CpuLevel::sse2);
    k.idct_8x8_sparse.set(idct_8x8_sparse_sse2, CpuLevel::sse2);
    k.put_block_clamped.set(put_block_clamped_sse2, CpuLevel::sse2);
    k.add_block_clamped.set(add_block_clamped_sse2, CpuLevel::sse2);
}

#if defined(ZORBRIX_IDCT_AVX2)
// The AVX2 level: the row pass on two rows at once (row r in the low half, r + 1 in the high half, whose weights
// lie next to each other in the tables); the column pass is the SSE2 one.
ZORBRIX_TARGET_BEGIN("avx2")
namespace idct_avx2 {

template <class T>
inline __m256i load2(const T* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline __m256i row_pass2(__m256i x, int r) {
    x = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(x, _MM_SHUFFLE(3, 1, 2, 0)), _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i p02 = _mm256_shuffle_epi32(x, _MM_SHUFFLE(0, 0, 0, 0));
    const __m256i p13 = _mm256_shuffle_epi32(x, _MM_SHUFFLE(1, 1, 1, 1));
    const __m256i p46 = _mm256_shuffle_epi32(x, _MM_SHUFFLE(2, 2, 2, 2));
    const __m256i p57 = _mm256_shuffle_epi32(x, _MM_SHUFFLE(3, 3, 3, 3));
    __m256i e = _mm256_add_epi32(_mm256_madd_epi16(p02, load2(kRowTables.even02[r])),
                                 _mm256_madd_epi16(p46, load2(kRowTables.even46[r])));
    e = _mm256_add_epi32(e, load2(kRowTables.rounding[r]));
    const __m256i o = _mm256_add_epi32(_mm256_madd_epi16(p13, load2(kRowTables.odd13[r])),
                                       _mm256_madd_epi16(p57, load2(kRowTables.odd57[r])));
    const __m256i lo = _mm256_srai_epi32(_mm256_add_epi32(e, o), 11);
    const __m256i hi = _mm256_srai_epi32(_mm256_sub_epi32(e, o), 11);
    return _mm256_packs_epi32(lo, _mm256_shuffle_epi32(hi, _MM_SHUFFLE(0, 1, 2, 3)));
}

template <int Rows>
inline void idct_rows(int16_t block[64]) {
    if constexpr (Rows == 1) {
        idct_rows_sse2<1>(block);
    } else {
        auto pair = [&](int r) {
            return r < Rows ? row_pass2(load2(block + 8 * r), r) : _mm256_set_m128i(zero_row(r + 1), zero_row(r));
        };
        const __m256i y01 = pair(0), y23 = pair(2), y45 = pair(4), y67 = pair(6);
        column_pass(_mm256_castsi256_si128(y01), _mm256_extracti128_si256(y01, 1), _mm256_castsi256_si128(y23),
                    _mm256_extracti128_si256(y23, 1), _mm256_castsi256_si128(y45), _mm256_extracti128_si256(y45, 1),
                    _mm256_castsi256_si128(y67), _mm256_extracti128_si256(y67, 1), block);
    }
}

void idct_8x8(int16_t block[64]) { idct_rows<8>(block); }

void idct_8x8_sparse(int16_t block[64], unsigned rows) {
    switch (leading_rows(rows)) {
    case 1: idct_rows<1>(block); break;
    case 2: idct_rows<2>(block); break;
    case 4: idct_rows<4>(block); break;
    default: idct_rows<8>(block); break;
    }
}

}  // namespace idct_avx2
ZORBRIX_TARGET_END

void init_avx2(IdctKernels& k) {
    k.idct_8x8.set(idct_avx2::idct_8x8, CpuLevel::avx2);
    k.idct_8x8_sparse.set(idct_avx2::idct_8x8_sparse, CpuLevel::avx2);
}
#else
constexpr KernelInit<IdctKernels> init_avx2 = nullptr;
#endif

#else

constexpr KernelInit<IdctKernels> init_sse2 = nullptr;
constexpr KernelInit<IdctKernels> init_avx2 = nullptr;

#endif

void init_scalar(IdctKernels& k) {
    k.idct_8x8.set(idct_8x8_scalar, CpuLevel::scalar);
    k.idct_8x8_sparse.set(idct_8x8_sparse_scalar, CpuLevel::scalar);
    k.put_block_clamped.set(put_block_clamped_scalar, CpuLevel::scalar);
    k.add_block_clamped.set(add_block_clamped_scalar, CpuLevel::scalar);
}

const IdctKernels& built_at_start_up = idct_kernels();

}  // namespace

IdctKernels idct_kernels_for(CpuLevel level) {
    return build_kernel_table<IdctKernels>(level, {init_scalar, init_sse2, init_avx2, nullptr});
}

const IdctKernels& idct_kernels() {
    static const IdctKernels kernels = idct_kernels_chosen();
    return kernels;
}

void idct_8x8(int16_t block[64]) { idct_kernels().idct_8x8(block); }
void idct_8x8_sparse(int16_t block[64], unsigned rows) { idct_kernels().idct_8x8_sparse(block, rows); }
void put_block_clamped(const int16_t block[64], uint8_t* dst, int stride) {
    idct_kernels().put_block_clamped(block, dst, stride);
}
void add_block_clamped(const int16_t block[64], uint8_t* dst, int stride) {
    idct_kernels().add_block_clamped(block, dst, stride);
}

}  // namespace zorbrix::mpeg4
