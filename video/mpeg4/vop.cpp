// The VOP layer: the predictor borders written at initialisation, the loop over a VOP's macroblocks with its video
// packets, the edge padding of the new reference and the hand-over to post-processing and colour conversion.
#include <algorithm>
#include <cstring>
#include <utility>

#include "video/colour_convert.h"
#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/decoder_internal.h"
#include "video/mpeg4/motion.h"
#include "video/mpeg4/postprocess.h"

namespace zorbrix::mpeg4 {
namespace {

// True when the next bits are the stuffing of next_start_code() (a 0 then 1s up to the byte boundary, or 0x7F on
// a boundary) followed by a start code prefix. The stuffing pattern is checked, not just skipped: a last
// macroblock short enough to fit in the rest of a byte (a skipped one is a single bit) must not be taken for it.
bool look_ahead_start_code(const BitReader& br) {
    const size_t pos = br.bit_position();
    if (pos >= br.bit_length()) return true;           // the chunk is used up
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

// Hands a frame's picture to the output converter (through post-processing when it is on).
void deliver(DecoderState& d, const Frame& f, uint8_t* output, int render) {
    if (!render || !d.converter || !output) return;
    const int signed_height = d.height * d.orientation;
    if (d.postproc_enabled && d.converter == &convert_yv12 && d.orientation > 0 && d.width % 16 == 0 &&
        d.height % 16 == 0) {
        // Planar output in picture order: the filtered copy is made straight into the caller's planes (Y, then V,
        // then U), which saves copying every picture twice. Whole macroblock sizes keep every filter access
        // inside the rows it works on.
        uint8_t* out_v = output + static_cast<ptrdiff_t>(d.width) * d.height;
        uint8_t* out_u = out_v + static_cast<ptrdiff_t>(d.width / 2) * (d.height / 2);
        postprocess_frame(f.y, f.u, f.v, d.luma_stride, output, out_u, out_v, d.width, d.width, d.height, d.quant_map,
                          kQuantStride, d.postproc_flags & ~PP_SKIP_COPY);  // the caller's buffer holds no picture yet
    } else if (d.postproc_enabled) {
        postprocess_frame(f.y, f.u, f.v, d.luma_stride, d.frames.out_y, d.frames.out_u, d.frames.out_v, d.width,
                          d.width, d.height, d.quant_map, kQuantStride, d.postproc_flags);
        d.converter(d.frames.out_y, d.width, d.frames.out_u, d.frames.out_v, d.width / 2, output, d.width,
                    signed_height);
    } else {
        d.converter(f.y, d.luma_stride, f.u, f.v, d.chroma_stride, output, d.width, signed_height);
    }
}

}  // namespace

void reset_prediction_borders(DecoderState& d) {
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
    std::memset(d.same_in_both, 0, sizeof d.same_in_both);
    // Type map: intra in the top row (0..mb_width) and in the side columns of every row.
    std::memset(d.type_map, 0, sizeof d.type_map);
    const int mbw = std::min(d.mb_width, kMaxMbWidth);
    const int mbh = std::min(d.mb_height, kMaxMbHeight);
    for (int c = 0; c <= mbw + 1 && c < kMaxMbWidth + 2; ++c) d.type_map[0][c] = kMbIntra;
    for (int r = 0; r <= mbh; ++r) {
        d.type_map[r][0] = kMbIntra;
        if (mbw + 1 < kMaxMbWidth + 2) d.type_map[r][mbw + 1] = kMbIntra;
    }
}

void decode_vop(DecoderState& d, uint8_t* output, int render) {
    if (!d.size_ok || !d.layer_ok || !d.frames.current.y) return;
    if (!d.vop.coded) {
        // A VOP that is not coded repeats the previous picture: deliver the reference, which stays the reference
        // (decoding macroblocks here would read past the header and show the picture from two VOPs back).
        deliver(d, d.frames.reference, output, render);
        ++d.stats.vops;
        return;
    }
    d.mb_x = d.mb_y = 0;
    d.qp = std::clamp(d.vop.quant, 1, 31);
    // Macroblock stuffing consumes its code and does not count towards the limit, so a VOP that contains some
    // still decodes all its macroblocks; every other call counts (an invalid code consumes nothing), which
    // bounds the loop on damaged data.
    // With resync markers on, a video packet header may stand between two macroblocks: it names the next
    // macroblock's position and quantiser, and prediction does not cross it.
    ++d.packet_id;
    const bool packets = d.layer.resync_marker_disable == 0;
    const int marker_length = resync_marker_length(d.vop);
    int count = 0;
    do {
        decode_macroblock(d);
        if (!d.stuffing) ++count;
        if (packets && count < d.mb_count && look_ahead_resync(d.reader, marker_length) &&
            !decode_video_packet_header(d))
            break;
    } while (!look_ahead_start_code(d.reader) && count < d.mb_count && d.mb_y < d.mb_height);

    Frame& cur = d.frames.current;
    pad_plane_edges(cur.y, d.luma_stride, d.luma_rows, kLumaMargin);
    pad_plane_edges(cur.u, d.chroma_stride, d.chroma_rows, kChromaMargin);
    pad_plane_edges(cur.v, d.chroma_stride, d.chroma_rows, kChromaMargin);

    deliver(d, cur, output, render);
    std::swap(d.frames.current, d.frames.reference);
    ++d.stats.vops;
}

}  // namespace zorbrix::mpeg4
