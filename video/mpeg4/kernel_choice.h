#pragma once
// The decoding core's program tables, each entry the version measured fastest on this processor (up to
// cpu_level()), on inputs shaped like a decoded picture's: sparse coefficient blocks, half-pel predictions from a
// reference plane, block edges with steps and flat areas.
#include "video/mpeg4/idct.h"
#include "video/mpeg4/motion.h"
#include "video/mpeg4/postprocess.h"

namespace zorbrix::mpeg4 {

IdctKernels idct_kernels_chosen();
PredictKernels predict_kernels_chosen();
DeblockKernels deblock_kernels_chosen();

}  // namespace zorbrix::mpeg4
