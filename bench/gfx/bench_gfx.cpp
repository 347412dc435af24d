// Compositing speed on one 512 x 384 screen, every kernel set beside a memcpy of the same number of output bytes,
// measured in the same run. At the end a table gives each time as a multiple of the memcpy time and the speed-up of
// each vector set over the scalar reference (fastest repetition of each, to damp a noisy machine). The main figures
// are CPU time, because on a shared machine wall time also counts waiting for a core; wall-time ratios follow.
//
// Targets: the enlargement within 2.5x of memcpy, each blend within 3x.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gfx/blit_kernels.h"
#include "gfx/image.h"

using zorbrix::row_kernels;
using zorbrix::row_kernels_for;
using zorbrix::RowKernels;
using zorbrix::upscale_video_2x;

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 384;
constexpr size_t kScreenWords = static_cast<size_t>(kWidth) * kHeight;
constexpr int64_t kScreenBytes = static_cast<int64_t>(kScreenWords) * 4;

struct Buffers {
    std::vector<uint32_t> screen = std::vector<uint32_t>(kScreenWords);
    std::vector<uint32_t> other = std::vector<uint32_t>(kScreenWords);
    std::vector<uint32_t> overlay = std::vector<uint32_t>(kScreenWords);  // premultiplied 0xAARRGGBB
    std::vector<uint32_t> frame = std::vector<uint32_t>(kScreenWords / 4);
    Buffers() {
        std::mt19937 rng(42);
        for (auto& p : screen) p = rng() & 0x00FFFFFFu;
        for (auto& p : other) p = rng();
        for (auto& p : frame) p = rng() & 0x00FFFFFFu;
        // An overlay as the intro has them: transparent, opaque and soft-edged pixels, colours premultiplied.
        for (auto& p : overlay) {
            const uint32_t pick = rng() % 3;
            const uint32_t a = pick == 0 ? 0 : pick == 1 ? 255 : rng() & 0xFF;
            uint32_t v = a << 24;
            for (int k = 0; k < 3; ++k) v |= ((rng() & 0xFF) * a / 255) << (8 * k);
            p = v;
        }
    }
};

Buffers& buffers() {
    static Buffers b;
    return b;
}

void bench_memcpy(benchmark::State& state) {
    Buffers& b = buffers();
    for (auto _ : state) {
        std::memcpy(b.screen.data(), b.other.data(), kScreenBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}

void bench_upscale(benchmark::State& state, const RowKernels* k) {
    Buffers& b = buffers();
    for (auto _ : state) {
        // upscale_video_2x with the given kernel set: 191 row pairs from screen row 2, column 1.
        uint32_t* d = b.screen.data() + 2 * kWidth + 1;
        const uint32_t* s = b.frame.data();
        for (int p = 0; p < kHeight / 2 - 1; ++p) {
            k->upscale_row_pair(d, s, kWidth);
            d += 2 * kWidth;
            s += kWidth / 2;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}

void bench_upscale_video_2x(benchmark::State& state) {
    Buffers& b = buffers();
    for (auto _ : state) {
        upscale_video_2x(b.screen.data(), b.frame.data(), kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}

void bench_blend(benchmark::State& state, const RowKernels* k) {
    Buffers& b = buffers();
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            k->blend_row(b.screen.data() + y * kWidth, b.overlay.data() + y * kWidth, kWidth);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}

void bench_blend_faded(benchmark::State& state, const RowKernels* k) {
    Buffers& b = buffers();
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            k->blend_row_faded(b.screen.data() + y * kWidth, b.overlay.data() + y * kWidth, kWidth, 153);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}

void bench_copy(benchmark::State& state, const RowKernels* k) {
    Buffers& b = buffers();
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            k->copy_row(b.screen.data() + y * kWidth, b.other.data() + y * kWidth, kWidth);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}

// Prints as usual and keeps the fastest repetition of every benchmark for the table at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const std::string name = r.run_name.function_name;
            for (auto [table, t] :
                 {std::pair{&best_, r.GetAdjustedCPUTime()}, {&best_wall_, r.GetAdjustedRealTime()}}) {
                auto it = table->find(name);
                if (it == table->end() || t < it->second) (*table)[name] = t;
            }
        }
    }

    void print_table(const std::vector<std::string>& sets) const {
        const auto find = [](const std::map<std::string, double>& table, const std::string& n) {
            auto it = table.find(n);
            return it == table.end() ? 0.0 : it->second;
        };
        const double mc = find(best_, "memcpy_screen");
        const double mc_wall = find(best_wall_, "memcpy_screen");
        if (mc <= 0 || mc_wall <= 0) return;
        std::printf("\nRatios (fastest repetition each; memcpy of %lld bytes = 1.00x):\n",
                    static_cast<long long>(kScreenBytes));
        std::printf("%-18s %-8s %10s %12s %12s\n", "kernel", "set", "x memcpy", "vs scalar", "wall x mc");
        for (const char* kernel : {"upscale_video_2x", "blend_row", "blend_row_faded", "copy_row"}) {
            const double scalar = find(best_, std::string(kernel) + "/scalar");
            for (const std::string& set : sets) {
                const std::string name = std::string(kernel) + "/" + set;
                const double t = find(best_, name);
                if (t <= 0) continue;
                std::printf("%-18s %-8s %9.2fx %11.2fx %11.2fx\n", kernel, set.c_str(), t / mc,
                            scalar > 0 ? scalar / t : 0.0, find(best_wall_, name) / mc_wall);
            }
        }
        const double program = find(best_, "upscale_video_2x/program");
        if (program > 0) {
            std::printf("%-18s %-8s %9.2fx %11s %11.2fx\n", "upscale_video_2x", "program", program / mc, "",
                        find(best_wall_, "upscale_video_2x/program") / mc_wall);
        }
    }

private:
    std::map<std::string, double> best_;       // CPU time
    std::map<std::string, double> best_wall_;  // wall time
};

}  // namespace

int main(int argc, char** argv) {
    // Every level this process may run, each through its own table.
    static std::vector<RowKernels> tables;
    for (const zorbrix::CpuLevel level : zorbrix::CPU_LEVELS) {
        if (zorbrix::cpu_allows(level)) tables.push_back(row_kernels_for(level));
    }
    std::vector<const RowKernels*> sets;
    std::vector<std::string> set_names;
    for (const RowKernels& k : tables) {
        sets.push_back(&k);
        set_names.push_back(zorbrix::cpu_level_name(k.level));
    }
    // The program's table, each entry the version measured fastest at start-up.
    sets.push_back(&row_kernels());
    set_names.push_back("chosen");

    const int repetitions = 3;
    const auto tune = [&](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMicrosecond)->MinTime(0.1)->Repetitions(repetitions)->ReportAggregatesOnly(false);
    };
    // memcpy first, between the kernels and last, so the ratios do not all rest on one moment of a noisy machine.
    tune(benchmark::RegisterBenchmark("memcpy_screen", bench_memcpy));
    for (const RowKernels* k : sets) {
        const std::string n = k == &row_kernels() ? "chosen" : zorbrix::cpu_level_name(k->level);
        tune(benchmark::RegisterBenchmark(("upscale_video_2x/" + n).c_str(), bench_upscale, k));
        tune(benchmark::RegisterBenchmark(("blend_row/" + n).c_str(), bench_blend, k));
        tune(benchmark::RegisterBenchmark(("blend_row_faded/" + n).c_str(), bench_blend_faded, k));
        tune(benchmark::RegisterBenchmark(("copy_row/" + n).c_str(), bench_copy, k));
        tune(benchmark::RegisterBenchmark("memcpy_screen", bench_memcpy));
    }
    tune(benchmark::RegisterBenchmark("upscale_video_2x/program", bench_upscale_video_2x));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_table(set_names);
    benchmark::Shutdown();
    return 0;
}
