#pragma once
// Integer drawing into the 512 x 384 screen (32-bit 0x00RRGGBB pixels, 512 per row, pixel (x, y) at
// index y·512 + x): a flat-colour triangle fill, a screen clip for 2D segments and a line that adds its
// colour with per-byte saturation. Edge positions are 16.16 fixed point.

#include <cstdint>

constexpr int SCREEN_W = 512;
constexpr int SCREEN_H = 384;

// Fills the triangle with the colour (plain store). Rows run from the top vertex to the bottom one, both
// included, and each span from the long edge to the short edge, both ends included; rows and columns
// outside the screen are skipped. Safe for any int coordinates; differences beyond 15 bits are taken
// in 64-bit arithmetic instead of wrapping.
void fill_triangle(int x0, int y0, int x1, int y1, int x2, int y2, uint32_t colour, uint32_t* pixels);

// The span fill of the rows of on-screen triangles: by default the widest the processor has. The pixels
// are the same with each; tests and benchmarks switch between them. fill_triangle_use_spans returns false,
// changing nothing, for a fill the processor lacks.
enum class SpanFill { Sse2, Avx2, Avx512 };
SpanFill widest_span_fill();
bool fill_triangle_use_spans(SpanFill spans);

// Clips the segment P0-P1 to the screen in place. Returns 1 when something is visible, with both ends
// inside 0..511 x 0..383 (they may come back exchanged), and 0 otherwise (the ends are then unspecified).
int clip_line(int& x0, int& y0, int& x1, int& y1);

// Clips, then adds the colour (per byte, saturating at 255, all four bytes) to every pixel of the line
// from P0 up to but not including P1. Never touches a pixel outside the screen.
void draw_line_add(uint32_t* pixels, int x0, int y0, int x1, int y1, uint32_t colour);
