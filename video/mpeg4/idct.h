#pragma once
// Inverse DCT and the block writers that place a transformed 8x8 block into a plane.
//
// The transform is a separable fixed-point IDCT whose every rounding and saturation step is fixed, so that
// inter pictures, which accumulate its results, decode identically everywhere. Each kernel has a plain scalar
// reference (reads like the formulas) and an SSE2 version with identical results; the unsuffixed name calls
// the fastest exact version available on this machine.
#include <cstdint>

namespace zorbrix::mpeg4 {

// Transforms 64 signed 16-bit coefficients (raster order) in place.
void idct_8x8(int16_t block[64]);
void idct_8x8_scalar(int16_t block[64]);
void idct_8x8_sse2(int16_t block[64]);

// Writes the 64 values into an 8x8 area at dst (rows `stride` bytes apart), each clamped to 0..255.
void put_block_clamped(const int16_t block[64], uint8_t* dst, int stride);
void put_block_clamped_scalar(const int16_t block[64], uint8_t* dst, int stride);
void put_block_clamped_sse2(const int16_t block[64], uint8_t* dst, int stride);

// Adds the 64 values to the prediction already in the 8x8 area at dst: clamp(sat16(pred + value), 0, 255).
void add_block_clamped(const int16_t block[64], uint8_t* dst, int stride);
void add_block_clamped_scalar(const int16_t block[64], uint8_t* dst, int stride);
void add_block_clamped_sse2(const int16_t block[64], uint8_t* dst, int stride);

}  // namespace zorbrix::mpeg4
