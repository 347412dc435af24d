// LZW unpacking against zlib's uncompress on the same files, output MB/s side by side, plus memcpy as the limit.
// BM_LzwOverZlib times both alternately in one loop and reports their speed ratio (target: >= 1.0).

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "bench/loading/corpus.h"
#include "loading/lzw.h"

using zorbrix::lzw_kernels_for;
using zorbrix::lzw_pack;
using zorbrix::lzw_unpack_kernel_name;
using zorbrix::LzwKernels;
using zorbrix::LzwUnpack;

namespace {

struct Item {
    std::vector<unsigned char> data, lzw, zlib;
};

const std::vector<Item>& corpus() {
    static const std::vector<Item> items = [] {
        std::vector<std::vector<unsigned char>> files = {bench_text(256 * 1024), bench_picture32(512, 384, 1),
                                                         bench_picture32(512, 384, 2), bench_picture24(256, 192, 3),
                                                         bench_picture32(128, 128, 4)};
        std::vector<Item> out;
        for (auto& f : files) {
            Item item;
            item.data = std::move(f);
            lzw_pack(item.data.data(), item.data.size(), &item.lzw);
            uLongf length = compressBound(uLong(item.data.size()));
            item.zlib.resize(length);
            compress2(item.zlib.data(), &length, item.data.data(), uLong(item.data.size()), Z_BEST_COMPRESSION);
            item.zlib.resize(length);
            out.push_back(std::move(item));
        }
        return out;
    }();
    return items;
}

size_t total_output() {
    size_t n = 0;
    for (const Item& item : corpus()) n += item.data.size();
    return n;
}

using Unpacker = unsigned char* (*)(const unsigned char*, size_t, uint32_t*);

void run_lzw(Unpacker unpack) {
    for (const Item& item : corpus()) {
        uint32_t length = 0;
        unsigned char* out = unpack(item.lzw.data(), item.lzw.size(), &length);
        if (!out || length != item.data.size()) std::abort();
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
}

void run_zlib() {
    for (const Item& item : corpus()) {
        unsigned char* out = static_cast<unsigned char*>(std::malloc(item.data.size()));
        uLongf length = item.data.size();
        if (uncompress(out, &length, item.zlib.data(), item.zlib.size()) != Z_OK) std::abort();
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
}

void report_sizes(benchmark::State& state) {
    size_t lzw = 0, zlib = 0;
    for (const Item& item : corpus()) {
        lzw += item.lzw.size();
        zlib += item.zlib.size();
    }
    state.counters["packed_%"] = 100.0 * double(lzw) / double(total_output());
    state.counters["zlib_packed_%"] = 100.0 * double(zlib) / double(total_output());
}

void BM_LzwUnpack(benchmark::State& state) {
    for (auto _ : state) run_lzw(LzwUnpack);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(total_output()));
    state.SetLabel(lzw_unpack_kernel_name());
    report_sizes(state);
}

void BM_LzwUnpackReference(benchmark::State& state) {
    const LzwKernels k = lzw_kernels_for(zorbrix::CpuLevel::scalar);
    for (auto _ : state) run_lzw(k.unpack.fn);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(total_output()));
    state.SetLabel(zorbrix::cpu_level_name(k.unpack.level));
}

void BM_LzwUnpackSse2(benchmark::State& state) {
    const LzwKernels k = lzw_kernels_for(zorbrix::CpuLevel::sse2);
    for (auto _ : state) run_lzw(k.unpack.fn);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(total_output()));
    state.SetLabel(zorbrix::cpu_level_name(k.unpack.level));
}

void BM_ZlibUncompress(benchmark::State& state) {
    for (auto _ : state) run_zlib();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(total_output()));
}

void BM_MemcpyLimit(benchmark::State& state) {
    std::vector<unsigned char> out(total_output());
    for (auto _ : state) {
        size_t at = 0;
        for (const Item& item : corpus()) {
            std::memcpy(out.data() + at, item.data.data(), item.data.size());
            at += item.data.size();
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(total_output()));
}

// CPU time of this thread: on a shared machine, time spent waiting for the processor would swamp the figures.
double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Both unpackers in the same loop, alternating, so machine noise hits them alike.
void BM_LzwOverZlib(benchmark::State& state) {
    double lzw_seconds = 0, zlib_seconds = 0;
    for (auto _ : state) {
        const double t0 = thread_seconds();
        run_lzw(LzwUnpack);
        const double t1 = thread_seconds();
        run_zlib();
        const double t2 = thread_seconds();
        lzw_seconds += t1 - t0;
        zlib_seconds += t2 - t1;
    }
    const double mb = double(total_output()) * double(state.iterations()) / 1e6;
    state.counters["lzw_MB/s"] = mb / lzw_seconds;
    state.counters["zlib_MB/s"] = mb / zlib_seconds;
    state.counters["speed_ratio"] = zlib_seconds / lzw_seconds;
}

}  // namespace

BENCHMARK(BM_LzwUnpack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwUnpackReference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwUnpackSse2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwOverZlib)->Unit(benchmark::kMillisecond)->MinTime(2.0);
