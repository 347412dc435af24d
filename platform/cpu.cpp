#include "platform/cpu.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define ZORBRIX_CPU_X86 1
#endif

namespace zorbrix {

namespace {

#if defined(ZORBRIX_CPU_X86)
// The register state the operating system saves on a task switch (XCR0); only valid when OSXSAVE is set.
uint64_t enabled_state() {
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (uint64_t(hi) << 32) | lo;
}

CpuFeatures detect() {
    CpuFeatures f;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    f.sse2 = (d >> 26) & 1;
    f.ssse3 = (c >> 9) & 1;
    f.sse41 = (c >> 19) & 1;
    const bool osxsave = (c >> 27) & 1;
    const bool avx_cpu = (c >> 28) & 1;
    const uint64_t state = osxsave ? enabled_state() : 0;
    const bool ymm_saved = (state & 0x6) == 0x6;                 // SSE and AVX state
    const bool zmm_saved = ymm_saved && (state & 0xE0) == 0xE0;  // opmask, upper ZMM halves, ZMM16-31
    f.avx = avx_cpu && ymm_saved;
    unsigned a7 = 0, b7 = 0, c7 = 0, d7 = 0;
    if (__get_cpuid_count(7, 0, &a7, &b7, &c7, &d7)) {
        f.avx2 = f.avx && ((b7 >> 5) & 1);
        f.avx512f = zmm_saved && ((b7 >> 16) & 1);
        f.avx512dq = f.avx512f && ((b7 >> 17) & 1);
        f.avx512bw = f.avx512f && ((b7 >> 30) & 1);
        f.avx512vl = f.avx512f && ((b7 >> 31) & 1);
        f.avx512vnni = f.avx512f && ((c7 >> 11) & 1);
    }
    return f;
}
#else
CpuFeatures detect() { return CpuFeatures{}; }
#endif

}  // namespace

const char* cpu_level_name(CpuLevel level) {
    switch (level) {
    case CpuLevel::scalar: return "scalar";
    case CpuLevel::sse2: return "sse2";
    case CpuLevel::avx2: return "avx2";
    case CpuLevel::avx512: return "avx512";
    }
    return "unknown";
}

bool cpu_level_from_name(const char* name, CpuLevel* level) {
    if (!name) return false;
    for (CpuLevel l : CPU_LEVELS) {
        if (std::strcmp(name, cpu_level_name(l)) == 0) {
            *level = l;
            return true;
        }
    }
    return false;
}

const CpuFeatures& cpu_features() {
    static const CpuFeatures features = detect();
    return features;
}

CpuLevel cpu_level_of(const CpuFeatures& f) {
    if (!f.sse2) return CpuLevel::scalar;
    if (!f.avx2) return CpuLevel::sse2;
    if (!(f.avx512f && f.avx512bw && f.avx512vl)) return CpuLevel::avx2;
    return CpuLevel::avx512;
}

CpuLevel cpu_detected_level() { return cpu_level_of(cpu_features()); }

CpuLevel cpu_masked_level(CpuLevel detected, const char* mask, const char** warning) {
    if (!mask || !*mask) return detected;
    CpuLevel limit;
    if (!cpu_level_from_name(mask, &limit)) {
        if (warning) *warning = "warning: ZORBRIX_CPU must be scalar, sse2, avx2 or avx512; ignoring it";
        return detected;
    }
    return static_cast<int>(limit) < static_cast<int>(detected) ? limit : detected;
}

CpuLevel cpu_level() {
    static const CpuLevel level = [] {
        const char* warning = nullptr;
        const CpuLevel l = cpu_masked_level(cpu_detected_level(), std::getenv("ZORBRIX_CPU"), &warning);
        if (warning) std::fprintf(stderr, "%s\n", warning);
        return l;
    }();
    return level;
}

namespace {

// One batch lasts about this long; with kRounds rounds and a few versions per entry, choosing a whole family
// costs well under a millisecond.
constexpr double kBatchNanoseconds = 3000;
constexpr int kRounds = 5;
// The widest version runs this long before measuring: a processor runs its first 256- and 512-bit instructions
// after a pause slowly (it powers the upper lanes up), which would make a wide version look slower than it is.
constexpr double kWarmNanoseconds = 15000;
constexpr int kMaxBatch = 4096;
// A wider version must beat the one taken by more than this to replace it.
constexpr double kMargin = 0.03;

struct ChoiceLog {
    std::mutex mutex;
    std::vector<KernelChoice> choices;
    double milliseconds = 0;
};

ChoiceLog& choice_log() {
    static ChoiceLog log;
    return log;
}

double nanoseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

bool kernel_choice_measures() {
    static const bool measures = [] {
        const char* mode = std::getenv("ZORBRIX_KERNEL_CHOICE");
        return !(mode && std::strcmp(mode, "widest") == 0);
    }();
    return measures;
}

void measure_kernel_versions(const std::vector<std::function<void()>>& candidates, double* ns) {
    const int count = static_cast<int>(candidates.size());
    if (count == 0) return;
    // Warm the caches and the branch predictors, and the vector units on the widest version (the last); then size
    // the batch on the first (reference) version.
    for (const auto& run : candidates) run();
    auto start = std::chrono::steady_clock::now();
    do {
        candidates[count - 1]();
    } while (nanoseconds_since(start) < kWarmNanoseconds);
    start = std::chrono::steady_clock::now();
    candidates[0]();
    const double once = std::max(nanoseconds_since(start), 1.0);
    const int batch = std::clamp(static_cast<int>(kBatchNanoseconds / once), 1, kMaxBatch);
    std::vector<double> best(count, 1e300);
    for (int round = 0; round < kRounds; ++round) {
        for (int k = 0; k < count; ++k) {
            const int c = (k + round) % count;
            start = std::chrono::steady_clock::now();
            for (int i = 0; i < batch; ++i) candidates[c]();
            best[c] = std::min(best[c], nanoseconds_since(start));
        }
    }
    for (int c = 0; c < count; ++c) ns[c] = best[c] / batch;
}

int pick_fastest_version(const double* ns, int count) {
    int taken = 0;
    for (int c = 1; c < count; ++c) {
        if (ns[c] < ns[taken] * (1.0 - kMargin)) taken = c;
    }
    return taken;
}

void record_kernel_choice(KernelChoice choice, double milliseconds) {
    ChoiceLog& log = choice_log();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.choices.push_back(std::move(choice));
    log.milliseconds += milliseconds;
}

std::vector<KernelChoice> kernel_choices() {
    ChoiceLog& log = choice_log();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.choices;
}

double kernel_choice_milliseconds() {
    ChoiceLog& log = choice_log();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.milliseconds;
}

}  // namespace zorbrix
