// The block layer: intra DC, the coefficient events, intra DC and AC prediction, inverse quantisation and the
// inverse transform of one 8x8 block.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/coefficients.h"
#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/decoder_internal.h"
#include "video/mpeg4/idct.h"
#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::mpeg4 {

namespace {

// ---- Code tables: intra DC sizes, indexed by the next 12 bits (the coefficient events are read by
// coefficients.cpp).

struct BlockTables {
    Lut<12> dc_luma = build_lut<12>(kDcSizeLuma);
    Lut<12> dc_chroma = build_lut<12>(kDcSizeChroma);
};

const BlockTables g_tables;

// ---- Intra prediction.

// Does a neighbouring block's macroblock (type map coordinates, border included) count for prediction? Only an
// intra macroblock of the current video packet does; for the others the defaults (DC 1024, AC 0) stand in, which
// are also what the borders hold.
inline bool predicts_from(const DecoderState& d, int tm_row, int tm_col) {
    if (d.packet_map[tm_row][tm_col] != d.packet_id) return false;
    if (d.vop.coding_type == 0) return true;
    return is_intra(d.type_map[tm_row][tm_col]);
}

}  // namespace

void decode_intra_block(DecoderState& d, int i, bool coded) {
    BitReader& br = d.reader;
    int16_t* blk = std::assume_aligned<16>(d.blocks[i]);
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
    int16_t(*ac_row)[7];
    int16_t(*ac_col)[7];
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
        const uint8_t* scan =
            d.ac_pred_flag ? (from_above ? kAlternateHorizontalScan : kAlternateVerticalScan) : kZigzagScan;
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

    dequantise_intra_ac(blk, qp, extent);
    idct_8x8_sparse(blk, extent);
}

void decode_inter_block(DecoderState& d, int i, bool coded) {
    int16_t* blk = std::assume_aligned<16>(d.blocks[i]);
    std::memset(blk, 0, 64 * sizeof(int16_t));
    unsigned extent = 0;
    if (coded) extent = decode_inter_coefficients(d.reader, kZigzagScan, d.qp, blk, d.stats.escapes);
    idct_8x8_sparse(blk, extent);
}

}  // namespace zorbrix::mpeg4
