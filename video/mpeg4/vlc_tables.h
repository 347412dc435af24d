#pragma once
// The variable-length codes of the MPEG-4 visual syntax (ISO/IEC 14496-2 Annex B) as plain code lists.
//
// Each entry gives the code bits (right-aligned, most significant bit sent first), the code length and the
// decoded value. The decoder builds its peek-then-consume lookup tables from these lists once; the encoder
// builds its code maps from the same lists, so both sides agree by construction.
#include <cstdint>

namespace zorbrix::mpeg4 {

struct VlcCode {
    uint32_t code;
    uint8_t length;
    int16_t value;
};

// A texture (TCOEF) event. The code excludes the sign bit of the level, which follows it (1 = negative).
struct TcoefCode {
    uint32_t code;
    uint8_t length;
    uint8_t last;
    uint8_t run;
    uint8_t level;
};

// Escape code of both texture tables: 0000011 (7 bits).
constexpr uint32_t kTcoefEscapeCode = 0x03;
constexpr int kTcoefEscapeLength = 7;

// Intra and inter TCOEF tables (102 events each).
extern const TcoefCode kIntraTcoef[102];
extern const TcoefCode kInterTcoef[102];

// mcbpc of I-VOPs and P-VOPs. value = cbpc << 4 | mb_type, mb_type 0 inter, 1 inter+q, 2 inter4v, 3 intra,
// 4 intra+q, 7 stuffing (code 0000 0000 1).
extern const VlcCode kMcbpcI[9];
extern const VlcCode kMcbpcP[21];

// cbpy as coded for intra macroblocks (inter macroblocks use 15 - value); bit 3 is luma block 0.
extern const VlcCode kCbpy[16];

// Motion vector codes for |value| 0..32; every non-zero code is followed by a sign bit (1 = negative).
extern const VlcCode kMotionVector[33];

// Intra DC size codes, sizes 0..12.
extern const VlcCode kDcSizeLuma[13];
extern const VlcCode kDcSizeChroma[13];

// Largest level coded directly for (last, run), 0 when none; first escape mode adds it.
int tcoef_lmax(bool intra, int last, int run);
// Largest run coded directly for (last, level), 0 beyond the table; second escape mode adds it plus 1.
int tcoef_rmax(bool intra, int last, int level);

}  // namespace zorbrix::mpeg4
