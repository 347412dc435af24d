#pragma once
// Deblocking of delivered pictures: the decoded frame is copied into output planes and its 8x8 block edges are
// smoothed there (a default mode for detailed areas, a DC offset mode for flat ones, strength from the
// macroblock quantiser). The decoded frame, which is the next reference, is never filtered.
#include <cstdint>

#include "platform/cpu.h"

namespace zorbrix::mpeg4 {

constexpr uint32_t PP_LUMA_VERTICAL = 0x1;    // luma, across vertical block edges
constexpr uint32_t PP_LUMA_HORIZONTAL = 0x2;  // luma, across horizontal block edges
constexpr uint32_t PP_CHROMA_VERTICAL = 0x4;
constexpr uint32_t PP_CHROMA_HORIZONTAL = 0x8;
constexpr uint32_t PP_SKIP_COPY = 0x10000000;  // the output planes already hold the picture

// Copies (unless PP_SKIP_COPY) and filters the picture. Source and output chroma strides are half the luma ones.
// quant holds one quantiser per macroblock, quant_stride entries per macroblock row.
void postprocess_frame(const uint8_t* src_y, const uint8_t* src_u, const uint8_t* src_v, int src_stride, uint8_t* out_y,
                       uint8_t* out_u, uint8_t* out_v, int out_stride, int width, int height, const uint8_t* quant,
                       int quant_stride, uint32_t flags);

// Filters the vertical block edges (x = 8, 16, ...) of the four rows starting at `rows`.
void filter_vertical_edges(uint8_t* rows, int width, int stride, const uint8_t* quant_row, bool luma);

// Filters the horizontal block edge just above `first_below` (the first row below the edge), all columns.
void filter_horizontal_edges(uint8_t* first_below, int width, int stride, const uint8_t* quant_row, bool luma);

// Both filters: a plain reference and SSE2, AVX2 and AVX-512 versions with identical results.
using EdgeFilterFn = void (*)(uint8_t* at, int width, int stride, const uint8_t* quant_row, bool luma);
struct DeblockKernels {
    CpuLevel level;
    Kernel<EdgeFilterFn> filter_vertical_edges;
    Kernel<EdgeFilterFn> filter_horizontal_edges;
};
// The table for a level (clamped to cpu_level()), for tests and benchmarks.
DeblockKernels deblock_kernels_for(CpuLevel level);
// The table the program uses, for cpu_level(); built once.
const DeblockKernels& deblock_kernels();

}  // namespace zorbrix::mpeg4
