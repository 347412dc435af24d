// The shared bit writer and the header writers: what they write parses back, field for field and to the bit,
// over many layer and VOP descriptions.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "video/mpeg4/bit_writer.h"
#include "video/mpeg4/header_writer.h"
#include "video/mpeg4/stream_features.h"
#include "video/mpeg4/vlc_tables.h"

using namespace zorbrix::mpeg4;

namespace {

bool has(uint64_t features, StreamFeature f) { return (features & feature_bit(f)) != 0; }

LayerHeader random_layer(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    LayerHeader l;
    l.width = 16 * (1 + pick(45));
    l.height = 16 * (1 + pick(36));
    const int resolutions[] = {1, 2, 3, 25, 30, 1000, 30000, 65535};
    l.time_resolution = resolutions[pick(8)];
    if (l.time_resolution > 1 && pick(4) == 0) l.fixed_vop_time_increment = 1 + pick(l.time_resolution - 1);
    l.random_accessible = pick(2);
    l.object_type = 1 + pick(4);
    l.verid = pick(2) ? 1 : 2;
    l.object_layer_identifier = pick(2) != 0;
    l.priority = 1 + pick(7);
    l.aspect_ratio = pick(3) == 0 ? 15 : 1 + pick(5);
    l.par_width = 1 + pick(255);
    l.par_height = 1 + pick(255);
    l.vol_control = pick(2) != 0;
    l.vbv = pick(2) != 0;
    l.vbv_bit_rate = static_cast<uint32_t>(rng() & 0x3FFFFFFF);
    l.vbv_buffer_size = static_cast<uint32_t>(rng() & 0x3FFFF);
    l.vbv_occupancy = static_cast<uint32_t>(rng() & 0x3FFFFFF);
    l.interlaced = pick(4) == 0;
    l.sprite_enable = pick(4) == 0 ? 1 + pick(l.verid == 1 ? 1 : 2) : 0;
    l.sprite_warping_points = pick(4);
    l.sprite_warping_accuracy = pick(4);
    l.quant_type = pick(3) == 0;
    for (int i = 0, n = pick(3) == 0 ? 64 : pick(70); i < n; ++i) l.intra_matrix.push_back(1 + pick(255));
    for (int i = 0, n = pick(70); i < n; ++i) l.non_intra_matrix.push_back(1 + pick(255));
    l.quarter_sample = pick(2);
    l.complexity_estimation_disable = pick(8) != 0;
    l.resync_marker_disable = pick(2);
    l.data_partitioned = pick(3) == 0;
    l.reversible_vlc = pick(2);
    l.newpred_enable = pick(4) == 0;
    l.reduced_resolution_vop_enable = pick(4) == 0;
    l.scalability = pick(8) == 0;
    l.user_data_after = pick(8) == 0;
    l.user_data = {'z', 'b', 0x7F};
    return l;
}

VopHeader random_vop(std::mt19937& rng, const LayerHeader& l) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    VopHeader v;
    v.coding_type = pick(4);
    v.modulo_time_base = pick(4);
    v.time_increment = pick(l.time_resolution);
    v.coded = pick(8) != 0;
    v.rounding_type = pick(2);
    v.intra_dc_vlc_thr = pick(3) == 0 ? pick(8) : 0;
    v.quant = 1 + pick(31);
    v.fcode_forward = 1 + pick(7);
    v.fcode_backward = 1 + pick(7);
    return v;
}

}  // namespace

TEST(BitWriter, PacksMostSignificantFirstAndStuffsLikeTheStream) {
    BitWriter bw;
    bw.put_bits(0b101, 3);
    bw.put_bits(0x1FF, 9);
    EXPECT_EQ(bw.bit_count(), 12u);
    bw.stuff();  // 0 then 1s: 0111
    bw.put_bits(0xDEADBEEF, 32);
    bw.stuff();  // aligned: a whole 0x7F
    const std::vector<uint8_t> bytes = bw.take();
    const std::vector<uint8_t> expected = {0xBF, 0xF7, 0xDE, 0xAD, 0xBE, 0xEF, 0x7F};
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(bw.bit_count(), 0u);
}

TEST(BitWriter, BytesPadsAPartialByteWithoutEndingIt) {
    BitWriter bw;
    bw.code(kCbpy[0]);  // 0011
    bw.put_bit(true);
    EXPECT_FALSE(bw.byte_aligned());
    EXPECT_EQ((std::vector<uint8_t>{0x38}), bw.bytes());
    // The partial byte goes on filling after bytes(); high bits past n are ignored.
    bw.put_bits(0xFFFFFF07, 3);
    EXPECT_TRUE(bw.byte_aligned());
    EXPECT_EQ((std::vector<uint8_t>{0x3F}), bw.bytes());
    bw.put_bits(0x80000001u, 32);
    bw.put_bits(0, 0);
    EXPECT_EQ((std::vector<uint8_t>{0x3F, 0x80, 0x00, 0x00, 0x01}), bw.take());
}

TEST(HeaderWriter, PlainLayerIsTheEncodersBytes) {
    // A 256x192 layer at 25 ticks a second and its first I-VOP at quantiser 4, bit for bit.
    LayerHeader l;
    l.width = 256;
    l.height = 192;
    BitWriter bw;
    write_layer_headers(bw, l);
    write_vop_header(bw, l, {.coding_type = 0, .quant = 4});
    bw.stuff();
    const std::vector<uint8_t> expected = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0x84, 0x40, 0x06, 0x68,
                                           0x40, 0x20, 0xC0, 0xA3, 0x1F, 0x00, 0x00, 0x01, 0xB6, 0x10, 0x60, 0x8F};
    EXPECT_EQ(expected, bw.take());
}

TEST(HeaderWriter, WhatItWritesParsesBackToTheSameFields) {
    std::mt19937 rng(20261209);
    int complete_layers = 0, complete_vops = 0;
    for (int iter = 0; iter < 4000; ++iter) {
        const LayerHeader l = random_layer(rng);
        const VopHeader v = random_vop(rng, l);
        BitWriter bw;
        write_layer_headers(bw, l);
        const uint64_t vop_start = bw.bit_count();
        write_vop_header(bw, l, v);
        const uint64_t vop_end = bw.bit_count();
        bw.stuff();
        std::vector<uint8_t> bytes = bw.take();
        ASSERT_EQ((std::vector<uint8_t>{0, 0, 1, 0}), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4));
        bytes.erase(bytes.begin(), bytes.begin() + 4);  // the parser starts at the layer's start code
        SCOPED_TRACE("iteration " + std::to_string(iter));

        BitReader br;
        br.reset(bytes.data(), bytes.size());
        const LayerReport r = parse_layer_header(br);
        const LayerInfo& p = r.layer;
        const int verid = l.object_layer_identifier || l.verid != 1 ? l.verid : 1;
        EXPECT_EQ(0, p.video_object_layer_id);
        EXPECT_EQ(l.random_accessible, p.random_accessible_vol);
        EXPECT_EQ(l.object_type, p.video_object_type_indication);
        EXPECT_EQ(verid, p.verid);
        EXPECT_EQ(l.object_layer_identifier || l.verid != 1 ? l.priority : 1, p.priority);
        EXPECT_EQ(l.aspect_ratio, p.aspect_ratio_info);
        EXPECT_EQ(l.vol_control, p.vol_control_parameters != 0);
        EXPECT_EQ(0, p.shape);
        EXPECT_EQ(l.time_resolution, p.vop_time_increment_resolution);
        EXPECT_EQ(time_increment_bits(l.time_resolution), p.time_increment_bits);
        EXPECT_EQ(l.fixed_vop_time_increment != 0, p.fixed_vop_rate != 0);
        EXPECT_EQ(l.fixed_vop_time_increment, p.fixed_vop_time_increment);
        EXPECT_EQ(l.width, p.width);
        EXPECT_EQ(l.height, p.height);
        EXPECT_EQ(l.interlaced, p.interlaced);
        EXPECT_EQ(1, p.obmc_disable);
        EXPECT_EQ(l.sprite_enable, p.sprite_enable);
        EXPECT_EQ(8, p.bits_per_pixel);
        EXPECT_EQ(l.quant_type, p.quant_type);
        EXPECT_EQ(verid != 1 ? l.quarter_sample : 0, p.quarter_sample);
        EXPECT_EQ(l.complexity_estimation_disable, p.complexity_estimation_disable);
        EXPECT_EQ(l.interlaced != 0, has(r.features, StreamFeature::Interlace));
        EXPECT_EQ(l.sprite_enable != 0, has(r.features, StreamFeature::SpriteGmc));
        EXPECT_EQ(l.quant_type != 0, has(r.features, StreamFeature::MpegQuantisation));
        EXPECT_FALSE(has(r.features, StreamFeature::PictureSize));
        if (!l.complexity_estimation_disable) {
            // The parser stops at the estimation header; nothing after it is located.
            EXPECT_TRUE(has(r.features, StreamFeature::ComplexityEstimation));
            EXPECT_FALSE(r.complete);
            continue;
        }
        EXPECT_EQ(l.resync_marker_disable, p.resync_marker_disable);
        EXPECT_EQ(l.data_partitioned, p.data_partitioned);
        EXPECT_EQ(l.data_partitioned ? l.reversible_vlc : 0, p.reversible_vlc);
        EXPECT_EQ(l.data_partitioned != 0, has(r.features, StreamFeature::DataPartitioning));
        EXPECT_EQ(verid != 1 ? l.newpred_enable : 0, p.newpred_enable);
        EXPECT_EQ(verid != 1 ? l.reduced_resolution_vop_enable : 0, p.reduced_resolution_vop_enable);
        EXPECT_EQ(l.scalability, p.scalability);
        if (l.scalability) {
            EXPECT_TRUE(has(r.features, StreamFeature::Scalability));
            continue;
        }
        ASSERT_TRUE(r.complete);
        ++complete_layers;
        // The layer ends in next_start_code() stuffing: one to eight bits to the boundary.
        const uint64_t layer_bits = vop_start - 32 - (l.user_data_after ? 32 + 8 * l.user_data.size() : 0);
        EXPECT_GE(layer_bits - r.end_bit, 1u);
        EXPECT_LE(layer_bits - r.end_bit, 8u);
        EXPECT_EQ(l.user_data_after, has(r.features, StreamFeature::UserDataAfterLayer));
        if (l.user_data_after) continue;

        const VopReport vr = parse_vop_header(br, p);
        ASSERT_TRUE(vr.found);
        EXPECT_EQ(v.coding_type, vr.vop.coding_type);
        EXPECT_EQ(v.modulo_time_base, vr.vop.modulo_time_base);
        EXPECT_EQ(v.time_increment, vr.vop.time_increment);
        EXPECT_EQ(v.coded, vr.vop.coded);
        EXPECT_EQ(v.coding_type == 2, has(vr.features, StreamFeature::BFrames));
        if (!v.coded) {
            EXPECT_TRUE(vr.complete);
            EXPECT_EQ(vop_end - 32, br.bit_position());
            continue;
        }
        const bool rounding = v.coding_type == 1 || (v.coding_type == 3 && l.sprite_enable == 2);
        EXPECT_EQ(rounding ? v.rounding_type : 0, vr.vop.rounding_type);
        EXPECT_EQ(v.intra_dc_vlc_thr, vr.vop.intra_dc_vlc_thr);
        // The parser reads no further in an interlaced layer or in a sprite layer's S-VOP.
        if (l.interlaced || (v.coding_type == 3 && l.sprite_enable != 0)) continue;
        EXPECT_EQ(v.quant, vr.vop.quant);
        EXPECT_EQ(v.coding_type != 0 ? v.fcode_forward : 1, vr.vop.fcode_forward);
        EXPECT_EQ(v.coding_type == 2 ? v.fcode_backward : 1, vr.vop.fcode_backward);
        EXPECT_TRUE(vr.complete);
        EXPECT_EQ(vop_end - 32, br.bit_position()) << "the VOP header's length differs from what is parsed";
        ++complete_vops;
    }
    // The random descriptions reach the whole path often enough to mean something.
    EXPECT_GT(complete_layers, 1500);
    EXPECT_GT(complete_vops, 600);
}
