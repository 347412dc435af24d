#pragma once
// Builds small MPEG-4 visual chunks bit by bit for the decoder tests.
#include <cstdint>
#include <vector>

#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::test {

class BitWriter {
public:
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) put_bit((value >> i) & 1);
    }
    void put_bit(int b) {
        if (bit_ == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> bit_);
        bit_ = (bit_ + 1) & 7;
    }
    // next_start_code() stuffing: a 0 then 1s to the byte boundary (0x7F when aligned).
    void stuff() {
        put_bit(0);
        while (bit_ != 0) put_bit(1);
    }
    void code(const mpeg4::VlcCode& c) { put(c.code, c.length); }
    bool aligned() const { return bit_ == 0; }
    // The bytes written so far, the last one filled up with zero bits. No spare bytes are added: a caller that
    // hands the chunk to the decoder appends four zero bytes itself, as the decoder interface expects.
    std::vector<uint8_t> bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int bit_ = 0;
};

struct VolOptions {
    int width = 16;
    int height = 16;
    int resolution = 30;
    bool object_layer_identifier = false;
    int verid = 1;
    int aspect = 1;
    bool vol_control = false;
    bool vbv = false;
    int interlaced = 0;
    int quant_type = 0;
    int complexity_estimation_disable = 1;
    int data_partitioned = 0;
    int scalability = 0;
    bool user_data_after = false;
    // Extensions: written only when asked, so the older layouts stay as they were.
    bool write_matrices = false;  // with quant_type 1: load an intra matrix (values 8..71), no non-intra matrix
    int quarter_sample = 0;       // verid 2 only
    int sprite_enable = 0;        // 2 = GMC (verid 2): warping points 2, accuracy 1, no brightness change
    int resync_marker_disable = 1;
};

// Video object + video object layer headers, byte-aligned at the end.
inline void write_vol(BitWriter& w, const VolOptions& o) {
    w.put(0x00000100, 32);  // video_object_start_code, id 0
    w.put(0x00000120, 32);  // video_object_layer_start_code, id 0
    w.put(0, 1);            // random_accessible_vol
    w.put(1, 8);            // simple object type
    w.put(o.object_layer_identifier, 1);
    if (o.object_layer_identifier) {
        w.put(o.verid, 4);
        w.put(1, 3);
    }
    w.put(o.aspect, 4);
    if (o.aspect == 15) w.put(0xA5C3, 16);
    w.put(o.vol_control, 1);
    if (o.vol_control) {
        w.put(1, 2);  // chroma_format 4:2:0
        w.put(1, 1);  // low_delay
        w.put(o.vbv, 1);
        if (o.vbv) {
            for (int i = 0; i < 79; ++i) w.put_bit(i % 3 == 0);  // VBV parameters, arbitrary bits
        }
    }
    w.put(0, 2);  // rectangular
    w.put(1, 1);
    w.put(o.resolution, 16);
    w.put(1, 1);
    w.put(0, 1);  // fixed_vop_rate
    w.put(1, 1);
    w.put(o.width, 13);
    w.put(1, 1);
    w.put(o.height, 13);
    w.put(1, 1);
    w.put(o.interlaced, 1);
    w.put(1, 1);  // obmc_disable
    w.put(o.sprite_enable, o.verid == 1 ? 1 : 2);
    if (o.sprite_enable == 2) {
        w.put(2, 6);
        w.put(1, 2);
        w.put(0, 1);
    }
    w.put(0, 1);  // not_8_bit
    w.put(o.quant_type, 1);
    if (o.quant_type && o.write_matrices) {
        w.put(1, 1);
        for (int i = 0; i < 64; ++i) w.put(8 + i, 8);
        w.put(0, 1);
    }
    if (o.verid != 1) w.put(o.quarter_sample, 1);
    w.put(o.complexity_estimation_disable, 1);
    w.put(o.resync_marker_disable, 1);
    w.put(o.data_partitioned, 1);
    if (o.verid != 1) {
        w.put(0, 1);  // newpred_enable
        w.put(0, 1);  // reduced_resolution_vop_enable
    }
    w.put(o.scalability, 1);
    w.stuff();
    if (o.user_data_after) w.put(0x000001B2, 32);
}

inline int increment_bits(int resolution) {
    int b = 1;
    while ((1 << b) < resolution) ++b;
    return b;
}

// VOP header of a rectangular VOP (type 0 = I, 1 = P).
inline void write_vop_header(BitWriter& w, int type, int quant, int resolution = 30, int rounding = 0, int fcode = 1,
                             int intra_dc_vlc_thr = 0) {
    w.put(0x000001B6, 32);
    w.put(type, 2);
    w.put(0, 1);  // modulo_time_base
    w.put(1, 1);
    w.put(1, increment_bits(resolution));
    w.put(1, 1);
    w.put(1, 1);  // vop_coded
    if (type == 1) w.put(rounding, 1);
    w.put(intra_dc_vlc_thr, 3);
    w.put(quant, 5);
    if (type != 0) w.put(fcode, 3);
}

// An intra macroblock without texture: every DC differential 0 (so the DC comes from prediction alone), or
// the given luma DC differential in block 0 with size coded by the tables.
inline void write_flat_intra_mb(BitWriter& w, bool p_vop) {
    if (p_vop) {
        w.put(0, 1);                   // coded
        w.code(mpeg4::kMcbpcP[12]);    // intra, cbpc 0
    } else {
        w.code(mpeg4::kMcbpcI[0]);     // intra, cbpc 0
    }
    w.put(0, 1);                 // ac_pred_flag
    w.code(mpeg4::kCbpy[0]);     // no coded luma blocks
    for (int i = 0; i < 4; ++i) w.code(mpeg4::kDcSizeLuma[0]);
    for (int i = 0; i < 2; ++i) w.code(mpeg4::kDcSizeChroma[0]);
}

// A motion vector component code for a differential in -32..31 with fcode 1.
inline void write_mvd(BitWriter& w, int mvd) {
    if (mvd == 0) {
        w.put(1, 1);
        return;
    }
    const int a = mvd < 0 ? -mvd : mvd;
    w.code(mpeg4::kMotionVector[a]);
    w.put(mvd < 0, 1);
}

}  // namespace zorbrix::test
