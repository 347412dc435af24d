#pragma once
// What the processor can run, asked once, and the kernel-table helpers every subsystem uses.
//
// Kernels come in levels: the scalar reference, then SSE2, AVX2 and AVX-512 versions that give the same bytes.
// `cpu_level()` is the highest level this process may use: the highest the processor and the operating system
// support, lowered by the environment variable ZORBRIX_CPU (`scalar`, `sse2`, `avx2` or `avx512`; an unknown value
// gives one warning on standard error and no mask). Tests run each level with it, and CI reruns the suite masked.
//
// A kernel family is a struct of `Kernel<Fn>` entries, filled first with the scalar reference and then overridden
// level by level up to the level asked for; see README ("Vector kernels").
#include <cstdint>

namespace zorbrix {

enum class CpuLevel : int { scalar = 0, sse2 = 1, avx2 = 2, avx512 = 3 };
constexpr int CPU_LEVEL_COUNT = 4;
constexpr CpuLevel CPU_LEVELS[CPU_LEVEL_COUNT] = {CpuLevel::scalar, CpuLevel::sse2, CpuLevel::avx2, CpuLevel::avx512};

// "scalar", "sse2", "avx2", "avx512".
const char* cpu_level_name(CpuLevel level);
// The level for a name as above; false for any other text (null included).
bool cpu_level_from_name(const char* name, CpuLevel* level);

// The instruction sets found, each only where the operating system also saves the registers it needs.
struct CpuFeatures {
    bool sse2 = false;
    bool ssse3 = false;
    bool sse41 = false;
    bool avx = false;
    bool avx2 = false;      // with FMA, BMI1 and BMI2 left out: no kernel uses them
    bool avx512f = false;
    bool avx512bw = false;
    bool avx512vl = false;
    bool avx512dq = false;
};
const CpuFeatures& cpu_features();

// The highest level the features allow: avx2 needs AVX2; avx512 needs AVX-512 F, BW and VL.
CpuLevel cpu_level_of(const CpuFeatures& features);
// The level the processor runs, before any mask.
CpuLevel cpu_detected_level();
// The detected level lowered by a mask text (null or empty: no mask). An unknown text leaves the level as it is
// and, when `warning` is given, sets it to a one-line message.
CpuLevel cpu_masked_level(CpuLevel detected, const char* mask, const char** warning);
// The level the program uses: the detected level under ZORBRIX_CPU, decided on first use (the warning, if any,
// is printed then).
CpuLevel cpu_level();
// Whether versions of `level` may run in this process.
inline bool cpu_allows(CpuLevel level) { return static_cast<int>(level) <= static_cast<int>(cpu_level()); }

// One entry of a kernel table: the function and the level it was written for. Calling the entry calls the
// function; the call inlines to one indirect call, the same as a plain function pointer.
template <class Fn>
struct Kernel;
template <class R, class... Args>
struct Kernel<R (*)(Args...)> {
    using Fn = R (*)(Args...);
    Fn fn = nullptr;
    CpuLevel level = CpuLevel::scalar;
    R operator()(Args... args) const { return fn(args...); }
    void set(Fn f, CpuLevel l) {
        fn = f;
        level = l;
    }
};

// The function that fills the entries one level has (null: the level has none in this build).
template <class Table>
using KernelInit = void (*)(Table&);

// Builds a family's table (a struct with a `CpuLevel level` member and Kernel entries): the scalar init first,
// then the init of every level above it, up to `level` and never beyond what this process may run (cpu_level()),
// each overriding the entries that level has. The table's `level` is the level it was built for.
template <class Table>
Table build_kernel_table(CpuLevel level, const KernelInit<Table> (&inits)[CPU_LEVEL_COUNT]) {
    if (static_cast<int>(level) > static_cast<int>(cpu_level())) level = cpu_level();
    Table table{};
    table.level = level;
    for (int l = 0; l <= static_cast<int>(level); ++l) {
        if (inits[l]) inits[l](table);
    }
    return table;
}

}  // namespace zorbrix
