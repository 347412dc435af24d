#pragma once
// The arithmetic the decoder and the encoder must agree on, written once: picture size limits, frame-store margins,
// macroblock types, the intra DC scaler and H.263 inverse quantisation. An encoder that reconstructs its reference
// with other rules than the decoder's drifts away from what viewers see, so both include this header.
#include <algorithm>
#include <cstdint>

namespace zorbrix::mpeg4 {

// Largest picture the frame store takes: 45 x 36 macroblocks (720 x 576).
constexpr int kMaxMbWidth = 45;
constexpr int kMaxMbHeight = 36;
constexpr int kMaxWidth = 16 * kMaxMbWidth;
constexpr int kMaxHeight = 16 * kMaxMbHeight;

// Margins round each reference plane, wide enough for any vector the motion search or a stream can point outside
// the picture with (vectors are clamped to the margin on both sides).
constexpr int kLumaMargin = 32;
constexpr int kChromaMargin = 16;

// Sizes this codec takes: whole macroblocks, at least one, at most kMaxMbWidth x kMaxMbHeight.
constexpr bool size_supported(int width, int height) {
    return width > 0 && height > 0 && width % 16 == 0 && height % 16 == 0 && width / 16 <= kMaxMbWidth &&
           height / 16 <= kMaxMbHeight;
}

// mb_type as coded in the MCBPC code (values are the stream's own). Stuffing is this codebase's marker for the
// stuffing code, which has no mb_type of its own.
enum MbType : int8_t {
    kMbInter = 0,
    kMbInterQ = 1,
    kMbInter4V = 2,
    kMbIntra = 3,
    kMbIntraQ = 4,
    kMbStuffing = 7,
};

constexpr bool is_intra(int mb_type) { return mb_type == kMbIntra || mb_type == kMbIntraQ; }
constexpr bool has_dquant(int mb_type) { return mb_type == kMbInterQ || mb_type == kMbIntraQ; }

// Intra DC predictor value of a block whose neighbour is outside the picture or not intra.
constexpr int kDcPredictorDefault = 1024;

// The intra DC quantiser step for a macroblock quantiser 1..31.
constexpr int dc_scaler(int qp, bool luma) {
    if (qp <= 4) return 8;
    if (luma) {
        if (qp <= 8) return 2 * qp;
        if (qp <= 24) return qp + 8;
        return 2 * qp - 16;
    }
    if (qp <= 24) return (qp + 13) / 2;
    return qp - 6;
}

// Reconstructed coefficients are saturated to the 12-bit range of 8-bit video (-2048..2047); a wider value would
// otherwise wrap or reach the inverse transform out of range.
constexpr int16_t saturate_coefficient(int f) { return static_cast<int16_t>(std::clamp(f, -2048, 2047)); }

// H.263 inverse quantisation of a non-zero level.
constexpr int16_t dequant(int level, int qp) {
    const int h = (qp & 1) ? qp : qp - 1;
    const int f = level > 0 ? 2 * qp * level + h : 2 * qp * level - h;
    return saturate_coefficient(f);
}

// Coefficient scan orders: position in the scan -> raster index in the 8x8 block. Zigzag for every block but
// intra blocks with AC prediction.
inline constexpr uint8_t kZigzagScan[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                            12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                            35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                            58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Used for intra blocks with AC prediction from the block above.
inline constexpr uint8_t kAlternateHorizontalScan[64] = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
    32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
    38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63};

// Used for intra blocks with AC prediction from the block on the left.
inline constexpr uint8_t kAlternateVerticalScan[64] = {0,  8,  16, 24, 1, 9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                                                       41, 33, 26, 18, 3, 11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                                                       51, 59, 20, 28, 5, 13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                                                       53, 61, 22, 30, 7, 15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

// By the scan number the encoder records: 0 zigzag, 1 alternate horizontal, 2 alternate vertical.
inline constexpr const uint8_t* kScans[3] = {kZigzagScan, kAlternateHorizontalScan, kAlternateVerticalScan};

}  // namespace zorbrix::mpeg4
