// The row kernel table: the scalar reference, overridden level by level.
#include "gfx/blit_kernels.h"

namespace zorbrix {

RowKernels row_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<RowKernels>(
        level, {row_kernels_init_scalar, row_kernels_init_sse2, row_kernels_init_avx2, row_kernels_init_avx512});
}

namespace {
// Built during static initialisation so that no frame pays for it; a use from another static initialiser that runs
// earlier still gets the right table through the function-local static.
const RowKernels& built_at_start_up = row_kernels();
}  // namespace

const RowKernels& row_kernels() {
    static const RowKernels kernels = row_kernels_for(zorbrix::cpu_level());
    return kernels;
}

}  // namespace zorbrix
