// The video object, video object layer and VOP header writers.
#include "video/mpeg4/header_writer.h"

#include <algorithm>
#include <cstddef>

namespace zorbrix::mpeg4 {
namespace {

void put_marker(BitWriter& bw) { bw.put_bit(true); }

// load_*_quant_mat and the matrix: up to 64 values, a shorter list closed by a 0.
void put_matrix(BitWriter& bw, const std::vector<uint8_t>& values) {
    bw.put_bit(!values.empty());
    if (values.empty()) return;
    const size_t n = std::min<size_t>(values.size(), 64);
    for (size_t i = 0; i < n; ++i) bw.put_bits(values[i], 8);
    if (n < 64) bw.put_bits(0, 8);
}

// The complexity estimation header with every measurement set turned off (estimation method 0).
void put_complexity_estimation(BitWriter& bw) {
    bw.put_bits(0, 2);  // estimation_method
    bw.put_bit(true);   // shape_complexity_estimation_disable
    bw.put_bit(true);   // texture_complexity_estimation_set_1_disable
    put_marker(bw);
    bw.put_bit(true);  // texture_complexity_estimation_set_2_disable
    bw.put_bit(true);  // motion_compensation_complexity_disable
    put_marker(bw);
}

}  // namespace

void write_layer_headers(BitWriter& bw, const LayerHeader& l) {
    bw.put_bits(0x00000100, 32);  // video_object_start_code, id 0
    bw.put_bits(0x00000120, 32);  // video_object_layer_start_code, id 0
    bw.put_bits(static_cast<uint32_t>(l.random_accessible), 1);
    bw.put_bits(static_cast<uint32_t>(l.object_type), 8);
    const bool identifier = l.object_layer_identifier || l.verid != 1;
    bw.put_bit(identifier);
    if (identifier) {
        bw.put_bits(static_cast<uint32_t>(l.verid), 4);
        bw.put_bits(static_cast<uint32_t>(l.priority), 3);
    }
    bw.put_bits(static_cast<uint32_t>(l.aspect_ratio), 4);
    if (l.aspect_ratio == 15) {
        bw.put_bits(static_cast<uint32_t>(l.par_width), 8);
        bw.put_bits(static_cast<uint32_t>(l.par_height), 8);
    }
    bw.put_bit(l.vol_control);
    if (l.vol_control) {
        bw.put_bits(1, 2);  // chroma_format 4:2:0
        bw.put_bits(1, 1);  // low_delay
        bw.put_bit(l.vbv);
        if (l.vbv) {
            bw.put_bits(l.vbv_bit_rate >> 15, 15);
            put_marker(bw);
            bw.put_bits(l.vbv_bit_rate, 15);
            put_marker(bw);
            bw.put_bits(l.vbv_buffer_size >> 3, 15);
            put_marker(bw);
            bw.put_bits(l.vbv_buffer_size, 3);
            bw.put_bits(l.vbv_occupancy >> 15, 11);
            put_marker(bw);
            bw.put_bits(l.vbv_occupancy, 15);
            put_marker(bw);
        }
    }
    bw.put_bits(0, 2);  // video_object_layer_shape: rectangular
    put_marker(bw);
    bw.put_bits(static_cast<uint32_t>(l.time_resolution), 16);
    put_marker(bw);
    bw.put_bit(l.fixed_vop_time_increment != 0);
    if (l.fixed_vop_time_increment != 0) {
        bw.put_bits(static_cast<uint32_t>(l.fixed_vop_time_increment), time_increment_bits(l.time_resolution));
    }
    put_marker(bw);
    bw.put_bits(static_cast<uint32_t>(l.width), 13);
    put_marker(bw);
    bw.put_bits(static_cast<uint32_t>(l.height), 13);
    put_marker(bw);
    bw.put_bits(static_cast<uint32_t>(l.interlaced), 1);
    bw.put_bits(1, 1);  // obmc_disable
    bw.put_bits(static_cast<uint32_t>(l.sprite_enable), l.verid == 1 ? 1 : 2);
    if (l.sprite_enable == 1) {
        // Static sprite geometry: the picture's own size at the origin.
        bw.put_bits(static_cast<uint32_t>(l.width), 13);
        put_marker(bw);
        bw.put_bits(static_cast<uint32_t>(l.height), 13);
        put_marker(bw);
        bw.put_bits(0, 13);  // sprite_left_coordinate
        put_marker(bw);
        bw.put_bits(0, 13);  // sprite_top_coordinate
        put_marker(bw);
    }
    if (l.sprite_enable != 0) {
        bw.put_bits(static_cast<uint32_t>(l.sprite_warping_points), 6);
        bw.put_bits(static_cast<uint32_t>(l.sprite_warping_accuracy), 2);
        bw.put_bits(0, 1);                            // sprite_brightness_change
        if (l.sprite_enable == 1) bw.put_bits(0, 1);  // low_latency_sprite_enable
    }
    bw.put_bits(0, 1);  // not_8_bit
    bw.put_bits(static_cast<uint32_t>(l.quant_type), 1);
    if (l.quant_type) {
        put_matrix(bw, l.intra_matrix);
        put_matrix(bw, l.non_intra_matrix);
    }
    if (l.verid != 1) bw.put_bits(static_cast<uint32_t>(l.quarter_sample), 1);
    bw.put_bits(static_cast<uint32_t>(l.complexity_estimation_disable), 1);
    if (!l.complexity_estimation_disable) put_complexity_estimation(bw);
    bw.put_bits(static_cast<uint32_t>(l.resync_marker_disable), 1);
    bw.put_bits(static_cast<uint32_t>(l.data_partitioned), 1);
    if (l.data_partitioned) bw.put_bits(static_cast<uint32_t>(l.reversible_vlc), 1);
    if (l.verid != 1) {
        bw.put_bits(static_cast<uint32_t>(l.newpred_enable), 1);
        if (l.newpred_enable) bw.put_bits(0, 3);  // requested_upstream_message_type, newpred_segment_type
        bw.put_bits(static_cast<uint32_t>(l.reduced_resolution_vop_enable), 1);
    }
    bw.put_bits(static_cast<uint32_t>(l.scalability), 1);
    if (l.scalability) {
        bw.put_bits(0, 1);                              // hierarchy_type
        bw.put_bits(0, 4);                              // ref_layer_id
        bw.put_bits(0, 1);                              // ref_layer_sampling_direc
        for (int i = 0; i < 4; ++i) bw.put_bits(1, 5);  // sampling factors n and m, across and down: 1:1
        bw.put_bits(0, 1);                              // enhancement_type
    }
    bw.stuff();
    if (l.user_data_after) {
        bw.put_bits(0x000001B2, 32);
        for (uint8_t b : l.user_data) bw.put_bits(b, 8);
    }
}

void write_vop_header(BitWriter& bw, const LayerHeader& l, const VopHeader& v) {
    bw.put_bits(0x000001B6, 32);
    bw.put_bits(static_cast<uint32_t>(v.coding_type), 2);
    for (int s = 0; s < v.modulo_time_base; ++s) bw.put_bit(true);
    bw.put_bit(false);
    put_marker(bw);
    bw.put_bits(static_cast<uint32_t>(v.time_increment), time_increment_bits(l.time_resolution));
    put_marker(bw);
    bw.put_bits(static_cast<uint32_t>(v.coded), 1);
    if (!v.coded) return;
    const bool sprite_vop = v.coding_type == 3 && l.sprite_enable != 0;
    if (v.coding_type == 1 || (sprite_vop && l.sprite_enable == 2)) {
        bw.put_bits(static_cast<uint32_t>(v.rounding_type), 1);
    }
    if (l.reduced_resolution_vop_enable && l.verid != 1 && (v.coding_type == 0 || v.coding_type == 1)) {
        bw.put_bits(0, 1);  // vop_reduced_resolution
    }
    // With every estimation set off the VOP carries no estimates.
    bw.put_bits(static_cast<uint32_t>(v.intra_dc_vlc_thr), 3);
    if (l.interlaced) {
        bw.put_bits(0, 1);  // top_field_first
        bw.put_bits(0, 1);  // alternate_vertical_scan_flag
    }
    if (sprite_vop) {
        // Each warping point: a zero difference across and down (length code 00), each closed by a marker.
        for (int i = 0; i < l.sprite_warping_points; ++i) {
            bw.put_bits(0, 2);
            put_marker(bw);
            bw.put_bits(0, 2);
            put_marker(bw);
        }
        if (l.sprite_enable == 1) return;  // a static sprite's VOP header ends here
    }
    bw.put_bits(static_cast<uint32_t>(v.quant), 5);
    if (v.coding_type != 0) bw.put_bits(static_cast<uint32_t>(v.fcode_forward), 3);
    if (v.coding_type == 2) bw.put_bits(static_cast<uint32_t>(v.fcode_backward), 3);
}

}  // namespace zorbrix::mpeg4
