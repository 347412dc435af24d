#pragma once
// out[i] = M·in[i] for a 4 x 4 matrix of row-major elements e, each component summed as
// ((m3·w + m2·z) + m1·y) + m0·x, the order the engine's Transform fixes. A plain scalar reference and an
// SSE2 version that computes two components at once from matrix columns held in registers: the same
// products and sums in the same order, so the same bits. `TransformKernels` holds them per level.

#include <cstddef>

#include "engine3d/vector3d.h"
#include "platform/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorbrix {

namespace transform {

inline void points_scalar(const double* e, const Vector3D* in, Vector3D* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Vector3D v = in[i];
        out[i] = Vector3D(((e[3] * v.w + e[2] * v.z) + e[1] * v.y) + e[0] * v.x,
                          ((e[7] * v.w + e[6] * v.z) + e[5] * v.y) + e[4] * v.x,
                          ((e[11] * v.w + e[10] * v.z) + e[9] * v.y) + e[8] * v.x,
                          ((e[15] * v.w + e[14] * v.z) + e[13] * v.y) + e[12] * v.x);
    }
}

#if defined(__SSE2__)

// The stores below write x, y and z, w as pairs.
static_assert(sizeof(Vector3D) == 4 * sizeof(double) && offsetof(Vector3D, y) == sizeof(double) &&
              offsetof(Vector3D, w) == 3 * sizeof(double));

inline void points_sse2(const double* e, const Vector3D* in, Vector3D* out, size_t count) {
    // Column c of rows 0-1 and of rows 2-3.
    const auto column = [e](int row, int c) { return _mm_set_pd(e[4 * row + 4 + c], e[4 * row + c]); };
    const __m128d xy0 = column(0, 0), xy1 = column(0, 1), xy2 = column(0, 2), xy3 = column(0, 3);
    const __m128d zw0 = column(2, 0), zw1 = column(2, 1), zw2 = column(2, 2), zw3 = column(2, 3);
    for (size_t i = 0; i < count; ++i) {
        const Vector3D& v = in[i];
        const __m128d x = _mm_set1_pd(v.x), y = _mm_set1_pd(v.y), z = _mm_set1_pd(v.z), w = _mm_set1_pd(v.w);
        const __m128d xy = _mm_add_pd(
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(xy3, w), _mm_mul_pd(xy2, z)), _mm_mul_pd(xy1, y)), _mm_mul_pd(xy0, x));
        const __m128d zw = _mm_add_pd(
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(zw3, w), _mm_mul_pd(zw2, z)), _mm_mul_pd(zw1, y)), _mm_mul_pd(zw0, x));
        _mm_storeu_pd(&out[i].x, xy);
        _mm_storeu_pd(&out[i].z, zw);
    }
}

#endif

using PointsFn = void (*)(const double* e, const Vector3D* in, Vector3D* out, size_t count);

}  // namespace transform

struct TransformKernels {
    zorbrix::CpuLevel level;
    zorbrix::Kernel<transform::PointsFn> points;
};
// The table for a level (clamped to zorbrix::cpu_level()), for tests and benchmarks.
TransformKernels transform_kernels_for(zorbrix::CpuLevel level);
// The table the engine uses, for zorbrix::cpu_level(); built once.
const TransformKernels& transform_kernels();

}  // namespace zorbrix
