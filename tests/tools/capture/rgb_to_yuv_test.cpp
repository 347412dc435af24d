// The capture tool's colour conversion: every vector level gives the reference's bytes for any pixel (top byte
// included, which is ignored), any even size and row tails of every length; and the reference's own values.
#include "tools/capture/rgb_to_yuv.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/kernel_levels.h"

namespace {

using zorbrix::CpuLevel;
using zorbrix::test::GuardedBuffer;

TEST(RgbToYuv, ReferenceGivesStudioRangeValues) {
    const uint32_t pixels[4] = {0x000000, 0x000000, 0x000000, 0x000000};
    zorbrix::enc::YuvFrame out;
    rgb_to_yuv420_with(rgb_to_yuv_kernels_for(CpuLevel::scalar), pixels, 2, 2, &out);
    EXPECT_EQ(out.y[0], 16);
    EXPECT_EQ(out.u[0], 128);
    EXPECT_EQ(out.v[0], 128);
    const uint32_t white[4] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
    rgb_to_yuv420_with(rgb_to_yuv_kernels_for(CpuLevel::scalar), white, 2, 2, &out);
    EXPECT_EQ(out.y[3], 235);
    EXPECT_EQ(out.u[0], 128);
    EXPECT_EQ(out.v[0], 128);
    const uint32_t red[4] = {0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000};
    rgb_to_yuv420_with(rgb_to_yuv_kernels_for(CpuLevel::scalar), red, 2, 2, &out);
    EXPECT_EQ(out.y[0], 82);
    EXPECT_EQ(out.u[0], 90);   // 128 + (-38 x 1020 + 512) >> 10
    EXPECT_EQ(out.v[0], 240);  // 128 + (112 x 1020 + 512) >> 10
    // The program's table gives the same.
    rgb_to_yuv420(red, 2, 2, &out);
    EXPECT_EQ(out.u[0], 90);
}

TEST(RgbToYuv, TheProgramTableHoldsVersionsThisProcessMayRun) {
    const RgbToYuvKernels& k = rgb_to_yuv_kernels();
    EXPECT_EQ(k.level, zorbrix::cpu_level());
    for (const CpuLevel l : {k.luma_row.level, k.chroma_row.level}) EXPECT_TRUE(zorbrix::cpu_allows(l));
    // Each entry is the version its level's table has, not something else.
    EXPECT_EQ(k.luma_row.fn, rgb_to_yuv_kernels_for(k.luma_row.level).luma_row.fn);
    EXPECT_EQ(k.chroma_row.fn, rgb_to_yuv_kernels_for(k.chroma_row.level).chroma_row.fn);
}

class RgbToYuvLevels : public zorbrix::test::KernelLevelTest {};

TEST_P(RgbToYuvLevels, RowsGiveTheReferenceBytesForEveryLengthAndPixel) {
    const RgbToYuvKernels k = rgb_to_yuv_kernels_for(level()), ref = rgb_to_yuv_kernels_for(CpuLevel::scalar);
    std::mt19937 rng(11);
    for (int width = 0; width <= 80; ++width) {
        for (int pass = 0; pass < 8; ++pass) {
            std::vector<uint32_t> row0(size_t(width) + 1), row1(size_t(width) + 1);
            for (size_t i = 0; i < row0.size(); ++i) {
                // Extremes as well as random pixels: the sums' edges are where a wrong width or shift shows.
                const uint32_t pick = rng() % 4;
                row0[i] = pick == 0 ? 0xFFFFFFFFu : pick == 1 ? 0xFF000000u : static_cast<uint32_t>(rng());
                row1[i] = pick == 2 ? 0x00FF00FFu : static_cast<uint32_t>(rng());
            }
            GuardedBuffer<uint8_t> y{size_t(width)}, y_ref{size_t(width)};
            k.luma_row(row0.data(), y.data(), width);
            ref.luma_row(row0.data(), y_ref.data(), width);
            ASSERT_EQ(y.values(), y_ref.values()) << level_name() << " luma, width " << width;
            ASSERT_TRUE(y.guards_intact()) << level_name() << " luma, width " << width;
            const int cw = width / 2;
            GuardedBuffer<uint8_t> u{size_t(cw)}, v{size_t(cw)}, u_ref{size_t(cw)}, v_ref{size_t(cw)};
            k.chroma_row(row0.data(), row1.data(), u.data(), v.data(), cw);
            ref.chroma_row(row0.data(), row1.data(), u_ref.data(), v_ref.data(), cw);
            ASSERT_EQ(u.values(), u_ref.values()) << level_name() << " Cb, groups " << cw;
            ASSERT_EQ(v.values(), v_ref.values()) << level_name() << " Cr, groups " << cw;
            ASSERT_TRUE(u.guards_intact() && v.guards_intact()) << level_name() << " chroma, groups " << cw;
        }
    }
}

TEST_P(RgbToYuvLevels, WholeFramesGiveTheReferencePlanes) {
    const RgbToYuvKernels k = rgb_to_yuv_kernels_for(level()), ref = rgb_to_yuv_kernels_for(CpuLevel::scalar);
    std::mt19937 rng(12);
    for (const auto& [w, h] : {std::pair{512, 384}, std::pair{2, 2}, std::pair{38, 6}, std::pair{100, 50}}) {
        std::vector<uint32_t> pixels(size_t(w) * h);
        for (auto& p : pixels) p = static_cast<uint32_t>(rng());
        zorbrix::enc::YuvFrame out, expected;
        rgb_to_yuv420_with(k, pixels.data(), w, h, &out);
        rgb_to_yuv420_with(ref, pixels.data(), w, h, &expected);
        EXPECT_EQ(out.y, expected.y) << level_name() << " " << w << "x" << h;
        EXPECT_EQ(out.u, expected.u) << level_name() << " " << w << "x" << h;
        EXPECT_EQ(out.v, expected.v) << level_name() << " " << w << "x" << h;
    }
}

ZORBRIX_KERNEL_LEVELS(RgbToYuvLevels);

}  // namespace
