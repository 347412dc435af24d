#pragma once
// What the processor can run, asked once, and the kernel-table helpers every subsystem uses.
//
// Kernels come in levels: the scalar reference, then SSE2, AVX2 and AVX-512 versions that give the same bytes.
// `cpu_level()` is the highest level this process may use: the highest the processor and the operating system
// support, lowered by the environment variable ZORBRIX_CPU (`scalar`, `sse2`, `avx2` or `avx512`; an unknown value
// gives one warning on standard error and no mask). Tests run each level with it, and CI reruns the suite masked.
//
// A kernel family is a struct of `Kernel<Fn>` entries, filled first with the scalar reference and then overridden
// level by level up to the level asked for; see README ("Vector kernels"). The table a program uses is chosen by
// measurement instead (`choose_kernel_table`): the widest version is not always the fastest one on a given
// processor, so each entry takes whichever version the process may run is quickest on a short, fixed workload.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Compiles the code between ZORBRIX_TARGET_BEGIN("avx2") (any target list) and ZORBRIX_TARGET_END for those
// instruction sets, with gcc or clang, so that one file can hold a kernel's versions for several levels.
#define ZORBRIX_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define ZORBRIX_TARGET_BEGIN(isa) \
    ZORBRIX_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define ZORBRIX_TARGET_END _Pragma("clang attribute pop")
#else
#define ZORBRIX_TARGET_BEGIN(isa) _Pragma("GCC push_options") ZORBRIX_PRAGMA(GCC target(isa))
#define ZORBRIX_TARGET_END _Pragma("GCC pop_options")
#endif

namespace zorbrix {

enum class CpuLevel : int {
    scalar = 0,
    sse2 = 1,
    avx2 = 2,
    avx512 = 3
};
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
    bool avx2 = false;  // with FMA, BMI1 and BMI2 left out: no kernel uses them
    bool avx512f = false;
    bool avx512bw = false;
    bool avx512vl = false;
    bool avx512dq = false;
    bool avx512vnni = false;  // byte dot products (vpdpbusd); kernels that use it check it beside their level
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

// ---- Choosing each entry by measurement ----

// How one entry was chosen: the time per call of each distinct version (negative where the level has no version
// of its own or may not run), and the level of the version taken.
struct KernelChoice {
    std::string family;
    std::string entry;
    double ns_per_call[CPU_LEVEL_COUNT] = {-1, -1, -1, -1};
    CpuLevel chosen = CpuLevel::scalar;
    bool measured = false;  // false: a single version, or measuring is switched off (ZORBRIX_KERNEL_CHOICE=widest)
};

// Every choice made so far in this process, in the order made.
std::vector<KernelChoice> kernel_choices();
// Total time spent measuring, in milliseconds.
double kernel_choice_milliseconds();
// False when the environment asks for the widest version of every entry without measuring
// (ZORBRIX_KERNEL_CHOICE=widest); the results are the same, only the speed differs.
bool kernel_choice_measures();

// Times `count` candidates, each a callable doing one fixed unit of work: interleaved batches (every candidate in
// every round, the order rotating), the batch size set so that one batch of the first candidate takes a few
// microseconds, the best batch of each kept. Writes nanoseconds per unit into ns[0 .. count - 1].
void measure_kernel_versions(const std::vector<std::function<void()>>& candidates, double* ns);

// The candidate to take from measured times, listed from the lowest level up: a higher one replaces the one
// taken so far only when it is faster by more than 3 % (a tie keeps the narrower version: it starts faster and
// does not lower the clock of its neighbours). Never a candidate slower than the first one.
int pick_fastest_version(const double* ns, int count);

// Records a choice (thread-safe).
void record_kernel_choice(KernelChoice choice, double milliseconds);

// One entry of a family as the chooser sees it: how to reach it in a table and a fixed unit of work for it
// (`calls` calls on representative inputs the probe owns). Built with `kernel_probe`.
template <class Table>
struct KernelProbe {
    std::string entry;
    int calls = 1;
    std::function<CpuLevel(Table&)> level_of;
    std::function<const void*(Table&)> address_of;
    std::function<void(Table& to, Table& from)> take;
    std::function<void(Table&)> run;
};

// A probe from an accessor (`[](Table& t) -> Kernel<Fn>& { return t.entry; }`) and a unit of work that receives
// the entry (`[inputs](const Kernel<Fn>& k) { k(...); }`) and calls it `calls` times.
template <class Table, class Access, class Run>
KernelProbe<Table> kernel_probe(std::string entry, Access access, Run run, int calls = 1) {
    KernelProbe<Table> p;
    p.entry = std::move(entry);
    p.calls = calls > 0 ? calls : 1;
    p.level_of = [access](Table& t) { return access(t).level; };
    p.address_of = [access](Table& t) { return reinterpret_cast<const void*>(access(t).fn); };
    p.take = [access](Table& to, Table& from) { access(to) = access(from); };
    p.run = [access, run](Table& t) { run(access(t)); };
    return p;
}

// The program's table of a family: starts from the table of cpu_level() (`table_for` is the family's
// `<family>_for`), then for every probed entry times each distinct version of the levels up to cpu_level() and
// takes the fastest (pick_fastest_version). The table's `level` stays cpu_level(); each entry's `level` says which
// version runs. Entries without a probe keep the widest version. Every choice is recorded (kernel_choices()).
template <class Table>
Table choose_kernel_table(const char* family, Table (*table_for)(CpuLevel),
                          const std::vector<KernelProbe<Table>>& probes) {
    const int top = static_cast<int>(cpu_level());
    std::vector<Table> tables;
    for (int l = 0; l <= top; ++l) tables.push_back(table_for(static_cast<CpuLevel>(l)));
    Table chosen = tables[top];
    for (const KernelProbe<Table>& probe : probes) {
        KernelChoice choice;
        choice.family = family;
        choice.entry = probe.entry;
        std::vector<int> versions;  // the table index of each distinct version, lowest level first
        for (int l = 0; l <= top; ++l) {
            bool seen = false;
            for (int v : versions) seen = seen || probe.address_of(tables[v]) == probe.address_of(tables[l]);
            if (!seen) versions.push_back(l);
        }
        int taken = static_cast<int>(versions.size()) - 1;
        double milliseconds = 0;
        if (versions.size() > 1 && kernel_choice_measures()) {
            std::vector<std::function<void()>> candidates;
            for (int v : versions) candidates.push_back([&probe, &tables, v] { probe.run(tables[v]); });
            std::vector<double> ns(versions.size());
            const auto start = std::chrono::steady_clock::now();
            measure_kernel_versions(candidates, ns.data());
            milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            taken = pick_fastest_version(ns.data(), static_cast<int>(ns.size()));
            for (size_t i = 0; i < versions.size(); ++i) {
                choice.ns_per_call[static_cast<int>(probe.level_of(tables[versions[i]]))] = ns[i] / probe.calls;
            }
            choice.measured = true;
        }
        probe.take(chosen, tables[versions[taken]]);
        choice.chosen = probe.level_of(chosen);
        record_kernel_choice(std::move(choice), milliseconds);
    }
    return chosen;
}

}  // namespace zorbrix
