// RGB to 4:2:0 YCbCr: the scalar reference reads like the formulas in rgb_to_yuv.h; the vector versions compute
// the same integer sums with multiply-add instructions (every intermediate fits in 32 bits) and the same shifts.
#include "tools/capture/rgb_to_yuv.h"

#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZORBRIX_RGB_TO_YUV_AVX2 1
#define ZX_AVX2 __attribute__((target("avx2")))
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using zorbrix::CpuLevel;
using zorbrix::Kernel;

namespace {

inline int red(uint32_t p) { return (p >> 16) & 0xff; }
inline int green(uint32_t p) { return (p >> 8) & 0xff; }
inline int blue(uint32_t p) { return p & 0xff; }

void luma_row_scalar(const uint32_t* row, uint8_t* y, int width) {
    for (int x = 0; x < width; ++x) y[x] = bt601_luma(row[x]);
}

void chroma_row_scalar(const uint32_t* row0, const uint32_t* row1, uint8_t* u, uint8_t* v, int chroma_width) {
    for (int x = 0; x < chroma_width; ++x) {
        const uint32_t q[4] = {row0[2 * x], row0[2 * x + 1], row1[2 * x], row1[2 * x + 1]};
        int r = 0, g = 0, b = 0;
        for (uint32_t s : q) {
            r += red(s);
            g += green(s);
            b += blue(s);
        }
        u[x] = bt601_cb_of_sums(r, g, b);
        v[x] = bt601_cr_of_sums(r, g, b);
    }
}

void init_scalar(RgbToYuvKernels& k) {
    k.luma_row.set(luma_row_scalar, CpuLevel::scalar);
    k.chroma_row.set(chroma_row_scalar, CpuLevel::scalar);
}

#if defined(__SSE2__)

// Weights per pixel in memory order (bytes B, G, R, top byte) for the multiply-add of 16-bit samples.
inline __m128i weights(int b, int g, int r) { return _mm_setr_epi16(b, g, r, 0, b, g, r, 0); }

// The luma sums of 4 pixels: each pixel's two multiply-add halves added.
inline __m128i luma_sums4(__m128i px, __m128i w) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(px, zero), w);  // p0 (bg, r), p1 (bg, r)
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(px, zero), w);  // p2, p3
    const __m128 a = _mm_castsi128_ps(lo), b = _mm_castsi128_ps(hi);
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    const __m128i sum = _mm_add_epi32(even, odd);
    return _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(128)), 8), _mm_set1_epi32(16));
}

void luma_row_sse2(const uint32_t* row, uint8_t* y, int width) {
    const __m128i w = weights(25, 129, 66);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const auto load = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 4 * k)); };
        const __m128i a = _mm_packs_epi32(luma_sums4(load(0), w), luma_sums4(load(1), w));
        const __m128i b = _mm_packs_epi32(luma_sums4(load(2), w), luma_sums4(load(3), w));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x), _mm_packus_epi16(a, b));
    }
    luma_row_scalar(row + x, y + x, width - x);
}

// [sum(a), sum(b), sum(c), sum(d)] of four vectors of four 32-bit lanes.
inline __m128i horizontal_sums(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));  // a02 b02 a13 b13
    const __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
    return _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
}

inline __m128i chroma_of_sums(__m128i s) {
    return _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(s, _mm_set1_epi32(512)), 10), _mm_set1_epi32(128));
}

// Four chroma samples (8 pixels of each row) at a time.
void chroma_row_sse2(const uint32_t* row0, const uint32_t* row1, uint8_t* u, uint8_t* v, int chroma_width) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i wu = weights(112, -74, -38), wv = weights(-18, -94, 112);
    int x = 0;
    for (; x + 4 <= chroma_width; x += 4) {
        const auto load = [&](const uint32_t* r, int k) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 2 * x + 4 * k));
        };
        const __m128i t0 = load(row0, 0), t1 = load(row0, 1), b0 = load(row1, 0), b1 = load(row1, 1);
        // Column pairs summed down the two rows, one group per vector: 16-bit sums of two samples.
        const __m128i g0 = _mm_add_epi16(_mm_unpacklo_epi8(t0, zero), _mm_unpacklo_epi8(b0, zero));
        const __m128i g1 = _mm_add_epi16(_mm_unpackhi_epi8(t0, zero), _mm_unpackhi_epi8(b0, zero));
        const __m128i g2 = _mm_add_epi16(_mm_unpacklo_epi8(t1, zero), _mm_unpacklo_epi8(b1, zero));
        const __m128i g3 = _mm_add_epi16(_mm_unpackhi_epi8(t1, zero), _mm_unpackhi_epi8(b1, zero));
        const __m128i cu = chroma_of_sums(horizontal_sums(_mm_madd_epi16(g0, wu), _mm_madd_epi16(g1, wu),
                                                          _mm_madd_epi16(g2, wu), _mm_madd_epi16(g3, wu)));
        const __m128i cv = chroma_of_sums(horizontal_sums(_mm_madd_epi16(g0, wv), _mm_madd_epi16(g1, wv),
                                                          _mm_madd_epi16(g2, wv), _mm_madd_epi16(g3, wv)));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(cu, cv), zero);  // 4 Cb then 4 Cr
        alignas(16) uint8_t out[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(out), bytes);
        std::memcpy(u + x, out, 4);
        std::memcpy(v + x, out + 4, 4);
    }
    chroma_row_scalar(row0 + 2 * x, row1 + 2 * x, u + x, v + x, chroma_width - x);
}

void init_sse2(RgbToYuvKernels& k) {
    k.luma_row.set(luma_row_sse2, CpuLevel::sse2);
    k.chroma_row.set(chroma_row_sse2, CpuLevel::sse2);
}
#else
constexpr zorbrix::KernelInit<RgbToYuvKernels> init_sse2 = nullptr;
#endif

#if defined(ZORBRIX_RGB_TO_YUV_AVX2) && defined(__SSE2__)

ZX_AVX2 inline __m256i weights256(int b, int g, int r) {
    return _mm256_setr_epi16(b, g, r, 0, b, g, r, 0, b, g, r, 0, b, g, r, 0);
}

// Luma of 8 pixels, in order, as 32-bit lanes.
ZX_AVX2 inline __m256i luma_sums8(__m256i px, __m256i w) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi8(px, zero), w);  // per half: p0, p1 | p4, p5
    const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi8(px, zero), w);  // p2, p3 | p6, p7
    const __m256 a = _mm256_castsi256_ps(lo), b = _mm256_castsi256_ps(hi);
    const __m256i even = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i odd = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    const __m256i sum = _mm256_add_epi32(even, odd);
    return _mm256_add_epi32(_mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(128)), 8), _mm256_set1_epi32(16));
}

ZX_AVX2 inline __m256i load8(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

ZX_AVX2 void luma_row_avx2(const uint32_t* row, uint8_t* y, int width) {
    const __m256i w = weights256(25, 129, 66);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint32_t* p = row + x;
        const __m256i a = _mm256_packs_epi32(luma_sums8(load8(p), w), luma_sums8(load8(p + 8), w));
        const __m256i b = _mm256_packs_epi32(luma_sums8(load8(p + 16), w), luma_sums8(load8(p + 24), w));
        // The packs work per 128-bit half: put the groups of four back in order.
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(a, b), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + x), bytes);
    }
    luma_row_sse2(row + x, y + x, width - x);
}

ZX_AVX2 inline __m256i horizontal_sums256(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i ab = _mm256_add_epi32(_mm256_unpacklo_epi32(a, b), _mm256_unpackhi_epi32(a, b));
    const __m256i cd = _mm256_add_epi32(_mm256_unpacklo_epi32(c, d), _mm256_unpackhi_epi32(c, d));
    return _mm256_add_epi32(_mm256_unpacklo_epi64(ab, cd), _mm256_unpackhi_epi64(ab, cd));
}

ZX_AVX2 inline __m256i chroma_of_sums256(__m256i s) {
    return _mm256_add_epi32(_mm256_srai_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(512)), 10), _mm256_set1_epi32(128));
}

// Eight chroma samples (16 pixels of each row) at a time.
ZX_AVX2 void chroma_row_avx2(const uint32_t* row0, const uint32_t* row1, uint8_t* u, uint8_t* v, int chroma_width) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i wu = weights256(112, -74, -38), wv = weights256(-18, -94, 112);
    // The sums come out per half as groups 0 1 4 5 | 2 3 6 7.
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    int x = 0;
    for (; x + 8 <= chroma_width; x += 8) {
        const __m256i t0 = load8(row0 + 2 * x), t1 = load8(row0 + 2 * x + 8);
        const __m256i b0 = load8(row1 + 2 * x), b1 = load8(row1 + 2 * x + 8);
        const __m256i g0 = _mm256_add_epi16(_mm256_unpacklo_epi8(t0, zero), _mm256_unpacklo_epi8(b0, zero));
        const __m256i g1 = _mm256_add_epi16(_mm256_unpackhi_epi8(t0, zero), _mm256_unpackhi_epi8(b0, zero));
        const __m256i g2 = _mm256_add_epi16(_mm256_unpacklo_epi8(t1, zero), _mm256_unpacklo_epi8(b1, zero));
        const __m256i g3 = _mm256_add_epi16(_mm256_unpackhi_epi8(t1, zero), _mm256_unpackhi_epi8(b1, zero));
        const __m256i su = horizontal_sums256(_mm256_madd_epi16(g0, wu), _mm256_madd_epi16(g1, wu),
                                              _mm256_madd_epi16(g2, wu), _mm256_madd_epi16(g3, wu));
        const __m256i sv = horizontal_sums256(_mm256_madd_epi16(g0, wv), _mm256_madd_epi16(g1, wv),
                                              _mm256_madd_epi16(g2, wv), _mm256_madd_epi16(g3, wv));
        const __m256i cu = _mm256_permutevar8x32_epi32(chroma_of_sums256(su), order);
        const __m256i cv = _mm256_permutevar8x32_epi32(chroma_of_sums256(sv), order);
        const __m128i cu16 = _mm_packs_epi32(_mm256_castsi256_si128(cu), _mm256_extracti128_si256(cu, 1));
        const __m128i cv16 = _mm_packs_epi32(_mm256_castsi256_si128(cv), _mm256_extracti128_si256(cv, 1));
        const __m128i bytes = _mm_packus_epi16(cu16, cv16);  // 8 Cb then 8 Cr
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x), _mm_unpackhi_epi64(bytes, bytes));
    }
    chroma_row_sse2(row0 + 2 * x, row1 + 2 * x, u + x, v + x, chroma_width - x);
}

void init_avx2(RgbToYuvKernels& k) {
    k.luma_row.set(luma_row_avx2, CpuLevel::avx2);
    k.chroma_row.set(chroma_row_avx2, CpuLevel::avx2);
}

// The AVX-512 level, on processors with byte dot products (VNNI): one vpdpbusd multiplies a pixel's four bytes by
// four signed byte weights and adds them to a 32-bit sum, so a pixel's weighted sum is one instruction where the
// 16-bit multiply-adds need unpacking and pairing. Green's luma weight, 129, is beyond a signed byte: it is 127 in
// the first product and 2 in a second. The rounding and the offsets fold into the starting sums:
// ((s + 128) >> 8) + 16 is (s + 128 + 16 * 256) >> 8, and for chroma ((s + 512) >> 10) + 128 is
// (s + 512 + 128 * 1024) >> 10, split over the two pixels of a pair that are added at the end.
#define ZX_AVX512_VNNI __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vnni")))

// The shifts and narrowings are written in their zero-masking form with every lane selected: the same
// instructions, but gcc 12 takes the plain forms' undefined pass-through operand for an uninitialised value.
constexpr __mmask8 kAll8 = 0xFF;
constexpr __mmask16 kAll16 = 0xFFFF;

ZX_AVX512_VNNI inline __m512i pixel_weights(int b, int g, int r) {
    return _mm512_set1_epi32((b & 0xFF) | (g & 0xFF) << 8 | (r & 0xFF) << 16);  // bytes B, G, R, 0 as in a pixel
}

ZX_AVX512_VNNI void luma_row_avx512(const uint32_t* row, uint8_t* y, int width) {
    const __m512i w = pixel_weights(25, 127, 66), w_green = pixel_weights(0, 2, 0);
    const __m512i start = _mm512_set1_epi32(128 + 16 * 256);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m512i px = _mm512_loadu_si512(row + x);
        const __m512i sum = _mm512_dpbusd_epi32(_mm512_dpbusd_epi32(start, px, w), px, w_green);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x),
                         _mm512_maskz_cvtepi32_epi8(kAll16, _mm512_maskz_srli_epi32(kAll16, sum, 8)));
    }
    luma_row_avx2(row + x, y + x, width - x);
}

// Eight chroma samples from 16 pixels of each row: each 32-bit lane sums one column's two pixels (the rows), then
// each 64-bit lane one 2 x 2 group, in its low half.
ZX_AVX512_VNNI inline __m128i chroma_samples8(__m512i top, __m512i bottom, __m512i w) {
    const __m512i start = _mm512_set1_epi32((512 + 128 * 1024) / 2);
    const __m512i columns = _mm512_dpbusd_epi32(_mm512_dpbusd_epi32(start, top, w), bottom, w);
    const __m512i groups = _mm512_add_epi64(columns, _mm512_maskz_srli_epi64(kAll8, columns, 32));
    return _mm512_maskz_cvtepi64_epi8(kAll8, _mm512_maskz_srai_epi32(kAll16, groups, 10));
}

ZX_AVX512_VNNI void chroma_row_avx512(const uint32_t* row0, const uint32_t* row1, uint8_t* u, uint8_t* v,
                                      int chroma_width) {
    const __m512i wu = pixel_weights(112, -74, -38), wv = pixel_weights(-18, -94, 112);
    int x = 0;
    for (; x + 8 <= chroma_width; x += 8) {
        const __m512i top = _mm512_loadu_si512(row0 + 2 * x), bottom = _mm512_loadu_si512(row1 + 2 * x);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x), chroma_samples8(top, bottom, wu));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x), chroma_samples8(top, bottom, wv));
    }
    chroma_row_avx2(row0 + 2 * x, row1 + 2 * x, u + x, v + x, chroma_width - x);
}

void init_avx512(RgbToYuvKernels& k) {
    if (!zorbrix::cpu_features().avx512vnni) return;  // the level without VNNI keeps the AVX2 versions
    k.luma_row.set(luma_row_avx512, CpuLevel::avx512);
    k.chroma_row.set(chroma_row_avx512, CpuLevel::avx512);
}

#else
constexpr zorbrix::KernelInit<RgbToYuvKernels> init_avx2 = nullptr;
constexpr zorbrix::KernelInit<RgbToYuvKernels> init_avx512 = nullptr;
#endif

// Probes on one screen row pair of a rendered frame's kind: smooth gradients, flat areas and edges.
std::vector<zorbrix::KernelProbe<RgbToYuvKernels>> probes() {
    constexpr int kWidth = 512;
    struct Inputs {
        std::vector<uint32_t> rows = std::vector<uint32_t>(2 * kWidth);
        std::vector<uint8_t> y = std::vector<uint8_t>(kWidth), u = std::vector<uint8_t>(kWidth / 2),
                             v = std::vector<uint8_t>(kWidth / 2);
    };
    const auto in = std::make_shared<Inputs>();
    for (int i = 0; i < 2 * kWidth; ++i) {
        const uint32_t x = static_cast<uint32_t>(i % kWidth);
        const uint32_t gradient = ((x & 0xFF) << 16) | (((x * 3) & 0xFF) << 8) | (255 - (x & 0xFF));
        in->rows[size_t(i)] = (x / 64) % 2 ? 0x00102030u : gradient;
    }
    return {
        zorbrix::kernel_probe<RgbToYuvKernels>(
            "luma_row", [](RgbToYuvKernels& t) -> Kernel<LumaRowFn>& { return t.luma_row; },
            [in](const Kernel<LumaRowFn>& k) { k(in->rows.data(), in->y.data(), kWidth); }),
        zorbrix::kernel_probe<RgbToYuvKernels>(
            "chroma_row", [](RgbToYuvKernels& t) -> Kernel<ChromaRowFn>& { return t.chroma_row; },
            [in](const Kernel<ChromaRowFn>& k) {
                k(in->rows.data(), in->rows.data() + kWidth, in->u.data(), in->v.data(), kWidth / 2);
            }),
    };
}

}  // namespace

RgbToYuvKernels rgb_to_yuv_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<RgbToYuvKernels>(level, {init_scalar, init_sse2, init_avx2, init_avx512});
}

const RgbToYuvKernels& rgb_to_yuv_kernels() {
    static const RgbToYuvKernels kernels =
        zorbrix::choose_kernel_table<RgbToYuvKernels>("rgb_to_yuv", rgb_to_yuv_kernels_for, probes());
    return kernels;
}

void rgb_to_yuv420_with(const RgbToYuvKernels& k, const uint32_t* pixels, int width, int height,
                        zorbrix::enc::YuvFrame* out) {
    if (out->width != width || out->height != height) out->allocate(width, height);
    const LumaRowFn luma = k.luma_row.fn;
    const ChromaRowFn chroma = k.chroma_row.fn;
    const int cw = width / 2;
    // One pass over row pairs: the chroma reads the two rows while the luma has just brought them into the cache.
    for (int y = 0; y < height / 2; ++y) {
        const uint32_t* row0 = pixels + size_t(2 * y) * width;
        uint8_t* luma_row0 = out->y.data() + size_t(2 * y) * width;
        luma(row0, luma_row0, width);
        luma(row0 + width, luma_row0 + width, width);
        chroma(row0, row0 + width, out->u.data() + size_t(y) * cw, out->v.data() + size_t(y) * cw, cw);
    }
}

void rgb_to_yuv420(const uint32_t* pixels, int width, int height, zorbrix::enc::YuvFrame* out) {
    rgb_to_yuv420_with(rgb_to_yuv_kernels(), pixels, width, height, out);
}
