#pragma once
// The MPEG-4 visual decoding core: stream headers, the VOP and macroblock layers, the block layer with DC/AC
// prediction, motion compensation, padding and the hand-over to post-processing and colour conversion.
//
// There is one decoder per process; its state is module-level (decoder_state()) and driven by the decoder
// interface (video/decoder.h), which allocates the frame store and chooses the output converter.
#include <cstdint>

#include "video/colour_convert.h"
#include "video/mpeg4/bitreader.h"
#include "video/mpeg4/codec_rules.h"

namespace zorbrix::mpeg4 {

constexpr int kQuantStride = 46;  // QuantiserMap entries per macroblock row

// Header values that later stages read; they persist from chunk to chunk until a new header replaces them.
struct StreamState {
    int video_object_layer_id = 0;
    int random_accessible_vol = 0;
    int video_object_type_indication = 0;
    int video_object_layer_verid = 1;
    int video_object_layer_priority = 1;
    int aspect_ratio_info = 0;
    int vol_control_parameters = 0;
    int video_object_layer_shape = 0;
    int vop_time_increment_resolution = 15;
    int fixed_vop_rate = 0;
    int fixed_vop_time_increment = 0;
    int video_object_layer_width = 0;
    int video_object_layer_height = 0;
    int interlaced = 0;
    int obmc_disable = 0;
    int sprite_enable = 0;
    int quant_precision = 5;
    int bits_per_pixel = 8;
    int quant_type = 0;
    int quarter_sample = 0;
    int complexity_estimation_disable = 1;
    int resync_marker_disable = 1;
    int data_partitioned = 0;
    int reversible_vlc = 0;
    int scalability = 0;
    int vop_coding_type = 0;
    int modulo_time_base = 0;
    int vop_time_increment = 0;
    int vop_coded = 0;
    int vop_rounding_type = 0;
    int intra_dc_vlc_thr = 0;
    int vop_quant = 1;
    int vop_fcode_forward = 1;
};

// One frame: three planes, addressed at their picture origins, and the allocations behind them.
struct Frame {
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    uint8_t* y_base = nullptr;
    uint8_t* u_base = nullptr;
    uint8_t* v_base = nullptr;
};

// The decoder's current and reference frames (with margins) and the post-processing output planes.
struct FrameStore {
    Frame current;
    Frame reference;
    uint8_t* out_y = nullptr;
    uint8_t* out_u = nullptr;
    uint8_t* out_v = nullptr;
};

struct MotionVector {
    int x;
    int y;
};

// What the decoder has met since initialisation; tools and tests read it to see which features a stream uses.
struct DecodeStats {
    long vops = 0;
    long mb_types[8] = {};  // by mb_type: 0 inter, 1 inter+q, 2 inter4v, 3 intra, 4 intra+q, 7 stuffing/invalid
    long skipped = 0;
    long ac_predicted = 0;
    long escapes[3] = {};   // texture escape modes 1, 2, 3
    int max_fcode = 0;
    long video_packets = 0;  // video packet headers met (after resync markers)
};

struct DecoderState {
    BitReader reader;
    StreamState stream;

    // Geometry fixed at initialisation.
    int width = 0;
    int height = 0;
    int mb_width = 0;
    int mb_height = 0;
    int mb_count = 0;
    int luma_stride = 0;
    int luma_rows = 0;
    int chroma_stride = 0;
    int chroma_rows = 0;
    // False when the initialisation size or the current layer's size is one this decoder does not take
    // (not a multiple of 16, larger than 45 x 36 macroblocks, or different from the initialisation size).
    bool size_ok = false;
    bool layer_ok = true;

    bool postproc_enabled = false;
    uint32_t postproc_flags = 0;
    ColourConverter converter = nullptr;
    int orientation = 1;

    FrameStore frames;
    DecodeStats stats;

    // Macroblock layer.
    int mb_x = 0;
    int mb_y = 0;
    int qp = 1;
    int mb_type = 0;
    int cbpc = 0;
    int ac_pred_flag = 0;
    int cbpy = 0;
    int cbp = 0;
    int not_coded = 0;
    bool stuffing = false;  // the last macroblock call read a stuffing code

    MotionVector mv[kMaxMbHeight][kMaxMbWidth][4];
    // mb_type per macroblock of the current VOP (-1 skipped), with a border row on top and a border column on
    // each side holding 3 (intra).
    int8_t type_map[kMaxMbHeight + 1][kMaxMbWidth + 2];
    // The video packet each macroblock of the current VOP was decoded in (same layout as type_map; borders and
    // macroblocks not decoded in this VOP never hold the current number). Prediction takes only neighbours of
    // the current packet. Numbers are unique across VOPs, so nothing needs clearing.
    uint32_t packet_map[kMaxMbHeight + 1][kMaxMbWidth + 2];
    uint32_t packet_id = 0;
    uint8_t quant_map[kMaxMbHeight * kQuantStride];

    // DC and AC predictor memory, one border row on top and one border column on the left.
    int16_t dc_luma[2 * kMaxMbHeight + 1][2 * kMaxMbWidth + 1];
    int16_t dc_chroma[2][kMaxMbHeight + 1][kMaxMbWidth + 1];
    int16_t ac_luma_row[2 * kMaxMbHeight + 1][2 * kMaxMbWidth + 1][7];
    int16_t ac_luma_col[2 * kMaxMbHeight + 1][2 * kMaxMbWidth + 1][7];
    int16_t ac_chroma_row[2][kMaxMbHeight + 1][kMaxMbWidth + 1][7];
    int16_t ac_chroma_col[2][kMaxMbHeight + 1][kMaxMbWidth + 1][7];

    alignas(16) int16_t blocks[6][64];
};

DecoderState& decoder_state();

// Writes the border values of the predictor store and the macroblock type map.
void reset_prediction_borders();

// Header parsing for the chunk the reader points at. Return 1 when the header was present and parsed.
int decode_vol_header();
int decode_vop_header();

// Decodes the VOP after its header; with render set, delivers the picture through the converter into output.
void decode_vop(uint8_t* output, int render);

// Macroblock and block layers (exposed for tests and benchmarks).
int decode_macroblock();
void decode_intra_block(int i, bool coded);
void decode_inter_block(int i, bool coded);

// Zigzag and alternate scans (scan position -> raster position).
extern const uint8_t kZigzagScan[64];
extern const uint8_t kAlternateHorizontalScan[64];
extern const uint8_t kAlternateVerticalScan[64];

}  // namespace zorbrix::mpeg4
