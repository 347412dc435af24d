#pragma once
// Conversion of decoded 4:2:0 pictures into the caller's output layout.
//
// Every converter takes the Y plane (first sample of the top row) and its stride, the U (Cb) and V (Cr) planes with
// their shared stride, the destination, the width and a signed height: a negative height reads the picture from
// the bottom up, so the first destination row holds the bottom picture row. Each chroma sample serves a 2x2 group.
#include <cstdint>

#include "platform/cpu.h"

namespace zorbrix {

using ColourConverter = void (*)(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride,
                                 uint8_t* dst, int width, int height);

// Output format codes.
enum OutputFormat : int {
    FMT_YV12 = 1,    // planar Y, then V, then U
    FMT_RGB32 = 2,   // bytes B, G, R, 0
    FMT_RGB24 = 3,   // bytes B, G, R
    FMT_RGB555 = 4,  // 16-bit: blue 0..4, green 5..9, red 10..14
    FMT_RGB565 = 5,  // 16-bit: blue 0..4, green 5..10, red 11..15
    FMT_YUY2 = 6,    // Y0 U Y1 V
    FMT_UYVY = 7,    // U Y0 V Y1
};

// The converter for a format code (1..7), null for any other code.
ColourConverter converter_for_format(int format);

// Bytes a destination needs for one picture in a format (0 for unknown formats).
int output_frame_bytes(int format, int width, int height);

// 32-bit BGR0 with fixed BT.601 studio-range arithmetic; converts width / 8 groups of eight pixels per row. Calls
// the program's table.
void convert_rgb32(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                   int width, int height);

// The vector converters: a plain reference and an SSE2 version with identical results.
struct ColourKernels {
    CpuLevel level;
    Kernel<ColourConverter> convert_rgb32;
};
// The table for a level (clamped to cpu_level()), for tests and benchmarks.
ColourKernels colour_kernels_for(CpuLevel level);
// The table the program uses, for cpu_level(); built once.
const ColourKernels& colour_kernels();

void convert_rgb24(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                   int width, int height);
void convert_rgb555(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                    int width, int height);
void convert_rgb565(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                    int width, int height);
void convert_yuy2(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                  int width, int height);
void convert_uyvy(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                  int width, int height);
void convert_yv12(const uint8_t* y, int y_stride, const uint8_t* u, const uint8_t* v, int uv_stride, uint8_t* dst,
                  int width, int height);

}  // namespace zorbrix
