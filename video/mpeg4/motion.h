#pragma once
// Half-pel motion-compensated prediction and the edge padding of reference planes.
#include <cstdint>

#include "platform/cpu.h"

namespace zorbrix::mpeg4 {

// One prediction routine: writes an n x n block (n = 8 or 16) at dst from the reference at src; both planes use
// `stride`. Interpolating routines read n + 1 rows and/or columns.
using PredictBlockFn = void (*)(uint8_t* dst, const uint8_t* src, int stride);

// Routine index for a block: 8 x (size 16) + 4 x rounding + 2 x (vy odd) + (vx odd).
constexpr int predict_index(int size, int rounding, int vx, int vy) {
    return (size == 16 ? 8 : 0) + 4 * (rounding & 1) + 2 * (vy & 1) + (vx & 1);
}

// The 16 routines (copies at 0, 4, 8, 12), by predict_index; a plain reference and SSE2 versions with identical
// results.
struct PredictKernels {
    CpuLevel level;
    Kernel<PredictBlockFn> predict[16];
};
// The table for a level (clamped to cpu_level()), for tests and benchmarks.
PredictKernels predict_kernels_for(CpuLevel level);
// The table the program uses, for cpu_level(); built once.
const PredictKernels& predict_kernels();

// Predicts one block through the program's table.
void predict_block(int index, uint8_t* dst, const uint8_t* src, int stride);

// The prediction of a skipped macroblock: its 16x16 luma and two 8x8 chroma areas copied from the same place in
// the reference planes (a zero vector). Planes are addressed at their picture origins.
void copy_macroblock(uint8_t* y, uint8_t* u, uint8_t* v, const uint8_t* ref_y, const uint8_t* ref_u,
                     const uint8_t* ref_v, int luma_stride, int chroma_stride, int mb_x, int mb_y);

// Chroma vector component from one luma vector component (half-pel units).
constexpr int chroma_vector_one(int v) { return (v | ((v & 3) != 0 ? 2 : 0)) >> 1; }
// Chroma vector component from the sum of four luma block vector components.
int chroma_vector_four(int sum);

// Fills the margin of a plane by replicating its edge samples. `origin` is the picture's first sample, `stride`
// the row length in bytes, `rows` the row count including both margins, `margin` the margin width on every
// side; the picture is stride - 2 margin wide and rows - 2 margin high.
void pad_plane_edges(uint8_t* origin, int stride, int rows, int margin);

}  // namespace zorbrix::mpeg4
