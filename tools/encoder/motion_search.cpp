// Motion search: the vector predictor the decoder forms, the area a vector may reach, and the 16x16 and 8x8
// searches (predictive start, full-pel diamond, half-pel refinement) on SAD plus the vector's bit cost.
#include "tools/encoder/encoder_internal.h"

#include <algorithm>
#include <cstdint>

#include "tools/encoder/dsp.h"
#include "tools/encoder/recon.h"
#include "tools/encoder/vlc_codes.h"
#include "video/mpeg4/motion.h"

namespace zorbrix::enc {

namespace {

int median3(int a, int b, int c) { return a + b + c - std::min({a, b, c}) - std::max({a, b, c}); }

// Bits of one vector difference component at f_code 1 (mvd_bits), by table: beyond +-32 every difference takes the
// longest code.
struct MvBits {
    uint8_t bits[65];
    MvBits() {
        for (int d = -32; d <= 32; ++d) bits[d + 32] = static_cast<uint8_t>(mvd_bits(d, 1));
    }
};
const MvBits kMvBits;

int mv_bits(int d) { return kMvBits.bits[std::clamp(d, -32, 32) + 32]; }

}  // namespace

bool VideoEncoder::in_bounds(int mbx, int mby, int vx, int vy) const {
    // The referenced area, including the extra column and row of half-pel interpolation, stays inside the
    // reference's margin, for luma and for the derived chroma vectors alike.
    const int px = 16 * mbx, py = 16 * mby;
    const int lim = 2 * opt_.search;
    if (vx < -lim || vx > lim || vy < -lim || vy > lim) return false;
    return vx >= -2 * (32 + px) && vx <= 2 * (width_ + 15 - px) && vy >= -2 * (32 + py) &&
           vy <= 2 * (height_ + 15 - py);
}

void VideoEncoder::vector_predictor(int mbx, int mby, int block, const int16_t (&own)[4][2], int* px, int* py) const {
    auto mv_of = [&](int x, int y, int b, int c) -> int {
        if (x < 0 || x >= mb_w_ || y < 0) return 0;
        return mv_cur_[(static_cast<size_t>(y) * mb_w_ + x) * 8 + b * 2 + c];
    };
    for (int c = 0; c < 2; ++c) {
        int a, b, cc;
        switch (block) {
        case 0:
            a = mv_of(mbx - 1, mby, 1, c);
            b = mv_of(mbx, mby - 1, 2, c);
            cc = mv_of(mbx + 1, mby - 1, 2, c);
            break;
        case 1:
            a = own[0][c];
            b = mv_of(mbx, mby - 1, 3, c);
            cc = mv_of(mbx + 1, mby - 1, 2, c);
            break;
        case 2:
            a = mv_of(mbx - 1, mby, 3, c);
            b = own[0][c];
            cc = own[1][c];
            break;
        default:
            a = own[2][c];
            b = own[0][c];
            cc = own[1][c];
            break;
        }
        const int v = (mby == 0 && block < 2) ? a : median3(a, b, cc);
        (c == 0 ? *px : *py) = v;
    }
}

uint32_t VideoEncoder::sad_half(int x, int y, int n, int vx, int vy) {
    const int stride = ref_.y.stride;
    uint8_t* scratch = half_scratch_.data();
    const uint8_t* src = ref_.y.origin + (y + (vy >> 1)) * stride + x + (vx >> 1);
    const int index = mpeg4::predict_index(n, rounding_, vx, vy);
    recon_predict(index, src, scratch, stride);
    const uint8_t* s = src_.y.origin + y * src_.y.stride + x;
    return n == 16 ? dsp().sad16(s, src_.y.stride, scratch, stride) : dsp().sad8(s, src_.y.stride, scratch, stride);
}

void VideoEncoder::begin_search() {
    if (++visit_stamp_ == 0) {
        std::fill(visited_.begin(), visited_.end(), 0u);
        visit_stamp_ = 1;
    }
}

bool VideoEncoder::first_visit(int vx, int vy) {
    const int reach = visit_reach_;
    uint32_t& v = visited_[static_cast<size_t>(vy + reach) * (2 * reach + 1) + (vx + reach)];
    if (v == visit_stamp_) return false;
    v = visit_stamp_;
    return true;
}

// Both searches keep the best by strictly lower cost, so costing a vector a second time can never change the
// result: each vector is costed once per search. A vector whose bits alone cost at least the best so far cannot win
// either, and its SAD is not computed.
void VideoEncoder::search16(int mbx, int mby, int px, int py, int lambda, int* best_x, int* best_y,
                            uint32_t* best_sad) {
    const DspFunctions& d = dsp();
    const int src_stride = src_.y.stride, ref_stride = ref_.y.stride;
    const uint8_t* s = src_.y.origin + 16 * mby * src_stride + 16 * mbx;
    const uint8_t* r = ref_.y.origin + 16 * mby * ref_stride + 16 * mbx;
    uint32_t best = UINT32_MAX, sad = 0;
    int bx = 0, by = 0;
    begin_search();
    auto try_v = [&](int vx, int vy) {
        if (!in_bounds(mbx, mby, vx, vy) || !first_visit(vx, vy)) return false;
        const uint32_t bits = static_cast<uint32_t>(lambda * (mv_bits(vx - px) + mv_bits(vy - py)));
        if (bits >= best) return false;
        const uint32_t sv = ((vx | vy) & 1) == 0
                                ? d.sad16(s, src_stride, r + (vy / 2) * ref_stride + vx / 2, ref_stride)
                                : sad_half(16 * mbx, 16 * mby, 16, vx, vy);
        if (sv + bits < best) {
            best = sv + bits;
            sad = sv;
            bx = vx;
            by = vy;
            return true;
        }
        return false;
    };
    auto try_full = [&](int vx, int vy) { return try_v(vx & ~1, vy & ~1); };
    // Predictive start: zero, the median predictor, the neighbours' vectors and last VOP's vector here.
    try_full(0, 0);
    try_full(px, py);
    auto cur = [&](int x, int y, int c) { return mv_cur_[(static_cast<size_t>(y) * mb_w_ + x) * 8 + c]; };
    if (mbx > 0) try_full(cur(mbx - 1, mby, 0), cur(mbx - 1, mby, 1));
    if (mby > 0) try_full(cur(mbx, mby - 1, 0), cur(mbx, mby - 1, 1));
    if (mby > 0 && mbx + 1 < mb_w_) try_full(cur(mbx + 1, mby - 1, 0), cur(mbx + 1, mby - 1, 1));
    const size_t here = (static_cast<size_t>(mby) * mb_w_ + mbx) * 8;
    try_full(mv_prev_[here], mv_prev_[here + 1]);
    // Small diamond refinement in full-pel steps.
    for (int iter = 0; iter < 64; ++iter) {
        const int cx = bx, cy = by;
        bool moved = false;
        moved |= try_full(cx + 2, cy);
        moved |= try_full(cx - 2, cy);
        moved |= try_full(cx, cy + 2);
        moved |= try_full(cx, cy - 2);
        if (!moved) break;
    }
    // Half-pel refinement around the best full-pel vector.
    const int cx = bx, cy = by;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (dx || dy) try_v(cx + dx, cy + dy);
    *best_x = bx;
    *best_y = by;
    *best_sad = sad;
}

void VideoEncoder::search8(int mbx, int mby, int block, int start_x, int start_y, int lambda, int px, int py,
                           int* best_x, int* best_y, uint32_t* best_sad) {
    const DspFunctions& d = dsp();
    const int x = 16 * mbx + 8 * (block & 1), y = 16 * mby + 8 * (block >> 1);
    const int src_stride = src_.y.stride, ref_stride = ref_.y.stride;
    const uint8_t* s = src_.y.origin + y * src_stride + x;
    const uint8_t* r = ref_.y.origin + y * ref_stride + x;
    uint32_t best = UINT32_MAX, sad = 0;
    int bx = start_x, by = start_y;
    begin_search();
    auto try_v = [&](int vx, int vy) {
        if (!in_bounds(mbx, mby, vx, vy) || !first_visit(vx, vy)) return false;
        const uint32_t bits = static_cast<uint32_t>(lambda * (mv_bits(vx - px) + mv_bits(vy - py)));
        if (bits >= best) return false;
        const uint32_t sv = ((vx | vy) & 1) == 0 ? d.sad8(s, src_stride, r + (vy / 2) * ref_stride + vx / 2, ref_stride)
                                                 : sad_half(x, y, 8, vx, vy);
        if (sv + bits < best) {
            best = sv + bits;
            sad = sv;
            bx = vx;
            by = vy;
            return true;
        }
        return false;
    };
    try_v(start_x, start_y);
    const int fx = start_x & ~1, fy = start_y & ~1;
    try_v(fx, fy);
    for (int iter = 0; iter < 8; ++iter) {
        const int cx = bx & ~1, cy = by & ~1;
        bool moved = false;
        moved |= try_v(cx + 2, cy);
        moved |= try_v(cx - 2, cy);
        moved |= try_v(cx, cy + 2);
        moved |= try_v(cx, cy - 2);
        if (!moved) break;
    }
    const int cx = bx, cy = by;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (dx || dy) try_v(cx + dx, cy + dy);
    *best_x = bx;
    *best_y = by;
    *best_sad = sad;
}

}  // namespace zorbrix::enc
