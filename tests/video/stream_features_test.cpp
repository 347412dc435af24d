// The unsupported-feature report: names and statuses, the layer and VOP header parsers that report instead of
// exiting, and the decoder's one way out (a named line on standard error, then the status).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fatal.h"
#include "tests/video/stream_builder.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/stream_features.h"

using namespace zorbrix;
using namespace zorbrix::mpeg4;
using zorbrix::test::BitWriter;

namespace {

// The layer header alone (without the video object start code before it) and a VOP header of the given type.
std::vector<uint8_t> layer_and_vop(const test::VolOptions& o, int vop_type = 0, int quant = 7, int dc_thr = 0) {
    BitWriter bw;
    const LayerHeader layer = test::layer_header(o);
    write_layer_headers(bw, layer);
    write_vop_header(bw, layer,
                     {.coding_type = vop_type,
                      .time_increment = 1,
                      .rounding_type = 1,
                      .intra_dc_vlc_thr = dc_thr,
                      .quant = quant,
                      .fcode_forward = 3,
                      .fcode_backward = 2});
    bw.stuff();
    std::vector<uint8_t> bytes = bw.bytes();
    return std::vector<uint8_t>(bytes.begin() + 4, bytes.end());
}

struct Parsed {
    LayerReport layer;
    VopReport vop;
};

Parsed parse(const std::vector<uint8_t>& bytes) {
    BitReader br;
    br.reset(bytes.data(), bytes.size());
    Parsed p;
    p.layer = parse_layer_header(br);
    p.vop = parse_vop_header(br, p.layer.layer);
    return p;
}

}  // namespace

TEST(StreamFeatures, NamesAndStatuses) {
    EXPECT_STREQ("MPEG quantisation", feature_name(StreamFeature::MpegQuantisation));
    EXPECT_STREQ("data partitioning", feature_name(StreamFeature::DataPartitioning));
    EXPECT_STREQ("B-frames", feature_name(StreamFeature::BFrames));
    EXPECT_STREQ("sprite/GMC VOPs", feature_name(StreamFeature::SpriteGmc));
    EXPECT_STREQ("quarter-pel motion", feature_name(StreamFeature::QuarterPel));
    EXPECT_STREQ("user data after the VOL", feature_name(StreamFeature::UserDataAfterLayer));
    const StreamFeature with_status[] = {StreamFeature::MissingLayerStartCode, StreamFeature::DataPartitioning,
                                         StreamFeature::Scalability,           StreamFeature::UserDataAfterLayer,
                                         StreamFeature::ComplexityEstimation,  StreamFeature::Interlace,
                                         StreamFeature::MpegQuantisation};
    const int statuses[] = {101, 102, 103, 104, 108, 109, 110};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(statuses[i], feature_exit_status(with_status[i]));
    // Every feature has its own name and its own report bit.
    uint64_t bits = 0;
    std::vector<std::string> names;
    for (int v : {101, 102, 103, 104, 108, 109, 110, 1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009}) {
        const auto f = static_cast<StreamFeature>(v);
        EXPECT_EQ(0u, bits & feature_bit(f));
        bits |= feature_bit(f);
        const std::string name = feature_name(f);
        EXPECT_FALSE(name.empty());
        for (const auto& n : names) EXPECT_NE(n, name);
        names.push_back(name);
        if (v >= 1000) {
            EXPECT_EQ(0, feature_exit_status(f));
        }
    }
}

TEST(StreamFeatures, PlainLayerAndVopReportTheirFields) {
    test::VolOptions o;
    o.width = 256;
    o.height = 192;
    o.resolution = 25;
    o.resync_marker_disable = 0;
    const Parsed p = parse(layer_and_vop(o, 1, 12));
    EXPECT_EQ(StreamFeature::None, p.layer.first);
    EXPECT_TRUE(p.layer.complete);
    EXPECT_EQ(256, p.layer.layer.width);
    EXPECT_EQ(192, p.layer.layer.height);
    EXPECT_EQ(5, p.layer.layer.time_increment_bits);
    EXPECT_EQ(0, p.layer.layer.resync_marker_disable);
    EXPECT_TRUE(p.vop.found);
    EXPECT_TRUE(p.vop.complete);
    EXPECT_EQ(StreamFeature::None, p.vop.first);
    EXPECT_EQ(1, p.vop.vop.coding_type);
    EXPECT_EQ(1, p.vop.vop.rounding_type);
    EXPECT_EQ(12, p.vop.vop.quant);
    EXPECT_EQ(3, p.vop.vop.fcode_forward);
}

TEST(StreamFeatures, FirstFeatureInSyntaxOrderAndFieldsPastIt) {
    // MPEG quantisation with a loaded matrix: the 520 matrix bits are skipped, so what follows is read right.
    test::VolOptions o;
    o.width = 64;
    o.height = 48;
    o.quant_type = 1;
    o.write_matrices = true;
    o.data_partitioned = 1;
    Parsed p = parse(layer_and_vop(o));
    EXPECT_EQ(StreamFeature::MpegQuantisation, p.layer.first);
    EXPECT_TRUE(p.layer.features & feature_bit(StreamFeature::DataPartitioning));
    EXPECT_TRUE(p.layer.complete);
    EXPECT_EQ(7, p.vop.vop.quant);

    // Interlace comes before quarter-pel; GMC before both in a verid 2 layer; sizes are checked.
    o = {};
    o.object_layer_identifier = true;
    o.verid = 2;
    o.quarter_sample = 1;
    o.interlaced = 1;
    p = parse(layer_and_vop(o));
    EXPECT_EQ(StreamFeature::Interlace, p.layer.first);
    EXPECT_TRUE(p.layer.features & feature_bit(StreamFeature::QuarterPel));
    o.interlaced = 0;
    p = parse(layer_and_vop(o));
    EXPECT_EQ(StreamFeature::QuarterPel, p.layer.first);
    EXPECT_EQ(1, p.layer.layer.quarter_sample);
    o.sprite_enable = 2;
    p = parse(layer_and_vop(o, 0));
    EXPECT_EQ(StreamFeature::SpriteGmc, p.layer.first);
    EXPECT_EQ(1, p.layer.layer.quarter_sample) << "GMC fields were not skipped";
    o = {};
    o.width = 200;
    EXPECT_EQ(StreamFeature::PictureSize, parse(layer_and_vop(o)).layer.first);
    o.width = 736;
    EXPECT_EQ(StreamFeature::PictureSize, parse(layer_and_vop(o)).layer.first);
    o.width = 720;
    o.height = 576;
    EXPECT_EQ(StreamFeature::None, parse(layer_and_vop(o)).layer.first);

    // Parsing stops where the layer's remaining fields cannot be found.
    o = {};
    o.complexity_estimation_disable = 0;
    p = parse(layer_and_vop(o));
    EXPECT_EQ(StreamFeature::ComplexityEstimation, p.layer.first);
    EXPECT_FALSE(p.layer.complete);
    o = {};
    o.user_data_after = true;
    EXPECT_EQ(StreamFeature::UserDataAfterLayer, parse(layer_and_vop(o)).layer.first);

    // B-VOPs are reported at the VOP with both fcodes.
    p = parse(layer_and_vop({}, 2));
    EXPECT_EQ(StreamFeature::BFrames, p.vop.first);
    EXPECT_EQ(3, p.vop.vop.fcode_forward);
    EXPECT_EQ(2, p.vop.vop.fcode_backward);

    // An intra DC threshold other than 0 is reported; the quantiser after it is still found.
    p = parse(layer_and_vop({}, 0, 9, 3));
    EXPECT_EQ(StreamFeature::IntraDcAsAc, p.vop.first);
    EXPECT_EQ(3, p.vop.vop.intra_dc_vlc_thr);
    EXPECT_EQ(9, p.vop.vop.quant);
    EXPECT_EQ(StreamFeature::None, parse(layer_and_vop({}, 0, 9, 0)).vop.first);

    // No layer start code, truncated data, no VOP start code: reported, nothing read out of bounds.
    const std::vector<uint8_t> not_a_layer = {0x00, 0x00, 0x01, 0xB6, 0x10};
    EXPECT_EQ(StreamFeature::NoLayer, parse(not_a_layer).layer.first);
    std::vector<uint8_t> cut = layer_and_vop({});
    cut.resize(9);
    p = parse(cut);
    EXPECT_FALSE(p.layer.complete);
    EXPECT_FALSE(p.vop.found);
}

TEST(StreamFeatures, VopFieldsTheHeaderDoesNotCarryKeepThePreviousValues) {
    // The decoder parses every VOP header from the last one's values: an I-VOP carries no fcode, a VOP that is
    // not coded stops after vop_coded, a chunk without the start code carries nothing.
    const std::vector<uint8_t> bytes = layer_and_vop({}, 1, 12);
    BitReader br;
    br.reset(bytes.data(), bytes.size());
    const LayerReport layer = parse_layer_header(br);
    VopInfo previous;
    previous.fcode_forward = 6;
    previous.quant = 20;
    previous.modulo_time_base = 3;
    VopReport p = parse_vop_header(br, layer.layer, previous);
    EXPECT_EQ(3, p.vop.fcode_forward);  // a P-VOP carries its own
    EXPECT_EQ(12, p.vop.quant);
    EXPECT_EQ(0, p.vop.modulo_time_base);  // this header's seconds only

    const std::vector<uint8_t> intra = layer_and_vop({}, 0, 9);
    br.reset(intra.data(), intra.size());
    parse_layer_header(br);
    p = parse_vop_header(br, layer.layer, previous);
    EXPECT_EQ(9, p.vop.quant);
    EXPECT_EQ(6, p.vop.fcode_forward);
    EXPECT_EQ(0, p.vop.rounding_type);

    BitWriter n;
    n.put(0x000001B6, 32);
    n.put(1, 2);
    n.put(0, 1);
    n.put(1, 1);
    n.put(2, 5);
    n.put(1, 1);
    n.put(0, 1);  // vop_coded 0
    n.stuff();
    const std::vector<uint8_t> not_coded = n.bytes();
    br.reset(not_coded.data(), not_coded.size());
    p = parse_vop_header(br, layer.layer, previous);
    EXPECT_TRUE(p.found);
    EXPECT_EQ(0, p.vop.coded);
    EXPECT_EQ(1, p.vop.coding_type);
    EXPECT_EQ(20, p.vop.quant);

    const std::vector<uint8_t> no_vop = {0x00, 0x00, 0x01, 0xB5, 0x00};
    br.reset(no_vop.data(), no_vop.size());
    p = parse_vop_header(br, layer.layer, previous);
    EXPECT_FALSE(p.found);
    EXPECT_EQ(20, p.vop.quant);
    EXPECT_EQ(6, p.vop.fcode_forward);
}

TEST(StreamFeatures, DecoderNamesTheFeatureBeforeItsStatus) {
    ScopedFatalTrap trap;
    auto run = [](const test::VolOptions& o, std::string* err) {
        int handle = 0;
        InitParams init{64, 48, 0, FMT_YV12};
        decoder_call(&handle, OPT_INIT, &init, nullptr);
        BitWriter bw;
        test::write_vol(bw, o);
        test::write_vop_header(bw, 0, 8, o.resolution);
        bw.stuff();
        std::vector<uint8_t> data = bw.bytes();
        data.resize(data.size() + 4, 0);
        std::vector<uint8_t> out(64 * 48 * 3 / 2);
        FrameParams f{out.data(), data.data(), static_cast<int32_t>(data.size() - 4), 1};
        int status = -1;
        testing::internal::CaptureStderr();
        try {
            decoder_call(&handle, OPT_DECODE, &f, nullptr);
        } catch (const FatalExit& e) {
            status = e.status;
        }
        *err = testing::internal::GetCapturedStderr();
        decoder_call(&handle, OPT_RELEASE, nullptr, nullptr);
        return status;
    };
    std::string err;
    test::VolOptions o;
    o.width = 64;
    o.height = 48;
    o.quant_type = 1;
    o.write_matrices = true;
    // MPEG quantisation ends at the layer with its own status, also when data partitioning follows.
    o.data_partitioned = 1;
    EXPECT_EQ(110, run(o, &err));
    EXPECT_EQ("unsupported video feature: MPEG quantisation\n", err);
    o.quant_type = 0;
    EXPECT_EQ(102, run(o, &err));
    EXPECT_EQ("unsupported video feature: data partitioning\n", err);
    o.data_partitioned = 0;
    o.interlaced = 1;
    EXPECT_EQ(109, run(o, &err));
    EXPECT_EQ("unsupported video feature: interlace\n", err);
    o.interlaced = 0;
    EXPECT_EQ(-1, run(o, &err));
    EXPECT_EQ("", err);
}
