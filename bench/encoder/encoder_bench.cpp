// Encoder speed: the kernels (each level's table against the scalar reference), and whole-file encoding at 256x192 and
// 720x576 next to ffmpeg's MPEG-4 encoder, single-threaded, on the same YUV4MPEG2 file in the same run. Both encoders
// run as processes (our `nvdtool encode`, `ffmpeg -threads 1`), so start-up and file reading weigh the same on both.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tools/encoder/dsp.h"
#include "tools/encoder/encoder.h"
#include "tools/encoder/y4m.h"

namespace {

using namespace zorbrix::enc;

// The table of the level given as the first argument (0 scalar, 1 sse2, ...); a level this process may not run
// is reported as skipped.
DspFunctions pick(benchmark::State& state) {
    const auto level = static_cast<zorbrix::CpuLevel>(state.range(0));
    if (!zorbrix::cpu_allows(level))
        state.SkipWithError((std::string(zorbrix::cpu_level_name(level)) + " not available").c_str());
    return dsp_for(level);
}

void BM_Fdct(benchmark::State& state) {
    const DspFunctions d = pick(state);
    std::mt19937 rng(1);
    int16_t blocks[64][64];
    for (auto& b : blocks)
        for (auto& v : b) v = static_cast<int16_t>(static_cast<int>(rng() % 511) - 255);
    for (auto _ : state) {
        for (auto& b : blocks) {
            int16_t t[64];
            for (int i = 0; i < 64; ++i) t[i] = b[i];
            d.fdct(t);
            benchmark::DoNotOptimize(t);
        }
    }
    state.SetItemsProcessed(state.iterations() * 64);
    state.SetLabel(zorbrix::cpu_level_name(d.level));
}
BENCHMARK(BM_Fdct)->Arg(0)->Arg(1);

void BM_Sad16(benchmark::State& state) {
    const DspFunctions d = pick(state);
    std::vector<uint8_t> a(320 * 64), b(320 * 64);
    std::mt19937 rng(2);
    for (auto& v : a) v = static_cast<uint8_t>(rng());
    for (auto& v : b) v = static_cast<uint8_t>(rng());
    for (auto _ : state) {
        uint32_t sum = 0;
        for (int x = 0; x < 256; x += 3) sum += d.sad16(a.data() + x, 320, b.data() + 17 + x, 320);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 86);
    state.SetLabel(zorbrix::cpu_level_name(d.level));
}
BENCHMARK(BM_Sad16)->Arg(0)->Arg(1);

void BM_Quant(benchmark::State& state) {
    const DspFunctions d = pick(state);
    std::mt19937 rng(3);
    int16_t c[64][64], l[64];
    for (auto& b : c)
        for (auto& v : b) v = static_cast<int16_t>(static_cast<int>(rng() % 401) - 200);
    for (auto _ : state) {
        int n = 0;
        for (auto& b : c) n += d.quant(b, l, 5, 2);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(l);
    }
    state.SetItemsProcessed(state.iterations() * 64);
    state.SetLabel(zorbrix::cpu_level_name(d.level));
}
BENCHMARK(BM_Quant)->Arg(0)->Arg(1);

void BM_Dequant(benchmark::State& state) {
    const DspFunctions d = pick(state);
    std::mt19937 rng(4);
    int16_t l[64][64], out[64];
    for (auto& b : l)
        for (auto& v : b) v = static_cast<int16_t>(rng() % 4 == 0 ? static_cast<int>(rng() % 81) - 40 : 0);
    for (auto _ : state) {
        for (auto& b : l) {
            d.dequant(b, out, 5, 0);
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetItemsProcessed(state.iterations() * 64);
    state.SetLabel(zorbrix::cpu_level_name(d.level));
}
BENCHMARK(BM_Dequant)->Arg(0)->Arg(1);

void BM_NonzeroMask(benchmark::State& state) {
    const DspFunctions d = pick(state);
    std::mt19937 rng(5);
    int16_t l[64][64];
    for (auto& b : l)
        for (auto& v : b) v = static_cast<int16_t>(rng() % 4 == 0 ? static_cast<int>(rng() % 81) - 40 : 0);
    for (auto _ : state) {
        uint64_t m = 0;
        for (auto& b : l) m ^= d.nonzero_mask(b);
        benchmark::DoNotOptimize(m);
    }
    state.SetItemsProcessed(state.iterations() * 64);
    state.SetLabel(zorbrix::cpu_level_name(d.level));
}
BENCHMARK(BM_NonzeroMask)->Arg(0)->Arg(1);

// Source files: ffmpeg's moving test pattern, made once per size.
std::string source(int w, int h, int frames) {
    const std::string path =
        "bench_encoder_" + std::to_string(w) + "x" + std::to_string(h) + "_" + std::to_string(frames) + ".y4m";
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
        return path;
    }
    const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
                            std::to_string(h) + ":rate=25 -frames:v " + std::to_string(frames) + " -pix_fmt yuv420p " +
                            path;
    if (std::system(cmd.c_str()) != 0) return "";
    return path;
}

// Enough frames that ffmpeg's start-up (a few hundred milliseconds here) does not dominate its figure.
int frames_for(int w, int h) { return w * h <= 256 * 192 ? 500 : 100; }

void encode_process(benchmark::State& state, bool ours) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const int frames = frames_for(w, h);
    const std::string src = source(w, h, frames);
    if (src.empty()) {
        state.SkipWithError("ffmpeg could not make the source");
        return;
    }
    const std::string cmd = ours ? "./nvdtool encode " + src + " bench_encoder_out.nvd --qp 4 --keyint 12 2>/dev/null"
                                 : "ffmpeg -v error -y -threads 1 -i " + src +
                                       " -c:v mpeg4 -bf 0 -q:v 4 -threads 1 -f m4v bench_encoder_out.m4v";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("encoder failed");
            return;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_EncodeFileOurs(benchmark::State& state) { encode_process(state, true); }
void BM_EncodeFileFfmpeg(benchmark::State& state) { encode_process(state, false); }
BENCHMARK(BM_EncodeFileOurs)->Args({256, 192})->Args({720, 576})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeFileFfmpeg)->Args({256, 192})->Args({720, 576})->UseRealTime()->Unit(benchmark::kMillisecond);

// In-process encoding, without file reading and process start-up: the encoder alone.
void BM_EncodeInProcess(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const std::string src = source(w, h, frames_for(w, h));
    Y4mReader reader;
    std::string error;
    if (src.empty() || !reader.open(src, &error)) {
        state.SkipWithError("no source");
        return;
    }
    std::vector<YuvFrame> frames;
    YuvFrame f;
    while (reader.read_frame(&f, &error)) frames.push_back(f);
    EncoderOptions opt;
    opt.keyint = 12;
    opt.mv4 = state.range(2) != 0;
    for (auto _ : state) {
        VideoEncoder enc;
        enc.init(w, h, opt, &error);
        size_t bytes = 0;
        for (const auto& fr : frames) bytes += enc.encode(fr).size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames.size()) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeInProcess)
    ->Args({256, 192, 0})
    ->Args({256, 192, 1})
    ->Args({720, 576, 0})
    ->Args({720, 576, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
