#pragma once
// Integer drawing into the 512 x 384 screen (32-bit 0x00RRGGBB pixels, 512 per row, pixel (x, y) at
// index y·512 + x): a flat-colour triangle fill, a screen clip for 2D segments and a line that adds its
// colour with per-byte saturation. Edge positions are 16.16 fixed point.

#include <cstdint>

#include "engine3d/raster_kernels.h"
#include "platform/cpu.h"

namespace zorbrix {

constexpr int SCREEN_W = 512;
constexpr int SCREEN_H = 384;

// Fills the triangle with the colour (plain store). Rows run from the top vertex to the bottom one, both
// included, and each span from the long edge to the short edge, both ends included; rows and columns
// outside the screen are skipped. Safe for any int coordinates; differences beyond 15 bits are taken
// in 64-bit arithmetic instead of wrapping.
void fill_triangle(int x0, int y0, int x1, int y1, int x2, int y2, uint32_t colour, uint32_t* pixels);

// The rasterizer's kernels: a single span fill and line walk; the rows of a triangle inside the screen
// (vertices sorted by y, every x in 0..511) with that level's span fill inlined into them; and the whole
// fill_triangle and draw_line_add, compiled once per level so that the span fill and the walk stay inlined in them.
using TriangleRowsFn = void (*)(int x0, int y0, int x1, int y1, int x2, int y2, uint32_t colour, uint32_t* pixels);
using DrawLineFn = void (*)(uint32_t* pixels, int x0, int y0, int x1, int y1, uint32_t colour);
struct RasterKernels {
    zorbrix::CpuLevel level;
    zorbrix::Kernel<raster::FillSpanFn> fill_span;
    zorbrix::Kernel<raster::LineAddFn> line_add;
    zorbrix::Kernel<TriangleRowsFn> triangle_rows;
    zorbrix::Kernel<TriangleRowsFn> fill_triangle;
    zorbrix::Kernel<DrawLineFn> draw_line_add;
};
// The table for a level (clamped to zorbrix::cpu_level()), for tests and benchmarks.
RasterKernels raster_kernels_for(zorbrix::CpuLevel level);
// The program's table: each entry the version measured fastest here, up to zorbrix::cpu_level().
RasterKernels raster_kernels_chosen();
// The table fill_triangle and draw_line_add use: by default raster_kernels_chosen().
const RasterKernels& raster_kernels();
// Makes the rasterizer use the table of another level (clamped as above), so that tests and benchmarks can
// draw whole frames with each; the pixels are the same. Not for use while another thread draws.
void raster_use_level(zorbrix::CpuLevel level);

// Clips the segment P0-P1 to the screen in place. Returns 1 when something is visible, with both ends
// inside 0..511 x 0..383 (they may come back exchanged), and 0 otherwise (the ends are then unspecified).
int clip_line(int& x0, int& y0, int& x1, int& y1);

// Clips, then adds the colour (per byte, saturating at 255, all four bytes) to every pixel of the line
// from P0 up to but not including P1. Never touches a pixel outside the screen.
void draw_line_add(uint32_t* pixels, int x0, int y0, int x1, int y1, uint32_t colour);

}  // namespace zorbrix
