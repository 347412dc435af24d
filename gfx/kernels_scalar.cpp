// The reference kernels: one pixel, one byte at a time, exactly as the rules read.
#include "gfx/blit_kernels.h"

#include <algorithm>
#include <cmath>

namespace zorbrix {

namespace {

uint32_t byte_of(uint32_t word, int k) { return (word >> (8 * k)) & 0xFFu; }

void copy_row_scalar(uint32_t* dst, const uint32_t* src, int count) {
    for (int i = 0; i < count; ++i) {
        dst[i] = src[i];
    }
}

void blend_row_scalar(uint32_t* dst, const uint32_t* src, int count) {
    for (int i = 0; i < count; ++i) {
        const uint32_t s = src[i];
        const uint32_t d = dst[i];
        const uint32_t a = s >> 24;
        const uint32_t w = widen(255 - a);
        uint32_t out = 0;
        for (int k = 0; k < 4; ++k) {
            const uint32_t v = std::min(255u, byte_of(s, k) + ((widen(byte_of(d, k)) * w) >> 22));
            out |= v << (8 * k);
        }
        dst[i] = out;
    }
}

void blend_row_faded_scalar(uint32_t* dst, const uint32_t* src, int count, int fade_byte) {
    const uint32_t F = widen(static_cast<uint32_t>(fade_byte));
    for (int i = 0; i < count; ++i) {
        const uint32_t s = src[i];
        const uint32_t d = dst[i];
        const uint32_t a = s >> 24;
        const uint32_t A = (widen(a) * F) >> 16;
        const uint32_t k16 = 16383 - A;
        uint32_t out = 0;
        for (int k = 0; k < 4; ++k) {
            const uint32_t v =
                std::min(255u, ((widen(byte_of(d, k)) * k16) >> 21) + ((widen(byte_of(s, k)) * F) >> 22));
            out |= v << (8 * k);
        }
        dst[i] = out;
    }
}

void upscale_row_pair_scalar(uint32_t* dst, const uint32_t* src, int dst_width) {
    const int h = dst_width / 2;
    for (int i = 0; i <= h - 2; ++i) {
        const uint32_t a = src[i];
        const uint32_t b = src[i + 1];
        const uint32_t c = src[i + h];
        const uint32_t e = src[i + h + 1];
        uint32_t right = 0;
        uint32_t below = 0;
        uint32_t diagonal = 0;
        for (int k = 0; k < 4; ++k) {
            const uint32_t ab = byte_of(a, k), bb = byte_of(b, k), cb = byte_of(c, k), eb = byte_of(e, k);
            right |= ((ab + bb) >> 1) << (8 * k);
            below |= ((ab + cb) >> 1) << (8 * k);
            diagonal |= ((ab + bb + cb + eb) >> 2) << (8 * k);
        }
        dst[2 * i] = a;
        dst[2 * i + 1] = right;
        dst[2 * i + dst_width] = below;
        dst[2 * i + dst_width + 1] = diagonal;
    }
}

}  // namespace

void row_kernels_init_scalar(RowKernels& k) {
    k.copy_row.set(copy_row_scalar, zorbrix::CpuLevel::scalar);
    k.blend_row.set(blend_row_scalar, zorbrix::CpuLevel::scalar);
    k.blend_row_faded.set(blend_row_faded_scalar, zorbrix::CpuLevel::scalar);
    k.upscale_row_pair.set(upscale_row_pair_scalar, zorbrix::CpuLevel::scalar);
}

int fade_to_byte(double fade) {
    const double v = std::floor(fade * 255.0 + 0.5);
    if (!(v > 0.0)) {  // also catches NaN
        return 0;
    }
    if (v >= 255.0) {
        return 255;
    }
    return static_cast<int>(v);
}

}  // namespace zorbrix
