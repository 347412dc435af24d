// The macroblock layer of I- and P-VOPs: not_coded, mcbpc, ac_pred_flag, cbpy, dquant, motion vectors and their
// prediction, motion compensation, and the hand-over of each block to the block layer and the block writers.
#include <algorithm>
#include <cstddef>

#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/decoder_internal.h"
#include "video/mpeg4/idct.h"
#include "video/mpeg4/motion.h"
#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::mpeg4 {
namespace {

struct MacroblockTables {
    Lut<9> mcbpc_i = build_lut<9>(kMcbpcI);
    Lut<9> mcbpc_p = build_lut<9>(kMcbpcP);
    Lut<6> cbpy = build_lut<6>(kCbpy);
    Lut<12> mv = build_lut<12>(kMotionVector);
};

const MacroblockTables g_tables;

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
        if (mx < 0 || mx >= d.mb_width || my < 0 || d.packet_map[my + 1][mx + 1] != d.packet_id) return {{0, 0}, false};
        return {d.mv[my][mx][blk], true};
    };
    auto own = [&](int blk) -> Candidate { return {d.mv[y][x][blk], true}; };
    Candidate c[3];
    switch (b) {
    case 0:
        c[0] = at(x - 1, y, 1);
        c[1] = at(x, y - 1, 2);
        c[2] = at(x + 1, y - 1, 2);
        break;
    case 1:
        c[0] = own(0);
        c[1] = at(x, y - 1, 3);
        c[2] = at(x + 1, y - 1, 2);
        break;
    case 2:
        c[0] = at(x - 1, y, 3);
        c[1] = own(0);
        c[2] = own(1);
        break;
    default:
        c[0] = own(2);
        c[1] = own(0);
        c[2] = own(1);
        break;
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
    const int fcode = d.vop.fcode_forward;
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
    const int r = d.vop.rounding_type;
    const int row = 16 * mb_y, col = 16 * mb_x;
    int cx, cy;
    if (mb_type == kMbInter4V) {
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
    const Lut<9>& lut = d.vop.coding_type == 0 ? g_tables.mcbpc_i : g_tables.mcbpc_p;
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

}  // namespace

int decode_macroblock(DecoderState& d) {
    BitReader& br = d.reader;
    const bool p_vop = d.vop.coding_type != 0;
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
            if (!d.same_in_both[y][x]) {
                const Frame& cur = d.frames.current;
                const Frame& ref = d.frames.reference;
                copy_macroblock(cur.y, cur.u, cur.v, ref.y, ref.u, ref.v, d.luma_stride, d.chroma_stride, x, y);
                d.same_in_both[y][x] = 1;
            }
        }
    }
    if (!skipped) {
        d.same_in_both[y][x] = 0;
        const int value = decode_mcbpc(d);
        d.stuffing = value == kMbStuffing;
        if (value < 0) {
            d.mb_type = kMbStuffing;
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
        if (d.mb_type == kMbStuffing) return 1;
        d.cbpy = decode_cbpy(d);
        if (!intra) d.cbpy = 15 - d.cbpy;
        d.cbp = d.cbpc | (d.cbpy << 2);
        if (has_dquant(d.mb_type)) {
            static const int kDquant[4] = {-1, -2, 1, 2};
            d.qp = std::clamp(d.qp + kDquant[br.read_bits(2)], 1, 31);
        }
        if (d.mb_type == kMbInter || d.mb_type == kMbInterQ) {
            const MotionVector v = decode_mv(d, 0);
            for (int b = 0; b < 4; ++b) mv[b] = v;
        } else if (d.mb_type == kMbInter4V) {
            for (int b = 0; b < 4; ++b) mv[b] = decode_mv(d, b);
        } else if (p_vop) {
            for (int b = 0; b < 4; ++b) mv[b] = {0, 0};
        }
        if (intra) {
            for (int i = 0; i < 6; ++i) {
                decode_intra_block(d, i, (d.cbp >> (5 - i)) & 1);
                int stride;
                uint8_t* dst = block_destination(d, i, stride);
                put_block_clamped(d.blocks[i], dst, stride);
            }
        } else {
            motion_compensate_macroblock(d, x, y, d.mb_type);
            for (int i = 0; i < 6; ++i) {
                const bool coded = (d.cbp >> (5 - i)) & 1;
                if (!coded) continue;  // an empty block adds zero to its prediction
                decode_inter_block(d, i, coded);
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

}  // namespace zorbrix::mpeg4
