#pragma once
#include "platform/cpu.h"
#include "tools/encoder/y4m.h"

#include <cstdint>

// The luma of one 0x00RRGGBB pixel, as rgb_to_yuv420 writes it.
inline uint8_t bt601_luma(uint32_t pixel) {
    const int r = (pixel >> 16) & 0xff, g = (pixel >> 8) & 0xff, b = pixel & 0xff;
    return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}

// The chroma pair of one 2 x 2 group from its channel sums (each the sum of four samples, 0..1020): the factor 4
// folds into the shift (>> 10 instead of >> 8).
inline uint8_t bt601_cb_of_sums(int r, int g, int b) {
    return static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 512) >> 10) + 128);
}
inline uint8_t bt601_cr_of_sums(int r, int g, int b) {
    return static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 512) >> 10) + 128);
}

// Converts 0x00RRGGBB pixels (even width and height) to 4:2:0 studio-range YCbCr (BT.601), the form video tools
// expect from a YUV4MPEG2 stream. Each chroma sample is taken from the average of its 2 x 2 pixels. The top byte
// of a pixel is ignored. Calls the program's table.
void rgb_to_yuv420(const uint32_t* pixels, int width, int height, zorbrix::enc::YuvFrame* out);

// The conversion's kernels, a scalar reference and SSE2 and AVX2 versions giving the same bytes.
// Luma of `width` pixels of one row.
using LumaRowFn = void (*)(const uint32_t* row, uint8_t* y, int width);
// Cb and Cr of `chroma_width` 2 x 2 groups, from two pixel rows.
using ChromaRowFn = void (*)(const uint32_t* row0, const uint32_t* row1, uint8_t* u, uint8_t* v, int chroma_width);
struct RgbToYuvKernels {
    zorbrix::CpuLevel level;
    zorbrix::Kernel<LumaRowFn> luma_row;
    zorbrix::Kernel<ChromaRowFn> chroma_row;
};
// The table for a level (clamped to zorbrix::cpu_level()), for tests and benchmarks.
RgbToYuvKernels rgb_to_yuv_kernels_for(zorbrix::CpuLevel level);
// The table rgb_to_yuv420 uses: each entry the version measured fastest here; built once.
const RgbToYuvKernels& rgb_to_yuv_kernels();
// The conversion through a given table.
void rgb_to_yuv420_with(const RgbToYuvKernels& k, const uint32_t* pixels, int width, int height,
                        zorbrix::enc::YuvFrame* out);
