// The decoder's kernels: every level's table against the scalar reference on random inputs (through the kernel
// test driver), and the worked examples that pin down rounding and saturation.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tests/support/kernel_levels.h"
#include "video/colour_convert.h"
#include "video/mpeg4/idct.h"
#include "video/mpeg4/motion.h"
#include "video/mpeg4/postprocess.h"

using namespace zorbrix;
using namespace zorbrix::mpeg4;

namespace {

// Coefficient blocks of the kinds a decoder meets: sparse small levels, dense large ones, extremes.
void random_block(std::mt19937& rng, int16_t* b) {
    std::memset(b, 0, 64 * sizeof(int16_t));
    const int kind = rng() % 4;
    if (kind == 0) {
        const int n = 1 + rng() % 8;
        for (int i = 0; i < n; ++i) b[rng() % 64] = static_cast<int16_t>(static_cast<int>(rng() % 2048) - 1024);
    } else if (kind == 1) {
        for (int i = 0; i < 64; ++i) b[i] = static_cast<int16_t>(static_cast<int>(rng() % 4096) - 2048);
    } else if (kind == 2) {
        for (int i = 0; i < 64; ++i) b[i] = static_cast<int16_t>(rng());
    } else {
        for (int i = 0; i < 64; ++i) b[i] = (rng() & 1) ? 32767 : -32768;
    }
}

// Each kernel family at sse2, avx2 and avx512 (a level without its own versions inherits the one below).
class IdctLevels : public zorbrix::test::KernelLevelTest {};
class BlockWriterLevels : public zorbrix::test::KernelLevelTest {};
class PredictionLevels : public zorbrix::test::KernelLevelTest {};
class DeblockingLevels : public zorbrix::test::KernelLevelTest {};
class ColourLevels : public zorbrix::test::KernelLevelTest {};
ZORBRIX_KERNEL_LEVELS(IdctLevels);
ZORBRIX_KERNEL_LEVELS(BlockWriterLevels);
ZORBRIX_KERNEL_LEVELS(PredictionLevels);
ZORBRIX_KERNEL_LEVELS(DeblockingLevels);
ZORBRIX_KERNEL_LEVELS(ColourLevels);

}  // namespace

TEST_P(IdctLevels, MatchesScalarOnRandomBlocks) {
    const IdctKernels ref = idct_kernels_for(CpuLevel::scalar), k = idct_kernels_for(level());
    std::mt19937 rng(1);
    for (int n = 0; n < 200000; ++n) {
        int16_t a[64], b[64];
        random_block(rng, a);
        std::memcpy(b, a, sizeof a);
        ref.idct_8x8(a);
        k.idct_8x8(b);
        ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "block " << n;
    }
}

TEST(Idct, DcOnlyAndZeroBlocks) {
    int16_t b[64] = {1024};
    idct_8x8(b);
    for (int v : b) EXPECT_EQ(128, v);
    int16_t z[64] = {};
    idct_8x8(z);
    for (int v : z) EXPECT_EQ(0, v);
    // Saturation happens in the transform at the 16-bit range, clamping only in the writers.
    int16_t big[64] = {32767};
    idct_kernels_for(CpuLevel::scalar).idct_8x8(big);
    for (int v : big) EXPECT_GT(v, 255);
}

TEST_P(BlockWriterLevels, ClampAndMatchScalar) {
    const IdctKernels ref = idct_kernels_for(CpuLevel::scalar), k = idct_kernels_for(level());
    std::mt19937 rng(2);
    for (int n = 0; n < 20000; ++n) {
        int16_t blk[64];
        random_block(rng, blk);
        uint8_t a[8 * 24], b[8 * 24];
        for (auto& x : a) x = static_cast<uint8_t>(rng());
        std::memcpy(b, a, sizeof a);
        if (n & 1) {
            ref.put_block_clamped(blk, a + 3, 24);
            k.put_block_clamped(blk, b + 3, 24);
        } else {
            ref.add_block_clamped(blk, a + 3, 24);
            k.add_block_clamped(blk, b + 3, 24);
        }
        ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << n;
    }
    int16_t blk[64] = {-5, 300, 100};
    uint8_t plane[8 * 8];
    std::memset(plane, 200, sizeof plane);
    add_block_clamped(blk, plane, 8);
    EXPECT_EQ(195, plane[0]);
    EXPECT_EQ(255, plane[1]);
    EXPECT_EQ(255, plane[2]);
    EXPECT_EQ(200, plane[3]);  // a zero residual leaves the prediction
    put_block_clamped(blk, plane, 8);
    EXPECT_EQ(0, plane[0]);
    EXPECT_EQ(255, plane[1]);
    EXPECT_EQ(100, plane[2]);
}

TEST_P(PredictionLevels, AllRoutinesMatchScalar) {
    const PredictKernels ref = predict_kernels_for(CpuLevel::scalar), k = predict_kernels_for(level());
    std::mt19937 rng(3);
    const int stride = 48;
    std::vector<uint8_t> src(stride * 40), a(stride * 40), b(stride * 40);
    for (int n = 0; n < 2000; ++n) {
        for (auto& x : src) x = static_cast<uint8_t>(rng());
        for (int idx = 0; idx < 16; ++idx) {
            std::fill(a.begin(), a.end(), 7);
            std::fill(b.begin(), b.end(), 7);
            const int off = stride * 3 + 5;
            ref.predict[idx](a.data() + off, src.data() + off + 1, stride);
            k.predict[idx](b.data() + off, src.data() + off + 1, stride);
            ASSERT_EQ(a, b) << "routine " << idx;
        }
    }
}

TEST(Prediction, HalfPelRoundingExamples) {
    const PredictKernels scalar = predict_kernels_for(CpuLevel::scalar);
    const int stride = 32;
    std::vector<uint8_t> src(stride * 20), dst(stride * 20);
    // A 2x2 checker of 0 and 255: both half-pel directions average 0, 255, 255, 0.
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < stride; ++x) src[y * stride + x] = ((x + y) & 1) ? 255 : 0;
    scalar.predict[predict_index(16, 0, 1, 1)](dst.data(), src.data(), stride);
    EXPECT_EQ(128, dst[0]);
    scalar.predict[predict_index(16, 1, 1, 1)](dst.data(), src.data(), stride);
    EXPECT_EQ(127, dst[0]);
    scalar.predict[predict_index(8, 0, 1, 0)](dst.data(), src.data(), stride);
    EXPECT_EQ(128, dst[0]);
    scalar.predict[predict_index(8, 1, 0, 1)](dst.data(), src.data(), stride);
    EXPECT_EQ(127, dst[0]);
    // A flat area stays flat, and a zero vector copies whatever the rounding.
    std::fill(src.begin(), src.end(), 100);
    predict_kernels().predict[predict_index(16, 0, 1, 1)](dst.data(), src.data(), stride);
    EXPECT_EQ(100, dst[15 * stride + 15]);
    EXPECT_EQ(predict_index(16, 1, 0, 0), 12);
    EXPECT_EQ(predict_index(8, 0, 0, 0), 0);
    EXPECT_EQ(predict_index(16, 0, -1, 0), 9);  // -1 is odd: half-pel between columns col - 1 and col
}

TEST(Prediction, ChromaVectors) {
    EXPECT_EQ(1, chroma_vector_one(1));
    EXPECT_EQ(1, chroma_vector_one(2));
    EXPECT_EQ(1, chroma_vector_one(3));
    EXPECT_EQ(2, chroma_vector_one(4));
    EXPECT_EQ(-1, chroma_vector_one(-1));
    EXPECT_EQ(-1, chroma_vector_one(-2));
    EXPECT_EQ(-1, chroma_vector_one(-3));
    EXPECT_EQ(-3, chroma_vector_one(-5));
    EXPECT_EQ(1, chroma_vector_four(4));
    EXPECT_EQ(-2, chroma_vector_four(-14));
    EXPECT_EQ(0, chroma_vector_four(0));
    EXPECT_EQ(2, chroma_vector_four(16));
    EXPECT_EQ(5, chroma_vector_four(35));  // 2 * 2 + T[3]
}

TEST(Padding, MarginsRepeatTheNearestPictureSample) {
    const int w = 16, h = 8, m = 4, stride = w + 2 * m, rows = h + 2 * m;
    std::vector<uint8_t> plane(stride * rows, 0xEE);
    uint8_t* origin = plane.data() + m * stride + m;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) origin[y * stride + x] = static_cast<uint8_t>(y * 16 + x);
    pad_plane_edges(origin, stride, rows, m);
    for (int y = -m; y < h + m; ++y)
        for (int x = -m; x < w + m; ++x) {
            const int cy = std::clamp(y, 0, h - 1), cx = std::clamp(x, 0, w - 1);
            ASSERT_EQ(origin[cy * stride + cx], origin[y * stride + x]) << x << "," << y;
        }
}

namespace {
// A w x h plane with a margin of 8 so the filters may be given any rows.
struct PpPlane {
    int w, h, stride;
    std::vector<uint8_t> px;
    PpPlane(int w_, int h_) : w(w_), h(h_), stride(w_), px(static_cast<size_t>(w_) * h_) {}
    uint8_t& at(int x, int y) { return px[static_cast<size_t>(y) * stride + x]; }
};
}  // namespace

TEST(Deblocking, FlatPictureUnchangedByEveryFilter) {
    const int w = 64, h = 48;
    std::vector<uint8_t> y(w * h, 90), u(w * h / 4, 60), v(w * h / 4, 200);
    std::vector<uint8_t> oy(w * h), ou(w * h / 4), ov(w * h / 4);
    std::vector<uint8_t> quant(46 * 3, 7);
    postprocess_frame(y.data(), u.data(), v.data(), w, oy.data(), ou.data(), ov.data(), w, w, h, quant.data(), 46,
                      0x3F);
    EXPECT_EQ(y, oy);
    EXPECT_EQ(u, ou);
    EXPECT_EQ(v, ov);
}

TEST(Deblocking, StepEdgeAtQp10StaysAndAtQp11Smooths) {
    for (int qp : {10, 11}) {
        PpPlane p(32, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 32; ++x) p.at(x, y) = x < 8 ? 100 : 120;
        const uint8_t quant[2] = {static_cast<uint8_t>(qp), static_cast<uint8_t>(qp)};
        filter_vertical_edges(p.px.data(), 32, 32, quant, true);
        if (qp == 10) {
            EXPECT_EQ(100, p.at(7, 0));
            EXPECT_EQ(120, p.at(8, 0));
        } else {
            // DC offset mode: a 9-tap low-pass across the edge, monotonic from 100 to 120.
            for (int x = 4; x < 12; ++x) EXPECT_LE(p.at(x - 1, 2), p.at(x, 2));
            EXPECT_GT(p.at(7, 0), 100);
            EXPECT_LT(p.at(8, 0), 120);
            EXPECT_EQ(p.at(7, 0), p.at(7, 3));
        }
    }
}

TEST_P(DeblockingLevels, HorizontalFilterMatchesScalar) {
    const DeblockKernels ref = deblock_kernels_for(CpuLevel::scalar), k = deblock_kernels_for(level());
    std::mt19937 rng(5);
    const int w = 64, h = 16;
    for (int n = 0; n < 20000; ++n) {
        std::vector<uint8_t> a(w * h);
        // Mostly smooth content with a step, so both modes and all their branches occur.
        const int base = rng() % 256, step = static_cast<int>(rng() % 41) - 20, noise = 1 + rng() % 6;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                a[y * w + x] = static_cast<uint8_t>(
                    std::clamp(base + (y >= 8 ? step : 0) + static_cast<int>(rng() % noise), 0, 255));
        if (n % 7 == 0)
            for (auto& x : a) x = static_cast<uint8_t>(rng());
        std::vector<uint8_t> b = a;
        uint8_t quant[8];  // one per 8 columns covers chroma (x / 8) and luma (x / 16)
        for (auto& q : quant) q = static_cast<uint8_t>(1 + rng() % 31);
        ref.filter_horizontal_edges(a.data() + 8 * w, w, w, quant, n & 1);
        k.filter_horizontal_edges(b.data() + 8 * w, w, w, quant, n & 1);
        ASSERT_EQ(a, b) << n;
    }
}

TEST_P(DeblockingLevels, VerticalFilterMatchesScalar) {
    const DeblockKernels ref = deblock_kernels_for(CpuLevel::scalar), k = deblock_kernels_for(level());
    std::mt19937 rng(7);
    const int w = 64, h = 4;
    for (int n = 0; n < 20000; ++n) {
        std::vector<uint8_t> a(w * h);
        const int base = rng() % 256, step = static_cast<int>(rng() % 41) - 20, noise = 1 + rng() % 6;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                a[y * w + x] = static_cast<uint8_t>(
                    std::clamp(base + ((x / 8) % 2 ? step : 0) + static_cast<int>(rng() % noise), 0, 255));
        if (n % 7 == 0)
            for (auto& x : a) x = static_cast<uint8_t>(rng());
        std::vector<uint8_t> b = a;
        uint8_t quant[8];
        for (auto& q : quant) q = static_cast<uint8_t>(1 + rng() % 31);
        ref.filter_vertical_edges(a.data(), w, w, quant, n & 1);
        k.filter_vertical_edges(b.data(), w, w, quant, n & 1);
        ASSERT_EQ(a, b) << n;
    }
}

// Every width from 1 to 80 and several strides, in buffers that end right after the last sample the reference
// reads (so an over-read shows under ASan); flat, stepped, ramped, noisy and mixed rows, so that the default mode,
// the DC offset mode and the skipped case occur next to each other; quantisers 1..31 and a few extreme ones.
TEST_P(DeblockingLevels, VerticalFilterMatchesScalarOnAllWidthsAndAreas) {
    const DeblockKernels ref = deblock_kernels_for(CpuLevel::scalar), k = deblock_kernels_for(level());
    std::mt19937 rng(11);
    for (int n = 0; n < 60000; ++n) {
        const int w = 1 + n % 80;
        const int stride = w + 8 + static_cast<int>(rng() % 3) * 7;
        const int last_read = w > 8 ? ((w - 1) / 8) * 8 + 4 : 0;  // reference reads columns 3 .. last_read
        std::vector<uint8_t> a(3 * stride + last_read + 1);
        const int base = rng() % 256, noise = 1 + rng() % 4;
        for (int x = 0; x < stride; ++x) {
            // Each 8-column block picks its own kind of content.
            const int kind = (n + x / 8 * 7 + static_cast<int>(rng() % 2 == 0 ? 0 : x / 8)) % 5;
            for (int y = 0; y < 4; ++y) {
                const size_t i = static_cast<size_t>(y) * stride + x;
                if (i >= a.size()) continue;
                int val = base;
                if (kind == 1) val = base + ((x / 8) % 2 ? static_cast<int>(rng() % 61) - 30 : 0);
                if (kind == 2) val = base + (x % 8) * (static_cast<int>(rng() % 5) - 2);
                if (kind == 3) val = base + static_cast<int>(rng() % noise);
                if (kind == 4) val = static_cast<int>(rng() % 256);
                a[i] = static_cast<uint8_t>(std::clamp(val, 0, 255));
            }
        }
        if (n % 11 == 0)
            for (auto& x : a) x = static_cast<uint8_t>(rng());
        if (n % 13 == 0)
            for (auto& x : a) x = static_cast<uint8_t>(x < 128 ? 0 : 255);
        std::vector<uint8_t> b = a;
        uint8_t quant[16];
        for (int i = 0; i < 16; ++i) quant[i] = static_cast<uint8_t>(1 + (n + i * 5) % 31);
        if (n % 17 == 0) quant[rng() % 16] = static_cast<uint8_t>(rng() % 2 ? 0 : 255);
        ref.filter_vertical_edges(a.data(), w, stride, quant, n & 1);
        k.filter_vertical_edges(b.data(), w, stride, quant, n & 1);
        ASSERT_EQ(a, b) << "case " << n << " width " << w << " stride " << stride;
    }
}

TEST(Deblocking, SkipCopyFlagAloneTouchesNothing) {
    const int w = 32, h = 32;
    std::vector<uint8_t> y(w * h, 1), u(w * h / 4, 2), v(w * h / 4, 3);
    std::vector<uint8_t> oy(w * h, 9), ou(w * h / 4, 9), ov(w * h / 4, 9);
    std::vector<uint8_t> quant(46 * 2, 4);
    postprocess_frame(y.data(), u.data(), v.data(), w, oy.data(), ou.data(), ov.data(), w, w, h, quant.data(), 46,
                      PP_SKIP_COPY);
    EXPECT_EQ(std::vector<uint8_t>(w * h, 9), oy);
    EXPECT_EQ(std::vector<uint8_t>(w * h / 4, 9), ou);
}

namespace {
uint32_t rgb32_of(int Y, int U, int V) {
    uint8_t y[16], u[8], v[8];
    std::memset(y, Y, sizeof y);
    std::memset(u, U, sizeof u);
    std::memset(v, V, sizeof v);
    uint32_t out[16];
    convert_rgb32(y, 8, u, v, 4, reinterpret_cast<uint8_t*>(out), 8, 2);
    return out[0];
}
}  // namespace

TEST(ColourConversion, Rgb32Examples) {
    EXPECT_EQ(0x00000000u, rgb32_of(16, 128, 128));
    EXPECT_EQ(0x00FFFFFFu, rgb32_of(235, 128, 128));
    EXPECT_EQ(0x00000000u, rgb32_of(3, 128, 128));
    EXPECT_EQ(0x00FF1A82u, rgb32_of(128, 128, 255));  // R 255, G 26, B 130
    EXPECT_EQ(0x008250FFu, rgb32_of(128, 255, 128));  // R 130, G 80, B 255
    EXPECT_EQ(0x0000FF00u, rgb32_of(128, 0, 0));
}

TEST_P(ColourLevels, Rgb32MatchesScalarAndOrientation) {
    const ColourKernels ref = colour_kernels_for(CpuLevel::scalar), k = colour_kernels_for(level());
    std::mt19937 rng(6);
    for (int n = 0; n < 2000; ++n) {
        const int w = 40, h = 5 + n % 2, ys = 48, cs = 24;  // odd heights too
        std::vector<uint8_t> y(ys * h), u(cs * ((h + 1) / 2)), v(cs * ((h + 1) / 2));
        for (auto& x : y) x = static_cast<uint8_t>(rng());
        for (auto& x : u) x = static_cast<uint8_t>(rng());
        for (auto& x : v) x = static_cast<uint8_t>(rng());
        for (int sign : {1, -1}) {
            std::vector<uint32_t> a(w * h, 0xDEADBEEF), b(w * h, 0xDEADBEEF);
            ref.convert_rgb32(y.data(), ys, u.data(), v.data(), cs, reinterpret_cast<uint8_t*>(a.data()), w, sign * h);
            k.convert_rgb32(y.data(), ys, u.data(), v.data(), cs, reinterpret_cast<uint8_t*>(b.data()), w, sign * h);
            ASSERT_EQ(a, b);
        }
    }
    // Negative height: the first destination row is the bottom picture row.
    uint8_t yy[16 * 2], uu[8], vv[8];
    std::memset(yy, 16, 16);
    std::memset(yy + 16, 235, 16);
    std::memset(uu, 128, 8);
    std::memset(vv, 128, 8);
    uint32_t out[32];
    convert_rgb32(yy, 16, uu, vv, 8, reinterpret_cast<uint8_t*>(out), 16, -2);
    EXPECT_EQ(0x00FFFFFFu, out[0]);
    EXPECT_EQ(0x00000000u, out[16]);
}

TEST(ColourConversion, WidthNotMultipleOfEightLeavesTheRest) {
    uint8_t y[20 * 2], u[10], v[10];
    std::memset(y, 235, sizeof y);
    std::memset(u, 128, sizeof u);
    std::memset(v, 128, sizeof v);
    std::vector<uint32_t> out(20 * 2, 0x12345678);
    convert_rgb32(y, 20, u, v, 10, reinterpret_cast<uint8_t*>(out.data()), 20, 2);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(0x00FFFFFFu, out[r * 20 + 15]);
        for (int x = 16; x < 20; ++x) EXPECT_EQ(0x12345678u, out[r * 20 + x]);
    }
}

TEST(ColourConversion, PlanarAndPackedLayouts) {
    // 4x2 picture: Y 0..7, U {100, 101}, V {200, 201}.
    uint8_t y[8] = {0, 1, 2, 3, 4, 5, 6, 7}, u[2] = {100, 101}, v[2] = {200, 201};
    uint8_t yv12[12];
    convert_yv12(y, 4, u, v, 2, yv12, 4, 2);
    const uint8_t want_yv12[12] = {0, 1, 2, 3, 4, 5, 6, 7, 200, 201, 100, 101};
    EXPECT_EQ(0, std::memcmp(yv12, want_yv12, 12));
    uint8_t yuy2[16];
    convert_yuy2(y, 4, u, v, 2, yuy2, 4, 2);
    const uint8_t want_yuy2[8] = {0, 100, 1, 200, 2, 101, 3, 201};
    EXPECT_EQ(0, std::memcmp(yuy2, want_yuy2, 8));
    uint8_t uyvy[16];
    convert_uyvy(y, 4, u, v, 2, uyvy, 4, 2);
    const uint8_t want_uyvy[8] = {100, 0, 200, 1, 101, 2, 201, 3};
    EXPECT_EQ(0, std::memcmp(uyvy, want_uyvy, 8));
    // The RGB layouts agree with the 32-bit converter on channel values.
    uint8_t gy[16 * 2], gu[8], gv[8];
    std::memset(gy, 128, sizeof gy);
    std::memset(gu, 128, sizeof gu);
    std::memset(gv, 255, sizeof gv);
    uint8_t rgb24[16 * 2 * 3], rgb555[16 * 2 * 2], rgb565[16 * 2 * 2];
    convert_rgb24(gy, 16, gu, gv, 8, rgb24, 16, -2);
    EXPECT_EQ(130, rgb24[0]);
    EXPECT_EQ(26, rgb24[1]);
    EXPECT_EQ(255, rgb24[2]);
    convert_rgb555(gy, 16, gu, gv, 8, rgb555, 16, -2);
    EXPECT_EQ((130 >> 3) | ((26 >> 3) << 5) | ((255 >> 3) << 10), rgb555[0] | rgb555[1] << 8);
    convert_rgb565(gy, 16, gu, gv, 8, rgb565, 16, -2);
    EXPECT_EQ((130 >> 3) | ((26 >> 3) << 6) | ((255 >> 3) << 11), rgb565[0] | rgb565[1] << 8);
}
