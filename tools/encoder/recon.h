#pragma once
// The reconstruction steps the encoder shares with the decoder. They forward to the decoder's own kernels, so the
// encoder's reference pictures are the decoder's output to the bit.
#include <cstdint>

namespace zorbrix::enc {

// In-place inverse DCT of 64 dequantised coefficients.
void recon_idct(int16_t block[64]);
// Writes (intra) or adds (inter) an 8x8 block of sample values, clamped to 0..255.
void recon_put(const int16_t block[64], uint8_t* dst, int stride);
void recon_add(const int16_t block[64], uint8_t* dst, int stride);
// Motion-compensated prediction of an 8x8 or 16x16 block: routine index 8 x (size 16) + 4 x rounding
// + 2 x (vy odd) + (vx odd); src is the reference sample at the vector's full-pel position.
void recon_predict(int index, const uint8_t* src, uint8_t* dst, int stride);
// Fills the margin of a plane from its border pixels. origin is the picture's first sample; rows counts the
// margins too.
void recon_pad(uint8_t* origin, int stride, int rows, int margin);

}  // namespace zorbrix::enc
