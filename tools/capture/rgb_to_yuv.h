#pragma once
#include "tools/encoder/y4m.h"

#include <cstdint>

// The luma of one 0x00RRGGBB pixel, as rgb_to_yuv420 writes it.
inline uint8_t bt601_luma(uint32_t pixel) {
    const int r = (pixel >> 16) & 0xff, g = (pixel >> 8) & 0xff, b = pixel & 0xff;
    return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}

// Converts 0x00RRGGBB pixels (even width and height) to 4:2:0 studio-range YCbCr (BT.601), the form video tools
// expect from a YUV4MPEG2 stream. Each chroma sample is taken from the average of its 2 x 2 pixels.
void rgb_to_yuv420(const uint32_t* pixels, int width, int height, zorbrix::enc::YuvFrame* out);
