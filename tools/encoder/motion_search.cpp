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

void VideoEncoder::vector_predictor(int mbx, int mby, int block, const int16_t (&own)[4][2], int* px,
                                    int* py) const {
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
    alignas(16) static thread_local uint8_t scratch[17 * (VideoEncoder::kMaxWidth + 64)];
    const uint8_t* src = ref_.y.origin + (y + (vy >> 1)) * stride + x + (vx >> 1);
    const int index = mpeg4::predict_index(n, rounding_, vx, vy);
    recon_predict(index, src, scratch, stride);
    const uint8_t* s = src_.y.origin + y * src_.y.stride + x;
    return n == 16 ? dsp().sad16(s, src_.y.stride, scratch, stride) : dsp().sad8(s, src_.y.stride, scratch, stride);
}

uint32_t VideoEncoder::cost16(int mbx, int mby, int vx, int vy, int px, int py, int lambda, uint32_t* sad_out) {
    uint32_t sad;
    if (((vx | vy) & 1) == 0) {
        const uint8_t* s = src_.y.origin + 16 * mby * src_.y.stride + 16 * mbx;
        const uint8_t* r = ref_.y.origin + (16 * mby + vy / 2) * ref_.y.stride + 16 * mbx + vx / 2;
        sad = dsp().sad16(s, src_.y.stride, r, ref_.y.stride);
    } else {
        sad = sad_half(16 * mbx, 16 * mby, 16, vx, vy);
    }
    if (sad_out) *sad_out = sad;
    return sad + static_cast<uint32_t>(lambda * (mvd_bits(vx - px, 1) + mvd_bits(vy - py, 1)));
}

void VideoEncoder::search16(int mbx, int mby, int px, int py, int lambda, int* best_x, int* best_y,
                            uint32_t* best_sad) {
    uint32_t best = UINT32_MAX, sad = 0;
    int bx = 0, by = 0;
    auto try_full = [&](int vx, int vy) {
        vx &= ~1;
        vy &= ~1;
        if (!in_bounds(mbx, mby, vx, vy)) return false;
        uint32_t s;
        const uint32_t c = cost16(mbx, mby, vx, vy, px, py, lambda, &s);
        if (c < best) {
            best = c;
            sad = s;
            bx = vx;
            by = vy;
            return true;
        }
        return false;
    };
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
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (!dx && !dy) continue;
            const int vx = cx + dx, vy = cy + dy;
            if (!in_bounds(mbx, mby, vx, vy)) continue;
            uint32_t s;
            const uint32_t c = cost16(mbx, mby, vx, vy, px, py, lambda, &s);
            if (c < best) {
                best = c;
                sad = s;
                bx = vx;
                by = vy;
            }
        }
    }
    *best_x = bx;
    *best_y = by;
    *best_sad = sad;
}

void VideoEncoder::search8(int mbx, int mby, int block, int start_x, int start_y, int lambda, int px, int py,
                           int* best_x, int* best_y, uint32_t* best_sad) {
    const int x = 16 * mbx + 8 * (block & 1), y = 16 * mby + 8 * (block >> 1);
    uint32_t best = UINT32_MAX, sad = 0;
    int bx = start_x, by = start_y;
    auto eval = [&](int vx, int vy, uint32_t* s) {
        if (((vx | vy) & 1) == 0) {
            *s = dsp().sad8(src_.y.origin + y * src_.y.stride + x, src_.y.stride,
                            ref_.y.origin + (y + vy / 2) * ref_.y.stride + x + vx / 2, ref_.y.stride);
        } else {
            *s = sad_half(x, y, 8, vx, vy);
        }
        return *s + static_cast<uint32_t>(lambda * (mvd_bits(vx - px, 1) + mvd_bits(vy - py, 1)));
    };
    auto try_v = [&](int vx, int vy) {
        if (!in_bounds(mbx, mby, vx, vy)) return false;
        uint32_t s;
        const uint32_t c = eval(vx, vy, &s);
        if (c < best) {
            best = c;
            sad = s;
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
