// Reconstruction through the decoder's own kernels (see recon.h).
#include "tools/encoder/recon.h"

#include "video/mpeg4/idct.h"
#include "video/mpeg4/motion.h"

namespace zorbrix::enc {

void recon_idct(int16_t block[64]) { mpeg4::idct_8x8(block); }
void recon_put(const int16_t block[64], uint8_t* dst, int stride) { mpeg4::put_block_clamped(block, dst, stride); }
void recon_add(const int16_t block[64], uint8_t* dst, int stride) { mpeg4::add_block_clamped(block, dst, stride); }
void recon_predict(int index, const uint8_t* src, uint8_t* dst, int stride) {
    mpeg4::predict_block(index, dst, src, stride);
}
void recon_pad(uint8_t* origin, int stride, int rows, int margin) {
    mpeg4::pad_plane_edges(origin, stride, rows, margin);
}

}  // namespace zorbrix::enc
