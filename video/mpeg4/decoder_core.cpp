// Stream headers, VOP, macroblock and block layers of the MPEG-4 visual decoder (rectangular, progressive,
// I- and P-VOPs, H.263 quantisation, no data partitioning).
#include "video/mpeg4/decoder_core.h"

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/fatal.h"
#include "video/mpeg4/coefficients.h"
#include "video/mpeg4/idct.h"
#include "video/mpeg4/motion.h"
#include "video/mpeg4/postprocess.h"
#include "video/mpeg4/stream_features.h"
#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::mpeg4 {

const uint8_t kZigzagScan[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
const uint8_t kAlternateHorizontalScan[64] = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
    32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
    38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63};
const uint8_t kAlternateVerticalScan[64] = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

namespace {

DecoderState g_state;

// ---- Lookup tables built once from the canonical code lists: index by the next k bits, get value and length.

struct LutEntry {
    int16_t value;   // -1: invalid code
    uint8_t length;  // 0: invalid code
};

template <int Bits>
struct Lut {
    LutEntry e[1 << Bits];
};

template <int Bits, size_t N>
Lut<Bits> build_lut(const VlcCode (&codes)[N]) {
    Lut<Bits> lut;
    for (auto& x : lut.e) x = {-1, 0};
    for (const VlcCode& c : codes) {
        const int shift = Bits - c.length;
        const uint32_t first = c.code << shift;
        for (uint32_t k = 0; k < (1u << shift); ++k) lut.e[first + k] = {c.value, c.length};
    }
    return lut;
}

struct Tables {
    Lut<9> mcbpc_i = build_lut<9>(kMcbpcI);
    Lut<9> mcbpc_p = build_lut<9>(kMcbpcP);
    Lut<6> cbpy = build_lut<6>(kCbpy);
    Lut<12> mv = build_lut<12>(kMotionVector);
    Lut<12> dc_luma = build_lut<12>(kDcSizeLuma);
    Lut<12> dc_chroma = build_lut<12>(kDcSizeChroma);
};

const Tables g_tables;

int time_increment_bits(int resolution) {
    if (resolution <= 1) return 1;
    const int bits = static_cast<int>(std::ceil(std::log(static_cast<double>(resolution)) / std::log(2.0)));
    return std::max(bits, 1);
}

// A layer or VOP size is decoded only when it is the size the frame store was made for.
void check_layer_size(DecoderState& d, int width, int height) {
    d.layer_ok = size_supported(width, height) && width == d.width && height == d.height;
}

// ---- Motion vectors.

int decode_mv_component(BitReader& br, int fcode) {
    const LutEntry e = g_tables.mv.e[br.peek_bits(12)];
    if (e.length == 0) {
        // Not a motion vector code: take it as zero and move past the leading bit.
        br.advance_bits(1);
        return 0;
    }
    br.advance_bits(e.length);
    if (e.value == 0) return 0;
    const bool negative = br.read_bit() != 0;
    const int r_size = std::max(fcode - 1, 0);
    int magnitude = e.value;
    if (r_size > 0) magnitude = (e.value - 1) * (1 << r_size) + static_cast<int>(br.read_bits(r_size)) + 1;
    return negative ? -magnitude : magnitude;
}

inline int median3(int a, int b, int c) { return a + b + c - std::min({a, b, c}) - std::max({a, b, c}); }

// The predictor of block b of the current macroblock, per component: the median of three candidates. A candidate
// outside the picture, or in a macroblock of another video packet (or not decoded in this VOP), is not valid: with
// one invalid candidate it counts as 0, with two both take the valid one's value, with three the predictor is 0.
MotionVector predict_mv(const DecoderState& d, int b) {
    const int x = d.mb_x, y = d.mb_y;
    struct Candidate {
        MotionVector v;
        bool valid;
    };
    auto at = [&](int mx, int my, int blk) -> Candidate {
        if (mx < 0 || mx >= d.mb_width || my < 0 || d.packet_map[my + 1][mx + 1] != d.packet_id)
            return {{0, 0}, false};
        return {d.mv[my][mx][blk], true};
    };
    auto own = [&](int blk) -> Candidate { return {d.mv[y][x][blk], true}; };
    Candidate c[3];
    switch (b) {
    case 0: c[0] = at(x - 1, y, 1); c[1] = at(x, y - 1, 2); c[2] = at(x + 1, y - 1, 2); break;
    case 1: c[0] = own(0); c[1] = at(x, y - 1, 3); c[2] = at(x + 1, y - 1, 2); break;
    case 2: c[0] = at(x - 1, y, 3); c[1] = own(0); c[2] = own(1); break;
    default: c[0] = own(2); c[1] = own(0); c[2] = own(1); break;
    }
    const int valid = c[0].valid + c[1].valid + c[2].valid;
    if (valid == 0) return {0, 0};
    if (valid == 1) return c[0].valid ? c[0].v : c[1].valid ? c[1].v : c[2].v;
    return {median3(c[0].v.x, c[1].v.x, c[2].v.x), median3(c[0].v.y, c[1].v.y, c[2].v.y)};
}

inline int wrap_mv(int v, int f) {
    if (v < -32 * f) v += 64 * f;
    if (v > 32 * f - 1) v -= 64 * f;
    return v;
}

MotionVector decode_mv(DecoderState& d, int b) {
    const int fcode = d.stream.vop_fcode_forward;
    const int f = 1 << std::max(fcode - 1, 0);
    const int dx = decode_mv_component(d.reader, fcode);
    const int dy = decode_mv_component(d.reader, fcode);
    const MotionVector p = predict_mv(d, b);
    return {wrap_mv(p.x + dx, f), wrap_mv(p.y + dy, f)};
}

// ---- Motion compensation.

// Predicts an n x n block at (row, col) of a plane from the reference plane, with the source position clamped so
// every read stays inside the padded plane (a clamped block lies wholly in the margin, which repeats the edge).
inline void predict_area(uint8_t* cur, const uint8_t* ref, int stride, int plane_w, int plane_h, int margin, int n,
                         int row, int col, int vx, int vy, int rounding) {
    const int sx = std::clamp(col + (vx >> 1), -margin, plane_w + margin - n - 1);
    const int sy = std::clamp(row + (vy >> 1), -margin, plane_h + margin - n - 1);
    predict_block(predict_index(n, rounding, vx, vy), cur + static_cast<ptrdiff_t>(row) * stride + col,
                  ref + static_cast<ptrdiff_t>(sy) * stride + sx, stride);
}

void motion_compensate_macroblock(DecoderState& d, int mb_x, int mb_y, int mb_type) {
    const Frame& cur = d.frames.current;
    const Frame& ref = d.frames.reference;
    const MotionVector* v = d.mv[mb_y][mb_x];
    const int r = d.stream.vop_rounding_type;
    const int row = 16 * mb_y, col = 16 * mb_x;
    int cx, cy;
    if (mb_type == 2) {
        for (int i = 0; i < 4; ++i)
            predict_area(cur.y, ref.y, d.luma_stride, d.width, d.height, kLumaMargin, 8, row + 8 * (i >> 1),
                         col + 8 * (i & 1), v[i].x, v[i].y, r);
        cx = chroma_vector_four(v[0].x + v[1].x + v[2].x + v[3].x);
        cy = chroma_vector_four(v[0].y + v[1].y + v[2].y + v[3].y);
    } else {
        predict_area(cur.y, ref.y, d.luma_stride, d.width, d.height, kLumaMargin, 16, row, col, v[0].x, v[0].y, r);
        cx = chroma_vector_one(v[0].x);
        cy = chroma_vector_one(v[0].y);
    }
    const int cw = d.width / 2, ch = d.height / 2;
    predict_area(cur.u, ref.u, d.chroma_stride, cw, ch, kChromaMargin, 8, 8 * mb_y, 8 * mb_x, cx, cy, r);
    predict_area(cur.v, ref.v, d.chroma_stride, cw, ch, kChromaMargin, 8, 8 * mb_y, 8 * mb_x, cx, cy, r);
}

// ---- Macroblock syntax elements.

inline int decode_mcbpc(DecoderState& d) {
    const Lut<9>& lut = d.stream.vop_coding_type == 0 ? g_tables.mcbpc_i : g_tables.mcbpc_p;
    const LutEntry e = lut.e[d.reader.peek_bits(9)];
    if (e.length == 0) return -1;
    d.reader.advance_bits(e.length);
    return e.value;
}

inline int decode_cbpy(DecoderState& d) {
    const LutEntry e = g_tables.cbpy.e[d.reader.peek_bits(6)];
    if (e.length == 0) return -1;
    d.reader.advance_bits(e.length);
    return e.value;
}

inline uint8_t* block_destination(const DecoderState& d, int i, int& stride) {
    const Frame& f = d.frames.current;
    if (i < 4) {
        stride = d.luma_stride;
        return f.y + static_cast<ptrdiff_t>(16 * d.mb_y + 8 * (i >> 1)) * stride + 16 * d.mb_x + 8 * (i & 1);
    }
    stride = d.chroma_stride;
    uint8_t* plane = i == 4 ? f.u : f.v;
    return plane + static_cast<ptrdiff_t>(8 * d.mb_y) * stride + 8 * d.mb_x;
}

// Does a neighbouring block's macroblock (type map coordinates, border included) count for prediction? Only an
// intra macroblock of the current video packet does; for the others the defaults (DC 1024, AC 0) stand in, which
// are also what the borders hold.
inline bool predicts_from(const DecoderState& d, int tm_row, int tm_col) {
    if (d.packet_map[tm_row][tm_col] != d.packet_id) return false;
    if (d.stream.vop_coding_type == 0) return true;
    return is_intra(d.type_map[tm_row][tm_col]);
}

// Moves past next_start_code() stuffing. Before a start code the stuffing is a 0 and 1s up to the byte
// boundary, or a whole 0x7F byte when the writer was already aligned; a start code never begins with 0x7F, so
// that byte can be recognised and skipped (otherwise a header ending on a byte boundary would hide the next one).
void skip_stuffing(BitReader& br) {
    if (!br.byte_aligned()) br.next_start_code();
    else if (br.peek_bits(8) == 0x7F) br.advance_bits(8);
}

// True when the next bits are the stuffing of next_start_code() (a 0 then 1s up to the byte boundary, or 0x7F on
// a boundary) followed by a start code prefix. The stuffing pattern is checked, not just skipped: a last
// macroblock short enough to fit in the rest of a byte (a skipped one is a single bit) must not be taken for it.
bool look_ahead_start_code(const BitReader& br) {
    const size_t pos = br.bit_position();
    if (pos >= br.bit_length()) return true;  // the chunk is used up
    const int fill = static_cast<int>(8 - (pos & 7));  // 1..8 bits up to the next boundary (8 when aligned)
    const uint32_t stuffing = br.peek_bits(fill);
    if (stuffing != (1u << (fill - 1)) - 1) {
        // Not stuffing; an aligned reader may still stand right at a start code.
        return (pos & 7) == 0 && br.peek_bits(23) == 0;
    }
    BitReader ahead = br;
    ahead.advance_bits(fill);
    return ahead.peek_bits(23) == 0;
}

// The resync marker's length: 17 bits in I-VOPs, 16 + vop_fcode_forward otherwise.
int resync_marker_length(const StreamState& s) {
    return s.vop_coding_type == 0 ? 17 : 16 + std::clamp(s.vop_fcode_forward, 1, 7);
}

// True when the next bits are next_resync_marker() stuffing (a 0 and 1s up to the byte boundary, always at least
// one bit) followed by a resync marker (length - 1 zeros and a 1).
bool look_ahead_resync(const BitReader& br, int length) {
    const size_t pos = br.bit_position();
    if (pos >= br.bit_length()) return false;
    const int fill = static_cast<int>(8 - (pos & 7));
    if (br.peek_bits(fill) != (1u << (fill - 1)) - 1) return false;
    BitReader ahead = br;
    ahead.advance_bits(fill);
    return ahead.peek_bits(length) == 1;
}

// Bits of macroblock_number: enough for the highest macroblock index of the VOP (at least 1).
int macroblock_number_bits(int mb_count) {
    int bits = 1;
    while ((1 << bits) < mb_count) ++bits;
    return bits;
}

// Parses a video packet header (the reader at its stuffing) and moves the macroblock position and quantiser to
// it. A new packet starts: prediction does not reach back into earlier ones. False when the macroblock number
// lies outside the VOP, which ends the VOP.
bool decode_video_packet_header(DecoderState& d) {
    BitReader& br = d.reader;
    StreamState& s = d.stream;
    br.advance_bits(static_cast<int>(8 - (br.bit_position() & 7)));
    br.advance_bits(resync_marker_length(s));
    const int number = static_cast<int>(br.read_bits(macroblock_number_bits(d.mb_count)));
    const int quant = static_cast<int>(br.read_bits(std::clamp(s.quant_precision, 0, 31)));
    if (br.read_bits(1)) {  // header_extension_code: the VOP's timing and coding fields repeated
        while (br.read_bits(1) == 1) {
            if (br.bit_position() > br.bit_length()) break;
        }
        br.read_marker();
        br.advance_bits(time_increment_bits(s.vop_time_increment_resolution));
        br.read_marker();
        const int coding_type = static_cast<int>(br.read_bits(2));
        br.advance_bits(3);  // intra_dc_vlc_thr
        if (coding_type != 0) br.advance_bits(3);  // vop_fcode_forward
        if (coding_type == 2) br.advance_bits(3);  // vop_fcode_backward
    }
    if (number >= d.mb_count || br.bit_position() > br.bit_length()) return false;
    d.mb_x = number % d.mb_width;
    d.mb_y = number / d.mb_width;
    d.qp = std::clamp(quant, 1, 31);
    ++d.packet_id;
    ++d.stats.video_packets;
    return true;
}

}  // namespace

DecoderState& decoder_state() { return g_state; }

void reset_prediction_borders() {
    DecoderState& d = g_state;
    for (int c = 0; c < 2 * kMaxMbWidth + 1; ++c) d.dc_luma[0][c] = kDcPredictorDefault;
    for (int r = 0; r < 2 * kMaxMbHeight + 1; ++r) d.dc_luma[r][0] = kDcPredictorDefault;
    for (int p = 0; p < 2; ++p) {
        for (int c = 0; c < kMaxMbWidth + 1; ++c) d.dc_chroma[p][0][c] = kDcPredictorDefault;
        for (int r = 0; r < kMaxMbHeight + 1; ++r) d.dc_chroma[p][r][0] = kDcPredictorDefault;
    }
    for (int c = 0; c < 2 * kMaxMbWidth + 1; ++c) {
        std::memset(d.ac_luma_row[0][c], 0, sizeof d.ac_luma_row[0][c]);
        std::memset(d.ac_luma_col[0][c], 0, sizeof d.ac_luma_col[0][c]);
    }
    for (int r = 0; r < 2 * kMaxMbHeight + 1; ++r) {
        std::memset(d.ac_luma_row[r][0], 0, sizeof d.ac_luma_row[r][0]);
        std::memset(d.ac_luma_col[r][0], 0, sizeof d.ac_luma_col[r][0]);
    }
    for (int p = 0; p < 2; ++p) {
        for (int c = 0; c < kMaxMbWidth + 1; ++c) {
            std::memset(d.ac_chroma_row[p][0][c], 0, sizeof d.ac_chroma_row[p][0][c]);
            std::memset(d.ac_chroma_col[p][0][c], 0, sizeof d.ac_chroma_col[p][0][c]);
        }
        for (int r = 0; r < kMaxMbHeight + 1; ++r) {
            std::memset(d.ac_chroma_row[p][r][0], 0, sizeof d.ac_chroma_row[p][r][0]);
            std::memset(d.ac_chroma_col[p][r][0], 0, sizeof d.ac_chroma_col[p][r][0]);
        }
    }
    // Type map: intra in the top row (0..mb_width) and in the side columns of every row.
    std::memset(d.type_map, 0, sizeof d.type_map);
    const int mbw = std::min(d.mb_width, kMaxMbWidth);
    const int mbh = std::min(d.mb_height, kMaxMbHeight);
    for (int c = 0; c <= mbw + 1 && c < kMaxMbWidth + 2; ++c) d.type_map[0][c] = 3;
    for (int r = 0; r <= mbh; ++r) {
        d.type_map[r][0] = 3;
        if (mbw + 1 < kMaxMbWidth + 2) d.type_map[r][mbw + 1] = 3;
    }
}

int decode_vol_header() {
    DecoderState& d = g_state;
    BitReader& br = d.reader;
    StreamState& s = d.stream;
    if (br.peek_bits(27) != 8) return 0;
    br.advance_bits(32);  // video_object_start_code and video_object_id
    if ((br.peek_bits(32) & ~0xFu) != 0x120) exit_unsupported(StreamFeature::MissingLayerStartCode);
    const LayerReport report = parse_layer_header(br);
    const LayerInfo& l = report.layer;
    s.video_object_layer_id = l.video_object_layer_id;
    s.random_accessible_vol = l.random_accessible_vol;
    s.video_object_type_indication = l.video_object_type_indication;
    s.video_object_layer_verid = l.verid;
    s.video_object_layer_priority = l.priority;
    s.aspect_ratio_info = l.aspect_ratio_info;
    s.vol_control_parameters = l.vol_control_parameters;
    s.video_object_layer_shape = l.shape;
    s.vop_time_increment_resolution = l.vop_time_increment_resolution;
    s.fixed_vop_rate = l.fixed_vop_rate;
    s.fixed_vop_time_increment = l.fixed_vop_time_increment;
    s.interlaced = l.interlaced;
    s.obmc_disable = l.obmc_disable;
    s.sprite_enable = l.sprite_enable;
    s.quant_precision = l.quant_precision;
    s.bits_per_pixel = l.bits_per_pixel;
    s.quant_type = l.quant_type;
    s.quarter_sample = l.quarter_sample;
    s.complexity_estimation_disable = l.complexity_estimation_disable;
    s.resync_marker_disable = l.resync_marker_disable;
    s.data_partitioned = l.data_partitioned;
    s.reversible_vlc = 0;
    s.scalability = l.scalability;
    if (l.shape == 0) {
        s.video_object_layer_width = l.width;
        s.video_object_layer_height = l.height;
        check_layer_size(d, l.width, l.height);
    } else {
        d.layer_ok = false;  // only rectangular layers are decoded
    }
    // The features that end the decoder, in the order the layer's syntax meets them.
    for (StreamFeature f : {StreamFeature::Interlace, StreamFeature::MpegQuantisation,
                            StreamFeature::ComplexityEstimation, StreamFeature::DataPartitioning,
                            StreamFeature::Scalability, StreamFeature::UserDataAfterLayer}) {
        if (report.features & feature_bit(f)) exit_unsupported(f);
    }
    return 1;
}

int decode_vop_header() {
    DecoderState& d = g_state;
    BitReader& br = d.reader;
    StreamState& s = d.stream;
    skip_stuffing(br);
    if (br.read_bits(32) != 0x1B6) return 0;
    s.vop_coding_type = static_cast<int>(br.read_bits(2));
    while (br.read_bits(1) == 1) {
        ++s.modulo_time_base;
        if (br.bit_position() > br.bit_length()) break;  // past the chunk only zero bits follow
    }
    br.read_marker();
    s.vop_time_increment = static_cast<int>(br.read_bits(time_increment_bits(s.vop_time_increment_resolution)));
    br.read_marker();
    s.vop_coded = static_cast<int>(br.read_bits(1));
    if (!s.vop_coded) {
        br.next_start_code();
        return 1;
    }
    s.vop_rounding_type =
        (s.video_object_layer_shape != 2 && s.vop_coding_type == 1) ? static_cast<int>(br.read_bits(1)) : 0;
    if (s.video_object_layer_shape != 0) {
        if (s.sprite_enable != 1 || s.vop_coding_type != 0) {
            const int w = static_cast<int>(br.read_bits(13));
            br.read_marker();
            const int h = static_cast<int>(br.read_bits(13));
            br.read_marker();
            br.advance_bits(13);
            br.read_marker();
            br.advance_bits(13);
            s.video_object_layer_width = w;
            s.video_object_layer_height = h;
            check_layer_size(d, w, h);
        }
        br.advance_bits(1);  // change_conv_ratio_disable
        if (br.read_bits(1)) br.advance_bits(8);  // vop_constant_alpha_value
    }
    if (!s.complexity_estimation_disable) exit_unsupported(StreamFeature::ComplexityEstimation);
    if (s.video_object_layer_shape == 2) return 1;
    s.intra_dc_vlc_thr = static_cast<int>(br.read_bits(3));
    if (s.interlaced) exit_unsupported(StreamFeature::Interlace);
    s.vop_quant = static_cast<int>(br.read_bits(std::clamp(s.quant_precision, 0, 31)));
    if (s.vop_coding_type != 0) {
        s.vop_fcode_forward = static_cast<int>(br.read_bits(3));
        d.stats.max_fcode = std::max(d.stats.max_fcode, s.vop_fcode_forward);
    }
    if (s.scalability == 0 && s.video_object_layer_shape != 0 && s.vop_coding_type != 0) br.advance_bits(1);
    return 1;
}

void decode_intra_block(int i, bool coded) {
    DecoderState& d = g_state;
    BitReader& br = d.reader;
    int16_t* blk = d.blocks[i];
    std::memset(blk, 0, 64 * sizeof(int16_t));
    const bool luma = i < 4;
    const int qp = d.qp;
    const int scaler = dc_scaler(qp, luma);

    // Intra DC size and differential.
    const LutEntry se = (luma ? g_tables.dc_luma : g_tables.dc_chroma).e[br.peek_bits(12)];
    const int size = se.length ? se.value : 0;
    br.advance_bits(se.length);
    int diff = 0;
    if (size > 0) {
        const int v = static_cast<int>(br.read_bits(size));
        diff = (v >> (size - 1)) ? v : -(v ^ ((1 << size) - 1));
        if (size > 8) br.read_marker();
    }

    // Predictor store positions: (r, c) of this block, with the neighbours at (r, c-1), (r-1, c-1), (r-1, c).
    int16_t* dc;
    int16_t (*ac_row)[7];
    int16_t (*ac_col)[7];
    int grid_stride;
    int r, c;
    bool left_ok, above_left_ok, above_ok;
    if (luma) {
        r = 2 * d.mb_y + (i >> 1) + 1;
        c = 2 * d.mb_x + (i & 1) + 1;
        grid_stride = 2 * kMaxMbWidth + 1;
        dc = &d.dc_luma[0][0];
        ac_row = &d.ac_luma_row[0][0];
        ac_col = &d.ac_luma_col[0][0];
        // A block at grid (br, bc) belongs to the macroblock at type map ((br - 1) >> 1) + 1, ((bc - 1) >> 1) + 1.
        auto tm = [](int g) { return ((g - 1) >> 1) + 1; };
        left_ok = predicts_from(d, tm(r), tm(c - 1));
        above_left_ok = predicts_from(d, tm(r - 1), tm(c - 1));
        above_ok = predicts_from(d, tm(r - 1), tm(c));
    } else {
        const int p = i - 4;
        r = d.mb_y + 1;
        c = d.mb_x + 1;
        grid_stride = kMaxMbWidth + 1;
        dc = &d.dc_chroma[p][0][0];
        ac_row = &d.ac_chroma_row[p][0][0];
        ac_col = &d.ac_chroma_col[p][0][0];
        left_ok = predicts_from(d, r, c - 1);
        above_left_ok = predicts_from(d, r - 1, c - 1);
        above_ok = predicts_from(d, r - 1, c);
    }
    const int here = r * grid_stride + c;
    const int left = here - 1, above = here - grid_stride, above_left = above - 1;
    const int fa = left_ok ? dc[left] : kDcPredictorDefault;
    const int fb = above_left_ok ? dc[above_left] : kDcPredictorDefault;
    const int fc = above_ok ? dc[above] : kDcPredictorDefault;
    const bool from_above = std::abs(fa - fb) < std::abs(fb - fc);
    const int f = from_above ? fc : fa;
    const int half = scaler >> 1;
    const int qf_dc = diff + (f > 0 ? f + half : f - half) / scaler;
    // The saturated DC is both the coefficient and the next blocks' predictor: a saturated colour at a coarse
    // quantiser gives QF_dc x dc_scaler above 2047 (82 x 25 = 2050 for chroma 255 at QP 31), and predicting from
    // the unsaturated value can flip the next block's prediction direction.
    blk[0] = saturate_coefficient(qf_dc * scaler);
    dc[here] = blk[0];

    unsigned extent = kExtentDcOnly;
    if (coded) {
        const uint8_t* scan = d.ac_pred_flag ? (from_above ? kAlternateHorizontalScan : kAlternateVerticalScan)
                                             : kZigzagScan;
        extent |= decode_intra_coefficients(br, scan, blk, d.stats.escapes);
    }

    if (d.ac_pred_flag) {
        static const int16_t kZero[7] = {};
        if (from_above) {
            const int16_t* p = above_ok ? ac_row[above] : kZero;
            for (int k = 0; k < 7; ++k) blk[1 + k] = static_cast<int16_t>(blk[1 + k] + p[k]);
            extent |= 0xFF01;  // row 0, any column
        } else {
            const int16_t* p = left_ok ? ac_col[left] : kZero;
            for (int k = 0; k < 7; ++k) blk[8 * (k + 1)] = static_cast<int16_t>(blk[8 * (k + 1)] + p[k]);
            extent |= 0x01FF;  // column 0, any row
        }
    }
    for (int k = 0; k < 7; ++k) {
        ac_row[here][k] = blk[1 + k];
        ac_col[here][k] = blk[8 * (k + 1)];
    }

    if (d.stream.quant_type) exit_unsupported(StreamFeature::MpegQuantisation);
    dequantise_intra_ac(blk, qp, extent);
    idct_8x8_sparse(blk, extent);
}

void decode_inter_block(int i, bool coded) {
    DecoderState& d = g_state;
    int16_t* blk = d.blocks[i];
    std::memset(blk, 0, 64 * sizeof(int16_t));
    unsigned extent = 0;
    if (coded) extent = decode_inter_coefficients(d.reader, kZigzagScan, d.qp, blk, d.stats.escapes);
    if (d.stream.quant_type) exit_unsupported(StreamFeature::MpegQuantisation);
    idct_8x8_sparse(blk, extent);
}

int decode_macroblock() {
    DecoderState& d = g_state;
    BitReader& br = d.reader;
    const bool p_vop = d.stream.vop_coding_type != 0;
    const int x = d.mb_x, y = d.mb_y;
    d.stuffing = false;
    MotionVector* mv = d.mv[y][x];
    int8_t& type_entry = d.type_map[y + 1][x + 1];
    d.packet_map[y + 1][x + 1] = d.packet_id;

    bool skipped = false;
    if (p_vop) {
        d.not_coded = static_cast<int>(br.read_bits(1));
        if (d.not_coded) {
            skipped = true;
            ++d.stats.skipped;
            for (int b = 0; b < 4; ++b) mv[b] = {0, 0};
            type_entry = -1;
            const Frame& cur = d.frames.current;
            const Frame& ref = d.frames.reference;
            copy_macroblock(cur.y, cur.u, cur.v, ref.y, ref.u, ref.v, d.luma_stride, d.chroma_stride, x, y);
        }
    }
    if (!skipped) {
        const int value = decode_mcbpc(d);
        d.stuffing = value == 7;
        if (value < 0) {
            d.mb_type = 7;
            d.cbpc = 0;
        } else {
            d.cbpc = (value >> 4) & 3;
            d.mb_type = value & 7;
        }
        type_entry = static_cast<int8_t>(d.mb_type);
        ++d.stats.mb_types[d.mb_type];
        const bool intra = is_intra(d.mb_type);
        if (intra) {
            d.ac_pred_flag = static_cast<int>(br.read_bits(1));
            d.stats.ac_predicted += d.ac_pred_flag;
        }
        if (d.mb_type == 7) return 1;
        d.cbpy = decode_cbpy(d);
        if (!intra) d.cbpy = 15 - d.cbpy;
        d.cbp = d.cbpc | (d.cbpy << 2);
        if (d.mb_type == 1 || d.mb_type == 4) {
            static const int kDquant[4] = {-1, -2, 1, 2};
            d.qp = std::clamp(d.qp + kDquant[br.read_bits(2)], 1, 31);
        }
        if (d.mb_type == 0 || d.mb_type == 1) {
            const MotionVector v = decode_mv(d, 0);
            for (int b = 0; b < 4; ++b) mv[b] = v;
        } else if (d.mb_type == 2) {
            for (int b = 0; b < 4; ++b) mv[b] = decode_mv(d, b);
        } else if (p_vop) {
            for (int b = 0; b < 4; ++b) mv[b] = {0, 0};
        }
        if (intra) {
            for (int i = 0; i < 6; ++i) {
                decode_intra_block(i, (d.cbp >> (5 - i)) & 1);
                int stride;
                uint8_t* dst = block_destination(d, i, stride);
                put_block_clamped(d.blocks[i], dst, stride);
            }
        } else {
            motion_compensate_macroblock(d, x, y, d.mb_type);
            for (int i = 0; i < 6; ++i) {
                const bool coded = (d.cbp >> (5 - i)) & 1;
                if (!coded && !d.stream.quant_type) continue;  // an empty block adds zero to its prediction
                decode_inter_block(i, coded);
                int stride;
                uint8_t* dst = block_destination(d, i, stride);
                add_block_clamped(d.blocks[i], dst, stride);
            }
        }
    }
    d.quant_map[y * kQuantStride + x] = static_cast<uint8_t>(d.qp);
    if (++d.mb_x >= d.mb_width) {
        d.mb_x = 0;
        ++d.mb_y;
    }
    return 1;
}

namespace {

// Hands a frame's picture to the output converter (through post-processing when it is on).
void deliver(const Frame& f, uint8_t* output, int render) {
    DecoderState& d = g_state;
    if (!render || !d.converter || !output) return;
    const int signed_height = d.height * d.orientation;
    if (d.postproc_enabled) {
        postprocess_frame(f.y, f.u, f.v, d.luma_stride, d.frames.out_y, d.frames.out_u, d.frames.out_v, d.width,
                          d.width, d.height, d.quant_map, kQuantStride, d.postproc_flags);
        d.converter(d.frames.out_y, d.width, d.frames.out_u, d.frames.out_v, d.width / 2, output, d.width,
                    signed_height);
    } else {
        d.converter(f.y, d.luma_stride, f.u, f.v, d.chroma_stride, output, d.width, signed_height);
    }
}

}  // namespace

void decode_vop(uint8_t* output, int render) {
    DecoderState& d = g_state;
    if (!d.size_ok || !d.layer_ok || !d.frames.current.y) return;
    if (!d.stream.vop_coded) {
        // A VOP that is not coded repeats the previous picture: deliver the reference, which stays the reference
        // (decoding macroblocks here would read past the header and show the picture from two VOPs back).
        deliver(d.frames.reference, output, render);
        ++d.stats.vops;
        return;
    }
    d.mb_x = d.mb_y = 0;
    d.qp = std::clamp(d.stream.vop_quant, 1, 31);
    // Macroblock stuffing consumes its code and does not count towards the limit, so a VOP that contains some
    // still decodes all its macroblocks; every other call counts (an invalid code consumes nothing), which
    // bounds the loop on damaged data.
    // With resync markers on, a video packet header may stand between two macroblocks: it names the next
    // macroblock's position and quantiser, and prediction does not cross it.
    ++d.packet_id;
    const bool packets = d.stream.resync_marker_disable == 0;
    const int marker_length = resync_marker_length(d.stream);
    int count = 0;
    do {
        decode_macroblock();
        if (!d.stuffing) ++count;
        if (packets && count < d.mb_count && look_ahead_resync(d.reader, marker_length) &&
            !decode_video_packet_header(d))
            break;
    } while (!look_ahead_start_code(d.reader) && count < d.mb_count && d.mb_y < d.mb_height);

    Frame& cur = d.frames.current;
    pad_plane_edges(cur.y, d.luma_stride, d.luma_rows, kLumaMargin);
    pad_plane_edges(cur.u, d.chroma_stride, d.chroma_rows, kChromaMargin);
    pad_plane_edges(cur.v, d.chroma_stride, d.chroma_rows, kChromaMargin);

    deliver(cur, output, render);
    std::swap(d.frames.current, d.frames.reference);
    ++d.stats.vops;
}

}  // namespace zorbrix::mpeg4
