// The row kernels: every vector set against the scalar reference, and the arithmetic of the rules themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "gfx/blit_kernels.h"
#include "tests/support/kernel_levels.h"

namespace {

using zorbrix::blend_row;
using zorbrix::blend_row_faded;
using zorbrix::CpuLevel;
using zorbrix::fade_to_byte;
using zorbrix::row_kernels;
using zorbrix::row_kernels_for;
using zorbrix::RowKernels;
using zorbrix::upscale_row_pair;
using zorbrix::test::GuardedBuffer;

const RowKernels& reference() {
    static const RowKernels k = row_kernels_for(CpuLevel::scalar);
    return k;
}

// Pixels with alphas that favour the interesting values: fully transparent, opaque, and anything.
uint32_t random_pixel(std::mt19937& rng) {
    const uint32_t word = rng();
    switch (rng() % 4) {
    case 0: return word & 0x00FFFFFFu;
    case 1: return word | 0xFF000000u;
    default: return word;
    }
}

// Row lengths: 0, 1, every small length (all tails), and a few long ones.
int random_length(std::mt19937& rng) {
    return rng() % 4 == 0 ? static_cast<int>(rng() % 600) : static_cast<int>(rng() % 40);
}

constexpr uint32_t kGuard = 0xDEADBEEFu;

// Runs a blend-like kernel of `set` and of the reference on the same random row at a random (unaligned) start, and
// compares the whole buffer, guard words around the row included.
template <typename Run>
void compare_blends(const RowKernels& set, Run run, int rows) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < rows; ++trial) {
        const int n = random_length(rng);
        const int src_at = static_cast<int>(rng() % 8);
        const int dst_at = static_cast<int>(rng() % 8) + 1;
        const int fade = rng() % 3 == 0 ? (rng() % 2 == 0 ? 0 : 255) : static_cast<int>(rng() % 256);
        std::vector<uint32_t> src(static_cast<size_t>(n + src_at));
        GuardedBuffer<uint32_t> dst(static_cast<size_t>(n + dst_at + 9), kGuard);
        for (auto& p : src) p = random_pixel(rng);
        for (int i = 0; i < n; ++i) dst[static_cast<size_t>(dst_at + i)] = rng();
        std::vector<uint32_t> expected = dst.values();
        run(reference(), expected.data() + dst_at, src.data() + src_at, n, fade);
        run(set, dst.data() + dst_at, src.data() + src_at, n, fade);
        ASSERT_EQ(dst.values(), expected)
            << cpu_level_name(set.level) << ": length " << n << ", fade " << fade << ", trial " << trial;
        ASSERT_TRUE(dst.guards_intact()) << "length " << n;
    }
}

class RowKernelLevels : public zorbrix::test::KernelLevelTest {};

TEST_P(RowKernelLevels, EveryEntryIsOfThisLevel) {
    // Every level from SSE2 up has its own version of each row kernel.
    const RowKernels set = row_kernels_for(level());
    EXPECT_EQ(set.level, level());
    EXPECT_EQ(set.copy_row.level, level());
    EXPECT_EQ(set.blend_row.level, level());
    EXPECT_EQ(set.blend_row_faded.level, level());
    EXPECT_EQ(set.upscale_row_pair.level, level());
}

TEST_P(RowKernelLevels, GiveTheReferenceBytesOnRandomRows) {
    const RowKernels set = row_kernels_for(level());
    compare_blends(
        set, [](const RowKernels& k, uint32_t* d, const uint32_t* s, int n, int) { k.copy_row(d, s, n); }, 500);
    compare_blends(
        set, [](const RowKernels& k, uint32_t* d, const uint32_t* s, int n, int) { k.blend_row(d, s, n); }, 3000);
    compare_blends(
        set, [](const RowKernels& k, uint32_t* d, const uint32_t* s, int n, int f) { k.blend_row_faded(d, s, n, f); },
        3000);
}

TEST_P(RowKernelLevels, BlendsGiveTheReferenceBytesForEveryAlphaAndDestinationByte) {
    // 65536 pixels: one for each (alpha, destination byte) pair, colour bytes random.
    const RowKernels set = row_kernels_for(level());
    std::mt19937 rng(99);
    std::vector<uint32_t> src(65536), dst(65536);
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t d = 0; d < 256; ++d) {
            src[a * 256 + d] = (a << 24) | (rng() & 0xFFFFFFu);
            dst[a * 256 + d] = d * 0x01010101u;
        }
    }
    {
        std::vector<uint32_t> expected(dst), got(dst);
        reference().blend_row(expected.data(), src.data(), 65536);
        set.blend_row(got.data(), src.data(), 65536);
        ASSERT_EQ(got, expected);
    }
    for (const int f : {0, 1, 127, 128, 254, 255}) {
        std::vector<uint32_t> expected(dst), got(dst);
        reference().blend_row_faded(expected.data(), src.data(), 65536, f);
        set.blend_row_faded(got.data(), src.data(), 65536, f);
        ASSERT_EQ(got, expected) << "fade " << f;
    }
}

TEST_P(RowKernelLevels, EnlargementGivesTheReferenceBytes) {
    const RowKernels set = row_kernels_for(level());
    std::mt19937 rng(7);
    for (int trial = 0; trial < 800; ++trial) {
        const int dst_width = trial < 40 ? trial : static_cast<int>(rng() % 600);
        const int h = dst_width / 2;
        const int src_at = static_cast<int>(rng() % 8);
        std::vector<uint32_t> src(static_cast<size_t>(2 * h + src_at));
        for (auto& p : src) p = rng() % 5 == 0 ? (rng() % 2 ? 0xFFFFFFFFu : 0u) : rng();
        const int dst_at = 1 + static_cast<int>(rng() % 8);
        GuardedBuffer<uint32_t> dst(static_cast<size_t>(2 * dst_width + dst_at + 9), kGuard);
        std::vector<uint32_t> expected = dst.values();
        reference().upscale_row_pair(expected.data() + dst_at, src.data() + src_at, dst_width);
        set.upscale_row_pair(dst.data() + dst_at, src.data() + src_at, dst_width);
        ASSERT_EQ(dst.values(), expected) << "dst_width " << dst_width;
        ASSERT_TRUE(dst.guards_intact()) << "dst_width " << dst_width;
    }
}

ZORBRIX_KERNEL_LEVELS(RowKernelLevels);

// Each entry of the program's table is chosen by measurement among the levels the process may run: whichever wins,
// it is that level's own version, never one above the process's level.
TEST(RowKernels, TheProgramUsesTheTableOfItsCpuLevel) {
    const RowKernels& k = row_kernels();
    EXPECT_EQ(k.level, zorbrix::cpu_level());
    EXPECT_LE(static_cast<int>(k.blend_row.level), static_cast<int>(zorbrix::cpu_level()));
    EXPECT_EQ(k.blend_row.fn, row_kernels_for(k.blend_row.level).blend_row.fn);
    EXPECT_EQ(reference().blend_row.level, CpuLevel::scalar);
}

// The arithmetic of the rules, checked through the program's own (fast) kernels.

uint32_t blend_one(uint32_t s, uint32_t d) {
    blend_row(&d, &s, 1);
    return d;
}

uint32_t faded_one(uint32_t s, uint32_t d, int f) {
    blend_row_faded(&d, &s, 1, f);
    return d;
}

// A byte-wise map over the four bytes of a word.
template <typename F>
uint32_t per_byte(uint32_t w, F f) {
    uint32_t out = 0;
    for (int k = 0; k < 4; ++k) out |= (f((w >> (8 * k)) & 0xFFu) & 0xFFu) << (8 * k);
    return out;
}

TEST(BlendRow, OpaqueReplacesTransparentAddsWithSaturation) {
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t d = rng();
        const uint32_t opaque = rng() | 0xFF000000u;
        EXPECT_EQ(blend_one(opaque, d), opaque);
        // a = 0: byte-wise saturated sum. widen(1) x widen(255) >> 22 is 0, so a destination byte of 1 adds nothing.
        const uint32_t clear = rng() & 0x00FFFFFFu;
        uint32_t expected = 0;
        for (int k = 0; k < 4; ++k) {
            uint32_t db = (d >> (8 * k)) & 0xFF;
            if (db == 1) db = 0;
            expected |= std::min(255u, ((clear >> (8 * k)) & 0xFF) + db) << (8 * k);
        }
        EXPECT_EQ(blend_one(clear, d), expected);
    }
    EXPECT_EQ(blend_one(0x00808080u, 0x00909090u), 0x00FFFFFFu);
    EXPECT_EQ(blend_one(0x00000000u, 0x01020304u), 0x00020304u);
    // Half alpha: widen(128) x widen(127) >> 22 = 127 for a destination byte of 255.
    EXPECT_EQ(blend_one(0x80000000u, 0x00FFFFFFu), 0x807F7F7Fu);
}

TEST(BlendRowFaded, FullAndZeroFade) {
    std::mt19937 rng(6);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t d = rng();
        const uint32_t s = rng() | 0xFF000000u;
        // Fade 1 of an opaque source gives the source; a source byte of 1 comes out as 0 (widen(1) x widen(255)
        // >> 22 = 0), every other byte exactly.
        EXPECT_EQ(faded_one(s, d, 255), per_byte(s, [](uint32_t v) { return v == 1 ? 0 : v; }));
        // Fade 0 leaves the destination, except that a byte of 1 becomes 0.
        EXPECT_EQ(faded_one(rng(), d, 0), per_byte(d, [](uint32_t v) { return v == 1 ? 0 : v; }));
    }
    // Half fade of an opaque white source onto black: 128/255 of white.
    EXPECT_EQ(faded_one(0xFFFFFFFFu, 0, 128), 0x80808080u);
}

TEST(BlendRowFaded, FadeBytesRoundAndClamp) {
    EXPECT_EQ(fade_to_byte(1.0), 255);
    EXPECT_EQ(fade_to_byte(0.0), 0);
    EXPECT_EQ(fade_to_byte(1.7), 255);
    EXPECT_EQ(fade_to_byte(-0.3), 0);
    EXPECT_EQ(fade_to_byte(0.5), 128);  // 127.5 + 0.5
    EXPECT_EQ(fade_to_byte(1.0 / 255.0 * 0.49), 0);
    EXPECT_EQ(fade_to_byte(1.0 / 255.0 * 0.51), 1);
    EXPECT_EQ(fade_to_byte(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(fade_to_byte(std::numeric_limits<double>::infinity()), 255);
    EXPECT_EQ(fade_to_byte(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(fade_to_byte(1e300), 255);
}

TEST(UpscaleRowPair, InterpolatesPerByteRoundingDown) {
    // dst_width 6: h = 3, two steps. Source rows {a, b, x} over {c, e, y}.
    const uint32_t src[6] = {0x00FF00FFu, 0xFF00FF00u, 0x10203040u, 0x01010101u, 0x02020202u, 0x7F7F7F7Fu};
    uint32_t dst[12];
    std::fill(std::begin(dst), std::end(dst), kGuard);
    upscale_row_pair(dst, src, 6);
    EXPECT_EQ(dst[0], 0x00FF00FFu);
    EXPECT_EQ(dst[1], 0x7F7F7F7Fu);  // (0 + 255) >> 1 = 127 in every byte
    EXPECT_EQ(dst[6], 0x00800080u);  // (0x00FF00FF + 0x01010101) per byte, halved
    // (a + b + c + e) >> 2: (255 + 0 + 1 + 2) >> 2 = 64 and (0 + 255 + 1 + 2) >> 2 = 64.
    EXPECT_EQ(dst[7], 0x40404040u);
    EXPECT_EQ(dst[2], 0xFF00FF00u);
    EXPECT_EQ(dst[3], 0x87109720u);
    EXPECT_EQ(dst[8], 0x80018001u);  // (0xFF + 0x02) >> 1 = 0x80, (0x00 + 0x02) >> 1 = 1
    EXPECT_EQ(dst[9], 0x64286C30u);
    // The last source column only feeds its left neighbours: columns 4, 5 and 10, 11 are not written.
    EXPECT_EQ(dst[4], kGuard);
    EXPECT_EQ(dst[5], kGuard);
    EXPECT_EQ(dst[10], kGuard);
    EXPECT_EQ(dst[11], kGuard);
}

}  // namespace
