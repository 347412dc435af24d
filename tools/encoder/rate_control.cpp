// Rate control: the quantiser of each picture from a complexity model per picture type and a running excess of
// bits, and its update after each coded picture.
#include "tools/encoder/encoder_internal.h"

#include <algorithm>
#include <cmath>

namespace zorbrix::enc {

int VideoEncoder::choose_qp(bool intra) {
    if (opt_.kbps == 0) return opt_.qp;
    const double target = opt_.kbps * 1000.0 * opt_.fps_den / opt_.fps_num;
    int qp;
    if (rc_last_qp_ == 0) {
        // First picture: a rough guess from the bits each pixel may take.
        const double bpp = target / (static_cast<double>(width_) * height_);
        qp = static_cast<int>(std::lround(0.3 / std::max(bpp, 1e-3)));
    } else if (intra) {
        qp = rc_complexity_i_ > 0 ? static_cast<int>(std::lround(rc_complexity_i_ / (target * 3.0))) : rc_last_qp_;
        qp = std::clamp(qp, rc_last_qp_ - 2, rc_last_qp_ + 2);
    } else {
        // Bits scale roughly with 1 / qp; steer the running excess back to zero over about a second.
        const double fps = static_cast<double>(opt_.fps_num) / opt_.fps_den;
        const double want = std::max(target * 0.25, target - rc_buffer_ / std::max(1.0, fps));
        qp = rc_complexity_p_ > 0 ? static_cast<int>(std::lround(rc_complexity_p_ / want)) : rc_last_qp_;
        qp = std::clamp(qp, rc_last_qp_ - 2, rc_last_qp_ + 2);
    }
    return std::clamp(qp, 1, 31);
}

void VideoEncoder::update_rate(bool intra, int qp, int bits) {
    if (opt_.kbps == 0) return;
    const double target = opt_.kbps * 1000.0 * opt_.fps_den / opt_.fps_num;
    const double x = static_cast<double>(bits) * qp;
    double& c = intra ? rc_complexity_i_ : rc_complexity_p_;
    c = c > 0 ? 0.6 * c + 0.4 * x : x;
    if (intra && rc_complexity_p_ == 0) rc_complexity_p_ = x / 4;
    rc_buffer_ += bits - target;
    rc_last_qp_ = qp;
}

}  // namespace zorbrix::enc
