#pragma once
// The MPEG-4 visual decoding core: stream headers, the VOP and macroblock layers, the block layer with DC/AC
// prediction, motion compensation, padding and the hand-over to post-processing and colour conversion.
//
// Every function works on the DecoderState it is given, so any number of decoders can run side by side. The
// decoder interface (video/decoder.h) keeps one state per handle, allocates its frame store and chooses the output
// converter. A stream feature the decoder refuses is thrown as UnsupportedFeature (video/mpeg4/stream_features.h)
// out of decode_vol_header, before any of the refused header's values are taken.
//
// The work is split by layer: headers.cpp (layer, VOP and video packet headers), vop.cpp (the VOP loop, padding,
// delivery), macroblock.cpp (macroblock syntax, motion vectors, motion compensation) and block.cpp (intra DC,
// coefficients, DC/AC prediction, dequantisation).
#include <cstdint>

#include "video/colour_convert.h"
#include "video/mpeg4/bitreader.h"
#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/stream_features.h"

namespace zorbrix::mpeg4 {

constexpr int kQuantStride = 46;  // QuantiserMap entries per macroblock row

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
    long escapes[3] = {};  // texture escape modes 1, 2, 3
    int max_fcode = 0;
    long video_packets = 0;  // video packet headers met (after resync markers)
};

struct DecoderState {
    BitReader reader;
    // The header values in force; they persist from chunk to chunk until a new header replaces them.
    LayerInfo layer;
    VopInfo vop;
    long seconds = 0;  // modulo_time_base seconds of every VOP header so far

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
    // 1 where the current and reference frames hold the same samples in a macroblock: it was skipped, and neither
    // frame has been written there since (the frames only swap roles). A skipped macroblock there needs no copy;
    // static areas are skipped VOP after VOP. Cleared at initialisation and by every macroblock that is coded.
    uint8_t same_in_both[kMaxMbHeight][kMaxMbWidth];

    // DC and AC predictor memory, one border row on top and one border column on the left.
    int16_t dc_luma[2 * kMaxMbHeight + 1][2 * kMaxMbWidth + 1];
    int16_t dc_chroma[2][kMaxMbHeight + 1][kMaxMbWidth + 1];
    int16_t ac_luma_row[2 * kMaxMbHeight + 1][2 * kMaxMbWidth + 1][7];
    int16_t ac_luma_col[2 * kMaxMbHeight + 1][2 * kMaxMbWidth + 1][7];
    int16_t ac_chroma_row[2][kMaxMbHeight + 1][kMaxMbWidth + 1][7];
    int16_t ac_chroma_col[2][kMaxMbHeight + 1][kMaxMbWidth + 1][7];

    alignas(16) int16_t blocks[6][64];
};

// The layer values a new decoder starts from: those of an empty layer header, with a time increment resolution
// of 15 (4-bit time fields) until a layer header says otherwise.
LayerInfo initial_layer();

// Writes the border values of the predictor store and the macroblock type map, and clears same_in_both (the
// frames are new).
void reset_prediction_borders(DecoderState& d);

// Header parsing for the chunk the reader points at. Return 1 when the header was present and parsed. A layer
// header with a feature the decoder refuses throws UnsupportedFeature before any of its values are taken.
int decode_vol_header(DecoderState& d);
int decode_vop_header(DecoderState& d);

// Decodes the VOP after its header; with render set, delivers the picture through the converter into output.
void decode_vop(DecoderState& d, uint8_t* output, int render);

// Macroblock and block layers (exposed for tests and benchmarks).
int decode_macroblock(DecoderState& d);
void decode_intra_block(DecoderState& d, int i, bool coded);
void decode_inter_block(DecoderState& d, int i, bool coded);

// The scans (kZigzagScan, kAlternateHorizontalScan, kAlternateVerticalScan) are in codec_rules.h.

}  // namespace zorbrix::mpeg4
