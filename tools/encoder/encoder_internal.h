#pragma once
// What the encoder's own source files share: the decisions taken for one macroblock, handed from the analysis to
// the writer. Not for use outside tools/encoder.
#include <cstdint>
#include <cstring>

#include "tools/encoder/encoder.h"
#include "video/mpeg4/codec_rules.h"

namespace zorbrix::enc {

// A P-VOP macroblock sent as not coded: the decoder copies the co-located area. It has no mb_type of its own.
constexpr int kMbSkipped = -1;

struct VideoEncoder::MbCode {
    // The levels are left uninitialised: the analysis writes those of every coded block (cbp), and nothing reads the
    // others.
    MbCode() {}
    // Back to the defaults, but for the levels.
    void clear() {
        type = mpeg4::kMbIntra;
        cbp = 0;
        ac_pred = false;
        std::memset(mv, 0, sizeof(mv));
        std::memset(mvd, 0, sizeof(mvd));
        std::memset(dc_diff, 0, sizeof(dc_diff));
        std::memset(scan, 0, sizeof(scan));
    }

    int type = mpeg4::kMbIntra;  // kMbSkipped, mpeg4::kMbInter, kMbInter4V or kMbIntra
    int cbp = 0;                 // bit 5 = block 0 ... bit 0 = block 5
    bool ac_pred = false;
    int16_t mv[4][2] = {};
    int16_t mvd[4][2] = {};  // vector minus its predictor, before wrapping
    int dc_diff[6] = {};
    uint8_t scan[6] = {};
    int16_t level[6][64];  // levels to code, raster order; intra blocks: AC after prediction
};

}  // namespace zorbrix::enc
