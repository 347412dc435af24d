// The decoder's fast paths against plain references: the register-window bit reader against a bit-by-bit one,
// texture events written with the code lists and read back through the packed tables (escapes included), the
// branch-free intra dequantisation against dequant(), the sparse inverse DCT against the full one at every level,
// the AVX2 deblocking tails, the skipped-macroblock copy and the edge padding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "tests/support/kernel_levels.h"
#include "video/mpeg4/bitreader.h"
#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/coefficients.h"
#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/idct.h"
#include "video/mpeg4/motion.h"
#include "video/mpeg4/postprocess.h"
#include "video/mpeg4/vlc_tables.h"

using namespace zorbrix;
using namespace zorbrix::mpeg4;

namespace {

// Bit n of the chunk, most significant first, zero past its end.
uint32_t bit_at(const std::vector<uint8_t>& d, size_t length, size_t n) {
    const size_t byte = n / 8;
    if (byte >= length) return 0;
    return (d[byte] >> (7 - n % 8)) & 1;
}
uint32_t bits_at(const std::vector<uint8_t>& d, size_t length, size_t pos, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit_at(d, length, pos + static_cast<size_t>(i));
    return v;
}

class BitWriter {
public:
    void put(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (bits_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
            ++bits_;
        }
    }
    size_t bits() const { return bits_; }
    // The chunk, followed by the four spare zero bytes every decoded chunk has.
    std::vector<uint8_t> chunk() const {
        std::vector<uint8_t> c = bytes_;
        c.resize(c.size() + 4, 0);
        return c;
    }
    size_t length() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

}  // namespace

// Random sequences of every operation over chunks of every small length, read both ways.
TEST(BitReaderWindow, MatchesBitByBitReadingAcrossRefillsAndThePastTheEndZeros) {
    std::mt19937 rng(21);
    for (int n = 0; n < 3000; ++n) {
        const size_t length = n % 41;
        std::vector<uint8_t> data(length + 8);
        for (auto& b : data) b = static_cast<uint8_t>(rng());  // bytes after the chunk must never be seen
        BitReader br;
        br.reset(data.data(), length);
        size_t pos = 0;
        for (int op = 0; op < 60; ++op) {
            ASSERT_EQ(pos, br.bit_position());
            ASSERT_EQ(static_cast<int>(pos & 7), br.bit_offset());
            const int kind = static_cast<int>(rng() % 8);
            const int k = static_cast<int>(rng() % 33);
            if (kind == 0) {
                ASSERT_EQ(bits_at(data, length, pos, k), br.peek_bits(k)) << "length " << length << " pos " << pos;
            } else if (kind == 1) {
                ASSERT_EQ(bits_at(data, length, pos, k), br.read_bits(k));
                pos += static_cast<size_t>(k);
            } else if (kind == 2) {
                const int far = static_cast<int>(rng() % 90);  // beyond 32 too
                br.advance_bits(far);
                pos += static_cast<size_t>(far);
            } else if (kind == 3) {
                pos = rng() % (length * 8 + 70);
                br.set_bit_position(pos);
            } else if (kind == 4) {
                br.next_start_code();
                pos = (pos + 7) & ~static_cast<size_t>(7);
            } else if (kind == 5) {
                ASSERT_EQ(bits_at(data, length, pos, 32), br.peek_32());
                br.skip_bits(k);
                pos += static_cast<size_t>(k);
            } else if (kind == 6) {
                // A code of up to 31 bits and its sign.
                const int code = k % 32;
                const int sign = bits_at(data, length, pos + static_cast<size_t>(code), 1) ? -1 : 0;
                ASSERT_EQ(sign, br.skip_code_and_sign(code)) << "length " << length << " pos " << pos;
                pos += static_cast<size_t>(code) + 1;
            } else {
                // The same as one field of 1..32 bits that ends with the sign.
                const int bits = k % 32 + 1;
                const int sign = bits_at(data, length, pos + static_cast<size_t>(bits) - 1, 1) ? -1 : 0;
                ASSERT_EQ(sign, br.skip_signed_code(bits)) << "length " << length << " pos " << pos;
                pos += static_cast<size_t>(bits);
            }
        }
    }
}

TEST(BitReaderWindow, UnsetReaderReadsAsAnEmptyChunk) {
    BitReader br;
    EXPECT_EQ(0u, br.bit_position());
    EXPECT_EQ(0u, br.read_bits(32));
    br.advance_bits(100);
    EXPECT_EQ(132u, br.bit_position());
    EXPECT_EQ(0u, br.peek_32());
}

namespace {

struct TestEvent {
    int last, run, level;
};

const TcoefCode* find_code(const TcoefCode* codes, int last, int run, int level) {
    for (int i = 0; i < 102; ++i)
        if (codes[i].last == last && codes[i].run == run && codes[i].level == level) return &codes[i];
    return nullptr;
}

// Writes one event the way an encoder may: a table code when there is one, else (or when `mode` asks) one of the
// three escapes. Returns the escape mode used (0: none).
int write_event(BitWriter& w, bool intra, const TestEvent& e, int mode) {
    const TcoefCode* codes = intra ? kIntraTcoef : kInterTcoef;
    const int magnitude = std::abs(e.level);
    const int sign = e.level < 0;
    const TcoefCode* direct = find_code(codes, e.last, e.run, magnitude);
    if (mode == 0 && direct) {
        w.put(direct->code, direct->length);
        w.put(static_cast<uint32_t>(sign), 1);
        return 0;
    }
    const int lmax = tcoef_lmax(intra, e.last, e.run);
    const TcoefCode* first = lmax > 0 && magnitude > lmax ? find_code(codes, e.last, e.run, magnitude - lmax) : nullptr;
    const int rmax = tcoef_rmax(intra, e.last, magnitude);
    const TcoefCode* second =
        rmax > 0 && e.run > rmax ? find_code(codes, e.last, e.run - rmax - 1, magnitude) : nullptr;
    w.put(kTcoefEscapeCode, kTcoefEscapeLength);
    if (mode <= 1 && first) {
        w.put(0, 1);
        w.put(first->code, first->length);
        w.put(static_cast<uint32_t>(sign), 1);
        return 1;
    }
    if (mode <= 2 && second) {
        w.put(2, 2);
        w.put(second->code, second->length);
        w.put(static_cast<uint32_t>(sign), 1);
        return 2;
    }
    w.put(3, 2);
    w.put(static_cast<uint32_t>(e.last), 1);
    w.put(static_cast<uint32_t>(e.run), 6);
    w.put(1, 1);
    w.put(static_cast<uint32_t>(e.level) & 0xFFF, 12);
    w.put(1, 1);
    return 3;
}

}  // namespace

// Blocks of random events (plain codes and all three escapes, levels up to the 12-bit limit), decoded back into
// the block positions the scan names; extent, bits consumed and escape counters checked too.
TEST(Coefficients, EventsWrittenWithTheCodeListsDecodeBack) {
    std::mt19937 rng(22);
    for (int n = 0; n < 20000; ++n) {
        const bool intra = n & 1;
        const int qp = 1 + static_cast<int>(rng() % 31);
        const uint8_t* scan = intra ? (n % 3 == 0 ? kAlternateVerticalScan : kAlternateHorizontalScan) : kZigzagScan;
        int pos = intra ? 1 : 0;
        std::vector<TestEvent> events;
        while (true) {
            const int room = 63 - pos;
            int run = static_cast<int>(rng() % 4 == 0 ? rng() % (room + 1) : rng() % std::min(room + 1, 3));
            int level = static_cast<int>(rng() % 8 == 0 ? 1 + rng() % 2047 : 1 + rng() % 4);
            if (rng() & 1) level = -level;
            const bool last = pos + run == 63 || rng() % 6 == 0;
            events.push_back({last ? 1 : 0, run, level});
            pos += run + 1;
            if (last) break;
        }
        BitWriter w;
        w.put(0x5, 3);  // something before the block
        long expected_escapes[3] = {};
        for (const TestEvent& e : events) {
            const int mode = write_event(w, intra, e, rng() % 3 == 0 ? static_cast<int>(1 + rng() % 3) : 0);
            if (mode) ++expected_escapes[mode - 1];
        }
        const size_t end = w.bits();
        w.put(0x2A, 6);  // and after it
        const std::vector<uint8_t> chunk = w.chunk();
        BitReader br;
        br.reset(chunk.data(), w.length());
        br.advance_bits(3);

        alignas(16) int16_t block[64] = {};
        EscapeCounts escapes = {};
        const unsigned extent = intra ? decode_intra_coefficients(br, scan, block, escapes)
                                      : decode_inter_coefficients(br, scan, qp, block, escapes);
        int16_t want[64] = {};
        unsigned want_extent = 0;
        pos = intra ? 1 : 0;
        for (const TestEvent& e : events) {
            pos += e.run;
            const int raster = scan[pos];
            want[raster] = static_cast<int16_t>(intra ? e.level : dequant(e.level, qp));
            want_extent |= extent_of(raster);
            ++pos;
        }
        ASSERT_EQ(0, std::memcmp(want, block, sizeof want)) << "block " << n;
        ASSERT_EQ(want_extent, extent) << "block " << n;
        ASSERT_EQ(end, br.bit_position()) << "block " << n;
        for (int m = 0; m < 3; ++m) ASSERT_EQ(expected_escapes[m], escapes[m]) << "block " << n << " mode " << m + 1;
        ASSERT_EQ(0x2Au, br.read_bits(6));
    }
}

TEST(Coefficients, InvalidCodesAndRunsPastTheBlockEndStopIt) {
    EscapeCounts escapes = {};
    // An invalid code (twelve zeros) ends the block without consuming it.
    {
        BitWriter w;
        w.put(0b10, 2);  // inter: last 0, run 0, level 1
        w.put(0, 1);
        w.put(0, 12);
        const std::vector<uint8_t> chunk = w.chunk();
        BitReader br;
        br.reset(chunk.data(), w.length());
        int16_t block[64] = {};
        const unsigned extent = decode_inter_coefficients(br, kZigzagScan, 4, block, escapes);
        EXPECT_EQ(3u, br.bit_position());
        EXPECT_EQ(dequant(1, 4), block[0]);
        EXPECT_EQ(extent_of(0), extent);
    }
    // A third-mode escape with run 63 after position 1 runs past the block: nothing written, the event consumed.
    {
        BitWriter w;
        write_event(w, false, {0, 0, 1}, 0);
        write_event(w, false, {0, 63, 5}, 3);
        const std::vector<uint8_t> chunk = w.chunk();
        BitReader br;
        br.reset(chunk.data(), w.length());
        int16_t block[64] = {};
        decode_inter_coefficients(br, kZigzagScan, 1, block, escapes);
        EXPECT_EQ(w.bits(), br.bit_position());
        for (int k = 1; k < 64; ++k) EXPECT_EQ(0, block[k]);
    }
    // A first-mode escape whose inner code is another escape ends the block after the escape and mode bits.
    {
        BitWriter w;
        w.put(kTcoefEscapeCode, kTcoefEscapeLength);
        w.put(0, 1);
        w.put(kTcoefEscapeCode, kTcoefEscapeLength);
        const std::vector<uint8_t> chunk = w.chunk();
        BitReader br;
        br.reset(chunk.data(), w.length());
        int16_t block[64] = {};
        EXPECT_EQ(0u, decode_intra_coefficients(br, kZigzagScan, block, escapes));
        EXPECT_EQ(static_cast<size_t>(kTcoefEscapeLength + 1), br.bit_position());
    }
}

// Every 16-bit value at every quantiser, in every column, against dequant(); zeros stay zero, the DC and the rows
// outside the extent are left alone.
TEST(Coefficients, IntraDequantisationMatchesDequantForEveryValue) {
    for (int qp = 1; qp <= 31; ++qp) {
        for (int base = -32768; base < 32768; base += 56) {
            alignas(16) int16_t block[64];
            for (int k = 0; k < 64; ++k) block[k] = static_cast<int16_t>(std::min(base + k, 32767));
            int16_t want[64];
            std::memcpy(want, block, sizeof want);
            const unsigned rows = 0x5B;  // rows 0, 1, 3, 4, 6
            for (int k = 1; k < 64; ++k)
                if (((rows >> (k / 8)) & 1) && want[k]) want[k] = dequant(want[k], qp);
            dequantise_intra_ac(block, qp, rows | 0xFF00);
            ASSERT_EQ(0, std::memcmp(want, block, sizeof want)) << "qp " << qp << " base " << base;
        }
    }
}

namespace {
class SparseIdctLevels : public zorbrix::test::KernelLevelTest {};
// The scalar level too: its sparse entry is the reference itself, which the program uses under ZORBRIX_CPU=scalar.
INSTANTIATE_TEST_SUITE_P(Levels, SparseIdctLevels,
                         ::testing::Values(CpuLevel::scalar, CpuLevel::sse2, CpuLevel::avx2, CpuLevel::avx512),
                         ::zorbrix::test::kernel_level_param_name);
}  // namespace

// Every DC value alone, then random blocks whose coefficients stop at each row, against the full scalar transform.
TEST_P(SparseIdctLevels, GivesTheFullTransformsValues) {
    const IdctKernels ref = idct_kernels_for(CpuLevel::scalar), k = idct_kernels_for(level());
    for (int dc = -32768; dc < 32768; ++dc) {
        alignas(16) int16_t a[64] = {}, b[64] = {};
        a[0] = b[0] = static_cast<int16_t>(dc);
        ref.idct_8x8(a);
        k.idct_8x8_sparse(b, 0x01);
        ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "dc " << dc;
    }
    std::mt19937 rng(23);
    for (int n = 0; n < 200000; ++n) {
        alignas(16) int16_t a[64] = {}, b[64];
        const int last_row = static_cast<int>(rng() % 8);
        unsigned rows = 0;
        const int count = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < count; ++i) {
            const int r = static_cast<int>(rng() % (last_row + 1)), c = static_cast<int>(rng() % 8);
            const int kind = static_cast<int>(rng() % 4);
            a[8 * r + c] = static_cast<int16_t>(kind == 0   ? static_cast<int16_t>(rng())
                                                : kind == 1 ? static_cast<int>(rng() % 4096) - 2048
                                                            : static_cast<int>(rng() % 64) - 32);
            rows |= 1u << r;
        }
        std::memcpy(b, a, sizeof a);
        ref.idct_8x8(a);
        k.idct_8x8_sparse(b, rows | 0xFF00);
        ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "case " << n << " rows " << rows;
    }
    // An empty row set is a block of zeros.
    alignas(16) int16_t a[64] = {}, b[64] = {};
    ref.idct_8x8(a);
    k.idct_8x8_sparse(b, 0);
    EXPECT_EQ(0, std::memcmp(a, b, sizeof a));
}

namespace {
class DeblockTailLevels : public zorbrix::test::KernelLevelTest {};
ZORBRIX_KERNEL_LEVELS(DeblockTailLevels);
}  // namespace

// Every width from 8 to 104 in steps of 8 (the wide levels take sixteen columns at a time and finish narrower), in
// buffers that end right after the last sample the filters may touch.
TEST_P(DeblockTailLevels, HorizontalFilterMatchesScalarOnAllWidths) {
    const DeblockKernels ref = deblock_kernels_for(CpuLevel::scalar), k = deblock_kernels_for(level());
    std::mt19937 rng(24);
    for (int n = 0; n < 20000; ++n) {
        const int w = 8 * (1 + n % 13);
        const int stride = w + static_cast<int>(rng() % 3) * 8;
        std::vector<uint8_t> a(static_cast<size_t>(stride) * 9 + static_cast<size_t>(w));
        const int base = static_cast<int>(rng() % 256), step = static_cast<int>(rng() % 41) - 20;
        const int noise = 1 + static_cast<int>(rng() % 4);
        for (size_t i = 0; i < a.size(); ++i) {
            const int y = static_cast<int>(i / static_cast<size_t>(stride)), x = static_cast<int>(i % stride);
            const int kind = (x / 8 + n) % 3;
            int v = base + (y >= 5 ? step : 0) + static_cast<int>(rng() % noise);
            if (kind == 2) v = static_cast<int>(rng() % 256);
            a[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
        std::vector<uint8_t> b = a;
        uint8_t quant[16];
        for (auto& q : quant) q = static_cast<uint8_t>(1 + rng() % 31);
        ref.filter_horizontal_edges(a.data() + 5 * stride, w, stride, quant, n & 1);
        k.filter_horizontal_edges(b.data() + 5 * stride, w, stride, quant, n & 1);
        ASSERT_EQ(a, b) << "case " << n << " width " << w;
    }
}

TEST(SkippedMacroblock, CopyIsTheZeroVectorPrediction) {
    const int lw = 64, lh = 48, cw = 32, ch = 24;
    std::mt19937 rng(25);
    std::vector<uint8_t> ry(lw * lh), ru(cw * ch), rv(cw * ch);
    for (auto* p : {&ry, &ru, &rv})
        for (auto& x : *p) x = static_cast<uint8_t>(rng());
    std::vector<uint8_t> ay(lw * lh, 1), au(cw * ch, 2), av(cw * ch, 3);
    std::vector<uint8_t> by = ay, bu = au, bv = av;
    const PredictKernels scalar = predict_kernels_for(CpuLevel::scalar);
    for (int my = 0; my < 3; my += 2)
        for (int mx = 1; mx < 4; mx += 2) {
            copy_macroblock(ay.data(), au.data(), av.data(), ry.data(), ru.data(), rv.data(), lw, cw, mx, my);
            scalar.predict[predict_index(16, 0, 0, 0)](by.data() + 16 * my * lw + 16 * mx,
                                                       ry.data() + 16 * my * lw + 16 * mx, lw);
            scalar.predict[predict_index(8, 0, 0, 0)](bu.data() + 8 * my * cw + 8 * mx,
                                                      ru.data() + 8 * my * cw + 8 * mx, cw);
            scalar.predict[predict_index(8, 0, 0, 0)](bv.data() + 8 * my * cw + 8 * mx,
                                                      rv.data() + 8 * my * cw + 8 * mx, cw);
        }
    EXPECT_EQ(by, ay);
    EXPECT_EQ(bu, au);
    EXPECT_EQ(bv, av);
}

// The decoder's two margins (16 and 32, filled sixteen bytes at a time) and an odd one.
TEST(Padding, EveryMarginWidthRepeatsTheEdges) {
    for (int m : {16, 32, 5}) {
        const int w = 48, h = 20, stride = w + 2 * m, rows = h + 2 * m;
        std::vector<uint8_t> plane(static_cast<size_t>(stride) * rows, 0xEE);
        uint8_t* origin = plane.data() + m * stride + m;
        std::mt19937 rng(static_cast<unsigned>(m));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) origin[y * stride + x] = static_cast<uint8_t>(rng());
        pad_plane_edges(origin, stride, rows, m);
        for (int y = -m; y < h + m; ++y)
            for (int x = -m; x < w + m; ++x) {
                const int cy = std::clamp(y, 0, h - 1), cx = std::clamp(x, 0, w - 1);
                ASSERT_EQ(origin[cy * stride + cx], origin[y * stride + x])
                    << "margin " << m << " at " << x << "," << y;
            }
    }
}

namespace {
class FlatAreaDeblockLevels : public zorbrix::test::KernelLevelTest {};
ZORBRIX_KERNEL_LEVELS(FlatAreaDeblockLevels);

// A plane of flat tiles (each tile one value, neighbours often the same value or one apart), so that runs of
// constant samples across several edges, constant columns down ten rows, and flat runs next to an edge that the
// DC offset mode changes all occur.
std::vector<uint8_t> flat_tiles(std::mt19937& rng, int w, int h, int tile_w, int tile_h) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h);
    const int base = static_cast<int>(rng() % 240);
    std::vector<int> value((w / tile_w + 1) * (h / tile_h + 1));
    for (auto& v : value) v = base + (rng() % 3 == 0 ? static_cast<int>(rng() % 12) : 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p[static_cast<size_t>(y) * w + x] =
                static_cast<uint8_t>(value[(y / tile_h) * (w / tile_w + 1) + x / tile_w]);
    return p;
}
}  // namespace

TEST_P(FlatAreaDeblockLevels, FlatTilesGiveTheScalarBytes) {
    const DeblockKernels ref = deblock_kernels_for(CpuLevel::scalar), k = deblock_kernels_for(level());
    std::mt19937 rng(26);
    for (int n = 0; n < 6000; ++n) {
        const int w = 8 * (4 + n % 17), h = 16;
        const int tile_w = 4 << (rng() % 4), tile_h = 2 << (rng() % 4);
        std::vector<uint8_t> a = flat_tiles(rng, w, h, tile_w, tile_h), b = a;
        uint8_t quant[24];  // one per 8 columns covers chroma (x / 8) and luma (x / 16) up to 160 wide
        for (auto& q : quant) q = static_cast<uint8_t>(1 + rng() % 31);
        for (int y = 0; y + 4 <= h; y += 4) {
            ref.filter_vertical_edges(a.data() + y * w, w, w, quant, n & 1);
            k.filter_vertical_edges(b.data() + y * w, w, w, quant, n & 1);
        }
        ref.filter_horizontal_edges(a.data() + 8 * w, w, w, quant, n & 1);
        k.filter_horizontal_edges(b.data() + 8 * w, w, w, quant, n & 1);
        ASSERT_EQ(a, b) << "case " << n << " width " << w << " tiles " << tile_w << "x" << tile_h;
    }
}
