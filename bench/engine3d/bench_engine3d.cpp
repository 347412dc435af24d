// One full frame of each effect next to a memset of the 512 x 384 screen (the floor any full-screen
// layer pays), the same frames with the rasterizer of each lower level, the parts of a frame, and every
// engine kernel at every level this process runs, through the kernel tables.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine3d/effects.h"
#include "engine3d/matrix.h"
#include "engine3d/object3d.h"
#include "engine3d/raster.h"
#include "engine3d/raster_kernels.h"
#include "engine3d/shade_kernels.h"
#include "engine3d/transform_kernels.h"

using zorbrix::camera_matrix;
using zorbrix::CMatrix;
using zorbrix::effect_a_geometry;
using zorbrix::effect_a_init;
using zorbrix::effect_a_render;
using zorbrix::effect_b_geometry;
using zorbrix::effect_b_init;
using zorbrix::effect_b_render;
using zorbrix::raster_kernels_for;
using zorbrix::raster_use_level;
using zorbrix::RasterKernels;
using zorbrix::SCREEN_H;
using zorbrix::SCREEN_W;
using zorbrix::shade_kernels_for;
using zorbrix::ShadeKernels;
using zorbrix::transform_kernels_for;
using zorbrix::TransformKernels;
namespace raster = zorbrix::raster;
using zorbrix::Vector3D;

namespace {

std::vector<uint32_t>& screen() {
    static std::vector<uint32_t> px(SCREEN_W * SCREEN_H, 0x00102030);
    return px;
}

void BM_MemsetScreen(benchmark::State& state) {
    auto& px = screen();
    int value = 0;
    for (auto _ : state) {
        std::memset(px.data(), value++ & 0xFF, px.size() * sizeof(uint32_t));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(px.size() * sizeof(uint32_t)));
}
BENCHMARK(BM_MemsetScreen);

// Phases step through a range so sorting and coverage are not one lucky frame.
void BM_EffectAFrame(benchmark::State& state) {
    effect_a_init();
    auto& px = screen();
    float t = 0.0f;
    for (auto _ : state) {
        effect_a_render(px.data(), 0, t, Vector3D(0, 0, 0, 1));
        benchmark::ClobberMemory();
        t = t < 20.0f ? t + 0.37f : 0.0f;
    }
}
BENCHMARK(BM_EffectAFrame);

void BM_EffectBFrame(benchmark::State& state) {
    effect_b_init();
    auto& px = screen();
    float t = 0.0f;
    for (auto _ : state) {
        effect_b_render(px.data(), t, 2, 1.5f, Vector3D(0, 0, 0, 1));
        benchmark::ClobberMemory();
        t = t < 20.0f ? t + 0.37f : 0.0f;
    }
}
BENCHMARK(BM_EffectBFrame);

// Both frames again with the rasterizer's tables of lower levels, as on processors without AVX-512 or
// without AVX2 (the geometry keeps the program's level).
template <zorbrix::CpuLevel Level, void (*Frame)(benchmark::State&)>
void BM_WithRaster(benchmark::State& state) {
    if (!zorbrix::cpu_allows(Level)) {
        state.SkipWithError((std::string(zorbrix::cpu_level_name(Level)) + " not available").c_str());
        return;
    }
    raster_use_level(Level);
    Frame(state);
    raster_use_level(zorbrix::cpu_level());
}
BENCHMARK_TEMPLATE(BM_WithRaster, zorbrix::CpuLevel::avx2, BM_EffectAFrame)->Name("BM_EffectAFrame/avx2_raster");
BENCHMARK_TEMPLATE(BM_WithRaster, zorbrix::CpuLevel::avx2, BM_EffectBFrame)->Name("BM_EffectBFrame/avx2_raster");
BENCHMARK_TEMPLATE(BM_WithRaster, zorbrix::CpuLevel::sse2, BM_EffectAFrame)->Name("BM_EffectAFrame/sse2_raster");
BENCHMARK_TEMPLATE(BM_WithRaster, zorbrix::CpuLevel::sse2, BM_EffectBFrame)->Name("BM_EffectBFrame/sse2_raster");
BENCHMARK_TEMPLATE(BM_WithRaster, zorbrix::CpuLevel::scalar, BM_EffectAFrame)->Name("BM_EffectAFrame/scalar_raster");
BENCHMARK_TEMPLATE(BM_WithRaster, zorbrix::CpuLevel::scalar, BM_EffectBFrame)->Name("BM_EffectBFrame/scalar_raster");

// Parts of a frame: the mesh rebuild alone.
void BM_EffectAGeometry(benchmark::State& state) {
    effect_a_init();
    float t = 0.0f;
    for (auto _ : state) {
        effect_a_geometry(t);
        t = t < 20.0f ? t + 0.37f : 0.0f;
    }
}
BENCHMARK(BM_EffectAGeometry);

void BM_EffectBGeometry(benchmark::State& state) {
    effect_b_init();
    double t = 0.0;
    for (auto _ : state) {
        effect_b_geometry(t, 2);
        t = t < 20.0 ? t + 0.37 : 0.0;
    }
}
BENCHMARK(BM_EffectBGeometry);

// Kernels, each level through its table (one call per span or line, as the general triangle path and the
// line drawing make them; the on-screen triangle rows inline their span fill instead, see the frames above).
// 384 spans of 200 pixels (a large triangle's worth), and 512 lines of 100 pixels.
void BM_FillSpans(benchmark::State& state, RasterKernels k) {
    auto& px = screen();
    for (auto _ : state) {
        for (int y = 0; y < SCREEN_H; ++y) k.fill_span(px.data() + y * SCREEN_W + (y & 63), 200, 0xFAE0AF);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * SCREEN_H * 200);
}

void BM_LineAdd(benchmark::State& state, RasterKernels k) {
    auto& px = screen();
    std::vector<raster::LineWalk> walks;
    std::mt19937 rng(1);
    for (int i = 0; i < 512; ++i) {
        const bool steep = i & 1;
        const int minor_len = steep ? SCREEN_W : SCREEN_H;
        const int m0 = int(rng() % (minor_len - 100));
        walks.push_back({int(rng() % 200), 1, m0 * 65536 + 0x8000, int32_t(rng() % 65536), 100, steep});
    }
    for (auto _ : state) {
        for (const auto& w : walks) k.line_add(px.data(), SCREEN_W, w, 0x404040);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 512 * 100);
}

// The effects' spans: 1 to 18 pixels, at every alignment, with lengths in a sequence too long for the
// branch predictor to learn.
void BM_ShortSpans(benchmark::State& state, RasterKernels k) {
    auto& px = screen();
    std::vector<std::pair<int, int>> spans;
    std::mt19937 rng(2);
    for (int i = 0; i < (1 << 18); ++i)
        spans.emplace_back(int(rng() % SCREEN_H) * SCREEN_W + int(rng() % 480), 1 + int(rng() % 18));
    for (auto _ : state) {
        for (const auto& [start, count] : spans) k.fill_span(px.data() + start, count, 0xFAE0AF);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(spans.size()));
}

// The vertex transform and the shading of triangle pairs, per level.
void BM_TransformPoints(benchmark::State& state, TransformKernels k) {
    std::vector<Vector3D> in(1024), out(1024);
    std::mt19937 rng(3);
    for (auto& v : in) v = Vector3D(double(rng() % 200) - 100, double(rng() % 200) - 100, double(rng() % 200), 1);
    const CMatrix m = camera_matrix(Vector3D(3, -2, 40, 1));
    for (auto _ : state) {
        k.points(m.Data(), in.data(), out.data(), in.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void BM_ShadePairs(benchmark::State& state, ShadeKernels k) {
    std::vector<Vector3D> corners(3 * 512);
    std::mt19937 rng(4);
    for (auto& v : corners) v = Vector3D(double(rng() % 800) - 400, double(rng() % 800) - 400, double(rng() % 800), 1);
    for (auto _ : state) {
        for (size_t i = 0; i + 6 <= corners.size(); i += 6) {
            const Vector3D* a[2] = {&corners[i], &corners[i + 3]};
            const Vector3D* b[2] = {&corners[i + 1], &corners[i + 4]};
            const Vector3D* c[2] = {&corners[i + 2], &corners[i + 5]};
            Vector3D normals[2];
            uint32_t colours[2];
            k.normals_and_colours(a, b, c, 0xFAE0AF, normals, colours);
            benchmark::DoNotOptimize(colours);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(corners.size() / 3));
}

// Every level this process may run, named after the entry's own level (a level without its own version
// repeats the one below it, and is left out).
const bool kernels_registered = [] {
    for (const zorbrix::CpuLevel level : zorbrix::CPU_LEVELS) {
        if (!zorbrix::cpu_allows(level)) continue;
        const std::string name = zorbrix::cpu_level_name(level);
        const RasterKernels r = raster_kernels_for(level);
        if (r.fill_span.level == level) {
            benchmark::RegisterBenchmark(("BM_FillSpans/" + name).c_str(), BM_FillSpans, r);
            benchmark::RegisterBenchmark(("BM_ShortSpans/" + name).c_str(), BM_ShortSpans, r);
        }
        if (r.line_add.level == level) benchmark::RegisterBenchmark(("BM_LineAdd/" + name).c_str(), BM_LineAdd, r);
        const TransformKernels t = transform_kernels_for(level);
        if (t.points.level == level)
            benchmark::RegisterBenchmark(("BM_TransformPoints/" + name).c_str(), BM_TransformPoints, t);
        const ShadeKernels sh = shade_kernels_for(level);
        if (sh.normals_and_colours.level == level)
            benchmark::RegisterBenchmark(("BM_ShadePairs/" + name).c_str(), BM_ShadePairs, sh);
    }
    return true;
}();

}  // namespace
