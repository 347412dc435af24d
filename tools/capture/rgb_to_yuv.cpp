#include "tools/capture/rgb_to_yuv.h"

namespace {

inline int red(uint32_t p) { return (p >> 16) & 0xff; }
inline int green(uint32_t p) { return (p >> 8) & 0xff; }
inline int blue(uint32_t p) { return p & 0xff; }

}  // namespace

void rgb_to_yuv420(const uint32_t* pixels, int width, int height, zorbrix::enc::YuvFrame* out) {
    if (out->width != width || out->height != height) out->allocate(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[y * width + x];
            out->y[size_t(y) * width + x] = bt601_luma(p);
        }
    }
    const int cw = width / 2;
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < cw; ++x) {
            const uint32_t* p = pixels + (2 * y) * width + 2 * x;
            const uint32_t q[4] = {p[0], p[1], p[width], p[width + 1]};
            int r = 0, g = 0, b = 0;
            for (uint32_t s : q) {
                r += red(s);
                g += green(s);
                b += blue(s);
            }
            // Sums of four samples: the factor 4 folds into the shift (>> 10 instead of >> 8).
            out->u[size_t(y) * cw + x] = static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 512) >> 10) + 128);
            out->v[size_t(y) * cw + x] = static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 512) >> 10) + 128);
        }
    }
}
