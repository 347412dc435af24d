#pragma once
// Builds small MPEG-4 visual chunks bit by bit for the decoder tests, on the shared bit and header writers.
#include <cstdint>
#include <vector>

#include "video/mpeg4/bit_writer.h"
#include "video/mpeg4/header_writer.h"
#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::test {

// The shared writer (an alias, so that tests that also use the decoder's namespace see one name).
using BitWriter = mpeg4::BitWriter;

// The layer knobs the decoder tests turn, with their defaults: a version 1 layer of 16 x 16 at resolution 30.
struct VolOptions {
    int width = 16;
    int height = 16;
    int resolution = 30;
    bool object_layer_identifier = false;
    int verid = 1;  // another version writes the identifier too
    int aspect = 1;
    bool vol_control = false;
    bool vbv = false;
    int interlaced = 0;
    int quant_type = 0;
    int complexity_estimation_disable = 1;
    int data_partitioned = 0;
    int scalability = 0;
    bool user_data_after = false;  // a user data start code right after the layer
    // Extensions: written only when asked, so the older layouts stay as they were.
    bool write_matrices = false;  // with quant_type 1: load an intra matrix (values 8..71), no non-intra matrix
    int quarter_sample = 0;       // verid 2 only
    int sprite_enable = 0;        // 2 = GMC (verid 2): warping points 2, accuracy 1, no brightness change
    int resync_marker_disable = 1;
};

inline mpeg4::LayerHeader layer_header(const VolOptions& o) {
    mpeg4::LayerHeader l;
    l.width = o.width;
    l.height = o.height;
    l.time_resolution = o.resolution;
    l.object_layer_identifier = o.object_layer_identifier;
    l.verid = o.verid;
    l.aspect_ratio = o.aspect;
    l.par_width = 0xA5;
    l.par_height = 0xC3;
    l.vol_control = o.vol_control;
    l.vbv = o.vbv;
    l.vbv_bit_rate = 0x2468ACE;
    l.vbv_buffer_size = 0x1357;
    l.vbv_occupancy = 0x3579BD;
    l.interlaced = o.interlaced;
    l.quant_type = o.quant_type;
    if (o.write_matrices) {
        for (int i = 0; i < 64; ++i) l.intra_matrix.push_back(static_cast<uint8_t>(8 + i));
    }
    l.complexity_estimation_disable = o.complexity_estimation_disable;
    l.data_partitioned = o.data_partitioned;
    l.scalability = o.scalability;
    l.user_data_after = o.user_data_after;
    l.quarter_sample = o.quarter_sample;
    l.sprite_enable = o.sprite_enable;
    l.resync_marker_disable = o.resync_marker_disable;
    return l;
}

// Video object + video object layer headers, byte-aligned at the end.
inline void write_vol(BitWriter& w, const VolOptions& o) { mpeg4::write_layer_headers(w, layer_header(o)); }

// VOP header of a rectangular VOP (type 0 = I, 1 = P) in a plain layer of the given resolution, at time
// increment 1.
inline void write_vop_header(BitWriter& w, int type, int quant, int resolution = 30, int rounding = 0, int fcode = 1,
                             int intra_dc_vlc_thr = 0) {
    mpeg4::LayerHeader layer;
    layer.time_resolution = resolution;
    mpeg4::VopHeader v;
    v.coding_type = type;
    v.time_increment = 1;
    v.rounding_type = rounding;
    v.intra_dc_vlc_thr = intra_dc_vlc_thr;
    v.quant = quant;
    v.fcode_forward = fcode;
    mpeg4::write_vop_header(w, layer, v);
}

// An intra macroblock without texture: every DC differential 0 (so the DC comes from prediction alone), or
// the given luma DC differential in block 0 with size coded by the tables.
inline void write_flat_intra_mb(BitWriter& w, bool p_vop) {
    if (p_vop) {
        w.put(0, 1);                 // coded
        w.code(mpeg4::kMcbpcP[12]);  // intra, cbpc 0
    } else {
        w.code(mpeg4::kMcbpcI[0]);  // intra, cbpc 0
    }
    w.put(0, 1);              // ac_pred_flag
    w.code(mpeg4::kCbpy[0]);  // no coded luma blocks
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
