// The bit reader, the stream headers, the macroblock layer on hand-built chunks, the decoder interface and
// VideoStream's timing and cache rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "loading/file_load.h"
#include "platform/fatal.h"
#include "tests/support/test_paths.h"
#include "tests/video/stream_builder.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/decoder_core.h"
#include "video/video_stream.h"

using namespace zorbrix;
using namespace zorbrix::mpeg4;
using zorbrix::test::BitWriter;

namespace {

int g_handle;

void init_decoder(int w, int h, int format = FMT_YV12, int bpp = 0) {
    InitParams p{w, h, bpp, format};
    decoder_call(&g_handle, OPT_INIT, &p, nullptr);
}

void decode_chunk(const std::vector<uint8_t>& chunk, void* dst, int render = 1) {
    std::vector<uint8_t> data = chunk;
    data.resize(chunk.size() + 4, 0);
    FrameParams f{dst, data.data(), static_cast<int32_t>(chunk.size()), render};
    decoder_call(&g_handle, OPT_DECODE, &f, nullptr);
}

struct Release {
    ~Release() { decoder_call(&g_handle, OPT_RELEASE, nullptr, nullptr); }
};

// The state of the tests' decoder (initialised, not yet released).
const DecoderState& state() { return *decoder_instance(&g_handle); }

// An I-VOP of flat intra macroblocks (all DC differentials 0) behind a layer header.
std::vector<uint8_t> flat_intra_chunk(int w, int h, int quant, const test::VolOptions* vol = nullptr) {
    BitWriter bw;
    test::VolOptions o;
    if (vol) o = *vol;
    o.width = w;
    o.height = h;
    test::write_vol(bw, o);
    test::write_vop_header(bw, 0, quant, o.resolution);
    for (int i = 0; i < (w / 16) * (h / 16); ++i) test::write_flat_intra_mb(bw, false);
    bw.stuff();
    return bw.bytes();
}

}  // namespace

TEST(BitReader, PeekAdvanceAndBounds) {
    const uint8_t data[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xFF};
    BitReader br;
    br.reset(data, 5);
    EXPECT_EQ(0x12345678u, br.peek_bits(32));
    br.advance_bits(6);
    br.advance_bits(3);
    EXPECT_EQ(1, br.bit_offset());
    EXPECT_EQ(1u, br.bit_position() / 8);
    br.set_bit_position(32);
    // Past the chunk's end (byte 5 exists in memory but is not part of the chunk) only zeros are read.
    EXPECT_EQ(0x9A000000u, br.peek_bits(32));
    br.advance_bits(100);
    EXPECT_EQ(0u, br.read_bits(32));
    br.set_bit_position(8);
    br.next_start_code();
    EXPECT_EQ(8u, br.bit_position());  // aligned: nothing consumed
    br.advance_bits(3);
    br.next_start_code();
    EXPECT_EQ(16u, br.bit_position());
}

TEST(Headers, LayerFieldsDefaultsAndTimeIncrementWidth) {
    Release r;
    init_decoder(16, 16);
    for (int resolution : {1, 30, 65535}) {
        test::VolOptions o;
        o.resolution = resolution;
        std::vector<uint8_t> out(16 * 16 * 3 / 2);
        decode_chunk(flat_intra_chunk(16, 16, 8, &o), out.data());
        const DecoderState& d = state();
        EXPECT_EQ(resolution, d.layer.vop_time_increment_resolution);
        EXPECT_EQ(1, d.layer.verid);
        EXPECT_EQ(1, d.layer.priority);
        EXPECT_EQ(16, d.layer.width);
        EXPECT_EQ(8, d.vop.quant);
        EXPECT_EQ(1, d.stats.vops) << "resolution " << resolution;  // the VOP header was found after the layer
        // Flat intra: DC 1024 from the default predictor gives luma 128 (QP 8: 1024 / 16 * 16); chroma's
        // dc_scaler 10 gives 1020, so 127 or 128.
        for (int i = 0; i < 256; ++i) ASSERT_EQ(128, out[i]);
        for (size_t i = 256; i < out.size(); ++i) ASSERT_NEAR(127.5, out[i], 0.5);
        init_decoder(16, 16);
    }
}

TEST(Headers, ControlParametersAspectAndVerid2AreParsed) {
    Release r;
    test::VolOptions o;
    o.vol_control = true;
    o.vbv = true;
    o.aspect = 15;
    o.object_layer_identifier = true;
    o.verid = 2;
    init_decoder(32, 16);
    std::vector<uint8_t> out(32 * 16 * 3 / 2, 0);

    // The layer header ends on a byte boundary here, so a whole stuffing byte stands before the VOP.
    decode_chunk(flat_intra_chunk(32, 16, 4, &o), out.data());
    EXPECT_EQ(2, state().layer.verid);
    EXPECT_EQ(32, state().layer.width);
    EXPECT_EQ(4, state().vop.quant);
    for (int i = 0; i < 32 * 16; ++i) ASSERT_EQ(128, out[i]);
}

TEST(Headers, UnsupportedFeaturesEndWithTheirStatus) {
    Release r;
    ScopedFatalTrap trap;
    auto status_of = [](test::VolOptions o) {
        init_decoder(16, 16);
        std::vector<uint8_t> out(16 * 16 * 3 / 2);
        try {
            decode_chunk(flat_intra_chunk(16, 16, 8, &o), out.data());
        } catch (const FatalExit& e) {
            return e.status;
        }
        return -1;
    };
    test::VolOptions o;
    o.data_partitioned = 1;
    EXPECT_EQ(102, status_of(o));
    o = {};
    o.scalability = 1;
    EXPECT_EQ(103, status_of(o));
    o = {};
    o.user_data_after = true;
    EXPECT_EQ(104, status_of(o));
    o = {};
    o.complexity_estimation_disable = 0;
    EXPECT_EQ(108, status_of(o));
    o = {};
    o.interlaced = 1;
    EXPECT_EQ(109, status_of(o));
    o = {};
    o.quant_type = 1;
    EXPECT_EQ(110, status_of(o));
    o = {};
    EXPECT_EQ(-1, status_of(o));

    // A video object start code without a layer start code after it.
    init_decoder(16, 16);
    BitWriter bw;
    bw.put(0x00000100, 32);
    bw.put(0x000001B6, 32);
    int status = -1;
    try {
        decode_chunk(bw.bytes(), nullptr);
    } catch (const FatalExit& e) {
        status = e.status;
    }
    EXPECT_EQ(101, status);
}

TEST(Macroblocks, DcPredictionStuffingAndDquantClamp) {
    Release r;
    init_decoder(32, 16);
    BitWriter bw;
    test::write_vol(bw, {.width = 32, .height = 16});
    test::write_vop_header(bw, 0, 30);
    // Macroblock 0: intra+q with dquant +2 (30 -> 31, then clamped at 31), block 0 DC differential +20.
    bw.code(kMcbpcI[4]);  // intra+q, cbpc 0
    bw.put(0, 1);
    bw.code(kCbpy[0]);
    bw.put(3, 2);  // dquant +2
    bw.code(kDcSizeLuma[5]);
    bw.put(20, 5);  // +20
    for (int i = 0; i < 3; ++i) bw.code(kDcSizeLuma[0]);
    for (int i = 0; i < 2; ++i) bw.code(kDcSizeChroma[0]);
    bw.code(kMcbpcI[8]);  // stuffing between macroblocks: no position change
    test::write_flat_intra_mb(bw, false);
    bw.stuff();
    std::vector<uint8_t> out(32 * 16 * 3 / 2);
    decode_chunk(bw.bytes(), out.data());
    const DecoderState& d = state();
    EXPECT_EQ(31, d.qp);
    EXPECT_EQ(31, d.quant_map[0]);
    EXPECT_EQ(1, d.stats.mb_types[7]);
    EXPECT_EQ(2, d.stats.mb_types[3] + d.stats.mb_types[4]);
    // QP 31: luma dc_scaler 46. Block 0: (1024 + 23) / 46 = 22, + 20 = 42 -> DC 1932 -> samples 241 or so.
    EXPECT_EQ(1932, d.dc_luma[1][1]);
    EXPECT_NEAR(241, out[0], 1);
    // Block 1 predicts from block 0 (horizontal: |FA - FB| = |1932 - 1024| >= |FB - FC| = 0): 1932 again.
    EXPECT_EQ(1932, d.dc_luma[1][2]);
    // The second macroblock landed at position 1, after the stuffing.
    EXPECT_EQ(1, d.stats.vops);
}

// A DC differential in the given size class (negative values are coded as the one's complement).
static void write_dc(BitWriter& bw, bool luma, int diff) {
    int size = 0;
    for (int m = diff < 0 ? -diff : diff; m; m >>= 1) ++size;
    bw.code(luma ? kDcSizeLuma[size] : kDcSizeChroma[size]);
    if (size) bw.put(static_cast<uint32_t>(diff > 0 ? diff : (-diff) ^ ((1 << size) - 1)), size);
    if (size > 8) bw.put(1, 1);
}

TEST(Macroblocks, SaturatedDcIsThePredictorOfTheNextBlocks) {
    // QP 31 (chroma dc_scaler 25). V DC levels: (0,0) 70, (1,0) 58, (0,1) 82, (1,1) predicted with differential 0.
    // 82 x 25 = 2050 saturates to 2047; from FA 2047, FB 1750, FC 1450 the prediction comes from above (|297| <
    // |300|): 58, that is 1450 and samples of 181. From the unsaturated 2050 it would come from the left: 2050.
    Release r;
    init_decoder(32, 32);
    BitWriter bw;
    test::write_vol(bw, {.width = 32, .height = 32});
    test::write_vop_header(bw, 0, 31);
    for (int v_diff : {29, -12, 12, 0}) {
        bw.code(kMcbpcI[0]);
        bw.put(0, 1);
        bw.code(kCbpy[0]);
        for (int i = 0; i < 4; ++i) write_dc(bw, true, 0);
        write_dc(bw, false, 0);
        write_dc(bw, false, v_diff);
    }
    bw.stuff();
    std::vector<uint8_t> out(32 * 32 * 3 / 2);
    decode_chunk(bw.bytes(), out.data());
    const DecoderState& d = state();
    EXPECT_EQ(1750, d.dc_chroma[1][1][1]);
    EXPECT_EQ(1450, d.dc_chroma[1][1][2]);
    EXPECT_EQ(2047, d.dc_chroma[1][2][1]);
    EXPECT_EQ(1450, d.dc_chroma[1][2][2]);
    const uint8_t* v_plane = out.data() + 32 * 32;  // YV12: Y, then V
    EXPECT_EQ(255, v_plane[8 * 16 + 0]);
    EXPECT_NEAR(181, v_plane[8 * 16 + 8], 1);

    // An escaped inter level far beyond the range saturates instead of wrapping: +2047 at QP 31 reconstructs
    // as 2047 (the block adds a large positive DC), where a wrapped 16-bit value would be negative.
    BitWriter p;
    test::write_vop_header(p, 1, 31, 30, 0, 1);
    p.put(0, 1);
    p.code(kMcbpcP[0]);
    p.code(kCbpy[15 - 8]);  // block 0 coded
    test::write_mvd(p, 0);
    test::write_mvd(p, 0);
    p.put(kTcoefEscapeCode, kTcoefEscapeLength);
    p.put(3, 2);  // third escape
    p.put(1, 1);  // last
    p.put(0, 6);  // run
    p.put(1, 1);
    p.put(2047, 12);
    p.put(1, 1);
    for (int i = 1; i < 4; ++i) p.put(1, 1);
    p.stuff();
    decode_chunk(p.bytes(), out.data());
    EXPECT_EQ(255, out[0]);
}

// next_resync_marker() stuffing, a resync marker of the given length, macroblock_number and quant_scale, and
// optionally the header extension of an I-VOP (time increment for resolution 30).
static void write_packet_header(BitWriter& bw, int marker_length, int number, int number_bits, int quant, bool hec) {
    bw.stuff();
    bw.put(1, marker_length);
    bw.put(static_cast<uint32_t>(number), number_bits);
    bw.put(static_cast<uint32_t>(quant), 5);
    bw.put(hec, 1);
    if (hec) {
        bw.put(0, 1);  // modulo_time_base
        bw.put(1, 1);
        bw.put(3, 5);
        bw.put(1, 1);
        bw.put(0, 2);  // I
        bw.put(0, 3);  // intra_dc_vlc_thr
    }
}

TEST(VideoPackets, PositionQuantiserAndNoPredictionAcrossPackets) {
    Release r;
    init_decoder(48, 16);
    test::VolOptions o{.width = 48, .height = 16};
    o.resync_marker_disable = 0;
    BitWriter bw;
    test::write_vol(bw, o);
    test::write_vop_header(bw, 0, 4);
    // Macroblock 0: luma block 0 DC differential +20 (QP 4, dc_scaler 8: DC 1184, samples 148); blocks 1..3
    // predict it.
    bw.code(kMcbpcI[0]);
    bw.put(0, 1);
    bw.code(kCbpy[0]);
    write_dc(bw, true, 20);
    for (int i = 0; i < 3; ++i) write_dc(bw, true, 0);
    for (int i = 0; i < 2; ++i) write_dc(bw, false, 0);
    // A packet from macroblock 1 (3 macroblocks: 2-bit number) at QP 3, with the header extension.
    write_packet_header(bw, 17, 1, 2, 3, true);
    test::write_flat_intra_mb(bw, false);
    test::write_flat_intra_mb(bw, false);
    bw.stuff();
    std::vector<uint8_t> out(48 * 16 * 3 / 2);
    decode_chunk(bw.bytes(), out.data());
    const DecoderState& d = state();
    EXPECT_EQ(1, d.stats.video_packets);
    EXPECT_EQ(4, d.quant_map[0]);
    EXPECT_EQ(3, d.quant_map[1]);
    EXPECT_EQ(3, d.quant_map[2]);
    EXPECT_EQ(148, out[0]);
    EXPECT_EQ(148, out[15]);
    // Macroblock 1 starts a packet: its left neighbour is not a predictor, so its DC comes from the default.
    EXPECT_EQ(128, out[16]);
    EXPECT_EQ(128, out[47]);

    // P-VOP, fcode 2 (an 18-bit marker): macroblock 0 moves by (+4, 0); macroblock 1, in a new packet, predicts
    // its vector from nothing (0) rather than from macroblock 0; macroblock 2 predicts from macroblock 1.
    BitWriter p;
    test::write_vop_header(p, 1, 8, 30, 0, 2);
    p.put(0, 1);
    p.code(kMcbpcP[0]);
    p.code(kCbpy[15]);
    p.code(kMotionVector[2]);  // fcode 2: code 2 with residual 1 is (2 - 1) * 2 + 1 + 1 = 4
    p.put(0, 1);
    p.put(1, 1);
    test::write_mvd(p, 0);
    write_packet_header(p, 18, 1, 2, 8, false);
    for (int mb = 1; mb < 3; ++mb) {
        p.put(0, 1);
        p.code(kMcbpcP[0]);
        p.code(kCbpy[15]);
        p.put(1, 1);  // mvd 0
        p.put(1, 1);
    }
    p.stuff();
    decode_chunk(p.bytes(), out.data());
    EXPECT_EQ(2, d.stats.video_packets);
    EXPECT_EQ(4, d.mv[0][0][0].x);
    EXPECT_EQ(0, d.mv[0][1][0].x);
    EXPECT_EQ(0, d.mv[0][2][0].x);

    // A packet naming a macroblock outside the VOP ends it; the next chunk decodes normally.
    BitWriter bad;
    test::write_vop_header(bad, 0, 4);
    test::write_flat_intra_mb(bad, false);
    write_packet_header(bad, 17, 3, 2, 6, false);
    test::write_flat_intra_mb(bad, false);
    bad.stuff();
    decode_chunk(bad.bytes(), out.data());
    EXPECT_EQ(3, d.stats.vops);
    EXPECT_EQ(2, d.stats.video_packets);
}

TEST(VideoPackets, OneMacroblockWideVectorPrediction) {
    // With the left and above-right candidates outside the picture, the predictor is the one valid candidate
    // (the macroblock above), not the median of it and two zeros.
    Release r;
    init_decoder(16, 32);
    std::vector<uint8_t> out(16 * 32 * 3 / 2);
    decode_chunk(flat_intra_chunk(16, 32, 8), out.data());
    BitWriter p;
    test::write_vop_header(p, 1, 8, 30, 0, 1);
    for (int mb = 0; mb < 2; ++mb) {
        p.put(0, 1);
        p.code(kMcbpcP[0]);
        p.code(kCbpy[15]);
        test::write_mvd(p, mb == 0 ? 6 : 0);
        test::write_mvd(p, 0);
    }
    p.stuff();
    decode_chunk(p.bytes(), out.data());
    EXPECT_EQ(6, state().mv[0][0][0].x);
    EXPECT_EQ(6, state().mv[1][0][0].x);
}

TEST(Macroblocks, SkippedCopiesReferenceAndVectorsWrap) {
    Release r;
    init_decoder(32, 32);
    std::vector<uint8_t> out(32 * 32 * 3 / 2);
    // I-VOP: a flat grey picture.
    decode_chunk(flat_intra_chunk(32, 32, 8), out.data());
    const std::vector<uint8_t> first = out;
    // P-VOP with rounding 1: every macroblock skipped.
    BitWriter bw;
    test::write_vop_header(bw, 1, 8, 30, 1, 1);
    for (int i = 0; i < 4; ++i) bw.put(1, 1);
    bw.stuff();
    decode_chunk(bw.bytes(), out.data());
    EXPECT_EQ(first, out);
    EXPECT_EQ(4, state().stats.skipped);

    // P-VOP: macroblock 0 inter with mvd (+31, 0), then macroblock 1 with mvd (+2, 0): 31 + 2 wraps to -31.
    BitWriter p;
    test::write_vop_header(p, 1, 8, 30, 0, 1);
    p.put(0, 1);
    p.code(kMcbpcP[0]);  // inter, cbpc 0
    p.code(kCbpy[15]);   // inter cbpy 15 - 15 = 0: no coded luma blocks
    test::write_mvd(p, 31);
    test::write_mvd(p, 0);
    p.put(0, 1);
    p.code(kMcbpcP[0]);
    p.code(kCbpy[15]);
    test::write_mvd(p, 2);
    test::write_mvd(p, 0);
    p.put(1, 1);
    p.put(1, 1);
    p.stuff();
    decode_chunk(p.bytes(), out.data());
    const DecoderState& d = state();
    EXPECT_EQ(31, d.mv[0][0][0].x);
    EXPECT_EQ(-31, d.mv[0][1][3].x);
    EXPECT_EQ(0, d.mv[1][0][0].x);
    EXPECT_EQ(first, out);  // a flat picture predicts flat from anywhere
}

// Skipped macroblocks copy the reference only where the two frames may differ; once copied, the frames swap and
// hold the same samples there. A macroblock coded in between must make the next skip copy again.
TEST(Macroblocks, SkipAfterACodedMacroblockCopiesItsNewSamples) {
    Release r;
    init_decoder(32, 16);
    std::vector<uint8_t> out(32 * 16 * 3 / 2);
    auto all_skipped = [] {
        BitWriter bw;
        test::write_vop_header(bw, 1, 4, 30, 0, 1);
        bw.put(1, 1);
        bw.put(1, 1);
        bw.stuff();
        return bw.bytes();
    };
    decode_chunk(flat_intra_chunk(32, 16, 4), out.data());
    const std::vector<uint8_t> grey = out;
    decode_chunk(all_skipped(), out.data());  // both frames now hold the grey picture
    EXPECT_EQ(grey, out);
    // Macroblock 0 intra with a brighter first block, macroblock 1 skipped.
    BitWriter p;
    test::write_vop_header(p, 1, 4, 30, 0, 1);
    p.put(0, 1);
    p.code(kMcbpcP[12]);
    p.put(0, 1);
    p.code(kCbpy[0]);
    for (int i = 0; i < 4; ++i) write_dc(p, true, i == 0 ? 10 : 0);
    for (int i = 0; i < 2; ++i) write_dc(p, false, 0);
    p.put(1, 1);
    p.stuff();
    decode_chunk(p.bytes(), out.data());
    const std::vector<uint8_t> changed = out;
    ASSERT_NE(grey[0], changed[0]);
    EXPECT_EQ(grey[16], changed[16]);  // macroblock 1
    // Every later all-skipped VOP shows the changed picture, whichever frame it lands in.
    for (int k = 0; k < 3; ++k) {
        std::fill(out.begin(), out.end(), 0);
        decode_chunk(all_skipped(), out.data());
        EXPECT_EQ(changed, out) << "skipped VOP " << k;
    }
    EXPECT_EQ(2 + 1 + 3 * 2, state().stats.skipped);
}

TEST(Macroblocks, NotCodedVopRepeatsThePreviousPicture) {
    Release r;
    init_decoder(16, 16);
    std::vector<uint8_t> out(16 * 16 * 3 / 2);
    // Two I-VOPs of different greys (luma DC differential 0, then +10 on every block), then a VOP not coded.
    decode_chunk(flat_intra_chunk(16, 16, 4), out.data());
    BitWriter bw;
    test::write_vop_header(bw, 0, 4);
    bw.code(kMcbpcI[0]);
    bw.put(0, 1);
    bw.code(kCbpy[0]);
    for (int i = 0; i < 4; ++i) write_dc(bw, true, i == 0 ? 10 : 0);
    for (int i = 0; i < 2; ++i) write_dc(bw, false, 0);
    bw.stuff();
    decode_chunk(bw.bytes(), out.data());
    const std::vector<uint8_t> second = out;
    EXPECT_EQ(138, second[0]);
    BitWriter n;
    n.put(0x000001B6, 32);
    n.put(1, 2);  // P
    n.put(0, 1);
    n.put(1, 1);
    n.put(2, 5);
    n.put(1, 1);
    n.put(0, 1);  // vop_coded 0
    n.stuff();
    std::fill(out.begin(), out.end(), 0);
    decode_chunk(n.bytes(), out.data());
    EXPECT_EQ(second, out);
    // The reference is still the second picture: a P-VOP of skipped macroblocks copies it.
    BitWriter p;
    test::write_vop_header(p, 1, 4, 30, 1, 1);
    p.put(1, 1);
    p.stuff();
    decode_chunk(p.bytes(), out.data());
    EXPECT_EQ(second, out);
}

TEST(Macroblocks, FarVectorsStayInsideThePaddedPlanes) {
    Release r;
    init_decoder(32, 32);
    std::vector<uint8_t> out(32 * 32 * 3 / 2);
    decode_chunk(flat_intra_chunk(32, 32, 4), out.data());  // QP 4: every plane exactly 128
    const std::vector<uint8_t> first = out;
    // fcode 7: a component code of 16 with residual 0 is 15 * 64 + 1 = 961 half-pels, far beyond the margins.
    BitWriter p;
    test::write_vop_header(p, 1, 8, 30, 1, 7);
    for (int mb = 0; mb < 4; ++mb) {
        p.put(0, 1);
        p.code(kMcbpcP[mb == 3 ? 8 : 0]);  // inter, and four vectors for the last macroblock
        p.code(kCbpy[15]);
        for (int v = 0; v < (mb == 3 ? 4 : 1); ++v) {
            for (int c = 0; c < 2; ++c) {
                p.code(kMotionVector[16]);
                p.put((mb + v + c) & 1, 1);
                p.put(0, 6);
            }
        }
    }
    p.stuff();
    decode_chunk(p.bytes(), out.data());
    EXPECT_EQ(4, state().stats.mb_types[0] + state().stats.mb_types[2]);
    EXPECT_EQ(7, state().stats.max_fcode);
    EXPECT_EQ(first, out);  // every read landed on (replicated) picture samples
}

TEST(DecoderInterface, OptionsLevelsAndConverterChoice) {
    Release r;
    init_decoder(256, 192, FMT_RGB32);
    const DecoderState& d = state();
    EXPECT_EQ(16, d.mb_width);
    EXPECT_EQ(12, d.mb_height);
    EXPECT_EQ(192, d.mb_count);
    EXPECT_EQ(320, d.luma_stride);
    EXPECT_EQ(256, d.luma_rows);
    EXPECT_EQ(160, d.chroma_stride);
    EXPECT_EQ(128, d.chroma_rows);
    EXPECT_EQ(convert_rgb32, d.converter);
    EXPECT_EQ(-1, d.orientation);

    const std::pair<int, uint32_t> levels[] = {{100, 0x3F}, {50, 0x3F}, {49, 0x1F}, {10, 0x03},
                                               {9, 0x01},   {35, 0x17}, {25, 0x13}};
    for (auto [level, flags] : levels) {
        PostProcParams p{level};
        EXPECT_EQ(0, decoder_call(&g_handle, OPT_POSTPROC, &p, nullptr));
        EXPECT_TRUE(d.postproc_enabled);
        EXPECT_EQ(flags, d.postproc_flags) << level;
    }
    for (int bad : {101, -1}) {
        PostProcParams p{bad};
        EXPECT_EQ(2, decoder_call(&g_handle, OPT_POSTPROC, &p, nullptr));
        EXPECT_EQ(0x13u, d.postproc_flags);  // unchanged
    }
    PostProcParams off{0};
    decoder_call(&g_handle, OPT_POSTPROC, &off, nullptr);
    EXPECT_FALSE(d.postproc_enabled);

    InitParams out{0, 0, 0, FMT_YUY2};
    decoder_call(&g_handle, OPT_OUTPUT, &out, nullptr);
    EXPECT_EQ(convert_yuy2, d.converter);
    EXPECT_EQ(1, d.orientation);
    out.format = 9;
    decoder_call(&g_handle, OPT_OUTPUT, &out, nullptr);
    EXPECT_EQ(convert_yuy2, d.converter);

    init_decoder(16, 16, 5, 32);
    EXPECT_EQ(convert_rgb32, d.converter);
    init_decoder(16, 16, 2, 24);
    EXPECT_EQ(convert_rgb24, d.converter);
    init_decoder(16, 16, 2, 8);
    EXPECT_EQ(convert_rgb24, d.converter);
    init_decoder(16, 16, 2, 16);
    EXPECT_EQ(convert_rgb565, d.converter);
    init_decoder(16, 16, 8, 0);
    EXPECT_EQ(nullptr, d.converter);
    // Rendering without a converter decodes without delivering.
    std::vector<uint8_t> dst(16 * 16 * 4, 0x5A);
    decode_chunk(flat_intra_chunk(16, 16, 8), dst.data());
    EXPECT_EQ(1, d.stats.vops);
    EXPECT_EQ(std::vector<uint8_t>(16 * 16 * 4, 0x5A), dst);
    // Option 0x1234 decodes like option 0.
    std::vector<uint8_t> chunk = flat_intra_chunk(16, 16, 8);
    chunk.resize(chunk.size() + 4);
    FrameParams f{dst.data(), chunk.data(), static_cast<int32_t>(chunk.size() - 4), 1};
    decoder_call(&g_handle, 0x1234, &f, nullptr);
    EXPECT_EQ(2, d.stats.vops);
    // Release frees the handle's decoder; a second release does nothing, and so do the other options until the
    // next initialisation.
    EXPECT_EQ(0, decoder_call(&g_handle, OPT_RELEASE, nullptr, nullptr));
    EXPECT_EQ(nullptr, decoder_instance(&g_handle));
    EXPECT_EQ(0, decoder_call(&g_handle, OPT_RELEASE, nullptr, nullptr));
    std::fill(dst.begin(), dst.end(), 0x5A);
    f.destination = dst.data();
    EXPECT_EQ(0, decoder_call(&g_handle, OPT_DECODE, &f, nullptr));  // after release: nothing happens, no crash
    EXPECT_EQ(std::vector<uint8_t>(16 * 16 * 4, 0x5A), dst);
    PostProcParams on{100}, bad{101};
    EXPECT_EQ(0, decoder_call(&g_handle, OPT_POSTPROC, &on, nullptr));
    EXPECT_EQ(2, decoder_call(&g_handle, OPT_POSTPROC, &bad, nullptr));  // refused with or without a decoder
    EXPECT_EQ(0, decoder_call(&g_handle, OPT_OUTPUT, &out, nullptr));
    EXPECT_EQ(nullptr, decoder_instance(&g_handle));  // none of them made one
}

TEST(DecoderInterface, UnsupportedSizesAreNotDecoded) {
    Release r;
    std::vector<uint8_t> out(64 * 64 * 4, 0x11);
    for (auto [w, h] : {std::pair{24, 16}, std::pair{736, 16}, std::pair{16, 592}}) {
        init_decoder(w, h);
        decode_chunk(flat_intra_chunk(16, 16, 8), out.data());
        EXPECT_EQ(0, state().stats.vops);
    }
    // A layer whose size differs from the initialisation size.
    init_decoder(32, 32);
    decode_chunk(flat_intra_chunk(16, 16, 8), out.data());
    EXPECT_EQ(0, state().stats.vops);
    EXPECT_EQ(0x11, out[0]);
}

TEST(DecoderInterface, NonRectangularLayersAreNotDecoded) {
    // A binary-shape layer whose VOP names a size equal to the initialisation size: the layer is not one this
    // decoder takes, whatever its VOPs say, so nothing is decoded or delivered.
    Release r;
    init_decoder(16, 16);
    BitWriter bw;
    bw.put(0x00000100, 32);
    bw.put(0x00000120, 32);
    bw.put(0, 1);  // random_accessible_vol
    bw.put(1, 8);  // video_object_type_indication
    bw.put(0, 1);  // is_object_layer_identifier
    bw.put(1, 4);  // aspect_ratio_info
    bw.put(0, 1);  // vol_control_parameters
    bw.put(1, 2);  // shape: binary
    bw.put(1, 1);
    bw.put(30, 16);  // vop_time_increment_resolution
    bw.put(1, 1);
    bw.put(0, 1);  // fixed_vop_rate
    bw.stuff();
    bw.put(0x000001B6, 32);
    bw.put(0, 2);  // I
    bw.put(0, 1);
    bw.put(1, 1);
    bw.put(1, 5);
    bw.put(1, 1);
    bw.put(1, 1);  // vop_coded
    for (int v : {16, 16, 0, 0}) {
        bw.put(static_cast<uint32_t>(v), 13);  // vop_width, vop_height, the spatial references
        bw.put(1, 1);
    }
    bw.put(0, 2);  // change_conv_ratio_disable, vop_constant_alpha
    bw.put(0, 3);  // intra_dc_vlc_thr
    bw.put(8, 5);  // vop_quant
    test::write_flat_intra_mb(bw, false);
    bw.stuff();
    std::vector<uint8_t> out(16 * 16 * 3 / 2, 0x11);
    decode_chunk(bw.bytes(), out.data());
    EXPECT_EQ(0, state().stats.vops);
    EXPECT_EQ(std::vector<uint8_t>(16 * 16 * 3 / 2, 0x11), out);
    EXPECT_EQ(1, state().layer.shape);
}

namespace {

// An .nvd file of n flat I-VOPs, each with its own grey level in block 0 so frames can be told apart.
std::string write_test_nvd(const std::string& name, int n, float fps) {
    std::vector<uint8_t> file(16);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(file.data() + at, &v, 4); };
    put32(0, static_cast<uint32_t>(n));
    put32(4, 16);
    put32(8, 16);
    std::memcpy(file.data() + 12, &fps, 4);
    for (int i = 0; i < n; ++i) {
        BitWriter bw;
        if (i == 0) test::write_vol(bw, {});
        test::write_vop_header(bw, 0, 8);
        bw.code(kMcbpcI[0]);
        bw.put(0, 1);
        bw.code(kCbpy[0]);
        // Block 0's DC differential is the frame number (sizes 0..3), the others predict from it.
        const int size = i == 0 ? 0 : i == 1 ? 1 : i < 4 ? 2 : 3;
        bw.code(kDcSizeLuma[size]);
        if (size) bw.put(static_cast<uint32_t>(i), size);
        for (int b = 1; b < 4; ++b) bw.code(kDcSizeLuma[0]);
        for (int b = 0; b < 2; ++b) bw.code(kDcSizeChroma[0]);
        bw.stuff();
        const std::vector<uint8_t> chunk = bw.bytes();
        const uint32_t len = static_cast<uint32_t>(chunk.size());
        const size_t at = file.size();
        file.resize(at + 4);
        std::memcpy(file.data() + at, &len, 4);
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    const std::string path = test_output_path(name);  // one file per test: tests may run in parallel
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
    return path;
}

}  // namespace

TEST(VideoStreamTest, TimingCacheAndLooping) {
    file_init(nullptr, "");
    const std::string path = write_test_nvd("video_stream_timing.nvd", 5, 10.0f);
    VideoStream vs;
    ASSERT_TRUE(vs.open(path.c_str(), 100));
    EXPECT_EQ(16, vs.width());
    EXPECT_EQ(5, vs.frame_count());
    std::vector<uint32_t> px(16 * 16);
    // First request for index 2 decodes 3 records.
    EXPECT_EQ(1, vs.frame_at(px.data(), 0.25f));
    EXPECT_EQ(3, vs.decoded_records());
    const uint32_t frame2 = px[0];
    // Same period again: from the cache, even after the destination was drawn over.
    std::fill(px.begin(), px.end(), 0);
    vs.frame_at(px.data(), 0.29f);
    EXPECT_EQ(3, vs.decoded_records());
    EXPECT_EQ(frame2, px[0]);
    // Two frames on: two records.
    vs.frame_at(px.data(), 0.4f);
    EXPECT_EQ(5, vs.decoded_records());
    EXPECT_NE(frame2, px[0]);
    // n / f seconds wraps to index 0: restart, one record.
    vs.frame_at(px.data(), 0.5f);
    EXPECT_EQ(6, vs.decoded_records());
    vs.frame_at(px.data(), 0.55f);  // index 0 again: no rewind
    EXPECT_EQ(6, vs.decoded_records());
    vs.close();
    vs.close();
}

TEST(VideoStreamTest, MissingOrDamagedFileHasNoFrames) {
    file_init(nullptr, "");
    VideoStream vs;
    EXPECT_FALSE(vs.open("no/such/file.nvd", 100));
    EXPECT_EQ(0, vs.width());
    EXPECT_EQ(0, vs.frame_count());
    uint32_t px[4] = {7, 7, 7, 7};
    EXPECT_EQ(1, vs.frame_at(px, 3.0f));
    EXPECT_EQ(7u, px[0]);
    // A record length running past the end of the file.
    const std::string path = write_test_nvd("video_stream_damaged.nvd", 3, 10.0f);
    std::vector<char> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    bytes.resize(bytes.size() - 3);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
    EXPECT_FALSE(vs.open(path.c_str(), 0));
    EXPECT_EQ(0, vs.frame_count());
}

TEST(VideoStreamTest, TheStreamsOwnSizeWinsOverTheHeaders) {
    file_init(nullptr, "");
    // Records of flat 32 x 32 I-VOPs (grey 128) behind a file header that says otherwise.
    auto write_nvd = [](const std::string& name, int header_w, int header_h, int layer_w, int layer_h) {
        std::vector<uint8_t> file(16);
        const int32_t header[3] = {2, header_w, header_h};
        std::memcpy(file.data(), header, 12);
        const float fps = 10.0f;
        std::memcpy(file.data() + 12, &fps, 4);
        for (int i = 0; i < 2; ++i) {
            const std::vector<uint8_t> chunk = flat_intra_chunk(layer_w, layer_h, 8);
            const uint32_t len = static_cast<uint32_t>(chunk.size());
            file.resize(file.size() + 4);
            std::memcpy(file.data() + file.size() - 4, &len, 4);
            file.insert(file.end(), chunk.begin(), chunk.end());
        }
        const std::string path = test_output_path(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
        return path;
    };
    VideoStream vs;
    ASSERT_TRUE(vs.open(write_nvd("video_stream_size_small.nvd", 16, 16, 32, 32).c_str(), 0));
    EXPECT_EQ(32, vs.width());
    EXPECT_EQ(32, vs.height());
    EXPECT_TRUE(vs.size_corrected());
    std::vector<uint32_t> px(32 * 32, 0xDEADBEEF);
    vs.frame_at(px.data(), 0.0f);
    for (uint32_t p : px) {
        for (int shift : {0, 8, 16}) ASSERT_NEAR(0x80, (p >> shift) & 0xFF, 4) << "not the decoded grey";
    }
    // A header of an impossible size is mended too; the same size is no correction.
    ASSERT_TRUE(vs.open(write_nvd("video_stream_size_zero.nvd", 0, 99999, 32, 32).c_str(), 0));
    EXPECT_EQ(32, vs.width());
    ASSERT_TRUE(vs.open(write_nvd("video_stream_size_same.nvd", 32, 32, 32, 32).c_str(), 0));
    EXPECT_FALSE(vs.size_corrected());
    // A stream of a size the decoder does not take is refused rather than played as frames it never fills.
    EXPECT_FALSE(vs.open(write_nvd("video_stream_size_odd.nvd", 24, 16, 24, 16).c_str(), 0));
    EXPECT_EQ(0, vs.width());
    EXPECT_FALSE(vs.open(write_nvd("video_stream_size_huge.nvd", 16, 16, 736, 576).c_str(), 0));
    vs.close();
}
