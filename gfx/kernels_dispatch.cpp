// Picks the kernel set once: the widest one the CPU runs.
#include "gfx/blit_kernels.h"

namespace {

const RowKernels& choose() {
    if (const RowKernels* k = avx512_row_kernels()) {
        return *k;
    }
    if (const RowKernels* k = avx2_row_kernels()) {
        return *k;
    }
    if (const RowKernels* k = sse2_row_kernels()) {
        return *k;
    }
    return scalar_row_kernels();
}

// Chosen during static initialisation so that no frame pays for the choice; a use from another static initialiser
// that runs earlier still gets the right set through the function-local static.
const RowKernels& chosen_at_start_up = active_row_kernels();

}  // namespace

const RowKernels& active_row_kernels() {
    static const RowKernels& kernels = choose();
    return kernels;
}
