#pragma once
// The driver of the kernel tests: every kernel family is checked at every vector level against its scalar
// reference, through the family's own table (`<family>_for(level)`).
//
//   class RowKernelLevels : public zorbrix::test::KernelLevelTest {};
//   TEST_P(RowKernelLevels, BlendGivesTheReferenceBytes) {
//       const RowKernels k = row_kernels_for(level()), ref = row_kernels_for(zorbrix::CpuLevel::scalar);
//       ...
//   }
//   ZORBRIX_KERNEL_LEVELS(RowKernelLevels);
//
// A level this process may not run (the processor lacks it, or ZORBRIX_CPU masks it) is reported as a skipped
// test naming the level, never as a pass. Outputs live in GuardedBuffer, whose guard words catch a kernel writing
// outside its area.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/cpu.h"

namespace zorbrix {
// Test names and messages show a level by its name.
inline void PrintTo(CpuLevel level, std::ostream* os) { *os << cpu_level_name(level); }
}  // namespace zorbrix

namespace zorbrix::test {

class KernelLevelTest : public ::testing::TestWithParam<CpuLevel> {
protected:
    void SetUp() override {
        if (!cpu_allows(GetParam())) {
            const bool masked = static_cast<int>(GetParam()) <= static_cast<int>(cpu_detected_level());
            GTEST_SKIP() << cpu_level_name(GetParam()) << " not run: this process runs up to "
                         << cpu_level_name(cpu_level())
                         << (masked ? " (ZORBRIX_CPU masks the processor's " : " (the processor's level is ")
                         << cpu_level_name(cpu_detected_level()) << ")";
        }
    }
    CpuLevel level() const { return GetParam(); }
    const char* level_name() const { return cpu_level_name(GetParam()); }
};

inline std::string kernel_level_param_name(const ::testing::TestParamInfo<CpuLevel>& info) {
    return cpu_level_name(info.param);
}

// `count` elements of T with guard words on both sides (bytes 0xA5 before, 0x5A after). The area itself starts
// filled with `fill`.
template <class T>
class GuardedBuffer {
public:
    static constexpr size_t GUARD_BYTES = 64;

    explicit GuardedBuffer(size_t count, T fill = T{}) : count_(count), bytes_(GUARD_BYTES * 2 + count * sizeof(T)) {
        std::memset(bytes_.data(), 0xA5, GUARD_BYTES);
        std::memset(bytes_.data() + GUARD_BYTES + count * sizeof(T), 0x5A, GUARD_BYTES);
        for (size_t i = 0; i < count; ++i) data()[i] = fill;
    }
    T* data() { return reinterpret_cast<T*>(bytes_.data() + GUARD_BYTES); }
    const T* data() const { return reinterpret_cast<const T*>(bytes_.data() + GUARD_BYTES); }
    T& operator[](size_t i) { return data()[i]; }
    size_t size() const { return count_; }
    std::vector<T> values() const { return std::vector<T>(data(), data() + count_); }
    // True while no byte outside the area has changed.
    bool guards_intact() const {
        for (size_t i = 0; i < GUARD_BYTES; ++i) {
            if (bytes_[i] != 0xA5 || bytes_[GUARD_BYTES + count_ * sizeof(T) + i] != 0x5A) return false;
        }
        return true;
    }

private:
    size_t count_;
    std::vector<unsigned char> bytes_;
};

}  // namespace zorbrix::test

// Runs the parameterised suite at sse2, avx2 and avx512 (scalar is the reference every level is held to).
#define ZORBRIX_KERNEL_LEVELS(Suite)                                                                          \
    INSTANTIATE_TEST_SUITE_P(                                                                                 \
        Levels, Suite,                                                                                        \
        ::testing::Values(::zorbrix::CpuLevel::sse2, ::zorbrix::CpuLevel::avx2, ::zorbrix::CpuLevel::avx512), \
        ::zorbrix::test::kernel_level_param_name)
