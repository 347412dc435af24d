#pragma once
// The encoder's side of the video syntax's variable-length codes: code maps built once from the decoder's own
// code lists, and writers for every coded element (texture events with the three escape modes, mcbpc, cbpy, motion
// vector differences, intra DC). Cost functions give the bit counts that mode decisions use.
#include <cstdint>

#include "video/mpeg4/bit_writer.h"

namespace zorbrix::enc {

using mpeg4::BitWriter;

// The texture events that have a code of their own, for a writer's fast path: [intra][last][run][|level|] holds
// (code << 1) << 5 | (length + 1), the code with room for the sign bit and its length with it, or 0 when the event
// takes an escape.
struct TcoefDirect {
    static constexpr int kLevels = 32;
    uint32_t code[2][2][64][kLevels];
};
const TcoefDirect& tcoef_direct();

// Texture event writer. level must be non-zero and within -2047..2047; run within 0..63.
void put_tcoef(BitWriter& bw, bool intra, bool last, int run, int level);
int tcoef_bits(bool intra, bool last, int run, int level);

// mcbpc: mb_type kMbIntra in I-VOPs; kMbInter, kMbInter4V or kMbIntra in P-VOPs (mpeg4::MbType); cbpc 0..3.
void put_mcbpc(BitWriter& bw, bool p_vop, int mb_type, int cbpc);
int mcbpc_bits(bool p_vop, int mb_type, int cbpc);
// cbpy as the intra table codes it (the caller passes 15 - cbpy for inter macroblocks).
void put_cbpy(BitWriter& bw, int cbpy);
int cbpy_bits(int cbpy);

// One motion vector difference component, already wrapped into -32 f .. 32 f - 1 for f = 1 << (fcode - 1).
void put_mvd(BitWriter& bw, int mvd, int fcode);
int mvd_bits(int mvd, int fcode);

// Intra DC differential: the size code (luma or chroma table), the differential and its marker when size > 8.
void put_intra_dc(BitWriter& bw, bool luma, int diff);
int intra_dc_bits(bool luma, int diff);

}  // namespace zorbrix::enc
