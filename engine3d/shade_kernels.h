#pragma once
// A drawn triangle's unit normal and flat colour, as a plain scalar reference and an SSE2 version that
// works on two triangles at once and gives identical bits (the same operations in the same order; square
// root and division are exactly rounded in both). Each triangle costs two square roots, a division and
// another square root in one dependent chain, so two chains side by side nearly halve the wait. `ShadeKernels`
// holds them per level.

#include <cmath>
#include <cstdint>

#include "engine3d/vector3d.h"
#include "platform/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorbrix {

namespace shade {

// (a - b) × (a - c), normalised, w = 1. A degenerate triangle gives non-finite components.
inline Vector3D normal_scalar(const Vector3D& a, const Vector3D& b, const Vector3D& c) {
    return (a - b).Cross(a - c).Normalized();
}

// Each channel of fill times sqrt(1 - sqrt(ny² + nx²)), truncated, with nx first rounded to a float; 0
// when the inner root reaches 1 or more, or is not a number.
inline uint32_t colour_scalar(uint32_t fill, const Vector3D& normal) {
    const double nx = static_cast<float>(normal.x);
    const double ny = normal.y;
    const double edge = 1.0 - std::sqrt(ny * ny + nx * nx);
    const double intensity = edge > 0.0 ? std::sqrt(edge) : 0.0;
    const uint32_t r = static_cast<uint32_t>(((fill >> 16) & 0xFF) * intensity);
    const uint32_t g = static_cast<uint32_t>(((fill >> 8) & 0xFF) * intensity);
    const uint32_t b = static_cast<uint32_t>((fill & 0xFF) * intensity);
    return (r << 8 | g) << 8 | b;
}

// Normals and colours of two triangles: triangle k has corners a[k], b[k], c[k].
inline void normals_and_colours_scalar(const Vector3D* const a[2], const Vector3D* const b[2],
                                       const Vector3D* const c[2], uint32_t fill, Vector3D normal[2],
                                       uint32_t colour[2]) {
    for (int k = 0; k < 2; ++k) {
        normal[k] = normal_scalar(*a[k], *b[k], *c[k]);
        colour[k] = colour_scalar(fill, normal[k]);
    }
}

#if defined(__SSE2__)

inline void normals_and_colours_sse2(const Vector3D* const a[2], const Vector3D* const b[2], const Vector3D* const c[2],
                                     uint32_t fill, Vector3D normal[2], uint32_t colour[2]) {
    // Lane k holds triangle k.
    const auto both = [](double lane0, double lane1) { return _mm_set_pd(lane1, lane0); };
    const __m128d ax = both(a[0]->x, a[1]->x), ay = both(a[0]->y, a[1]->y), az = both(a[0]->z, a[1]->z);
    const __m128d ux = _mm_sub_pd(ax, both(b[0]->x, b[1]->x));
    const __m128d uy = _mm_sub_pd(ay, both(b[0]->y, b[1]->y));
    const __m128d uz = _mm_sub_pd(az, both(b[0]->z, b[1]->z));
    const __m128d vx = _mm_sub_pd(ax, both(c[0]->x, c[1]->x));
    const __m128d vy = _mm_sub_pd(ay, both(c[0]->y, c[1]->y));
    const __m128d vz = _mm_sub_pd(az, both(c[0]->z, c[1]->z));
    const __m128d cx = _mm_sub_pd(_mm_mul_pd(uy, vz), _mm_mul_pd(uz, vy));
    const __m128d cy = _mm_sub_pd(_mm_mul_pd(uz, vx), _mm_mul_pd(ux, vz));
    const __m128d cz = _mm_sub_pd(_mm_mul_pd(ux, vy), _mm_mul_pd(uy, vx));
    const __m128d length =
        _mm_sqrt_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(cx, cx), _mm_mul_pd(cy, cy)), _mm_mul_pd(cz, cz)));
    const __m128d r = _mm_div_pd(_mm_set1_pd(1.0), length);
    const __m128d nx = _mm_mul_pd(cx, r), ny = _mm_mul_pd(cy, r), nz = _mm_mul_pd(cz, r);
    for (int k = 0; k < 2; ++k) {
        const auto lane = [k](__m128d v) { return _mm_cvtsd_f64(k == 0 ? v : _mm_unpackhi_pd(v, v)); };
        normal[k] = Vector3D(lane(nx), lane(ny), lane(nz), 1.0);
    }

    // max(edge, 0) is edge when positive and 0 otherwise, NaN included (the second operand wins).
    const __m128d nx_float = _mm_cvtps_pd(_mm_cvtpd_ps(nx));
    const __m128d edge =
        _mm_sub_pd(_mm_set1_pd(1.0), _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(ny, ny), _mm_mul_pd(nx_float, nx_float))));
    const __m128d intensity = _mm_sqrt_pd(_mm_max_pd(edge, _mm_setzero_pd()));
    const auto channel = [&](int shift) {
        return _mm_cvttpd_epi32(_mm_mul_pd(_mm_set1_pd(double((fill >> shift) & 0xFF)), intensity));
    };
    const __m128i rgb =
        _mm_or_si128(_mm_or_si128(_mm_slli_epi32(channel(16), 16), _mm_slli_epi32(channel(8), 8)), channel(0));
    colour[0] = static_cast<uint32_t>(_mm_cvtsi128_si32(rgb));
    colour[1] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(rgb, 4)));
}

#endif

using NormalsAndColoursFn = void (*)(const Vector3D* const a[2], const Vector3D* const b[2], const Vector3D* const c[2],
                                     uint32_t fill, Vector3D normal[2], uint32_t colour[2]);

}  // namespace shade

struct ShadeKernels {
    zorbrix::CpuLevel level;
    zorbrix::Kernel<shade::NormalsAndColoursFn> normals_and_colours;
};
// The table for a level (clamped to zorbrix::cpu_level()), for tests and benchmarks.
ShadeKernels shade_kernels_for(zorbrix::CpuLevel level);
// The table the engine uses, for zorbrix::cpu_level(); built once.
const ShadeKernels& shade_kernels();

}  // namespace zorbrix
