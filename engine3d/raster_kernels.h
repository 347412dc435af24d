#pragma once
// The rasterizer's two inner loops, each as a plain scalar reference and an SSE2 version that gives
// identical bytes. The active pair is chosen once at start-up.

#include <cstdint>

namespace raster {

// Stores the colour into count consecutive pixels.
using FillSpanFn = void (*)(uint32_t* dst, int count, uint32_t colour);

// A line walk: count pixels; pixel k sits at major = major0 + k·major_step along the major axis and
// minor = (minor_fixed + k·minor_slope) >> 16 along the other; steep lines have y as the major axis.
struct LineWalk {
    int major0;
    int major_step;  // +1 or -1
    int32_t minor_fixed;
    int32_t minor_slope;
    int count;
    bool steep;
};

// Adds the colour to every pixel of the walk, per byte with saturation at 255.
using LineAddFn = void (*)(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour);

void fill_span_scalar(uint32_t* dst, int count, uint32_t colour);
void line_add_scalar(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour);
#if defined(__SSE2__)
void fill_span_sse2(uint32_t* dst, int count, uint32_t colour);
void line_add_sse2(uint32_t* pixels, int pitch, const LineWalk& walk, uint32_t colour);
#endif

struct Kernels {
    FillSpanFn fill_span;
    LineAddFn line_add;
    const char* name;
};

// The kernels this machine runs, selected once.
const Kernels& active_kernels();

}  // namespace raster
