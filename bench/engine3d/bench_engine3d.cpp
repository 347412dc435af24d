// One full frame of each effect next to a memset of the 512 x 384 screen (the floor any full-screen
// layer pays), the parts of a frame, and the rasterizer kernels in their scalar and SSE2 forms.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine3d/effects.h"
#include "engine3d/raster.h"
#include "engine3d/raster_kernels.h"

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

// Both frames again with narrower span fills, as on processors without AVX-512 or without AVX2.
template <SpanFill Spans, void (*Frame)(benchmark::State&)>
void BM_WithSpans(benchmark::State& state) {
    if (!fill_triangle_use_spans(Spans)) {
        state.SkipWithError("this processor lacks that span fill");
        return;
    }
    Frame(state);
    fill_triangle_use_spans(widest_span_fill());
}
BENCHMARK_TEMPLATE(BM_WithSpans, SpanFill::Avx2, BM_EffectAFrame)->Name("BM_EffectAFrame/avx2_spans");
BENCHMARK_TEMPLATE(BM_WithSpans, SpanFill::Avx2, BM_EffectBFrame)->Name("BM_EffectBFrame/avx2_spans");
BENCHMARK_TEMPLATE(BM_WithSpans, SpanFill::Sse2, BM_EffectAFrame)->Name("BM_EffectAFrame/sse2_spans");
BENCHMARK_TEMPLATE(BM_WithSpans, SpanFill::Sse2, BM_EffectBFrame)->Name("BM_EffectBFrame/sse2_spans");

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

// Kernels: 384 spans of 200 pixels (a large triangle's worth), and 512 lines of 100 pixels.
template <raster::FillSpanFn Fill>
void BM_FillSpans(benchmark::State& state) {
    auto& px = screen();
    for (auto _ : state) {
        for (int y = 0; y < SCREEN_H; ++y) Fill(px.data() + y * SCREEN_W + (y & 63), 200, 0xFAE0AF);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * SCREEN_H * 200);
}

template <raster::LineAddFn Add>
void BM_LineAdd(benchmark::State& state) {
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
        for (const auto& w : walks) Add(px.data(), SCREEN_W, w, 0x404040);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 512 * 100);
}

// The effects' spans: 1 to 18 pixels, at every alignment, with lengths in a sequence too long for the
// branch predictor to learn.
template <raster::FillSpanFn Fill>
void BM_ShortSpans(benchmark::State& state) {
    auto& px = screen();
    std::vector<std::pair<int, int>> spans;
    std::mt19937 rng(2);
    for (int i = 0; i < (1 << 18); ++i) spans.emplace_back(int(rng() % SCREEN_H) * SCREEN_W + int(rng() % 480), 1 + int(rng() % 18));
    for (auto _ : state) {
        for (const auto& [start, count] : spans) Fill(px.data() + start, count, 0xFAE0AF);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(spans.size()));
}

BENCHMARK_TEMPLATE(BM_FillSpans, raster::fill_span_scalar);
BENCHMARK_TEMPLATE(BM_ShortSpans, raster::fill_span_scalar);
BENCHMARK_TEMPLATE(BM_LineAdd, raster::line_add_scalar);
#if defined(__SSE2__)
BENCHMARK_TEMPLATE(BM_FillSpans, raster::fill_span_sse2);
BENCHMARK_TEMPLATE(BM_ShortSpans, raster::fill_span_sse2);
BENCHMARK_TEMPLATE(BM_LineAdd, raster::line_add_sse2);
#endif
#if defined(ZORBRIX_RASTER_WIDE)
// Registered only where the processor can run them.
const bool wide_registered = [] {
    if (raster::avx2_spans_supported()) {
        benchmark::RegisterBenchmark("BM_FillSpans<raster::fill_span_avx2>", BM_FillSpans<raster::fill_span_avx2>);
        benchmark::RegisterBenchmark("BM_ShortSpans<raster::fill_span_avx2>", BM_ShortSpans<raster::fill_span_avx2>);
    }
    if (raster::avx512_spans_supported()) {
        benchmark::RegisterBenchmark("BM_FillSpans<raster::fill_span_avx512>", BM_FillSpans<raster::fill_span_avx512>);
        benchmark::RegisterBenchmark("BM_ShortSpans<raster::fill_span_avx512>", BM_ShortSpans<raster::fill_span_avx512>);
    }
    return true;
}();
#endif

}  // namespace
