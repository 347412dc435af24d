// The tables of the shading and vertex transform kernels (the scalar reference, overridden by SSE2), and the
// measured choice of the program's shading, transform and raster tables.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine3d/raster.h"
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

// A small pseudo-random sequence, the same in every run.
struct Sequence {
    uint32_t state = 0x2545F491u;
    uint32_t next() { return state = state * 1664525u + 1013904223u; }
    int below(int n) { return static_cast<int>((next() >> 8) % static_cast<uint32_t>(n)); }
};

// Geometry like the effects': 64 vertices of an object in front of the camera, and 8 triangles' corners.
struct GeometryInputs {
    std::vector<Vector3D> in = std::vector<Vector3D>(64), out = std::vector<Vector3D>(64);
    std::vector<Vector3D> corners = std::vector<Vector3D>(3 * 8);
    double matrix[16] = {0.8, -0.6, 0, 3, 0.6, 0.8, 0, -2, 0, 0, 1, 40, 0, 0, 0.025, 1};
    GeometryInputs() {
        Sequence s;
        for (auto& v : in) v = Vector3D(s.below(200) - 100.0, s.below(200) - 100.0, s.below(200) + 0.0, 1);
        for (auto& v : corners) v = Vector3D(s.below(800) - 400.0, s.below(800) - 400.0, s.below(800) + 0.0, 1);
    }
};

std::vector<KernelProbe<ShadeKernels>> shade_probes() {
    const auto in = std::make_shared<GeometryInputs>();
    using Fn = shade::NormalsAndColoursFn;
    return {zorbrix::kernel_probe<ShadeKernels>(
        "normals_and_colours", [](ShadeKernels& t) -> Kernel<Fn>& { return t.normals_and_colours; },
        [in](const Kernel<Fn>& k) {
            for (size_t i = 0; i + 6 <= in->corners.size(); i += 6) {
                const Vector3D* const a[2] = {&in->corners[i], &in->corners[i + 3]};
                const Vector3D* const b[2] = {&in->corners[i + 1], &in->corners[i + 4]};
                const Vector3D* const c[2] = {&in->corners[i + 2], &in->corners[i + 5]};
                Vector3D normals[2];
                uint32_t colours[2];
                k(a, b, c, 0xFAE0AF, normals, colours);
            }
        },
        4)};
}

std::vector<KernelProbe<TransformKernels>> transform_probes() {
    const auto in = std::make_shared<GeometryInputs>();
    using Fn = transform::PointsFn;
    return {zorbrix::kernel_probe<TransformKernels>(
        "points", [](TransformKernels& t) -> Kernel<Fn>& { return t.points; },
        [in](const Kernel<Fn>& k) { k(in->matrix, in->in.data(), in->out.data(), in->in.size()); })};
}

// The effects draw many small triangles and short lines: spans of 1 to 18 pixels at every alignment, triangles a
// few to some tens of pixels across, lines up to a hundred pixels long. Each unit of work takes the next few
// spans or triangles of a long sequence, so that no version profits from a branch predictor that has learnt a
// short one (the effects' lengths are not predictable either).
struct RasterInputs {
    static constexpr int kSpans = 4096, kSpansPerUnit = 32, kTriangles = 512, kTrianglesPerUnit = 8;
    std::vector<uint32_t> screen = std::vector<uint32_t>(SCREEN_W * SCREEN_H);
    std::vector<int> spans;      // start, count pairs
    std::vector<int> triangles;  // x0 y0 x1 y1 x2 y2, sorted by y
    std::vector<int> lines;      // x0 y0 x1 y1
    std::vector<raster::LineWalk> walks;
    int next_span = 0, next_triangle = 0;
    RasterInputs() {
        Sequence s;
        for (int i = 0; i < kSpans; ++i) {
            spans.push_back(s.below(SCREEN_H) * SCREEN_W + s.below(480));
            spans.push_back(1 + s.below(18));
        }
        for (int i = 0; i < kTriangles; ++i) {
            const int x = 40 + s.below(400), y = 40 + s.below(300);
            const int size = 4 + s.below(36);
            triangles.insert(triangles.end(),
                             {x, y, x + s.below(size), y + s.below(size / 2 + 1), x - s.below(size), y + size});
        }
        for (int i = 0; i < 8; ++i) {
            const int x = 60 + s.below(380), y = 60 + s.below(260);
            lines.insert(lines.end(), {x, y, x + s.below(100) - 50, y + s.below(100) - 50});
            const bool steep = i & 1;
            const int minor_length = steep ? SCREEN_W : SCREEN_H;
            walks.push_back({s.below(200), 1, s.below(minor_length - 100) * 65536 + 0x8000,
                             static_cast<int32_t>(s.below(65536)), 40, steep});
        }
    }
};

std::vector<KernelProbe<RasterKernels>> raster_probes() {
    const auto in = std::make_shared<RasterInputs>();
    std::vector<KernelProbe<RasterKernels>> probes;
    probes.push_back(zorbrix::kernel_probe<RasterKernels>(
        "fill_span", [](RasterKernels& t) -> Kernel<raster::FillSpanFn>& { return t.fill_span; },
        [in](const Kernel<raster::FillSpanFn>& k) {
            const int* span = &in->spans[size_t(in->next_span) * 2];
            for (int i = 0; i < RasterInputs::kSpansPerUnit; ++i) {
                k(in->screen.data() + span[2 * i], span[2 * i + 1], 0xFAE0AF);
            }
            in->next_span = (in->next_span + RasterInputs::kSpansPerUnit) % RasterInputs::kSpans;
        },
        RasterInputs::kSpansPerUnit));
    probes.push_back(zorbrix::kernel_probe<RasterKernels>(
        "line_add", [](RasterKernels& t) -> Kernel<raster::LineAddFn>& { return t.line_add; },
        [in](const Kernel<raster::LineAddFn>& k) {
            for (const auto& w : in->walks) k(in->screen.data(), SCREEN_W, w, 0x101010);
        },
        8));
    const auto triangles = [in](const Kernel<TriangleRowsFn>& k) {
        const int* v = &in->triangles[size_t(in->next_triangle) * 6];
        for (int i = 0; i < 6 * RasterInputs::kTrianglesPerUnit; i += 6) {
            k(v[i], v[i + 1], v[i + 2], v[i + 3], v[i + 4], v[i + 5], 0x5080C0, in->screen.data());
        }
        in->next_triangle = (in->next_triangle + RasterInputs::kTrianglesPerUnit) % RasterInputs::kTriangles;
    };
    probes.push_back(zorbrix::kernel_probe<RasterKernels>(
        "triangle_rows", [](RasterKernels& t) -> Kernel<TriangleRowsFn>& { return t.triangle_rows; }, triangles,
        RasterInputs::kTrianglesPerUnit));
    probes.push_back(zorbrix::kernel_probe<RasterKernels>(
        "fill_triangle", [](RasterKernels& t) -> Kernel<TriangleRowsFn>& { return t.fill_triangle; }, triangles,
        RasterInputs::kTrianglesPerUnit));
    probes.push_back(zorbrix::kernel_probe<RasterKernels>(
        "draw_line_add", [](RasterKernels& t) -> Kernel<DrawLineFn>& { return t.draw_line_add; },
        [in](const Kernel<DrawLineFn>& k) {
            const int* v = in->lines.data();
            for (size_t i = 0; i < in->lines.size(); i += 4) {
                k(in->screen.data(), v[i], v[i + 1], v[i + 2], v[i + 3], 0x101010);
            }
        },
        8));
    return probes;
}

}  // namespace

ShadeKernels shade_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<ShadeKernels>(level, {shade_scalar, shade_sse2, nullptr, nullptr});
}

const ShadeKernels& shade_kernels() {
    static const ShadeKernels kernels =
        zorbrix::choose_kernel_table<ShadeKernels>("shade", shade_kernels_for, shade_probes());
    return kernels;
}

TransformKernels transform_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<TransformKernels>(level, {transform_scalar, transform_sse2, nullptr, nullptr});
}

const TransformKernels& transform_kernels() {
    static const TransformKernels kernels =
        zorbrix::choose_kernel_table<TransformKernels>("transform", transform_kernels_for, transform_probes());
    return kernels;
}

RasterKernels raster_kernels_chosen() {
    return zorbrix::choose_kernel_table<RasterKernels>("raster", raster_kernels_for, raster_probes());
}

namespace {
const ShadeKernels& shade_built_at_start_up = shade_kernels();
const TransformKernels& transform_built_at_start_up = transform_kernels();
}  // namespace

}  // namespace zorbrix
