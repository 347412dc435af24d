#pragma once
// The per-row pixel kernels behind every blit and the video enlargement.
//
// Pixels are 32-bit words 0xAARRGGBB; images are premultiplied by alpha. Every kernel treats the four bytes of a word
// alike (alpha included) and is defined to the bit: the scalar reference and the SSE2, AVX2 and AVX-512 versions give
// the same bytes for every input. The free functions at the bottom call the program's table, `row_kernels()`.
#include <cstdint>

#include "platform/cpu.h"

namespace zorbrix {

// Copies `count` words.
using CopyRowFn = void (*)(uint32_t* dst, const uint32_t* src, int count);
// Premultiplied-alpha blend of `count` source words onto the destination.
using BlendRowFn = void (*)(uint32_t* dst, const uint32_t* src, int count);
// The same blend with the source scaled by a fade byte (0 = invisible, 255 = full).
using BlendRowFadedFn = void (*)(uint32_t* dst, const uint32_t* src, int count, int fade_byte);
// Writes one source row pair, enlarged 2x with linear interpolation, into two destination rows of dst_width words.
using UpscaleRowPairFn = void (*)(uint32_t* dst, const uint32_t* src, int dst_width);

struct RowKernels {
    zorbrix::CpuLevel level;
    zorbrix::Kernel<CopyRowFn> copy_row;
    zorbrix::Kernel<BlendRowFn> blend_row;
    zorbrix::Kernel<BlendRowFadedFn> blend_row_faded;
    zorbrix::Kernel<UpscaleRowPairFn> upscale_row_pair;
};

// Each fills the entries its level has (kernels_<level>.cpp); a level the build cannot target fills nothing.
void row_kernels_init_scalar(RowKernels& k);
void row_kernels_init_sse2(RowKernels& k);
void row_kernels_init_avx2(RowKernels& k);
void row_kernels_init_avx512(RowKernels& k);
// The table for a level (clamped to zorbrix::cpu_level()), for tests and benchmarks.
RowKernels row_kernels_for(zorbrix::CpuLevel level);
// The table the program uses, for zorbrix::cpu_level(). Built once, on first use.
const RowKernels& row_kernels();

// widen(v) = (v x 257) >> 1: a byte repeated into 16 bits, then halved (0 .. 32767).
constexpr uint32_t widen(uint32_t v) { return (v * 257u) >> 1; }

// The fade factor as a byte: floor(fade x 255 + 0.5) clamped to 0..255. A fade that is not a number counts as 0.
int fade_to_byte(double fade);

// copy_row: dst[i] = src[i].
inline void copy_row(uint32_t* dst, const uint32_t* src, int count) { row_kernels().copy_row(dst, src, count); }

// blend_row: with a the source alpha and w = widen(255 - a), each byte becomes
// min(255, s + ((widen(d) x w) >> 22)). An opaque source replaces the destination; a = 0 adds with saturation.
inline void blend_row(uint32_t* dst, const uint32_t* src, int count) { row_kernels().blend_row(dst, src, count); }

// blend_row_faded: with F = widen(fade_byte), A = (widen(a) x F) >> 16 and k = 16383 - A, each byte becomes
// min(255, ((widen(d) x k) >> 21) + ((widen(s) x F) >> 22)): source x fade + destination x (1 - alpha x fade).
inline void blend_row_faded(uint32_t* dst, const uint32_t* src, int count, int fade_byte) {
    row_kernels().blend_row_faded(dst, src, count, fade_byte);
}

// upscale_row_pair: h = dst_width / 2; for i in 0 .. h - 2, with a = src[i], b = src[i + 1], c = src[i + h] and
// e = src[i + h + 1], per byte: dst[2i] = a, dst[2i + 1] = (a + b) >> 1, dst[2i + dst_width] = (a + c) >> 1,
// dst[2i + dst_width + 1] = (a + b + c + e) >> 2.
inline void upscale_row_pair(uint32_t* dst, const uint32_t* src, int dst_width) {
    row_kernels().upscale_row_pair(dst, src, dst_width);
}

}  // namespace zorbrix
