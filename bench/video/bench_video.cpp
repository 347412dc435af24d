// Video decoding speed: frames per second for a 256x192 and a 720x576 stream, post-processing off and at level
// 100, side by side with ffmpeg (-threads 1 -benchmark, decoding the same stream to nothing) in the same run;
// and every hot kernel, SIMD against its scalar reference (the colour converter also against memcpy).
// The streams are made once with ffmpeg's MPEG-4 encoder into build/bench-data/.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/idct.h"
#include "video/mpeg4/motion.h"
#include "video/mpeg4/postprocess.h"

using namespace zorbrix;

namespace {

struct Stream {
    std::string m4v;
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> chunks;  // one VOP each (headers with the first), 4 spare bytes each
};

std::string data_dir() {
    const std::string dir = "../bench-data";
    std::filesystem::create_directories(dir);
    return dir;
}

std::vector<uint8_t> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Splits an elementary stream into VOP chunks, keeping the VO/VOL headers with the first VOP and dropping the
// visual object sequence, visual object and user data headers (as nvdtool import does).
std::vector<std::vector<uint8_t>> split_vops(const std::vector<uint8_t>& d) {
    std::vector<size_t> codes;
    for (size_t i = 0; i + 3 < d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) codes.push_back(i);
    std::vector<std::vector<uint8_t>> out;
    std::vector<uint8_t> pending;
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t b = codes[k], e = k + 1 < codes.size() ? codes[k + 1] : d.size();
        const uint8_t c = d[b + 3];
        if (c <= 0x2F)
            pending.insert(pending.end(), d.begin() + static_cast<long>(b), d.begin() + static_cast<long>(e));
        if (c == 0xB6) {
            pending.insert(pending.end(), d.begin() + static_cast<long>(b), d.begin() + static_cast<long>(e));
            pending.resize(pending.size() + 4, 0);
            out.push_back(std::move(pending));
            pending.clear();
        }
    }
    return out;
}

const Stream& stream(int which) {
    static std::map<int, Stream> cache;
    auto it = cache.find(which);
    if (it != cache.end()) return it->second;
    Stream s;
    const bool big = which == 1;
    s.width = big ? 720 : 256;
    s.height = big ? 576 : 192;
    const int frames = big ? 60 : 300;
    s.m4v = data_dir() + (big ? "/bench_720x576.m4v" : "/bench_256x192.m4v");
    if (!std::filesystem::exists(s.m4v)) {
        const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i \"testsrc2=size=" + std::to_string(s.width) +
                                "x" + std::to_string(s.height) + ":rate=25" + (big ? ",scroll=h=0.01:v=0.005" : "") +
                                "\" -frames:v " + std::to_string(frames) +
                                " -c:v mpeg4 -threads 1 -bf 0 -g 50 -flags +bitexact -qscale:v 4 -f m4v " + s.m4v;
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "bench_video: ffmpeg could not make %s\n", s.m4v.c_str());
    }
    s.chunks = split_vops(read_all(s.m4v));
    return cache[which] = std::move(s);
}

// Decodes the whole stream per iteration through the decoder interface, without delivering a picture (render 0),
// into 32-bit pixels as the intro does (render 1, format 2) or into planar pictures (render 2, format 1: ffmpeg's
// own output layout).
void BM_Decode(benchmark::State& state) {
    const Stream& s = stream(static_cast<int>(state.range(0)));
    const int level = static_cast<int>(state.range(1));
    const int render = static_cast<int>(state.range(2));
    if (s.chunks.empty()) {
        state.SkipWithError("no stream (is ffmpeg installed?)");
        return;
    }
    std::vector<uint32_t> frame(static_cast<size_t>(s.width) * s.height);
    int handle = 0;
    for (auto _ : state) {
        InitParams init{s.width, s.height, 0, render == 2 ? FMT_YV12 : FMT_RGB32};
        decoder_call(&handle, OPT_INIT, &init, nullptr);
        PostProcParams pp{level};
        decoder_call(&handle, OPT_POSTPROC, &pp, nullptr);
        for (const auto& c : s.chunks) {
            FrameParams fp{frame.data(), c.data(), static_cast<int32_t>(c.size() - 4), render};
            decoder_call(&handle, OPT_DECODE, &fp, nullptr);
        }
        decoder_call(&handle, OPT_RELEASE, nullptr, nullptr);
        benchmark::ClobberMemory();
    }
    const double fps = static_cast<double>(s.chunks.size()) * static_cast<double>(state.iterations());
    state.counters["fps"] = benchmark::Counter(fps, benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(s.width) + "x" + std::to_string(s.height) +
                   (render == 2 ? " yv12"
                    : render    ? " rgb32"
                                : " no output") +
                   " postproc " + std::to_string(level));
}

// ffmpeg decoding the same stream to nothing; the iteration time is its user CPU time as -benchmark reports it.
void BM_Ffmpeg(benchmark::State& state) {
    const Stream& s = stream(static_cast<int>(state.range(0)));
    const std::string log = data_dir() + "/ffmpeg_bench.log";
    double total = 0;
    for (auto _ : state) {
        const std::string cmd =
            "ffmpeg -nostdin -hide_banner -threads 1 -benchmark -i " + s.m4v + " -f null - > " + log + " 2>&1";
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        std::ifstream in(log);
        std::string line;
        double utime = 0;
        while (std::getline(in, line)) {
            const auto at = line.find("utime=");
            if (at != std::string::npos) utime = std::atof(line.c_str() + at + 6);
        }
        state.SetIterationTime(utime);
        total += utime;
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(s.chunks.size()) * static_cast<double>(state.iterations()) / total);
    state.SetLabel(std::to_string(s.width) + "x" + std::to_string(s.height) + " ffmpeg -threads 1 (user time)");
}

BENCHMARK(BM_Decode)
    ->Args({0, 0, 0})
    ->Args({0, 0, 1})
    ->Args({0, 100, 2})
    ->Args({0, 100, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ffmpeg)->Arg(0)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)
    ->Args({1, 0, 0})
    ->Args({1, 0, 1})
    ->Args({1, 100, 2})
    ->Args({1, 100, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ffmpeg)->Arg(1)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// ---- Kernels: each level's table and the scalar reference on the same data. The first argument is the level
// (0 scalar, 1 sse2, ...); a level this process may not run is reported as skipped.

zorbrix::CpuLevel bench_level(benchmark::State& state) {
    const auto level = static_cast<zorbrix::CpuLevel>(state.range(0));
    if (!zorbrix::cpu_allows(level))
        state.SkipWithError((std::string(zorbrix::cpu_level_name(level)) + " not available").c_str());
    return level;
}

void BM_Idct(benchmark::State& state) {
    std::mt19937 rng(1);
    std::vector<int16_t> blocks(64 * 256);
    for (size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = (rng() % 4 == 0) ? static_cast<int16_t>(rng() % 512) - 256 : 0;
    const auto k = mpeg4::idct_kernels_for(bench_level(state));
    const auto fn = k.idct_8x8.fn;
    std::vector<int16_t> work(blocks.size());
    for (auto _ : state) {
        std::memcpy(work.data(), blocks.data(), blocks.size() * 2);
        for (size_t b = 0; b < 256; ++b) fn(work.data() + 64 * b);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations() * 256);
    state.SetLabel(std::string(zorbrix::cpu_level_name(k.idct_8x8.level)) + " (blocks)");
}
BENCHMARK(BM_Idct)->Arg(0)->Arg(1)->Arg(2);

// The sparse entry on blocks whose coefficients stop at row 0, 1, 3 or 7 (the second argument), as decoding meets
// them; the full transform of the same level is BM_Idct.
void BM_IdctSparse(benchmark::State& state) {
    const auto k = mpeg4::idct_kernels_for(bench_level(state));
    const int last_row = static_cast<int>(state.range(1));
    std::mt19937 rng(1);
    std::vector<int16_t> blocks(64 * 256, 0);
    for (size_t b = 0; b < 256; ++b)
        for (int i = 0; i < 4; ++i)
            blocks[64 * b + 8 * (rng() % (last_row + 1)) + rng() % 8] = static_cast<int16_t>(rng() % 512) - 256;
    const auto fn = k.idct_8x8_sparse.fn;
    const unsigned rows = (2u << last_row) - 1;
    std::vector<int16_t> work(blocks.size());
    for (auto _ : state) {
        std::memcpy(work.data(), blocks.data(), blocks.size() * 2);
        for (size_t b = 0; b < 256; ++b) fn(work.data() + 64 * b, rows);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations() * 256);
    state.SetLabel(std::string(zorbrix::cpu_level_name(k.idct_8x8_sparse.level)) + " rows 0.." +
                   std::to_string(last_row) + " (blocks)");
}
BENCHMARK(BM_IdctSparse)->ArgsProduct({{1, 2}, {0, 1, 3, 7}});

void BM_AddBlock(benchmark::State& state) {
    int16_t blk[64];
    for (int i = 0; i < 64; ++i) blk[i] = static_cast<int16_t>(i * 7 - 200);
    std::vector<uint8_t> plane(64 * 64, 100);
    const auto k = mpeg4::idct_kernels_for(bench_level(state));
    const auto fn = k.add_block_clamped.fn;
    for (auto _ : state) {
        for (int b = 0; b < 8; ++b) fn(blk, plane.data() + b * 8, 64);
        benchmark::DoNotOptimize(plane.data());
    }
    state.SetItemsProcessed(state.iterations() * 8);
    state.SetLabel(std::string(zorbrix::cpu_level_name(k.add_block_clamped.level)) + " (blocks)");
}
BENCHMARK(BM_AddBlock)->Arg(0)->Arg(1);

void BM_Predict(benchmark::State& state) {
    const auto k = mpeg4::predict_kernels_for(bench_level(state));
    const int idx = static_cast<int>(state.range(1));
    std::mt19937 rng(2);
    std::vector<uint8_t> ref(96 * 48), cur(96 * 48);
    for (auto& x : ref) x = static_cast<uint8_t>(rng());
    const auto fn = k.predict[idx].fn;
    for (auto _ : state) {
        for (int b = 0; b < 4; ++b) fn(cur.data() + 16 * b, ref.data() + 1 + 16 * b + 96, 96);
        benchmark::DoNotOptimize(cur.data());
    }
    state.SetItemsProcessed(state.iterations() * 4);
    state.SetLabel(std::string(zorbrix::cpu_level_name(k.predict[idx].level)) + " routine " + std::to_string(idx) +
                   " (blocks)");
}
BENCHMARK(BM_Predict)->ArgsProduct({{0, 1}, {0, 1, 2, 3, 7, 8, 9, 10, 11, 15}});

void BM_Deblock(benchmark::State& state) {
    const auto k = mpeg4::deblock_kernels_for(bench_level(state));
    const bool horizontal = state.range(1) != 0;
    std::mt19937 rng(3);
    const int w = 256, h = 16;
    std::vector<uint8_t> src(w * h), work(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) src[y * w + x] = static_cast<uint8_t>(100 + (x / 8) * 3 + (y / 8) * 5 + rng() % 3);
    std::vector<uint8_t> quant(46, 8);
    for (auto _ : state) {
        std::memcpy(work.data(), src.data(), src.size());
        if (horizontal)
            k.filter_horizontal_edges(work.data() + 8 * w, w, w, quant.data(), true);
        else
            k.filter_vertical_edges(work.data(), w, w, quant.data(), true);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetBytesProcessed(state.iterations() * (horizontal ? 10 : 4) * w);
    state.SetLabel(std::string(horizontal ? "horizontal edges " : "vertical edges ") +
                   zorbrix::cpu_level_name((horizontal ? k.filter_horizontal_edges : k.filter_vertical_edges).level));
}
BENCHMARK(BM_Deblock)->ArgsProduct({{0, 1, 2, 3}, {0, 1}});

void BM_ConvertRgb32(benchmark::State& state) {
    const int w = 256, h = 192;
    std::mt19937 rng(4);
    std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
    for (auto& x : y) x = static_cast<uint8_t>(rng());
    for (auto& x : u) x = static_cast<uint8_t>(rng());
    for (auto& x : v) x = static_cast<uint8_t>(rng());
    std::vector<uint8_t> dst(w * h * 4);
    // Mode 0 and 1: the scalar and SSE2 tables; 2: memcpy; 3: the AVX2 table.
    const int mode = static_cast<int>(state.range(0));
    const zorbrix::CpuLevel level = mode == 3   ? zorbrix::CpuLevel::avx2
                                    : mode == 1 ? zorbrix::CpuLevel::sse2
                                                : zorbrix::CpuLevel::scalar;
    if (!zorbrix::cpu_allows(level))
        state.SkipWithError((std::string(zorbrix::cpu_level_name(level)) + " not available").c_str());
    const auto k = colour_kernels_for(level);
    for (auto _ : state) {
        if (mode != 2)
            k.convert_rgb32(y.data(), w, u.data(), v.data(), w / 2, dst.data(), w, -h);
        else
            std::memcpy(dst.data(), y.data(), y.size()), std::memcpy(dst.data() + y.size(), y.data(), y.size()),
                std::memcpy(dst.data() + 2 * y.size(), y.data(), y.size()),
                std::memcpy(dst.data() + 3 * y.size(), y.data(), y.size());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(state.iterations() * w * h * 4);
    state.SetLabel(mode != 2 ? std::string(zorbrix::cpu_level_name(k.convert_rgb32.level)) + " 256x192 frame"
                             : std::string("memcpy of the output bytes"));
}
BENCHMARK(BM_ConvertRgb32)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

}  // namespace
