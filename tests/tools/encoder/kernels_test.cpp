// The encoder's kernels at every level must give exactly the bytes of their scalar references (through the kernel
// test driver), and the forward DCT must be a DCT.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "tests/support/kernel_levels.h"
#include "tools/encoder/dsp.h"

namespace {

using zorbrix::CpuLevel;
using zorbrix::enc::dsp_for;

class EncoderKernelLevels : public zorbrix::test::KernelLevelTest {};
ZORBRIX_KERNEL_LEVELS(EncoderKernelLevels);

TEST_P(EncoderKernelLevels, MatchScalarOnRandomInputs) {
    const auto s = dsp_for(CpuLevel::scalar);
    const auto v = dsp_for(level());
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> byte(0, 255), coef(-32767, 32767), small(-2048, 2048), q(1, 31);
    alignas(16) uint8_t a[40 * 40], b[40 * 40];
    for (int iter = 0; iter < 6000; ++iter) {
        // Residual or sample blocks, sometimes at the extremes.
        int16_t x[64], y[64];
        const int mode = iter % 4;
        for (int i = 0; i < 64; ++i) {
            x[i] = static_cast<int16_t>(mode == 0   ? byte(rng)
                                        : mode == 1 ? byte(rng) - byte(rng)
                                        : mode == 2 ? ((byte(rng) & 1) ? 255 : -255)
                                                    : (byte(rng) & 1) * 255);
        }
        std::memcpy(y, x, sizeof(x));
        s.fdct(x);
        v.fdct(y);
        ASSERT_EQ(std::memcmp(x, y, sizeof(x)), 0) << "fdct, iteration " << iter;

        int16_t c[64], l1[64], l2[64];
        for (int i = 0; i < 64; ++i) c[i] = static_cast<int16_t>(iter % 3 ? small(rng) : coef(rng));
        const int qp = q(rng), bias = (iter & 1) ? qp / 2 : 0;
        const int n1 = s.quant(c, l1, qp, bias), n2 = v.quant(c, l2, qp, bias);
        ASSERT_EQ(n1, n2) << "quant count, qp " << qp;
        ASSERT_EQ(std::memcmp(l1, l2, sizeof(l1)), 0) << "quant, qp " << qp;

        for (auto& p : a) p = static_cast<uint8_t>(byte(rng));
        for (auto& p : b) p = static_cast<uint8_t>(byte(rng));
        const int off_a = byte(rng) % 20, off_b = byte(rng) % 20;
        ASSERT_EQ(s.sad16(a + off_a, 40, b + off_b, 40), v.sad16(a + off_a, 40, b + off_b, 40));
        ASSERT_EQ(s.sad8(a + off_a, 40, b + off_b, 40), v.sad8(a + off_a, 40, b + off_b, 40));
        // A stride of 0 repeats one row: the encoder's sum and deviation of a macroblock.
        ASSERT_EQ(s.sad16(a + off_a, 40, b + off_b, 0), v.sad16(a + off_a, 40, b + off_b, 0));
        // Levels as the quantiser leaves them, some at the limits; the DC kept or not.
        int16_t lv[64], q1[64], q2[64];
        for (int i = 0; i < 64; ++i) {
            lv[i] = static_cast<int16_t>(iter % 5 == 0     ? ((byte(rng) & 1) ? 2047 : -2047)
                                         : byte(rng) < 128 ? 0
                                                           : small(rng) % 2048);
        }
        const int from = iter & 1;
        q1[0] = q2[0] = 77;
        s.dequant(lv, q1, qp, from);
        v.dequant(lv, q2, qp, from);
        ASSERT_EQ(std::memcmp(q1, q2, sizeof(q1)), 0) << "dequant, qp " << qp << " from " << from;
        if (from) {
            ASSERT_EQ(77, q2[0]);
        }
        ASSERT_EQ(s.nonzero_mask(lv), v.nonzero_mask(lv));
        ASSERT_EQ(s.nonzero_mask(c), v.nonzero_mask(c));
        for (int i = 0; i < 64; ++i) ASSERT_EQ(lv[i] != 0, ((s.nonzero_mask(lv) >> i) & 1) != 0);
        int16_t d1[64], d2[64];
        s.diff8(a + off_a, 40, b + off_b, 40, d1);
        v.diff8(a + off_a, 40, b + off_b, 40, d2);
        ASSERT_EQ(std::memcmp(d1, d2, sizeof(d1)), 0);
    }
}

TEST(EncoderKernels, ForwardDctIsWithinOneOfTheExactTransform) {
    const double pi = std::acos(-1.0);
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> d(-255, 255);
    for (int iter = 0; iter < 500; ++iter) {
        int16_t x[64];
        for (auto& v : x) v = static_cast<int16_t>(d(rng));
        int16_t f[64];
        std::memcpy(f, x, sizeof(x));
        zorbrix::enc::dsp().fdct(f);
        for (int u = 0; u < 8; ++u) {
            for (int v = 0; v < 8; ++v) {
                double sum = 0;
                for (int yy = 0; yy < 8; ++yy)
                    for (int xx = 0; xx < 8; ++xx)
                        sum += x[yy * 8 + xx] * std::cos((2 * yy + 1) * u * pi / 16) *
                               std::cos((2 * xx + 1) * v * pi / 16);
                sum *= 0.25 * (u ? 1 : std::sqrt(0.5)) * (v ? 1 : std::sqrt(0.5));
                ASSERT_LE(std::abs(sum - f[u * 8 + v]), 1.0) << u << "," << v;
            }
        }
    }
    // A flat block of 128 has DC 1024 and nothing else.
    int16_t flat[64];
    for (auto& v : flat) v = 128;
    zorbrix::enc::dsp().fdct(flat);
    EXPECT_EQ(flat[0], 1024);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(flat[i], 0);
}

TEST(EncoderKernels, QuantiserSteps) {
    int16_t c[64] = {}, l[64];
    c[0] = 17;     // intra: 17 / 8 = 2 at qp 4
    c[1] = -17;    // sign kept
    c[2] = 7;      // below one step
    c[3] = 9;      // inter dead zone at qp 4: (9 - 2) / 8 = 0
    c[4] = 30000;  // limited to the escape range
    EXPECT_EQ(zorbrix::enc::dsp().quant(c, l, 4, 0), 4);
    EXPECT_EQ(l[0], 2);
    EXPECT_EQ(l[1], -2);
    EXPECT_EQ(l[2], 0);
    EXPECT_EQ(l[3], 1);
    EXPECT_EQ(l[4], 2047);
    zorbrix::enc::dsp().quant(c, l, 4, 2);
    EXPECT_EQ(l[3], 0);
}

}  // namespace

namespace {

// Every coefficient value at every quantiser and both biases: the SSE2 quantiser divides by multiplying.
TEST_P(EncoderKernelLevels, QuantiserIsExactForEveryValue) {
    const auto s = dsp_for(CpuLevel::scalar);
    const auto v = dsp_for(level());
    for (int qp = 1; qp <= 31; ++qp) {
        for (int bias : {0, qp / 2}) {
            for (int base = -32767; base <= 32767; base += 64) {
                int16_t c[64], l1[64], l2[64];
                for (int i = 0; i < 64; ++i) c[i] = static_cast<int16_t>(std::min(32767, base + i));
                s.quant(c, l1, qp, bias);
                v.quant(c, l2, qp, bias);
                ASSERT_EQ(std::memcmp(l1, l2, sizeof(l1)), 0) << "qp " << qp << " bias " << bias << " from " << base;
            }
        }
    }
}

}  // namespace
