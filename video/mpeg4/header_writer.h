#pragma once
// Writers of the stream headers: the video object and video object layer headers from a plain description of the
// layer, and the VOP header. The encoder writes its streams with them; the decoder tests and fuzz targets use the
// knobs the encoder never turns (interlace, MPEG quantisation matrices, data partitioning, sprites, quarter
// sample, version 2 layers, user data...) to build the streams the decoder must refuse or read past.
#include <cstdint>
#include <vector>

#include "video/mpeg4/bit_writer.h"

namespace zorbrix::mpeg4 {

// A rectangular video object layer. The defaults are the plain layer the encoder writes: version 1, simple object,
// square pixels, 8-bit samples, H.263 quantisation, no resync markers.
struct LayerHeader {
    int width = 16;
    int height = 16;
    int time_resolution = 25;          // vop_time_increment_resolution, 1..65535
    int fixed_vop_time_increment = 0;  // 0: the rate is not fixed; else the fixed increment (below the resolution)
    int random_accessible = 0;
    int object_type = 1;  // video_object_type_indication: 1 = simple object
    // The version and priority fields are written when asked for, and always for a version other than 1.
    bool object_layer_identifier = false;
    int verid = 1;
    int priority = 1;
    int aspect_ratio = 1;  // aspect_ratio_info; 15 writes par_width and par_height
    int par_width = 12;
    int par_height = 11;
    // vol_control_parameters: 4:2:0, low delay, and the buffer parameters when vbv is set.
    bool vol_control = false;
    bool vbv = false;
    uint32_t vbv_bit_rate = 0;     // 30 bits, units of 400 bit/s
    uint32_t vbv_buffer_size = 0;  // 18 bits, units of 16384 bits
    uint32_t vbv_occupancy = 0;    // 26 bits, units of 64 bits
    int interlaced = 0;
    // 0 none, 1 static sprite (its geometry and warping points follow), 2 global motion compensation (version 2).
    int sprite_enable = 0;
    int sprite_warping_points = 2;
    int sprite_warping_accuracy = 1;
    int quant_type = 0;  // 1: MPEG quantisation
    // With quant_type 1: the matrices to load (in zigzag order, at most 64 values, none of them 0). A list shorter
    // than 64 ends with a 0, which repeats its last value; an empty list loads nothing.
    std::vector<uint8_t> intra_matrix;
    std::vector<uint8_t> non_intra_matrix;
    int quarter_sample = 0;  // version 2 only
    // 0 writes the estimation header with every set turned off.
    int complexity_estimation_disable = 1;
    int resync_marker_disable = 1;
    int data_partitioned = 0;
    int reversible_vlc = 0;                 // with data partitioning
    int newpred_enable = 0;                 // version 2 only
    int reduced_resolution_vop_enable = 0;  // version 2 only
    int scalability = 0;                    // 1 writes a 1:1 spatial layer of layer 0
    // User data after the layer: its start code, then the bytes.
    bool user_data_after = false;
    std::vector<uint8_t> user_data;
};

// A VOP header. coding_type 0 I, 1 P, 2 B, 3 S.
struct VopHeader {
    int coding_type = 0;
    int modulo_time_base = 0;  // whole seconds since the last VOP header, one 1 bit each
    int time_increment = 0;    // ticks within the second, below the layer's resolution
    int coded = 1;
    int rounding_type = 0;  // P-VOPs and global motion S-VOPs
    int intra_dc_vlc_thr = 0;
    int quant = 1;
    int fcode_forward = 1;   // all but I-VOPs
    int fcode_backward = 1;  // B-VOPs
};

// Width of the vop_time_increment field for a resolution: the bits to count 0 .. resolution - 1, at least 1.
constexpr int time_increment_bits(int resolution) {
    int bits = 1;
    while (bits < 16 && (1 << bits) < resolution) ++bits;
    return bits;
}

// The video object start code (id 0) and the video object layer header (id 0), then the stuffing to the byte
// boundary and, when asked for, the user data.
void write_layer_headers(BitWriter& bw, const LayerHeader& layer);

// A VOP header for the layer (start code included, nothing after the last field). The sprite trajectory of an
// S-VOP in a sprite layer is written as zero warping vectors.
void write_vop_header(BitWriter& bw, const LayerHeader& layer, const VopHeader& vop);

}  // namespace zorbrix::mpeg4
