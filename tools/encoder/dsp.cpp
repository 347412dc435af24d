#include "tools/encoder/dsp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "video/mpeg4/codec_rules.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorbrix::enc {
namespace {

// DCT basis in 1.14 fixed point: W[u][x] = round(16384 c(u) cos((2x + 1) u pi / 16)), c(0) = sqrt(1/8), else 1/2.
struct DctWeights {
    int16_t w[8][8];
    DctWeights() {
        const double pi = std::acos(-1.0);
        for (int u = 0; u < 8; ++u) {
            const double c = u == 0 ? std::sqrt(0.125) : 0.5;
            for (int x = 0; x < 8; ++x) {
                w[u][x] = static_cast<int16_t>(std::lround(16384.0 * c * std::cos((2 * x + 1) * u * pi / 16.0)));
            }
        }
    }
};
const DctWeights kDct;

constexpr int kPass1Shift = 11;  // leaves 3 fractional bits between the passes
constexpr int kPass2Shift = 17;  // 14 weight bits + 3 fractional bits

void fdct_scalar(int16_t block[64]) {
    int16_t tmp[64];
    // Vertical pass: tmp[u][c] = sum over y of W[u][y] x block[y][c].
    for (int u = 0; u < 8; ++u) {
        for (int c = 0; c < 8; ++c) {
            int32_t sum = 0;
            for (int y = 0; y < 8; ++y) sum += kDct.w[u][y] * block[y * 8 + c];
            tmp[u * 8 + c] = static_cast<int16_t>((sum + (1 << (kPass1Shift - 1))) >> kPass1Shift);
        }
    }
    // Horizontal pass: out[u][v] = sum over x of W[v][x] x tmp[u][x].
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            int32_t sum = 0;
            for (int x = 0; x < 8; ++x) sum += kDct.w[v][x] * tmp[u * 8 + x];
            block[u * 8 + v] = static_cast<int16_t>((sum + (1 << (kPass2Shift - 1))) >> kPass2Shift);
        }
    }
}

template <int N>
uint32_t sad_scalar(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride) {
    uint32_t sum = 0;
    for (int y = 0; y < N; ++y) {
        for (int x = 0; x < N; ++x) sum += static_cast<uint32_t>(std::abs(a[x] - b[x]));
        a += a_stride;
        b += b_stride;
    }
    return sum;
}

int quant_scalar(const int16_t coef[64], int16_t level[64], int qp, int bias) {
    const int step = 2 * qp;
    int nonzero = 0;
    for (int i = 0; i < 64; ++i) {
        const int c = coef[i];
        const int mag = std::abs(c) - bias;
        int q = mag > 0 ? mag / step : 0;
        if (q > 2047) q = 2047;
        level[i] = static_cast<int16_t>(c < 0 ? -q : q);
        nonzero += q != 0;
    }
    return nonzero;
}

void diff8_scalar(const uint8_t* src, int src_stride, const uint8_t* pred, int pred_stride, int16_t out[64]) {
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) out[y * 8 + x] = static_cast<int16_t>(src[x] - pred[x]);
        src += src_stride;
        pred += pred_stride;
    }
}

void dequant_scalar(const int16_t level[64], int16_t out[64], int qp, int from) {
    for (int k = from; k < 64; ++k) out[k] = level[k] ? mpeg4::dequant(level[k], qp) : 0;
}

uint64_t nonzero_mask_scalar(const int16_t level[64]) {
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i) mask |= static_cast<uint64_t>(level[i] != 0) << i;
    return mask;
}

#if defined(__SSE2__)

inline void transpose8x8(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Weight pairs (W[u][y], W[u][y + 1]) broadcast for pmaddwd, for u = 0..7 and y = 0, 2, 4, 6.
struct PairTable {
    __m128i p[8][4];
    PairTable() {
        for (int u = 0; u < 8; ++u) {
            for (int k = 0; k < 4; ++k) {
                const uint32_t lo = static_cast<uint16_t>(kDct.w[u][2 * k]);
                const uint32_t hi = static_cast<uint16_t>(kDct.w[u][2 * k + 1]);
                p[u][k] = _mm_set1_epi32(static_cast<int>(lo | (hi << 16)));
            }
        }
    }
};

// One vertical pass over eight 8-sample rows: out[u] = (sum_y W[u][y] in[y] + round) >> shift, exact 32-bit sums.
template <int Shift>
inline void vertical_pass(const __m128i in[8], __m128i out[8], const PairTable& t) {
    __m128i lo[4], hi[4];
    for (int k = 0; k < 4; ++k) {
        lo[k] = _mm_unpacklo_epi16(in[2 * k], in[2 * k + 1]);
        hi[k] = _mm_unpackhi_epi16(in[2 * k], in[2 * k + 1]);
    }
    const __m128i rnd = _mm_set1_epi32(1 << (Shift - 1));
    for (int u = 0; u < 8; ++u) {
        __m128i sl = rnd, sh = rnd;
        for (int k = 0; k < 4; ++k) {
            sl = _mm_add_epi32(sl, _mm_madd_epi16(lo[k], t.p[u][k]));
            sh = _mm_add_epi32(sh, _mm_madd_epi16(hi[k], t.p[u][k]));
        }
        out[u] = _mm_packs_epi32(_mm_srai_epi32(sl, Shift), _mm_srai_epi32(sh, Shift));
    }
}

// The basis is even or odd about its middle (W[u][7 - y] = +-W[u][y]), so a row's sum needs only half the products:
// sum over y < 4 of W[u][y] (in[y] +- in[7 - y]). The same integer sums, so the same results; the 16-bit sums and
// differences cannot overflow for inputs within -255..255 (the first pass leaves at most 5771 in magnitude).
bool basis_is_symmetric() {
    for (int u = 0; u < 8; ++u)
        for (int y = 0; y < 4; ++y)
            if (kDct.w[u][7 - y] != ((u & 1) ? -kDct.w[u][y] : kDct.w[u][y])) return false;
    return true;
}

template <int Shift>
inline void vertical_pass_folded(const __m128i in[8], __m128i out[8], const PairTable& t) {
    __m128i lo[2][2], hi[2][2];  // [even / odd][pair of y]
    for (int k = 0; k < 2; ++k) {
        const __m128i e0 = _mm_add_epi16(in[2 * k], in[7 - 2 * k]), e1 = _mm_add_epi16(in[2 * k + 1], in[6 - 2 * k]);
        const __m128i o0 = _mm_sub_epi16(in[2 * k], in[7 - 2 * k]), o1 = _mm_sub_epi16(in[2 * k + 1], in[6 - 2 * k]);
        lo[0][k] = _mm_unpacklo_epi16(e0, e1);
        hi[0][k] = _mm_unpackhi_epi16(e0, e1);
        lo[1][k] = _mm_unpacklo_epi16(o0, o1);
        hi[1][k] = _mm_unpackhi_epi16(o0, o1);
    }
    const __m128i rnd = _mm_set1_epi32(1 << (Shift - 1));
    for (int u = 0; u < 8; ++u) {
        const int odd = u & 1;
        const __m128i sl = _mm_add_epi32(_mm_add_epi32(rnd, _mm_madd_epi16(lo[odd][0], t.p[u][0])),
                                         _mm_madd_epi16(lo[odd][1], t.p[u][1]));
        const __m128i sh = _mm_add_epi32(_mm_add_epi32(rnd, _mm_madd_epi16(hi[odd][0], t.p[u][0])),
                                         _mm_madd_epi16(hi[odd][1], t.p[u][1]));
        out[u] = _mm_packs_epi32(_mm_srai_epi32(sl, Shift), _mm_srai_epi32(sh, Shift));
    }
}

void fdct_sse2(int16_t block[64]) {
    static const PairTable table;
    static const bool folded = basis_is_symmetric();
    __m128i r[8], t[8];
    for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    if (folded) {
        vertical_pass_folded<kPass1Shift>(r, t, table);
        transpose8x8(t);
        vertical_pass_folded<kPass2Shift>(t, r, table);
    } else {
        vertical_pass<kPass1Shift>(r, t, table);
        transpose8x8(t);
        vertical_pass<kPass2Shift>(t, r, table);
    }
    transpose8x8(r);
    for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
}

uint32_t sad16_sse2(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride) {
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(va, vb));
        a += a_stride;
        b += b_stride;
    }
    return static_cast<uint32_t>(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
}

uint32_t sad8_sse2(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride) {
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2) {
        const __m128i va = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + a_stride)));
        const __m128i vb = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + b_stride)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(va, vb));
        a += 2 * a_stride;
        b += 2 * b_stride;
    }
    return static_cast<uint32_t>(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
}

// The division by the step is a single-precision multiplication by its reciprocal. For quotients below 2^15 the
// product is within 0.002 of the exact quotient, whose fraction is 0 or at least 1 / 62 away from the next integer;
// adding 0.005 before truncating therefore gives exactly the integer quotient (checked exhaustively by the tests).
int quant_sse2(const int16_t coef[64], int16_t level[64], int qp, int bias) {
    const __m128 inv_step = _mm_set1_ps(1.0f / static_cast<float>(2 * qp));
    const __m128 nudge = _mm_set1_ps(0.005f);
    const __m128i vbias = _mm_set1_epi16(static_cast<int16_t>(bias));
    const __m128i maxq = _mm_set1_epi16(2047);
    const __m128i zero = _mm_setzero_si128();
    __m128i nz = zero;
    for (int i = 0; i < 64; i += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + i));
        const __m128i sign = _mm_srai_epi16(c, 15);
        const __m128i absc = _mm_sub_epi16(_mm_xor_si128(c, sign), sign);
        const __m128i mag = _mm_max_epi16(_mm_subs_epi16(absc, vbias), zero);
        const __m128i mlo = _mm_unpacklo_epi16(mag, zero), mhi = _mm_unpackhi_epi16(mag, zero);
        const __m128i qlo = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(mlo), inv_step), nudge));
        const __m128i qhi = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(mhi), inv_step), nudge));
        __m128i q = _mm_min_epi16(_mm_packs_epi32(qlo, qhi), maxq);
        nz = _mm_sub_epi16(nz, _mm_cmpgt_epi16(q, zero));
        q = _mm_sub_epi16(_mm_xor_si128(q, sign), sign);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(level + i), q);
    }
    nz = _mm_add_epi16(nz, _mm_srli_si128(nz, 8));
    nz = _mm_add_epi16(nz, _mm_srli_si128(nz, 4));
    nz = _mm_add_epi16(nz, _mm_srli_si128(nz, 2));
    return _mm_extract_epi16(nz, 0);
}

void diff8_sse2(const uint8_t* src, int src_stride, const uint8_t* pred, int pred_stride, int16_t out[64]) {
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y) {
        const __m128i s = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src)), zero);
        const __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred)), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * y), _mm_sub_epi16(s, p));
        src += src_stride;
        pred += pred_stride;
    }
}

// 2 qp level as a 32-bit product from the 16-bit halves, plus or minus the odd step h, saturated to 16 bits by the
// pack and then to -2048..2047 (the same as saturating the 32-bit value directly).
void dequant_sse2(const int16_t level[64], int16_t out[64], int qp, int from) {
    const int16_t keep = out[0];
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(2 * qp));
    const __m128i h = _mm_set1_epi16(static_cast<int16_t>((qp & 1) ? qp : qp - 1));
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo_limit = _mm_set1_epi16(-2048), hi_limit = _mm_set1_epi16(2047);
    for (int i = 0; i < 64; i += 8) {
        const __m128i lv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(level + i));
        const __m128i plo = _mm_mullo_epi16(lv, step), phi = _mm_mulhi_epi16(lv, step);
        const __m128i t =
            _mm_sub_epi16(_mm_and_si128(_mm_cmpgt_epi16(lv, zero), h), _mm_and_si128(_mm_cmplt_epi16(lv, zero), h));
        const __m128i f0 = _mm_add_epi32(_mm_unpacklo_epi16(plo, phi), _mm_srai_epi32(_mm_unpacklo_epi16(t, t), 16));
        const __m128i f1 = _mm_add_epi32(_mm_unpackhi_epi16(plo, phi), _mm_srai_epi32(_mm_unpackhi_epi16(t, t), 16));
        const __m128i f = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(f0, f1), lo_limit), hi_limit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), f);
    }
    if (from) out[0] = keep;
}

uint64_t nonzero_mask_sse2(const int16_t level[64]) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t zeros = 0;
    for (int i = 0; i < 64; i += 16) {
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(level + i)), zero);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(level + i + 8)), zero);
        zeros |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b)))) << i;
    }
    return ~zeros;
}

void init_sse2(DspFunctions& d) {
    d.fdct.set(fdct_sse2, CpuLevel::sse2);
    d.sad16.set(sad16_sse2, CpuLevel::sse2);
    d.sad8.set(sad8_sse2, CpuLevel::sse2);
    d.quant.set(quant_sse2, CpuLevel::sse2);
    d.diff8.set(diff8_sse2, CpuLevel::sse2);
    d.dequant.set(dequant_sse2, CpuLevel::sse2);
    d.nonzero_mask.set(nonzero_mask_sse2, CpuLevel::sse2);
}

#else

constexpr KernelInit<DspFunctions> init_sse2 = nullptr;

#endif

void init_scalar(DspFunctions& d) {
    d.fdct.set(fdct_scalar, CpuLevel::scalar);
    d.sad16.set(sad_scalar<16>, CpuLevel::scalar);
    d.sad8.set(sad_scalar<8>, CpuLevel::scalar);
    d.quant.set(quant_scalar, CpuLevel::scalar);
    d.diff8.set(diff8_scalar, CpuLevel::scalar);
    d.dequant.set(dequant_scalar, CpuLevel::scalar);
    d.nonzero_mask.set(nonzero_mask_scalar, CpuLevel::scalar);
}

}  // namespace

DspFunctions dsp_for(CpuLevel level) {
    return build_kernel_table<DspFunctions>(level, {init_scalar, init_sse2, nullptr, nullptr});
}

namespace {

// Inputs like the encoder's: a 64-row picture area with texture, blocks of residual-sized coefficients.
struct DspInputs {
    static constexpr int kStride = 288;
    std::vector<uint8_t> a = std::vector<uint8_t>(kStride * 64), b = std::vector<uint8_t>(kStride * 64);
    std::vector<int16_t> coefficients = std::vector<int16_t>(8 * 64), work = std::vector<int16_t>(64),
                         levels = std::vector<int16_t>(64);
    DspInputs() {
        uint32_t seed = 0xACE1u;
        auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
        for (size_t i = 0; i < a.size(); ++i) {
            a[i] = static_cast<uint8_t>((i % kStride) / 2 + next() % 32);
            b[i] = static_cast<uint8_t>(a[i] + next() % 9 - 4);
        }
        for (auto& c : coefficients) c = static_cast<int16_t>(static_cast<int>(next() % 129) - 64);
    }
};

std::vector<KernelProbe<DspFunctions>> dsp_probes() {
    const auto in = std::make_shared<DspInputs>();
    constexpr int S = DspInputs::kStride;
    const auto sad = [in](const Kernel<SadFn>& k) {
        for (int i = 0; i < 4; ++i) k(in->a.data() + 16 * S + 32 + 16 * i, S, in->b.data() + 15 * S + 33 + 17 * i, S);
    };
    return {
        kernel_probe<DspFunctions>(
            "fdct", [](DspFunctions& t) -> Kernel<FdctFn>& { return t.fdct; },
            [in](const Kernel<FdctFn>& k) {
                for (int i = 0; i < 4; ++i) {
                    std::copy_n(&in->coefficients[size_t(i) * 64], 64, in->work.data());
                    k(in->work.data());
                }
            },
            4),
        kernel_probe<DspFunctions>(
            "sad16", [](DspFunctions& t) -> Kernel<SadFn>& { return t.sad16; }, sad, 4),
        kernel_probe<DspFunctions>(
            "sad8", [](DspFunctions& t) -> Kernel<SadFn>& { return t.sad8; }, sad, 4),
        kernel_probe<DspFunctions>(
            "quant", [](DspFunctions& t) -> Kernel<QuantFn>& { return t.quant; },
            [in](const Kernel<QuantFn>& k) {
                for (int i = 0; i < 4; ++i) {
                    k(&in->coefficients[size_t(i) * 64], in->levels.data(), 4, 2);
                }
            },
            4),
        kernel_probe<DspFunctions>(
            "diff8", [](DspFunctions& t) -> Kernel<DiffFn>& { return t.diff8; },
            [in](const Kernel<DiffFn>& k) {
                for (int i = 0; i < 4; ++i) {
                    k(in->a.data() + 8 * S + 8 * i, S, in->b.data() + 9 * S + 8 * i + 1, S, in->work.data());
                }
            },
            4),
    };
}

}  // namespace

// The program's table: each entry the version measured fastest here.
const DspFunctions& dsp() {
    static const DspFunctions table = choose_kernel_table<DspFunctions>("dsp", dsp_for, dsp_probes());
    return table;
}

}  // namespace zorbrix::enc
