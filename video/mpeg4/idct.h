#pragma once
// Inverse DCT and the block writers that place a transformed 8x8 block into a plane.
//
// The transform is a separable fixed-point IDCT whose every rounding and saturation step is fixed, so that
// inter pictures, which accumulate its results, decode identically everywhere. Each kernel has a plain scalar
// reference (reads like the formulas) and an SSE2 version with identical results, held in `IdctKernels`; the free
// functions call the program's table.
#include <cstdint>

#include "platform/cpu.h"

namespace zorbrix::mpeg4 {

// Transforms 64 signed 16-bit coefficients (raster order) in place.
void idct_8x8(int16_t block[64]);

// The same transform for a block whose non-zero coefficients all lie in the rows set in `rows` (bit r for row r):
// identical values, without the row passes of the rows that hold only zeros (a row of zeros transforms to a
// constant). Decoded blocks often have coefficients in their first rows only.
void idct_8x8_sparse(int16_t block[64], unsigned rows);

// Writes the 64 values into an 8x8 area at dst (rows `stride` bytes apart), each clamped to 0..255.
void put_block_clamped(const int16_t block[64], uint8_t* dst, int stride);

// Adds the 64 values to the prediction already in the 8x8 area at dst: clamp(sat16(pred + value), 0, 255).
void add_block_clamped(const int16_t block[64], uint8_t* dst, int stride);

using IdctFn = void (*)(int16_t block[64]);
using IdctSparseFn = void (*)(int16_t block[64], unsigned rows);
using BlockWriterFn = void (*)(const int16_t block[64], uint8_t* dst, int stride);

struct IdctKernels {
    CpuLevel level;
    Kernel<IdctFn> idct_8x8;
    Kernel<IdctSparseFn> idct_8x8_sparse;
    Kernel<BlockWriterFn> put_block_clamped;
    Kernel<BlockWriterFn> add_block_clamped;
};
// The table for a level (clamped to cpu_level()), for tests and benchmarks.
IdctKernels idct_kernels_for(CpuLevel level);
// The table the program uses, for cpu_level(); built once.
const IdctKernels& idct_kernels();

}  // namespace zorbrix::mpeg4
