// The block layer: intra DC, the coefficient events, intra DC and AC prediction, inverse quantisation and the
// inverse transform of one 8x8 block.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/decoder_internal.h"
#include "video/mpeg4/idct.h"
#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::mpeg4 {

namespace {

// ---- Code tables: intra DC sizes and the coefficient events, indexed by the next 12 bits.

struct TcoefEntry {
    uint8_t length;  // 0: invalid
    uint8_t last;
    uint8_t run;     // kEscapeRun: escape
    uint8_t level;
};
constexpr uint8_t kEscapeRun = 255;

struct TcoefLut {
    TcoefEntry e[4096];
};

TcoefLut build_tcoef_lut(const TcoefCode (&codes)[102]) {
    TcoefLut lut;
    for (auto& x : lut.e) x = {0, 0, 0, 0};
    auto fill = [&](uint32_t code, int length, TcoefEntry entry) {
        const int shift = 12 - length;
        for (uint32_t k = 0; k < (1u << shift); ++k) lut.e[(code << shift) + k] = entry;
    };
    for (const TcoefCode& c : codes) fill(c.code, c.length, {c.length, c.last, c.run, c.level});
    fill(kTcoefEscapeCode, kTcoefEscapeLength, {static_cast<uint8_t>(kTcoefEscapeLength), 0, kEscapeRun, 0});
    return lut;
}

struct BlockTables {
    Lut<12> dc_luma = build_lut<12>(kDcSizeLuma);
    Lut<12> dc_chroma = build_lut<12>(kDcSizeChroma);
    TcoefLut intra = build_tcoef_lut(kIntraTcoef);
    TcoefLut inter = build_tcoef_lut(kInterTcoef);
};

const BlockTables g_tables;

// ---- Coefficient events.

struct Event {
    int last;
    int run;
    int level;
};

// Decodes one (last, run, level) event; false for an invalid code, which ends the block. A plain event (the
// common case) is taken from one 32-bit look at the stream: code, then its sign bit. Escapes are counted by mode
// in escapes[0..2].
inline bool decode_event(BitReader& br, const TcoefLut& lut, bool intra, long* escapes, Event& ev) {
    const uint32_t window = br.peek_bits(32);
    const TcoefEntry e = lut.e[window >> 20];
    if (e.length == 0) return false;
    if (e.run != kEscapeRun) {
        ev.last = e.last;
        ev.run = e.run;
        ev.level = ((window >> (31 - e.length)) & 1) ? -e.level : e.level;
        br.advance_bits(e.length + 1);
        return true;
    }
    br.advance_bits(e.length);
    const uint32_t mode = br.peek_bits(2);
    ++escapes[mode < 2 ? 0 : mode - 1];
    if (mode == 3) {
        br.advance_bits(2);
        ev.last = static_cast<int>(br.read_bits(1));
        ev.run = static_cast<int>(br.read_bits(6));
        br.read_marker();
        const int raw = static_cast<int>(br.read_bits(12));
        ev.level = raw >= 2048 ? raw - 4096 : raw;
        br.read_marker();
        return true;
    }
    br.advance_bits(mode < 2 ? 1 : 2);
    const uint32_t w2 = br.peek_bits(32);
    const TcoefEntry s = lut.e[w2 >> 20];
    if (s.length == 0 || s.run == kEscapeRun) return false;
    int level = s.level;
    int run = s.run;
    if (mode < 2) level += tcoef_lmax(intra, s.last, s.run);
    else run += tcoef_rmax(intra, s.last, s.level) + 1;
    ev.last = s.last;
    ev.run = run;
    ev.level = ((w2 >> (31 - s.length)) & 1) ? -level : level;
    br.advance_bits(s.length + 1);
    return true;
}

// Reads a coded block's coefficients: events up to the one marked last, each placed `run` scan positions on along
// `scan`. Intra blocks start after the DC (position 1) and keep their levels as coded, since AC prediction adds to
// them before inverse quantisation; inter blocks start at position 0 and are dequantised with qp on the way. An
// invalid code or a run past the block's end stops reading.
template <bool Intra>
inline void read_coefficients(BitReader& br, long* escapes, int16_t* blk, const uint8_t* scan, int qp) {
    const TcoefLut& lut = Intra ? g_tables.intra : g_tables.inter;
    int pos = Intra ? 1 : 0;
    Event ev;
    while (decode_event(br, lut, Intra, escapes, ev)) {
        pos += ev.run;
        if (pos > 63) break;
        blk[scan[pos]] = Intra ? static_cast<int16_t>(ev.level) : dequant(ev.level, qp);
        ++pos;
        if (ev.last) break;
    }
}

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

    if (coded) {
        const uint8_t* scan = d.ac_pred_flag ? (from_above ? kAlternateHorizontalScan : kAlternateVerticalScan)
                                             : kZigzagScan;
        read_coefficients<true>(br, d.stats.escapes, blk, scan, qp);
    }

    if (d.ac_pred_flag) {
        static const int16_t kZero[7] = {};
        if (from_above) {
            const int16_t* p = above_ok ? ac_row[above] : kZero;
            for (int k = 0; k < 7; ++k) blk[1 + k] = static_cast<int16_t>(blk[1 + k] + p[k]);
        } else {
            const int16_t* p = left_ok ? ac_col[left] : kZero;
            for (int k = 0; k < 7; ++k) blk[8 * (k + 1)] = static_cast<int16_t>(blk[8 * (k + 1)] + p[k]);
        }
    }
    for (int k = 0; k < 7; ++k) {
        ac_row[here][k] = blk[1 + k];
        ac_col[here][k] = blk[8 * (k + 1)];
    }

    for (int k = 1; k < 64; ++k)
        if (blk[k]) blk[k] = dequant(blk[k], qp);
    idct_8x8(blk);
}

void decode_inter_block(DecoderState& d, int i, bool coded) {
    int16_t* blk = std::assume_aligned<16>(d.blocks[i]);
    std::memset(blk, 0, 64 * sizeof(int16_t));
    if (coded) read_coefficients<false>(d.reader, d.stats.escapes, blk, kZigzagScan, d.qp);
    idct_8x8(blk);
}

}  // namespace zorbrix::mpeg4
