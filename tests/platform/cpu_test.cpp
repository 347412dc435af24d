// The cpu unit: level names, the ZORBRIX_CPU mask, the level a set of features allows, and how kernel tables are
// built level by level.
#include "platform/cpu.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using zorbrix::CpuFeatures;
using zorbrix::CpuLevel;

TEST(CpuLevels, NamesRoundTripAndOthersAreRejected) {
    for (const CpuLevel level : zorbrix::CPU_LEVELS) {
        CpuLevel parsed = CpuLevel::avx512;
        ASSERT_TRUE(zorbrix::cpu_level_from_name(zorbrix::cpu_level_name(level), &parsed));
        EXPECT_EQ(parsed, level);
    }
    EXPECT_STREQ(zorbrix::cpu_level_name(CpuLevel::scalar), "scalar");
    EXPECT_STREQ(zorbrix::cpu_level_name(CpuLevel::avx512), "avx512");
    CpuLevel untouched = CpuLevel::sse2;
    for (const char* bad : {"", "SSE2", "avx", "avx512bw", "sse2 ", "none"}) {
        EXPECT_FALSE(zorbrix::cpu_level_from_name(bad, &untouched)) << bad;
    }
    EXPECT_FALSE(zorbrix::cpu_level_from_name(nullptr, &untouched));
    EXPECT_EQ(untouched, CpuLevel::sse2);
}

TEST(CpuLevels, MaskLowersButNeverRaisesAndUnknownTextWarns) {
    const char* warning = nullptr;
    EXPECT_EQ(zorbrix::cpu_masked_level(CpuLevel::avx512, "sse2", &warning), CpuLevel::sse2);
    EXPECT_EQ(zorbrix::cpu_masked_level(CpuLevel::avx512, "scalar", &warning), CpuLevel::scalar);
    EXPECT_EQ(zorbrix::cpu_masked_level(CpuLevel::sse2, "avx512", &warning), CpuLevel::sse2);
    EXPECT_EQ(zorbrix::cpu_masked_level(CpuLevel::avx2, "avx2", &warning), CpuLevel::avx2);
    EXPECT_EQ(zorbrix::cpu_masked_level(CpuLevel::avx2, nullptr, &warning), CpuLevel::avx2);
    EXPECT_EQ(zorbrix::cpu_masked_level(CpuLevel::avx2, "", &warning), CpuLevel::avx2);
    EXPECT_EQ(warning, nullptr);
    EXPECT_EQ(zorbrix::cpu_masked_level(CpuLevel::avx2, "avx1024", &warning), CpuLevel::avx2);
    ASSERT_NE(warning, nullptr);
    EXPECT_NE(std::string(warning).find("ZORBRIX_CPU"), std::string::npos);
    EXPECT_EQ(std::string(warning).find('\n'), std::string::npos);
    EXPECT_EQ(zorbrix::cpu_masked_level(CpuLevel::avx2, "avx1024", nullptr), CpuLevel::avx2);  // no place to warn
}

TEST(CpuLevels, FeaturesGiveTheHighestCompleteLevel) {
    CpuFeatures f;
    EXPECT_EQ(zorbrix::cpu_level_of(f), CpuLevel::scalar);
    f.sse2 = f.ssse3 = f.sse41 = f.avx = true;
    EXPECT_EQ(zorbrix::cpu_level_of(f), CpuLevel::sse2);
    f.avx2 = true;
    EXPECT_EQ(zorbrix::cpu_level_of(f), CpuLevel::avx2);
    f.avx512f = f.avx512vl = f.avx512dq = true;  // without BW the byte kernels cannot run
    EXPECT_EQ(zorbrix::cpu_level_of(f), CpuLevel::avx2);
    f.avx512bw = true;
    EXPECT_EQ(zorbrix::cpu_level_of(f), CpuLevel::avx512);
    f.avx2 = false;  // AVX-512 without AVX2 does not exist; the levels are cumulative
    EXPECT_EQ(zorbrix::cpu_level_of(f), CpuLevel::sse2);
}

TEST(CpuLevels, TheProcessLevelIsTheDetectedOneUnderTheMask) {
    EXPECT_EQ(zorbrix::cpu_level(),
              zorbrix::cpu_masked_level(zorbrix::cpu_detected_level(), std::getenv("ZORBRIX_CPU"), nullptr));
    EXPECT_EQ(zorbrix::cpu_detected_level(), zorbrix::cpu_level_of(zorbrix::cpu_features()));
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    // The compiler's runtime asks the processor (and the system's register state) on its own; both must agree.
    const CpuFeatures& f = zorbrix::cpu_features();
    __builtin_cpu_init();
    EXPECT_TRUE(f.sse2);
    EXPECT_EQ(f.ssse3, bool(__builtin_cpu_supports("ssse3")));
    EXPECT_EQ(f.sse41, bool(__builtin_cpu_supports("sse4.1")));
    EXPECT_EQ(f.avx2, bool(__builtin_cpu_supports("avx2")));
    EXPECT_EQ(f.avx512bw, bool(__builtin_cpu_supports("avx512bw")));
    EXPECT_EQ(f.avx512vl, bool(__builtin_cpu_supports("avx512vl")));
#endif
}

// A small family: three entries, versions at scalar, sse2 (two entries) and avx512 (one).
using Op = int (*)(int);
struct TestKernels {
    CpuLevel level;
    zorbrix::Kernel<Op> a, b, c;
};
int scalar_op(int x) { return x; }
int sse2_op(int x) { return x + 100; }
int avx512_op(int x) { return x + 500; }
void init_scalar(TestKernels& k) {
    k.a.set(scalar_op, CpuLevel::scalar);
    k.b.set(scalar_op, CpuLevel::scalar);
    k.c.set(scalar_op, CpuLevel::scalar);
}
void init_sse2(TestKernels& k) {
    k.a.set(sse2_op, CpuLevel::sse2);
    k.b.set(sse2_op, CpuLevel::sse2);
}
void init_avx512(TestKernels& k) { k.a.set(avx512_op, CpuLevel::avx512); }

TestKernels test_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<TestKernels>(level, {init_scalar, init_sse2, nullptr, init_avx512});
}

TEST(KernelTables, FilledWithTheReferenceThenOverriddenLevelByLevel) {
    const TestKernels scalar = test_kernels_for(CpuLevel::scalar);
    EXPECT_EQ(scalar.level, CpuLevel::scalar);
    EXPECT_EQ(scalar.a(1), 1);
    EXPECT_EQ(scalar.c(2), 2);
    if (zorbrix::cpu_allows(CpuLevel::sse2)) {
        const TestKernels sse2 = test_kernels_for(CpuLevel::sse2);
        EXPECT_EQ(sse2.a(1), 101);
        EXPECT_EQ(sse2.b(1), 101);
        EXPECT_EQ(sse2.c(1), 1);
        EXPECT_EQ(sse2.c.level, CpuLevel::scalar);
    }
    if (zorbrix::cpu_allows(CpuLevel::avx2)) {
        const TestKernels avx2 = test_kernels_for(CpuLevel::avx2);  // a level without versions of its own
        EXPECT_EQ(avx2.level, CpuLevel::avx2);
        EXPECT_EQ(avx2.a.level, CpuLevel::sse2);
    }
    // Asking beyond what the process may run gives the table of the process's level, never a version it lacks.
    const TestKernels top = test_kernels_for(CpuLevel::avx512);
    EXPECT_EQ(top.level, zorbrix::cpu_level());
    EXPECT_EQ(top.a(0), zorbrix::cpu_allows(CpuLevel::avx512) ? 500 : zorbrix::cpu_allows(CpuLevel::sse2) ? 100 : 0);
}

// Run in a child process by the test below: only asks for the level.
TEST(CpuLevels, ChildAsksForTheLevel) { std::printf("level %s\n", zorbrix::cpu_level_name(zorbrix::cpu_level())); }

std::string run_child(const char* mask, std::string* stderr_text) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string err = ::testing::TempDir() + "cpu_child_stderr.txt";
    const std::string command =
        "ZORBRIX_CPU='" + std::string(mask) + "' " + self + " --gtest_filter=CpuLevels.ChildAsksForTheLevel 2>" + err;
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    stderr_text->clear();
    if (std::FILE* f = std::fopen(err.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, f)) *stderr_text += buf;
        std::fclose(f);
    }
    return out;
}

TEST(CpuLevels, TheEnvironmentMasksTheProcessAndAnUnknownValueWarnsOnce) {
    std::string err;
    const std::string scalar = run_child("scalar", &err);
    EXPECT_NE(scalar.find("level scalar\n"), std::string::npos) << scalar;
    EXPECT_EQ(err, "");
    const std::string bogus = run_child("fastest", &err);
    const std::string detected = std::string("level ") + zorbrix::cpu_level_name(zorbrix::cpu_detected_level()) + "\n";
    EXPECT_NE(bogus.find(detected), std::string::npos) << bogus;
    EXPECT_EQ(err, "warning: ZORBRIX_CPU must be scalar, sse2, avx2 or avx512; ignoring it\n");
}

}  // namespace
