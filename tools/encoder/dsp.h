#pragma once
// The encoder's hot kernels. Each has a plain scalar reference that reads like its formula and an SSE2 version
// that produces identical results, in the `DspFunctions` table; `dsp()` is the program's table.
#include <cstdint>

#include "platform/cpu.h"

namespace zorbrix::enc {

// Forward 8x8 DCT of 64 samples in raster order, in place. Orthonormal scaling (the DC is 8 x the mean), computed in
// fixed point: a vertical pass with 14-bit weights rounded to 3 fractional bits, then a horizontal pass rounded to
// integers.
using FdctFn = void (*)(int16_t block[64]);

// Sum of absolute differences of a 16x16 (or 8x8) area of two planes. A stride of 0 repeats one row.
using SadFn = uint32_t (*)(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride);

// Quantises 64 coefficients with step 2 x qp: level = sign(c) x (max(|c| - bias, 0) / (2 qp)), truncated, limited
// to 2047. Returns the number of non-zero levels. bias is 0 for intra blocks and qp / 2 (the dead zone) for inter.
using QuantFn = int (*)(const int16_t coef[64], int16_t level[64], int qp, int bias);

// Difference of a source and a prediction 8x8 area, as 16-bit samples.
using DiffFn = void (*)(const uint8_t* src, int src_stride, const uint8_t* pred, int pred_stride, int16_t out[64]);

// The decoder's H.263 inverse quantisation (mpeg4::dequant) of a block's levels from position `from` (0 or 1) on,
// a 0 level giving 0; out[0] is left as it is when from is 1. Levels within -2047..2047.
using DequantFn = void (*)(const int16_t level[64], int16_t out[64], int qp, int from);

// The positions of the non-zero levels of a block: bit i set when level[i] is not 0.
using NonzeroMaskFn = uint64_t (*)(const int16_t level[64]);

struct DspFunctions {
    CpuLevel level;
    Kernel<FdctFn> fdct;
    Kernel<SadFn> sad16;
    Kernel<SadFn> sad8;
    Kernel<QuantFn> quant;
    Kernel<DiffFn> diff8;
    Kernel<DequantFn> dequant;
    Kernel<NonzeroMaskFn> nonzero_mask;
};

// The table for a level (clamped to cpu_level()), for tests and benchmarks.
DspFunctions dsp_for(CpuLevel level);
// The table the encoder uses, for cpu_level(); built once.
const DspFunctions& dsp();

}  // namespace zorbrix::enc
