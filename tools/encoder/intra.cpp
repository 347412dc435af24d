// Intra macroblocks: transform and quantisation, DC prediction, the choice of AC prediction and its scan, and the
// reconstruction the decoder will make.
#include "tools/encoder/encoder_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tools/encoder/dsp.h"
#include "tools/encoder/recon.h"

namespace zorbrix::enc {

using mpeg4::dc_scaler;
constexpr int kDcDefault = mpeg4::kDcPredictorDefault;

void VideoEncoder::analyse_intra_mb(int mbx, int mby, bool p_vop, int qp, MbCode& mb) {
    const DspFunctions& d = dsp();
    mb.type = mpeg4::kMbIntra;
    mb_intra_[static_cast<size_t>(mby) * mb_w_ + mbx] = 1;
    bool from_above[6];
    int pred_gain = 0;      // sum over blocks of |level| - |level - prediction| on the predicted row/column
    bool pred_fits = true;  // predicted differences stay within the escape's level range
    int16_t pred_vals[6][7];
    int16_t true_level[6][64];
    int qdc[6];

    for (int i = 0; i < 6; ++i) {
        const bool luma = i < 4;
        const int p = luma ? 0 : i - 3;
        const PaddedPlane& sp = p == 0 ? src_.y : p == 1 ? src_.u : src_.v;
        const int by = luma ? 2 * mby + (i >> 1) : mby;
        const int bx = luma ? 2 * mbx + (i & 1) : mbx;
        const uint8_t* s = sp.origin + by * 8 * sp.stride + bx * 8;
        int16_t coef[64];
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) coef[y * 8 + x] = s[y * sp.stride + x];
        d.fdct(coef);
        const int scaler = dc_scaler(qp, luma);
        d.quant(coef, true_level[i], qp, 0);
        true_level[i][0] = 0;
        qdc[i] = std::max(0, (coef[0] + scaler / 2) / scaler);

        // Neighbours: left (A), above-left (B), above (C). Outside the picture, or (in a P-VOP) in a macroblock
        // that is not intra in this VOP, they count as DC 1024 with zero AC.
        auto available = [&](int nby, int nbx) {
            if (nby < 0 || nbx < 0) return false;
            if (!p_vop) return true;
            const int mx = luma ? nbx >> 1 : nbx, my = luma ? nby >> 1 : nby;
            return mb_intra_[static_cast<size_t>(my) * mb_w_ + mx] != 0;
        };
        auto cell = [&](int nby, int nbx) { return static_cast<size_t>(nby + 1) * pred_stride_[p] + (nbx + 1); };
        auto dc_at = [&](int nby, int nbx) { return available(nby, nbx) ? dc_[p][cell(nby, nbx)] : kDcDefault; };
        const int fa = dc_at(by, bx - 1), fb = dc_at(by - 1, bx - 1), fc = dc_at(by - 1, bx);
        from_above[i] = std::abs(fa - fb) < std::abs(fb - fc);
        const int f = from_above[i] ? fc : fa;
        const int pred = (f + (f > 0 ? 1 : -1) * (scaler >> 1)) / scaler;
        mb.dc_diff[i] = qdc[i] - pred;
        dc_[p][cell(by, bx)] = static_cast<int16_t>(qdc[i] * scaler);

        // AC prediction candidates and their gain.
        const int nby = from_above[i] ? by - 1 : by, nbx = from_above[i] ? bx : bx - 1;
        const bool have = available(nby, nbx);
        for (int k = 0; k < 7; ++k) {
            pred_vals[i][k] =
                have ? (from_above[i] ? ac_row_[p][cell(nby, nbx) * 7 + k] : ac_col_[p][cell(nby, nbx) * 7 + k]) : 0;
            const int pos = from_above[i] ? k + 1 : (k + 1) * 8;
            const int lv = true_level[i][pos];
            const int diff = lv - pred_vals[i][k];
            pred_gain += std::abs(lv) - std::abs(diff);
            if (diff < -2047 || diff > 2047) pred_fits = false;
        }
        for (int k = 0; k < 7; ++k) {
            ac_row_[p][cell(by, bx) * 7 + k] = true_level[i][k + 1];
            ac_col_[p][cell(by, bx) * 7 + k] = true_level[i][(k + 1) * 8];
        }
    }

    mb.ac_pred = opt_.ac_pred && pred_fits && pred_gain > 0;
    mb.cbp = 0;
    for (int i = 0; i < 6; ++i) {
        std::memcpy(mb.level[i], true_level[i], sizeof(true_level[i]));
        if (mb.ac_pred) {
            for (int k = 0; k < 7; ++k) {
                const int pos = from_above[i] ? k + 1 : (k + 1) * 8;
                mb.level[i][pos] = static_cast<int16_t>(true_level[i][pos] - pred_vals[i][k]);
            }
            mb.scan[i] = from_above[i] ? 1 : 2;
        } else {
            mb.scan[i] = 0;
        }
        if (d.nonzero_mask(mb.level[i]) >> 1) mb.cbp |= 1 << (5 - i);  // any AC level

        // Reconstruction, as the decoder does it from the true levels.
        const bool luma = i < 4;
        const int scaler = dc_scaler(qp, luma);
        int16_t block[64];
        block[0] = static_cast<int16_t>(qdc[i] * scaler);
        d.dequant(true_level[i], block, qp, 1);
        recon_idct(block);
        PaddedPlane& cp = luma ? cur_.y : i == 4 ? cur_.u : cur_.v;
        const int by = luma ? 2 * mby + (i >> 1) : mby;
        const int bx = luma ? 2 * mbx + (i & 1) : mbx;
        recon_put(block, cp.origin + by * 8 * cp.stride + bx * 8, cp.stride);
    }
}

}  // namespace zorbrix::enc
