// The tables of the shading and vertex transform kernels: the scalar reference, overridden by SSE2.
#include "engine3d/shade_kernels.h"
#include "engine3d/transform_kernels.h"

namespace zorbrix {

namespace {

void shade_scalar(ShadeKernels& k) { k.normals_and_colours.set(shade::normals_and_colours_scalar, CpuLevel::scalar); }
void transform_scalar(TransformKernels& k) { k.points.set(transform::points_scalar, CpuLevel::scalar); }

#if defined(__SSE2__)
void shade_sse2(ShadeKernels& k) { k.normals_and_colours.set(shade::normals_and_colours_sse2, CpuLevel::sse2); }
void transform_sse2(TransformKernels& k) { k.points.set(transform::points_sse2, CpuLevel::sse2); }
#else
constexpr zorbrix::KernelInit<ShadeKernels> shade_sse2 = nullptr;
constexpr zorbrix::KernelInit<TransformKernels> transform_sse2 = nullptr;
#endif

}  // namespace

ShadeKernels shade_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<ShadeKernels>(level, {shade_scalar, shade_sse2, nullptr, nullptr});
}

const ShadeKernels& shade_kernels() {
    static const ShadeKernels kernels = shade_kernels_for(zorbrix::cpu_level());
    return kernels;
}

TransformKernels transform_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<TransformKernels>(level, {transform_scalar, transform_sse2, nullptr, nullptr});
}

const TransformKernels& transform_kernels() {
    static const TransformKernels kernels = transform_kernels_for(zorbrix::cpu_level());
    return kernels;
}

namespace {
const ShadeKernels& shade_built_at_start_up = shade_kernels();
const TransformKernels& transform_built_at_start_up = transform_kernels();
}  // namespace

}  // namespace zorbrix
