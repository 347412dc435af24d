// Mode decision for each macroblock of a VOP: intra, one vector, four vectors or not coded, then the inter
// residual's coding and reconstruction.
#include "tools/encoder/encoder_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tools/encoder/dsp.h"
#include "tools/encoder/recon.h"
#include "tools/encoder/vlc_codes.h"
#include "video/mpeg4/motion.h"

namespace zorbrix::enc {

void VideoEncoder::analyse_vop(bool intra, int qp, std::vector<MbCode>& mbs) {
    stats_ = FrameStats{};
    std::fill(mb_intra_.begin(), mb_intra_.end(), static_cast<int8_t>(intra ? 1 : 0));
    std::fill(mv_cur_.begin(), mv_cur_.end(), static_cast<int16_t>(0));
    for (int mby = 0; mby < mb_h_; ++mby) {
        for (int mbx = 0; mbx < mb_w_; ++mbx) {
            MbCode& mb = mbs[static_cast<size_t>(mby) * mb_w_ + mbx];
            mb.clear();
            if (intra) {
                analyse_intra_mb(mbx, mby, false, qp, mb);
            } else {
                analyse_inter_mb(mbx, mby, qp, mb);
            }
            switch (mb.type) {
            case kMbSkipped: ++stats_.skipped_mbs; break;
            case mpeg4::kMbInter: ++stats_.inter_mbs; break;
            case mpeg4::kMbInter4V: ++stats_.inter4v_mbs; break;
            default: ++stats_.intra_mbs; break;
            }
        }
    }
}

void VideoEncoder::motion_compensate(int mbx, int mby, const int16_t (&mv)[4][2], bool four) {
    auto predict = [&](PaddedPlane& dst, const PaddedPlane& ref, int row, int col, int n, int vx, int vy) {
        const int index = mpeg4::predict_index(n, rounding_, vx, vy);
        recon_predict(index, ref.origin + (row + (vy >> 1)) * ref.stride + col + (vx >> 1),
                      dst.origin + row * dst.stride + col, dst.stride);
    };
    int cvx, cvy;
    if (!four) {
        predict(cur_.y, ref_.y, 16 * mby, 16 * mbx, 16, mv[0][0], mv[0][1]);
        cvx = mpeg4::chroma_vector_one(mv[0][0]);
        cvy = mpeg4::chroma_vector_one(mv[0][1]);
    } else {
        for (int b = 0; b < 4; ++b) {
            predict(cur_.y, ref_.y, 16 * mby + 8 * (b >> 1), 16 * mbx + 8 * (b & 1), 8, mv[b][0], mv[b][1]);
        }
        cvx = mpeg4::chroma_vector_four(mv[0][0] + mv[1][0] + mv[2][0] + mv[3][0]);
        cvy = mpeg4::chroma_vector_four(mv[0][1] + mv[1][1] + mv[2][1] + mv[3][1]);
    }
    predict(cur_.u, ref_.u, 8 * mby, 8 * mbx, 8, cvx, cvy);
    predict(cur_.v, ref_.v, 8 * mby, 8 * mbx, 8, cvx, cvy);
}

bool VideoEncoder::nothing_to_code_in_place(int mbx, int mby, int zero_block_limit) const {
    const DspFunctions& d = dsp();
    for (int i = 0; i < 6; ++i) {
        const bool luma = i < 4;
        const PaddedPlane& sp = luma ? src_.y : i == 4 ? src_.u : src_.v;
        const PaddedPlane& rp = luma ? ref_.y : i == 4 ? ref_.u : ref_.v;
        const int row = luma ? 16 * mby + 8 * (i >> 1) : 8 * mby;
        const int col = luma ? 16 * mbx + 8 * (i & 1) : 8 * mbx;
        const uint8_t* sb = sp.origin + row * sp.stride + col;
        const uint8_t* rb = rp.origin + row * rp.stride + col;
        const int sad = static_cast<int>(d.sad8(sb, sp.stride, rb, rp.stride));
        if (sad >= zero_block_limit) return false;
    }
    return true;
}

void VideoEncoder::analyse_inter_mb(int mbx, int mby, int qp, MbCode& mb) {
    const DspFunctions& d = dsp();
    const size_t mbi = static_cast<size_t>(mby) * mb_w_ + mbx;
    const int lambda = std::max(1, qp);
    int16_t zero[4][2] = {};
    // An inter level is non-zero from |coefficient| >= 2 qp + qp / 2 on.
    const int zero_block_limit = 4 * (2 * qp + qp / 2 - 2);
    if (nothing_to_code_in_place(mbx, mby, zero_block_limit)) {
        // The co-located area already leaves nothing to code: not coded, without a search (the vectors stay 0).
        mb.type = kMbSkipped;
        mb.cbp = 0;
        motion_compensate(mbx, mby, zero, false);
        return;
    }
    int px, py;
    vector_predictor(mbx, mby, 0, zero, &px, &py);
    int vx, vy;
    uint32_t sad16;
    search16(mbx, mby, px, py, lambda, &vx, &vy, &sad16);
    const uint32_t cost_16 = sad16 + static_cast<uint32_t>(lambda * (mvd_bits(vx - px, 1) + mvd_bits(vy - py, 1)));

    // Intra when the macroblock's own variation is well below what motion leaves.
    const uint8_t* s = src_.y.origin + 16 * mby * src_.y.stride + 16 * mbx;
    // Sum and absolute deviation from the mean as SADs against one constant row (a stride of 0 repeats it).
    alignas(16) uint8_t flat[16] = {};
    const uint32_t sum = d.sad16(s, src_.y.stride, flat, 0);
    std::memset(flat, static_cast<int>((sum + 128) >> 8), sizeof(flat));
    const uint32_t dev = d.sad16(s, src_.y.stride, flat, 0);
    if (dev + 500 < sad16) {
        analyse_intra_mb(mbx, mby, true, qp, mb);
        return;
    }

    mb.type = mpeg4::kMbInter;
    for (auto& v : mb.mv) {
        v[0] = static_cast<int16_t>(vx);
        v[1] = static_cast<int16_t>(vy);
    }
    if (opt_.mv4) {
        int16_t four[4][2];
        uint32_t cost4 = 0;
        for (int b = 0; b < 4; ++b) {
            int bpx, bpy;
            vector_predictor(mbx, mby, b, four, &bpx, &bpy);
            int bx, by;
            uint32_t sad8;
            search8(mbx, mby, b, vx, vy, lambda, bpx, bpy, &bx, &by, &sad8);
            four[b][0] = static_cast<int16_t>(bx);
            four[b][1] = static_cast<int16_t>(by);
            cost4 += sad8 + static_cast<uint32_t>(lambda * (mvd_bits(bx - bpx, 1) + mvd_bits(by - bpy, 1)));
        }
        if (cost4 + static_cast<uint32_t>(4 * lambda) < cost_16) {
            mb.type = mpeg4::kMbInter4V;
            std::memcpy(mb.mv, four, sizeof(four));
        }
    }
    // Vector differences against the predictors the decoder forms.
    for (int b = 0; b < (mb.type == mpeg4::kMbInter4V ? 4 : 1); ++b) {
        int bpx, bpy;
        vector_predictor(mbx, mby, b, mb.mv, &bpx, &bpy);
        mb.mvd[b][0] = static_cast<int16_t>(mb.mv[b][0] - bpx);
        mb.mvd[b][1] = static_cast<int16_t>(mb.mv[b][1] - bpy);
    }

    motion_compensate(mbx, mby, mb.mv, mb.type == mpeg4::kMbInter4V);
    mb.cbp = 0;
    for (int i = 0; i < 6; ++i) {
        const bool luma = i < 4;
        const PaddedPlane& sp = luma ? src_.y : i == 4 ? src_.u : src_.v;
        PaddedPlane& cp = luma ? cur_.y : i == 4 ? cur_.u : cur_.v;
        const int row = luma ? 16 * mby + 8 * (i >> 1) : 8 * mby;
        const int col = luma ? 16 * mbx + 8 * (i & 1) : 8 * mbx;
        const uint8_t* sb = sp.origin + row * sp.stride + col;
        const uint8_t* pb = cp.origin + row * cp.stride + col;
        // No coefficient exceeds a quarter of the residual's absolute sum (plus the transform's rounding), so a
        // small enough residual quantises to nothing: skip the transform.
        if (static_cast<int>(d.sad8(sb, sp.stride, pb, cp.stride)) < zero_block_limit) continue;
        int16_t coef[64];
        d.diff8(sb, sp.stride, pb, cp.stride, coef);
        d.fdct(coef);
        if (d.quant(coef, mb.level[i], qp, qp / 2)) mb.cbp |= 1 << (5 - i);
    }
    if (mb.type == mpeg4::kMbInter && mb.mv[0][0] == 0 && mb.mv[0][1] == 0 && mb.cbp == 0) {
        mb.type = kMbSkipped;  // not coded: the decoder copies the co-located area, which is this prediction
    }
    for (int i = 0; i < 6; ++i) {
        if (!(mb.cbp & (1 << (5 - i)))) continue;
        const bool luma = i < 4;
        PaddedPlane& cp = luma ? cur_.y : i == 4 ? cur_.u : cur_.v;
        const int row = luma ? 16 * mby + 8 * (i >> 1) : 8 * mby;
        const int col = luma ? 16 * mbx + 8 * (i & 1) : 8 * mbx;
        int16_t block[64];
        d.dequant(mb.level[i], block, qp, 0);
        recon_idct(block);
        recon_add(block, cp.origin + row * cp.stride + col, cp.stride);
    }
    for (int b = 0; b < 4; ++b) {
        mv_cur_[mbi * 8 + b * 2] = mb.mv[b][0];
        mv_cur_[mbi * 8 + b * 2 + 1] = mb.mv[b][1];
    }
}

}  // namespace zorbrix::enc
