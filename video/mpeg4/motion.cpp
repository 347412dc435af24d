// Bilinear half-pel prediction with rounding control, and edge padding.
#include "video/mpeg4/motion.h"
#include "video/mpeg4/kernel_choice.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorbrix::mpeg4 {
namespace {

template <int N, int R>
void copy_block(uint8_t* dst, const uint8_t* src, int stride) {
    for (int y = 0; y < N; ++y, dst += stride, src += stride) std::memcpy(dst, src, N);
}

template <int N, int R>
void half_h(uint8_t* dst, const uint8_t* src, int stride) {
    for (int y = 0; y < N; ++y, dst += stride, src += stride)
        for (int x = 0; x < N; ++x) dst[x] = static_cast<uint8_t>((src[x] + src[x + 1] + 1 - R) >> 1);
}

template <int N, int R>
void half_v(uint8_t* dst, const uint8_t* src, int stride) {
    for (int y = 0; y < N; ++y, dst += stride, src += stride)
        for (int x = 0; x < N; ++x) dst[x] = static_cast<uint8_t>((src[x] + src[x + stride] + 1 - R) >> 1);
}

template <int N, int R>
void half_hv(uint8_t* dst, const uint8_t* src, int stride) {
    for (int y = 0; y < N; ++y, dst += stride, src += stride)
        for (int x = 0; x < N; ++x)
            dst[x] = static_cast<uint8_t>((src[x] + src[x + 1] + src[x + stride] + src[x + stride + 1] + 2 - R) >> 2);
}

#if defined(__SSE2__)

// Loads n (8 or 16) bytes as one vector (the upper half zero for 8).
template <int N>
inline __m128i load_row(const uint8_t* p) {
    if constexpr (N == 16)
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    else
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int N>
inline void store_row(uint8_t* p, __m128i v) {
    if constexpr (N == 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// (a + b + 1 - R) >> 1 for bytes: pavgb rounds up; rounding 1 takes away the carried half where a + b is odd.
template <int R>
inline __m128i avg2(__m128i a, __m128i b) {
    const __m128i up = _mm_avg_epu8(a, b);
    if constexpr (R == 0)
        return up;
    else
        return _mm_sub_epi8(up, _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

template <int N, int R>
void copy_block_sse2(uint8_t* dst, const uint8_t* src, int stride) {
    for (int y = 0; y < N; ++y, dst += stride, src += stride) store_row<N>(dst, load_row<N>(src));
}

template <int N, int R>
void half_h_sse2(uint8_t* dst, const uint8_t* src, int stride) {
    for (int y = 0; y < N; ++y, dst += stride, src += stride)
        store_row<N>(dst, avg2<R>(load_row<N>(src), load_row<N>(src + 1)));
}

template <int N, int R>
void half_v_sse2(uint8_t* dst, const uint8_t* src, int stride) {
    __m128i above = load_row<N>(src);
    for (int y = 0; y < N; ++y, dst += stride, src += stride) {
        const __m128i below = load_row<N>(src + stride);
        store_row<N>(dst, avg2<R>(above, below));
        above = below;
    }
}

// Both half-pel: 16-bit sums of the four neighbours.
template <int N, int R>
void half_hv_sse2(uint8_t* dst, const uint8_t* src, int stride) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(2 - R);
    __m128i a = load_row<N>(src), b = load_row<N>(src + 1);
    __m128i top_lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    __m128i top_hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    for (int y = 0; y < N; ++y, dst += stride, src += stride) {
        const __m128i c = load_row<N>(src + stride), d = load_row<N>(src + stride + 1);
        const __m128i bot_lo = _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero));
        const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(top_lo, bot_lo), bias), 2);
        if constexpr (N == 16) {
            const __m128i bot_hi = _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero));
            const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(top_hi, bot_hi), bias), 2);
            store_row<N>(dst, _mm_packus_epi16(lo, hi));
            top_hi = bot_hi;
        } else {
            store_row<N>(dst, _mm_packus_epi16(lo, lo));
        }
        top_lo = bot_lo;
    }
}

// An 8-byte row copy is a single move either way; the plain copy measures faster for 8x8 blocks, so the
// SSE2 level keeps it.
void init_sse2(PredictKernels& k) {
    const PredictBlockFn fns[16] = {
        copy_block<8, 0>,       half_h_sse2<8, 0>,  half_v_sse2<8, 0>,  half_hv_sse2<8, 0>,
        copy_block<8, 1>,       half_h_sse2<8, 1>,  half_v_sse2<8, 1>,  half_hv_sse2<8, 1>,
        copy_block_sse2<16, 0>, half_h_sse2<16, 0>, half_v_sse2<16, 0>, half_hv_sse2<16, 0>,
        copy_block_sse2<16, 1>, half_h_sse2<16, 1>, half_v_sse2<16, 1>, half_hv_sse2<16, 1>,
    };
    for (int i = 0; i < 16; ++i) {
        if (i % 4 != 0 || i >= 8) k.predict[i].set(fns[i], CpuLevel::sse2);
    }
}

#else

constexpr KernelInit<PredictKernels> init_sse2 = nullptr;

#endif

void init_scalar(PredictKernels& k) {
    const PredictBlockFn fns[16] = {
        copy_block<8, 0>,  half_h<8, 0>,  half_v<8, 0>,      half_hv<8, 0>,  copy_block<8, 1>, half_h<8, 1>,
        half_v<8, 1>,      half_hv<8, 1>, copy_block<16, 0>, half_h<16, 0>,  half_v<16, 0>,    half_hv<16, 0>,
        copy_block<16, 1>, half_h<16, 1>, half_v<16, 1>,     half_hv<16, 1>,
    };
    for (int i = 0; i < 16; ++i) k.predict[i].set(fns[i], CpuLevel::scalar);
}

const PredictKernels& built_at_start_up = predict_kernels();

}  // namespace

PredictKernels predict_kernels_for(CpuLevel level) {
    return build_kernel_table<PredictKernels>(level, {init_scalar, init_sse2, nullptr, nullptr});
}

const PredictKernels& predict_kernels() {
    static const PredictKernels kernels = predict_kernels_chosen();
    return kernels;
}

void predict_block(int index, uint8_t* dst, const uint8_t* src, int stride) {
    predict_kernels().predict[index](dst, src, stride);
}

void copy_macroblock(uint8_t* y, uint8_t* u, uint8_t* v, const uint8_t* ref_y, const uint8_t* ref_u,
                     const uint8_t* ref_v, int luma_stride, int chroma_stride, int mb_x, int mb_y) {
    const ptrdiff_t luma = static_cast<ptrdiff_t>(16 * mb_y) * luma_stride + 16 * mb_x;
    const ptrdiff_t chroma = static_cast<ptrdiff_t>(8 * mb_y) * chroma_stride + 8 * mb_x;
    for (int r = 0; r < 16; ++r) std::memcpy(y + luma + r * luma_stride, ref_y + luma + r * luma_stride, 16);
    for (int r = 0; r < 8; ++r) {
        std::memcpy(u + chroma + r * chroma_stride, ref_u + chroma + r * chroma_stride, 8);
        std::memcpy(v + chroma + r * chroma_stride, ref_v + chroma + r * chroma_stride, 8);
    }
}

int chroma_vector_four(int sum) {
    static const int kRound[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    if (sum == 0) return 0;
    const int a = std::abs(sum);
    const int c = 2 * (a >> 4) + kRound[a & 15];
    return sum < 0 ? -c : c;
}

namespace {
// One side of one row's margin: 16-byte stores for the usual margins (16 and 32), instead of a call per side.
inline void fill_margin(uint8_t* p, uint8_t value, int margin) {
    if (margin % 16 == 0) {
        uint8_t sixteen[16];
        std::memset(sixteen, value, 16);
        for (int k = 0; k < margin; k += 16) std::memcpy(p + k, sixteen, 16);
    } else {
        std::memset(p, value, static_cast<size_t>(margin));
    }
}
}  // namespace

void pad_plane_edges(uint8_t* origin, int stride, int rows, int margin) {
    const int width = stride - 2 * margin;
    const int height = rows - 2 * margin;
    if (width <= 0 || height <= 0) return;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = origin + static_cast<ptrdiff_t>(y) * stride;
        fill_margin(row - margin, row[0], margin);
        fill_margin(row + width, row[width - 1], margin);
    }
    // Whole padded rows (corners included) copy the first and last padded picture rows.
    const uint8_t* first = origin - margin;
    const uint8_t* last = origin + (height - 1) * stride - margin;
    for (int y = 1; y <= margin; ++y) {
        std::memcpy(origin - y * stride - margin, first, stride);
        std::memcpy(origin + (height - 1 + y) * stride - margin, last, stride);
    }
}

}  // namespace zorbrix::mpeg4
