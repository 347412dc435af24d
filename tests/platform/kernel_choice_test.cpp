// Choosing each kernel entry by measurement: the pick rule, the chooser on a family whose versions differ
// plainly in speed, and the environment's caps (ZORBRIX_CPU, ZORBRIX_KERNEL_CHOICE=widest) in child processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/cpu.h"

namespace {

using zorbrix::CpuLevel;
using zorbrix::Kernel;

TEST(KernelChoice, PickTakesTheFastestButKeepsTheNarrowerOnATie) {
    const double clear_winner[] = {100, 40, 60};
    EXPECT_EQ(zorbrix::pick_fastest_version(clear_winner, 3), 1);
    const double tie[] = {100, 99, 98.5};  // within the margin of the reference
    EXPECT_EQ(zorbrix::pick_fastest_version(tie, 3), 0);
    const double all_slower[] = {10, 11, 30};
    EXPECT_EQ(zorbrix::pick_fastest_version(all_slower, 3), 0);
    const double widest[] = {100, 50, 20};
    EXPECT_EQ(zorbrix::pick_fastest_version(widest, 3), 2);
    const double one[] = {5};
    EXPECT_EQ(zorbrix::pick_fastest_version(one, 1), 0);
}

TEST(KernelChoice, MeasuringGivesATimePerUnitForEveryCandidate) {
    volatile int sink = 0;
    std::vector<std::function<void()>> candidates = {
        [&sink] {
            for (int i = 0; i < 4000; ++i) sink = sink + 1;
        },
        [&sink] {
            for (int i = 0; i < 40; ++i) sink = sink + 1;
        },
    };
    double ns[2] = {-1, -1};
    zorbrix::measure_kernel_versions(candidates, ns);
    EXPECT_GT(ns[0], 0);
    EXPECT_GT(ns[1], 0);
    EXPECT_GT(ns[0], 5 * ns[1]);
}

// A family of three entries whose versions all give the same result and differ only in how long they spin:
// `a` is fastest at sse2 and slowest at avx512, `b` fastest as scalar, `c` has the scalar version only.
using Op = int (*)(int);
struct SpinKernels {
    CpuLevel level;
    Kernel<Op> a, b, c;
};
template <int N>
int spin(int x) {
    volatile int s = x;
    for (int i = 0; i < N; ++i) s = s + 1;
    return s - N;
}
void init_scalar(SpinKernels& k) {
    k.a.set(spin<2000>, CpuLevel::scalar);
    k.b.set(spin<20>, CpuLevel::scalar);
    k.c.set(spin<21>, CpuLevel::scalar);
}
void init_sse2(SpinKernels& k) {
    k.a.set(spin<20>, CpuLevel::sse2);
    k.b.set(spin<2001>, CpuLevel::sse2);
}
void init_avx512(SpinKernels& k) { k.a.set(spin<20000>, CpuLevel::avx512); }

SpinKernels spin_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<SpinKernels>(level, {init_scalar, init_sse2, nullptr, init_avx512});
}

SpinKernels choose_spin_kernels() {
    std::vector<zorbrix::KernelProbe<SpinKernels>> probes;
    const auto unit = [](const Kernel<Op>& k) { (void)k(7); };
    probes.push_back(zorbrix::kernel_probe<SpinKernels>(
        "a", [](SpinKernels& t) -> Kernel<Op>& { return t.a; }, unit));
    probes.push_back(zorbrix::kernel_probe<SpinKernels>(
        "b", [](SpinKernels& t) -> Kernel<Op>& { return t.b; }, unit));
    probes.push_back(zorbrix::kernel_probe<SpinKernels>(
        "c", [](SpinKernels& t) -> Kernel<Op>& { return t.c; }, unit));
    return zorbrix::choose_kernel_table<SpinKernels>("spin", spin_kernels_for, probes);
}

TEST(KernelChoice, EachEntryTakesItsFastestVersionUpToTheProcessLevel) {
    if (!zorbrix::kernel_choice_measures()) GTEST_SKIP() << "ZORBRIX_KERNEL_CHOICE=widest switches measuring off";
    const SpinKernels t = choose_spin_kernels();
    EXPECT_EQ(t.level, zorbrix::cpu_level());
    EXPECT_EQ(t.a(5), 5);
    EXPECT_EQ(t.b(5), 5);
    EXPECT_EQ(t.a.level, zorbrix::cpu_allows(CpuLevel::sse2) ? CpuLevel::sse2 : CpuLevel::scalar);
    EXPECT_EQ(t.b.level, CpuLevel::scalar);  // the wider version is slower here
    EXPECT_EQ(t.c.level, CpuLevel::scalar);

    // Every choice is on record, with a time at each level that has a version of its own and the process may run.
    std::vector<zorbrix::KernelChoice> spin_choices;
    for (const auto& c : zorbrix::kernel_choices()) {
        if (c.family == "spin") spin_choices.push_back(c);
    }
    ASSERT_EQ(spin_choices.size(), 3u);
    const auto& a = spin_choices[0];
    EXPECT_EQ(a.entry, "a");
    EXPECT_EQ(a.chosen, t.a.level);
    // Measured only where there is a choice: under ZORBRIX_CPU=scalar each entry has its one version.
    EXPECT_EQ(a.measured, zorbrix::cpu_allows(CpuLevel::sse2));
    EXPECT_EQ(a.ns_per_call[0] > 0, zorbrix::cpu_allows(CpuLevel::sse2));
    EXPECT_LT(a.ns_per_call[2], 0);  // avx2 has no version of its own
    EXPECT_EQ(a.ns_per_call[3] > 0, zorbrix::cpu_allows(CpuLevel::avx512));
    for (const auto& c : spin_choices) {
        EXPECT_LE(static_cast<int>(c.chosen), static_cast<int>(zorbrix::cpu_level()));
        for (int l = static_cast<int>(zorbrix::cpu_level()) + 1; l < zorbrix::CPU_LEVEL_COUNT; ++l) {
            EXPECT_LT(c.ns_per_call[l], 0) << c.entry << " measured a level the process may not run";
        }
        if (c.measured) {
            EXPECT_LE(c.ns_per_call[static_cast<int>(c.chosen)], c.ns_per_call[0] * 1.001) << "slower than scalar";
        }
    }
    EXPECT_FALSE(spin_choices[2].measured);  // one version: nothing to measure
    EXPECT_GE(zorbrix::kernel_choice_milliseconds(), 0.0);
}

TEST(KernelChoice, EntriesWithoutAProbeKeepTheWidestVersion) {
    std::vector<zorbrix::KernelProbe<SpinKernels>> probes;
    probes.push_back(zorbrix::kernel_probe<SpinKernels>(
        "b", [](SpinKernels& t) -> Kernel<Op>& { return t.b; }, [](const Kernel<Op>& k) { (void)k(1); }, 3));
    const SpinKernels t = zorbrix::choose_kernel_table<SpinKernels>("spin_partial", spin_kernels_for, probes);
    const SpinKernels widest = spin_kernels_for(zorbrix::cpu_level());
    EXPECT_EQ(t.a.fn, widest.a.fn);
    EXPECT_EQ(t.a.level, widest.a.level);
    EXPECT_EQ(t.c.fn, widest.c.fn);
    // Only the probed entry is on record; its times are per call (the unit made 3).
    int recorded = 0;
    for (const auto& c : zorbrix::kernel_choices()) {
        if (c.family != "spin_partial") continue;
        ++recorded;
        EXPECT_EQ(c.entry, "b");
        if (c.measured) {
            EXPECT_GT(c.ns_per_call[0], 0);
            EXPECT_GT(c.ns_per_call[1], c.ns_per_call[0]);  // 2001 steps against 20
        }
    }
    EXPECT_EQ(recorded, 1);
}

// Run in a child process by the test below: prints the level chosen for each entry.
TEST(KernelChoice, ChildChooses) {
    const SpinKernels t = choose_spin_kernels();
    std::printf("chosen %s %s %s\n", zorbrix::cpu_level_name(t.a.level), zorbrix::cpu_level_name(t.b.level),
                zorbrix::cpu_level_name(t.c.level));
}

std::string run_child(const std::string& environment) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command = environment + " " + self + " --gtest_filter=KernelChoice.ChildChooses 2>/dev/null";
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

TEST(KernelChoice, TheMaskCapsTheChoiceAndWidestSkipsMeasuring) {
    const std::string scalar = run_child("ZORBRIX_CPU=scalar");
    EXPECT_NE(scalar.find("chosen scalar scalar scalar\n"), std::string::npos) << scalar;
    if (!zorbrix::cpu_allows(CpuLevel::sse2)) return;
    const std::string sse2 = run_child("ZORBRIX_CPU=sse2 ZORBRIX_KERNEL_CHOICE=");
    EXPECT_NE(sse2.find("chosen sse2 scalar scalar\n"), std::string::npos) << sse2;
    // Without measuring, every entry takes the widest version the process may run, as before measuring existed.
    const std::string widest = run_child("ZORBRIX_CPU=sse2 ZORBRIX_KERNEL_CHOICE=widest");
    EXPECT_NE(widest.find("chosen sse2 sse2 scalar\n"), std::string::npos) << widest;
}

}  // namespace
