// Writing a coded VOP: its header through the shared header writer, the macroblock layer (mcbpc, cbpy, vector
// differences, intra DCs and texture events) and the f_code that covers the VOP's vectors.
#include "tools/encoder/encoder_internal.h"

#include <algorithm>
#include <bit>

#include "tools/encoder/dsp.h"
#include "tools/encoder/vlc_codes.h"

namespace zorbrix::enc {

namespace {

// Vectors of a VOP are limited to -32 f .. 32 f - 1 half-pel units, f = 1 << (fcode - 1).
int fcode_for(int min_v, int max_v) {
    for (int fcode = 1; fcode <= 7; ++fcode) {
        const int f = 1 << (fcode - 1);
        if (min_v >= -32 * f && max_v <= 32 * f - 1) return fcode;
    }
    return 7;
}

// A raster-order mask of a block's positions turned into scan order, four raster positions at a time.
struct ScanMasks {
    uint64_t nibble[3][16][16];  // [scan][which four raster positions][their bits]
    ScanMasks() {
        for (int s = 0; s < 3; ++s) {
            int scan_pos[64];
            for (int k = 0; k < 64; ++k) scan_pos[mpeg4::kScans[s][k]] = k;
            for (int q = 0; q < 16; ++q)
                for (int bits = 0; bits < 16; ++bits) {
                    uint64_t m = 0;
                    for (int b = 0; b < 4; ++b)
                        if (bits >> b & 1) m |= uint64_t{1} << scan_pos[4 * q + b];
                    nibble[s][q][bits] = m;
                }
        }
    }
};
const ScanMasks kScanMasks;

uint64_t scan_order_mask(int scan, uint64_t raster) {
    uint64_t m = 0;
    for (int q = 0; q < 16; ++q) m |= kScanMasks.nibble[scan][q][(raster >> (4 * q)) & 15];
    return m;
}

int wrap_mvd(int mvd, int fcode) {
    const int f = 1 << (fcode - 1);
    if (mvd < -32 * f) mvd += 64 * f;
    if (mvd > 32 * f - 1) mvd -= 64 * f;
    return mvd;
}

}  // namespace

mpeg4::LayerHeader VideoEncoder::layer_header() const {
    mpeg4::LayerHeader layer;  // the defaults are the plain layer this encoder codes
    layer.width = width_;
    layer.height = height_;
    layer.time_resolution = time_res_;
    return layer;
}

void VideoEncoder::write_vop_header(BitWriter& bw, bool intra, int qp, int fcode) {
    const int64_t ticks = frame_index_ * time_inc_;
    const int64_t seconds = ticks / time_res_;
    mpeg4::VopHeader vop;
    vop.coding_type = intra ? 0 : 1;
    vop.modulo_time_base = static_cast<int>(seconds - last_seconds_);
    vop.time_increment = static_cast<int>(ticks % time_res_);
    vop.rounding_type = rounding_;
    vop.intra_dc_vlc_thr = 0;  // intra DC always coded separately
    vop.quant = qp;
    vop.fcode_forward = fcode;
    mpeg4::write_vop_header(bw, layer_header(), vop);
    last_seconds_ = seconds;
}

int VideoEncoder::vop_fcode(const std::vector<MbCode>& mbs) {
    int min_v = 0, max_v = 0;
    for (const MbCode& mb : mbs) {
        for (const auto& v : mb.mv) {
            min_v = std::min({min_v, static_cast<int>(v[0]), static_cast<int>(v[1])});
            max_v = std::max({max_v, static_cast<int>(v[0]), static_cast<int>(v[1])});
        }
    }
    return fcode_for(min_v, max_v);
}

void VideoEncoder::write_vop(BitWriter& bw, bool intra, int qp, int fcode, const std::vector<MbCode>& mbs) {
    write_vop_header(bw, intra, qp, fcode);
    for (size_t i = 0; i + 1 < mbs.size(); ++i) write_mb(bw, !intra, mbs[i], fcode);
    // The decoder ends a VOP early when, after the second-to-last macroblock, the bits from the next byte
    // boundary on look like a start code. That happens when the last macroblock and the stuffing fit in what is
    // left of the current byte, as a skipped or a plain zero-difference macroblock can. Such a last macroblock is
    // sent as a four-vector macroblock with four equal vectors instead: the same picture, more bits.
    MbCode last = mbs.back();
    if (!intra && (last.type == kMbSkipped || last.type == mpeg4::kMbInter)) {
        BitWriter probe;
        write_mb(probe, true, last, fcode);
        const int left = static_cast<int>((8 - bw.bit_count() % 8) % 8);
        if (left > 0 && static_cast<int>(probe.bit_count()) + 1 <= left) {
            last.type = mpeg4::kMbInter4V;
            for (int b = 1; b < 4; ++b) {
                last.mv[b][0] = last.mv[0][0];
                last.mv[b][1] = last.mv[0][1];
            }
            for (int b = 0; b < 4; ++b) {
                int px, py;
                vector_predictor(mb_w_ - 1, mb_h_ - 1, b, last.mv, &px, &py);
                last.mvd[b][0] = static_cast<int16_t>(last.mv[b][0] - px);
                last.mvd[b][1] = static_cast<int16_t>(last.mv[b][1] - py);
            }
        }
    }
    write_mb(bw, !intra, last, fcode);
    bw.stuff();
}

void VideoEncoder::write_mb(BitWriter& bw, bool p_vop, const MbCode& mb, int fcode) const {
    if (p_vop) {
        bw.put_bits(mb.type == kMbSkipped ? 1 : 0, 1);  // not_coded
        if (mb.type == kMbSkipped) return;
    }
    const bool intra = mb.type == mpeg4::kMbIntra;
    const int cbpc = mb.cbp & 3, cbpy = mb.cbp >> 2;
    put_mcbpc(bw, p_vop, mb.type, cbpc);
    if (intra) bw.put_bits(mb.ac_pred ? 1 : 0, 1);
    put_cbpy(bw, intra ? cbpy : 15 - cbpy);
    if (!intra) {
        for (int b = 0; b < (mb.type == mpeg4::kMbInter4V ? 4 : 1); ++b) {
            put_mvd(bw, wrap_mvd(mb.mvd[b][0], fcode), fcode);
            put_mvd(bw, wrap_mvd(mb.mvd[b][1], fcode), fcode);
        }
    }
    const TcoefDirect& direct = tcoef_direct();
    const NonzeroMaskFn nonzero_mask = dsp().nonzero_mask.fn;
    for (int i = 0; i < 6; ++i) {
        if (intra) put_intra_dc(bw, i < 4, mb.dc_diff[i]);
        if (!(mb.cbp & (1 << (5 - i)))) continue;
        // The block's events (run of zeros, then a level) in scan order, from the scan positions of its non-zero
        // levels; the last carries the last flag. An intra block's DC level is 0 here.
        const uint8_t* scan = mpeg4::kScans[mb.scan[i]];
        const auto& codes = direct.code[intra];
        uint64_t todo = scan_order_mask(mb.scan[i], nonzero_mask(mb.level[i]));
        int prev = intra ? 0 : -1;  // runs count from the first AC position of an intra block
        while (todo) {
            const int k = std::countr_zero(todo);
            todo &= todo - 1;
            const int run = k - prev - 1;
            prev = k;
            const bool last = todo == 0;
            const int lv = mb.level[i][scan[k]];
            const int mag = lv < 0 ? -lv : lv;
            const uint32_t c = mag < TcoefDirect::kLevels ? codes[last][run][mag] : 0;
            if (c) {
                bw.put_bits(c >> 5 | (lv < 0 ? 1u : 0u), static_cast<int>(c & 31));
            } else {
                put_tcoef(bw, intra, last, run, lv);
            }
        }
    }
}

}  // namespace zorbrix::enc
