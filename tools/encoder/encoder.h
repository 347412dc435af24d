#pragma once
// MPEG-4 visual encoder for the subset the intro's decoder plays: rectangular progressive I- and P-VOPs, H.263
// quantisation, half-pel motion (one or four vectors per macroblock), intra DC/AC prediction, no resync markers,
// no data partitioning, no B-VOPs. One call per picture returns one coded frame, the unit an .nvd record holds.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/encoder/y4m.h"
#include "video/mpeg4/bit_writer.h"
#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/header_writer.h"

namespace zorbrix::enc {

using mpeg4::BitWriter;

struct EncoderOptions {
    int qp = 4;             // constant quantiser 1..31 (used when kbps is 0)
    int kbps = 0;           // target bit rate; 0 = constant quantiser
    int keyint = 250;       // an I-VOP at least every keyint pictures
    int search = 16;        // motion search range in pixels
    bool mv4 = false;       // allow four vectors per macroblock
    bool ac_pred = true;    // allow intra AC prediction
    bool scene_cut = true;  // code a picture as I-VOP when most of it would be intra anyway
    int fps_num = 25;       // picture rate as a fraction
    int fps_den = 1;
};

struct FrameStats {
    bool intra = false;
    int qp = 0;
    int fcode = 1;
    int bytes = 0;
    int intra_mbs = 0, inter_mbs = 0, inter4v_mbs = 0, skipped_mbs = 0;
};

// A plane with a margin all round, laid out like the decoder's frame store: luma margin 32, chroma 16.
struct PaddedPlane {
    std::vector<uint8_t> mem;
    uint8_t* origin = nullptr;
    int width = 0, height = 0, stride = 0, rows = 0, margin = 0;
    void allocate(int w, int h, int m);
    void pad();
};

struct PaddedFrame {
    PaddedPlane y, u, v;
    void allocate(int w, int h);
};

class VideoEncoder {
public:
    static constexpr int kMaxWidth = mpeg4::kMaxWidth;
    static constexpr int kMaxHeight = mpeg4::kMaxHeight;

    // Width and height must be multiples of 16 within kMaxWidth x kMaxHeight. False with a message otherwise.
    bool init(int width, int height, const EncoderOptions& options, std::string* error);
    // Codes one picture (of the init size) and returns the coded frame. The first frame carries the video object
    // and video object layer headers in front of its VOP.
    std::vector<uint8_t> encode(const YuvFrame& picture);
    // The picture the decoder reconstructs from the last coded frame.
    void reconstruction(YuvFrame* out) const;
    const FrameStats& last_stats() const { return stats_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    struct MbCode;  // encoder_internal.h
    // The frame loop (encoder.cpp).
    void load_source(const YuvFrame& picture);
    // Mode decision and the inter residual (mode_decision.cpp).
    void analyse_vop(bool intra, int qp, std::vector<MbCode>& mbs);
    void analyse_inter_mb(int mbx, int mby, int qp, MbCode& mb);
    bool nothing_to_code_in_place(int mbx, int mby, int zero_block_limit) const;
    void motion_compensate(int mbx, int mby, const int16_t (&mv)[4][2], bool four);
    // Intra macroblocks (intra.cpp).
    void analyse_intra_mb(int mbx, int mby, bool p_vop, int qp, MbCode& mb);
    // Motion search (motion_search.cpp).
    uint32_t sad_half(int x, int y, int n, int vx, int vy);
    void begin_search();
    bool first_visit(int vx, int vy);
    void search16(int mbx, int mby, int px, int py, int lambda, int* best_x, int* best_y, uint32_t* best_sad);
    void search8(int mbx, int mby, int block, int start_x, int start_y, int lambda, int px, int py, int* best_x,
                 int* best_y, uint32_t* best_sad);
    void vector_predictor(int mbx, int mby, int block, const int16_t (&own)[4][2], int* px, int* py) const;
    bool in_bounds(int mbx, int mby, int vx, int vy) const;
    // Bitstream writing (macroblock_syntax.cpp).
    mpeg4::LayerHeader layer_header() const;
    void write_vop_header(BitWriter& bw, bool intra, int qp, int fcode);
    static int vop_fcode(const std::vector<MbCode>& mbs);
    void write_vop(BitWriter& bw, bool intra, int qp, int fcode, const std::vector<MbCode>& mbs);
    void write_mb(BitWriter& bw, bool p_vop, const MbCode& mb, int fcode) const;
    // Rate control (rate_control.cpp).
    int choose_qp(bool intra);
    void update_rate(bool intra, int qp, int bits);

    int width_ = 0, height_ = 0, mb_w_ = 0, mb_h_ = 0;
    EncoderOptions opt_;
    int time_res_ = 25, time_inc_ = 1;
    int64_t frame_index_ = 0;
    int64_t last_seconds_ = 0;
    int rounding_ = 0;
    int frames_since_intra_ = 0;
    bool header_written_ = false;

    PaddedFrame src_, cur_, ref_;
    bool have_ref_ = false;

    // Motion vectors of the VOP being coded and of the previous one, [mb][block][x/y], half-pel.
    std::vector<int16_t> mv_cur_, mv_prev_;
    std::vector<int8_t> mb_intra_;  // 1 where the macroblock of the current VOP is intra
    // Motion search: the interpolated candidate, and the vectors costed in the current search (those whose
    // entry holds visit_stamp_), indexed by vector within the search range.
    std::vector<uint8_t> half_scratch_;
    std::vector<uint32_t> visited_;
    uint32_t visit_stamp_ = 0;
    int visit_reach_ = 0;  // largest vector component in half-pels

    // Intra predictors: dequantised DC and the quantised first row / first column of every 8x8 block position.
    std::vector<int16_t> dc_[3];
    std::vector<int16_t> ac_row_[3], ac_col_[3];
    int pred_stride_[3] = {0, 0, 0};

    // Rate control state.
    double rc_complexity_p_ = 0, rc_complexity_i_ = 0, rc_buffer_ = 0;
    int rc_last_qp_ = 0;

    FrameStats stats_;
};

}  // namespace zorbrix::enc
