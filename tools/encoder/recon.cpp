// Stand-in kernels until the decoder's kernels can be linked; replaced by forwarding calls.
#include "tools/encoder/recon.h"

#include <cmath>
#include <cstring>

namespace zorbrix::enc {

namespace {
uint8_t clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
}  // namespace

void recon_idct(int16_t block[64]) {
    static double c[8][8];
    static bool init = false;
    if (!init) {
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                c[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * std::acos(-1.0) / 16.0);
        init = true;
    }
    double tmp[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int u = 0; u < 8; ++u) s += c[u][x] * block[y * 8 + u];
            tmp[y * 8 + x] = s;
        }
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y) {
            double s = 0;
            for (int v = 0; v < 8; ++v) s += c[v][y] * tmp[v * 8 + x];
            block[y * 8 + x] = static_cast<int16_t>(std::floor(s + 0.5));
        }
}

void recon_put(const int16_t block[64], uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) dst[y * stride + x] = clamp255(block[y * 8 + x]);
}

void recon_add(const int16_t block[64], uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) dst[y * stride + x] = clamp255(dst[y * stride + x] + block[y * 8 + x]);
}

void recon_predict(int index, const uint8_t* src, uint8_t* dst, int stride) {
    const int n = index & 8 ? 16 : 8;
    const int r = (index >> 2) & 1, hy = (index >> 1) & 1, hx = index & 1;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const uint8_t* s = src + y * stride + x;
            int v;
            if (hx && hy) v = (s[0] + s[1] + s[stride] + s[stride + 1] + 2 - r) >> 2;
            else if (hx) v = (s[0] + s[1] + 1 - r) >> 1;
            else if (hy) v = (s[0] + s[stride] + 1 - r) >> 1;
            else v = s[0];
            dst[y * stride + x] = static_cast<uint8_t>(v);
        }
}

void recon_pad(uint8_t* origin, int stride, int rows, int margin) {
    const int width = stride - 2 * margin, height = rows - 2 * margin;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = origin + y * stride;
        std::memset(row - margin, row[0], margin);
        std::memset(row + width, row[width - 1], margin);
    }
    for (int y = 1; y <= margin; ++y) {
        std::memcpy(origin - y * stride - margin, origin - margin, stride);
        std::memcpy(origin + (height - 1 + y) * stride - margin, origin + (height - 1) * stride - margin, stride);
    }
}

}  // namespace zorbrix::enc
