// Colour converters. The RGB arithmetic is fixed-point: luma scaled by 9576/8192, chroma by 13123, -3218, -6686
// and 16591 (/8192), each product taken as the high half of a 16 x 16-bit multiplication of values pre-scaled by 8.
#include "video/colour_convert.h"

#include "platform/cpu.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZORBRIX_COLOUR_AVX2 1
#endif

namespace zorbrix {
namespace {

struct Planes {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    int y_stride;
    int uv_stride;
    int rows;
};

// Applies the orientation rule: a negative height starts at the bottom rows and walks up.
Planes orient(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, int height) {
    if (height >= 0) return {y, u, v, y_stride, uv_stride, height};
    const int n = -height;
    // The last chroma row that serves a picture row; for an odd height that is row n / 2, which the last
    // picture row uses alone (n / 2 - 1 would leave that row reading above the chroma plane).
    const int chroma_last = (n + 1) / 2 - 1;
    return {y + static_cast<ptrdiff_t>(n - 1) * y_stride,
            u + static_cast<ptrdiff_t>(chroma_last) * uv_stride,
            v + static_cast<ptrdiff_t>(chroma_last) * uv_stride,
            -y_stride,
            -uv_stride,
            n};
}

inline uint8_t clamp_u8(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

struct Rgb {
    uint8_t r, g, b;
};

// The per-pixel arithmetic shared by the RGB converters.
struct ChromaTerms {
    int rt, gt, bt;
};
inline ChromaTerms chroma_terms(int U, int V) {
    const int u = (U - 128) * 8, v = (V - 128) * 8;
    return {(v * 13123) >> 16, ((u * -3218) >> 16) + ((v * -6686) >> 16), (u * 16591) >> 16};
}
inline Rgb to_rgb(int Y, const ChromaTerms& c) {
    const int yt = (std::max(Y - 16, 0) * 8 * 9576) >> 16;
    return {clamp_u8(yt + c.rt), clamp_u8(yt + c.gt), clamp_u8(yt + c.bt)};
}

// Converts one row of `groups` groups of eight pixels through `store(pixel index, Rgb)`.
template <typename Store>
inline void rgb_row(const uint8_t* y, const uint8_t* u, const uint8_t* v, int pixels, Store store) {
    for (int x = 0; x < pixels; x += 2) {
        const ChromaTerms c = chroma_terms(u[x / 2], v[x / 2]);
        store(x, to_rgb(y[x], c));
        store(x + 1, to_rgb(y[x + 1], c));
    }
}

void convert_rgb32_scalar(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride,
                          uint8_t* dst, int width, int height) {
    Planes p = orient(y, y_stride, u, v, uv_stride, height);
    const int pixels = width / 8 * 8;
    for (int r = 0; r < p.rows; ++r) {
        uint8_t* out = dst + static_cast<ptrdiff_t>(r) * width * 4;
        rgb_row(p.y, p.u, p.v, pixels, [out](int x, Rgb c) {
            out[4 * x + 0] = c.b;
            out[4 * x + 1] = c.g;
            out[4 * x + 2] = c.r;
            out[4 * x + 3] = 0;
        });
        p.y += p.y_stride;
        if (r & 1) {
            p.u += p.uv_stride;
            p.v += p.uv_stride;
        }
    }
}

#if defined(__SSE2__)

struct Rgb32Constants {
    __m128i zero = _mm_setzero_si128();
    __m128i c16 = _mm_set1_epi16(16), c128 = _mm_set1_epi16(128);
    __m128i ky = _mm_set1_epi16(9576), kvr = _mm_set1_epi16(13123);
    __m128i kug = _mm_set1_epi16(-3218), kvg = _mm_set1_epi16(-6686), kub = _mm_set1_epi16(16591);
};

// Red, green and blue chroma terms of four chroma samples, each doubled into two lanes (eight pixels).
inline void rgb32_chroma(const Rgb32Constants& k, const uint8_t* u, const uint8_t* v, __m128i& rt, __m128i& gt,
                         __m128i& bt) {
    int32_t u4, v4;
    std::memcpy(&u4, u, 4);
    std::memcpy(&v4, v, 4);
    __m128i uu = _mm_unpacklo_epi8(_mm_cvtsi32_si128(u4), k.zero);
    __m128i vv = _mm_unpacklo_epi8(_mm_cvtsi32_si128(v4), k.zero);
    uu = _mm_unpacklo_epi16(uu, uu);
    vv = _mm_unpacklo_epi16(vv, vv);
    const __m128i us = _mm_slli_epi16(_mm_sub_epi16(uu, k.c128), 3);
    const __m128i vs = _mm_slli_epi16(_mm_sub_epi16(vv, k.c128), 3);
    rt = _mm_mulhi_epi16(vs, k.kvr);
    gt = _mm_adds_epi16(_mm_mulhi_epi16(us, k.kug), _mm_mulhi_epi16(vs, k.kvg));
    bt = _mm_mulhi_epi16(us, k.kub);
}

// Eight pixels of one row from their luma and the chroma terms.
inline void rgb32_store8(const Rgb32Constants& k, const uint8_t* y, __m128i rt, __m128i gt, __m128i bt, uint8_t* out) {
    const __m128i yy = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), k.zero);
    const __m128i yt = _mm_mulhi_epi16(_mm_slli_epi16(_mm_max_epi16(_mm_sub_epi16(yy, k.c16), k.zero), 3), k.ky);
    const __m128i R = _mm_adds_epi16(yt, rt), G = _mm_adds_epi16(yt, gt), B = _mm_adds_epi16(yt, bt);
    const __m128i bg = _mm_unpacklo_epi8(_mm_packus_epi16(B, B), _mm_packus_epi16(G, G));
    const __m128i r0 = _mm_unpacklo_epi8(_mm_packus_epi16(R, R), k.zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg, r0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bg, r0));
}

void convert_rgb32_sse2(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                        int width, int height) {
    const Planes p = orient(y, y_stride, u, v, uv_stride, height);
    const Rgb32Constants k;
    const int groups = width / 8;
    const ptrdiff_t row_bytes = static_cast<ptrdiff_t>(width) * 4;
    // Rows 2i and 2i + 1 share a chroma row, so its terms are computed once for both.
    int r = 0;
    for (; r + 1 < p.rows; r += 2) {
        const uint8_t* y0 = p.y + static_cast<ptrdiff_t>(r) * p.y_stride;
        const uint8_t* y1 = y0 + p.y_stride;
        const uint8_t* cu = p.u + static_cast<ptrdiff_t>(r / 2) * p.uv_stride;
        const uint8_t* cv = p.v + static_cast<ptrdiff_t>(r / 2) * p.uv_stride;
        uint8_t* out0 = dst + r * row_bytes;
        uint8_t* out1 = out0 + row_bytes;
        for (int g = 0; g < groups; ++g) {
            __m128i rt, gt, bt;
            rgb32_chroma(k, cu + 4 * g, cv + 4 * g, rt, gt, bt);
            rgb32_store8(k, y0 + 8 * g, rt, gt, bt, out0 + 32 * g);
            rgb32_store8(k, y1 + 8 * g, rt, gt, bt, out1 + 32 * g);
        }
    }
    if (r < p.rows) {  // an odd last row
        const uint8_t* y0 = p.y + static_cast<ptrdiff_t>(r) * p.y_stride;
        const uint8_t* cu = p.u + static_cast<ptrdiff_t>(r / 2) * p.uv_stride;
        const uint8_t* cv = p.v + static_cast<ptrdiff_t>(r / 2) * p.uv_stride;
        for (int g = 0; g < groups; ++g) {
            __m128i rt, gt, bt;
            rgb32_chroma(k, cu + 4 * g, cv + 4 * g, rt, gt, bt);
            rgb32_store8(k, y0 + 8 * g, rt, gt, bt, dst + r * row_bytes + 32 * g);
        }
    }
}
void init_sse2(ColourKernels& k) { k.convert_rgb32.set(convert_rgb32_sse2, CpuLevel::sse2); }

#if defined(ZORBRIX_COLOUR_AVX2)
// The AVX2 level: the SSE2 arithmetic on sixteen pixels per step (a row's odd last group of eight takes the SSE2
// step).
ZORBRIX_TARGET_BEGIN("avx2")
namespace colour_avx2 {

// (A constructor of its own, so that it is compiled for AVX2 too.)
struct Constants {
    Constants()
        : zero(_mm256_setzero_si256()),
          c16(_mm256_set1_epi16(16)),
          c128(_mm256_set1_epi16(128)),
          ky(_mm256_set1_epi16(9576)),
          kvr(_mm256_set1_epi16(13123)),
          kug(_mm256_set1_epi16(-3218)),
          kvg(_mm256_set1_epi16(-6686)),
          kub(_mm256_set1_epi16(16591)) {}
    __m256i zero, c16, c128, ky, kvr, kug, kvg, kub;
};

// Eight chroma samples, each doubled into two lanes (sixteen pixels).
inline __m256i doubled_chroma(const uint8_t* c) {
    const __m128i w = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c)));
    return _mm256_set_m128i(_mm_unpackhi_epi16(w, w), _mm_unpacklo_epi16(w, w));
}

inline void chroma(const Constants& k, const uint8_t* u, const uint8_t* v, __m256i& rt, __m256i& gt, __m256i& bt) {
    const __m256i us = _mm256_slli_epi16(_mm256_sub_epi16(doubled_chroma(u), k.c128), 3);
    const __m256i vs = _mm256_slli_epi16(_mm256_sub_epi16(doubled_chroma(v), k.c128), 3);
    rt = _mm256_mulhi_epi16(vs, k.kvr);
    gt = _mm256_adds_epi16(_mm256_mulhi_epi16(us, k.kug), _mm256_mulhi_epi16(vs, k.kvg));
    bt = _mm256_mulhi_epi16(us, k.kub);
}

inline void store16(const Constants& k, const uint8_t* y, __m256i rt, __m256i gt, __m256i bt, uint8_t* out) {
    const __m256i yy = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
    const __m256i yt =
        _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_max_epi16(_mm256_sub_epi16(yy, k.c16), k.zero), 3), k.ky);
    const __m256i R = _mm256_adds_epi16(yt, rt), G = _mm256_adds_epi16(yt, gt), B = _mm256_adds_epi16(yt, bt);
    // Packs and unpacks stay within each 128-bit half: pixels 0..7 in the low half, 8..15 in the high one.
    const __m256i bg = _mm256_unpacklo_epi8(_mm256_packus_epi16(B, B), _mm256_packus_epi16(G, G));
    const __m256i r0 = _mm256_unpacklo_epi8(_mm256_packus_epi16(R, R), k.zero);
    const __m256i lo = _mm256_unpacklo_epi16(bg, r0), hi = _mm256_unpackhi_epi16(bg, r0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(lo, hi, 0x31));
}

// Output rows from luma rows y0 and (when y1 is not null) y1, which share chroma rows u, v: the chroma terms are
// computed once for both.
inline void row_pair(const Constants& k, const Rgb32Constants& k8, const uint8_t* y0, const uint8_t* y1,
                     const uint8_t* u, const uint8_t* v, uint8_t* out0, uint8_t* out1, int groups) {
    int g = 0;
    for (; g + 2 <= groups; g += 2) {
        __m256i rt, gt, bt;
        chroma(k, u + 4 * g, v + 4 * g, rt, gt, bt);
        store16(k, y0 + 8 * g, rt, gt, bt, out0 + 32 * g);
        if (y1) store16(k, y1 + 8 * g, rt, gt, bt, out1 + 32 * g);
    }
    if (g < groups) {
        __m128i rt, gt, bt;
        rgb32_chroma(k8, u + 4 * g, v + 4 * g, rt, gt, bt);
        rgb32_store8(k8, y0 + 8 * g, rt, gt, bt, out0 + 32 * g);
        if (y1) rgb32_store8(k8, y1 + 8 * g, rt, gt, bt, out1 + 32 * g);
    }
}

void convert_rgb32(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                   int width, int height) {
    const Planes p = orient(y, y_stride, u, v, uv_stride, height);
    const Constants k;
    const Rgb32Constants k8;
    const int groups = width / 8;
    const ptrdiff_t row_bytes = static_cast<ptrdiff_t>(width) * 4;
    for (int r = 0; r < p.rows; r += 2) {
        const uint8_t* y0 = p.y + static_cast<ptrdiff_t>(r) * p.y_stride;
        const uint8_t* y1 = r + 1 < p.rows ? y0 + p.y_stride : nullptr;  // an odd last row goes alone
        const uint8_t* cu = p.u + static_cast<ptrdiff_t>(r / 2) * p.uv_stride;
        const uint8_t* cv = p.v + static_cast<ptrdiff_t>(r / 2) * p.uv_stride;
        row_pair(k, k8, y0, y1, cu, cv, dst + r * row_bytes, dst + (r + 1) * row_bytes, groups);
    }
}

}  // namespace colour_avx2
ZORBRIX_TARGET_END
void init_avx2(ColourKernels& k) { k.convert_rgb32.set(colour_avx2::convert_rgb32, CpuLevel::avx2); }
#else
constexpr KernelInit<ColourKernels> init_avx2 = nullptr;
#endif
#else
constexpr KernelInit<ColourKernels> init_sse2 = nullptr;
constexpr KernelInit<ColourKernels> init_avx2 = nullptr;
#endif

void init_scalar(ColourKernels& k) { k.convert_rgb32.set(convert_rgb32_scalar, CpuLevel::scalar); }

const ColourKernels& built_at_start_up = colour_kernels();

}  // namespace

ColourKernels colour_kernels_for(CpuLevel level) {
    return build_kernel_table<ColourKernels>(level, {init_scalar, init_sse2, init_avx2, nullptr});
}

// The program's table: the faster converter on a 64 x 16 picture with busy chroma, converted bottom up as the
// intro does.
const ColourKernels& colour_kernels() {
    static const ColourKernels kernels = [] {
        constexpr int kW = 64, kH = 16;
        struct Inputs {
            std::vector<uint8_t> y = std::vector<uint8_t>(kW * kH), u = std::vector<uint8_t>(kW * kH / 4),
                                 v = std::vector<uint8_t>(kW * kH / 4), dst = std::vector<uint8_t>(4 * kW * kH);
        };
        const auto in = std::make_shared<Inputs>();
        uint32_t seed = 0x1234567u;
        for (auto* plane : {&in->y, &in->u, &in->v}) {
            for (auto& b : *plane) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
        }
        return choose_kernel_table<ColourKernels>(
            "colour", colour_kernels_for,
            {kernel_probe<ColourKernels>(
                "convert_rgb32", [](ColourKernels& t) -> Kernel<ColourConverter>& { return t.convert_rgb32; },
                [in](const Kernel<ColourConverter>& k) {
                    k(in->y.data(), kW, in->u.data(), in->v.data(), kW / 2, in->dst.data(), kW, -kH);
                })});
    }();
    return kernels;
}

void convert_rgb32(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                   int width, int height) {
    colour_kernels().convert_rgb32(y, y_stride, u, v, uv_stride, dst, width, height);
}

void convert_rgb24(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                   int width, int height) {
    Planes p = orient(y, y_stride, u, v, uv_stride, height);
    const int pixels = width / 8 * 8;
    for (int r = 0; r < p.rows; ++r) {
        uint8_t* out = dst + static_cast<ptrdiff_t>(r) * width * 3;
        rgb_row(p.y, p.u, p.v, pixels, [out](int x, Rgb c) {
            out[3 * x + 0] = c.b;
            out[3 * x + 1] = c.g;
            out[3 * x + 2] = c.r;
        });
        p.y += p.y_stride;
        if (r & 1) {
            p.u += p.uv_stride;
            p.v += p.uv_stride;
        }
    }
}

void convert_rgb555(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                    int width, int height) {
    Planes p = orient(y, y_stride, u, v, uv_stride, height);
    const int pixels = width / 8 * 8;
    for (int r = 0; r < p.rows; ++r) {
        uint8_t* out = dst + static_cast<ptrdiff_t>(r) * width * 2;
        rgb_row(p.y, p.u, p.v, pixels, [out](int x, Rgb c) {
            const unsigned w = (c.b >> 3) | ((c.g >> 3) << 5) | ((c.r >> 3) << 10);
            out[2 * x] = static_cast<uint8_t>(w);
            out[2 * x + 1] = static_cast<uint8_t>(w >> 8);
        });
        p.y += p.y_stride;
        if (r & 1) {
            p.u += p.uv_stride;
            p.v += p.uv_stride;
        }
    }
}

void convert_rgb565(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                    int width, int height) {
    Planes p = orient(y, y_stride, u, v, uv_stride, height);
    const int pixels = width & ~1;
    for (int r = 0; r < p.rows; ++r) {
        uint8_t* out = dst + static_cast<ptrdiff_t>(r) * width * 2;
        // Five bits per field; bit 5 stays zero.
        rgb_row(p.y, p.u, p.v, pixels, [out](int x, Rgb c) {
            const unsigned w = (c.b >> 3) | ((c.g >> 3) << 6) | ((c.r >> 3) << 11);
            out[2 * x] = static_cast<uint8_t>(w);
            out[2 * x + 1] = static_cast<uint8_t>(w >> 8);
        });
        p.y += p.y_stride;
        if (r & 1) {
            p.u += p.uv_stride;
            p.v += p.uv_stride;
        }
    }
}

namespace {
template <int Y0, int U0, int Y1, int V0>
void convert_packed422(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                       int width, int height) {
    Planes p = orient(y, y_stride, u, v, uv_stride, height);
    for (int r = 0; r < p.rows; ++r) {
        uint8_t* out = dst + static_cast<ptrdiff_t>(r) * width * 2;
        for (int k = 0; k < width / 2; ++k) {
            out[4 * k + Y0] = p.y[2 * k];
            out[4 * k + U0] = p.u[k];
            out[4 * k + Y1] = p.y[2 * k + 1];
            out[4 * k + V0] = p.v[k];
        }
        p.y += p.y_stride;
        if (r & 1) {
            p.u += p.uv_stride;
            p.v += p.uv_stride;
        }
    }
}
}  // namespace

void convert_yuy2(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                  int width, int height) {
    convert_packed422<0, 1, 2, 3>(y, y_stride, u, v, uv_stride, dst, width, height);
}

void convert_uyvy(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                  int width, int height) {
    convert_packed422<1, 0, 3, 2>(y, y_stride, u, v, uv_stride, dst, width, height);
}

void convert_yv12(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                  int width, int height) {
    Planes p = orient(y, y_stride, u, v, uv_stride, height);
    const int cw = width / 2, ch = p.rows / 2;
    uint8_t* out_v = dst + static_cast<ptrdiff_t>(width) * p.rows;
    uint8_t* out_u = out_v + static_cast<ptrdiff_t>(cw) * ch;
    for (int r = 0; r < p.rows; ++r)
        std::memcpy(dst + static_cast<ptrdiff_t>(r) * width, p.y + static_cast<ptrdiff_t>(r) * p.y_stride, width);
    for (int r = 0; r < ch; ++r) {
        std::memcpy(out_u + static_cast<ptrdiff_t>(r) * cw, p.u + static_cast<ptrdiff_t>(r) * p.uv_stride, cw);
        std::memcpy(out_v + static_cast<ptrdiff_t>(r) * cw, p.v + static_cast<ptrdiff_t>(r) * p.uv_stride, cw);
    }
}

ColourConverter converter_for_format(int format) {
    switch (format) {
    case FMT_YV12: return convert_yv12;
    case FMT_RGB32: return convert_rgb32;
    case FMT_RGB24: return convert_rgb24;
    case FMT_RGB555: return convert_rgb555;
    case FMT_RGB565: return convert_rgb565;
    case FMT_YUY2: return convert_yuy2;
    case FMT_UYVY: return convert_uyvy;
    default: return nullptr;
    }
}

int output_frame_bytes(int format, int width, int height) {
    switch (format) {
    case FMT_YV12: return width * height + 2 * (width / 2) * (height / 2);
    case FMT_RGB32: return width * height * 4;
    case FMT_RGB24: return width * height * 3;
    case FMT_RGB555:
    case FMT_RGB565:
    case FMT_YUY2:
    case FMT_UYVY: return width * height * 2;
    default: return 0;
    }
}

}  // namespace zorbrix
