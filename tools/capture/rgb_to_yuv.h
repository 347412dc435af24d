#pragma once
#include "tools/encoder/y4m.h"

#include <cstdint>

// Converts 0x00RRGGBB pixels (even width and height) to 4:2:0 studio-range YCbCr (BT.601), the form video tools
// expect from a YUV4MPEG2 stream. Each chroma sample is taken from the average of its 2 x 2 pixels.
void rgb_to_yuv420(const uint32_t* pixels, int width, int height, zorbrix::enc::YuvFrame* out);
