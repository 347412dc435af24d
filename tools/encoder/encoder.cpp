// The encoder's frame loop: set-up, the picture type and quantiser of each picture, analysis, writing, and the
// hand-over of the reconstruction as the next reference.
#include "tools/encoder/encoder_internal.h"

#include <algorithm>
#include <cstring>

#include "tools/encoder/recon.h"

namespace zorbrix::enc {

void PaddedPlane::allocate(int w, int h, int m) {
    width = w;
    height = h;
    margin = m;
    stride = w + 2 * m;
    rows = h + 2 * m;
    mem.assign(static_cast<size_t>(stride) * rows + 16, 0);
    origin = mem.data() + static_cast<size_t>(m) * stride + m;
}

void PaddedPlane::pad() { recon_pad(origin, stride, rows, margin); }

void PaddedFrame::allocate(int w, int h) {
    y.allocate(w, h, mpeg4::kLumaMargin);
    u.allocate(w / 2, h / 2, mpeg4::kChromaMargin);
    v.allocate(w / 2, h / 2, mpeg4::kChromaMargin);
}

bool VideoEncoder::init(int width, int height, const EncoderOptions& options, std::string* error) {
    if (width <= 0 || height <= 0 || width % 16 || height % 16) {
        *error = "picture size " + std::to_string(width) + "x" + std::to_string(height) + " is not a multiple of 16";
        return false;
    }
    if (width > kMaxWidth || height > kMaxHeight) {
        *error = "picture size " + std::to_string(width) + "x" + std::to_string(height) +
                 " exceeds the decoder's limit of 720x576";
        return false;
    }
    if (options.qp < 1 || options.qp > 31) {
        *error = "quantiser must be 1..31";
        return false;
    }
    if (options.keyint < 1 || options.search < 1 || options.kbps < 0 || options.fps_num <= 0 || options.fps_den <= 0) {
        *error = "bad encoder options";
        return false;
    }
    opt_ = options;
    width_ = width;
    height_ = height;
    mb_w_ = width / 16;
    mb_h_ = height / 16;

    // Time base: the picture rate as resolution / increment, the resolution kept within 16 bits. A power of two is
    // multiplied by 3 so that the width of the time field never hinges on a floating-point log2 being exact.
    int64_t res = options.fps_num, inc = options.fps_den;
    while (res > 65535) {
        res = (res + 1) / 2;
        inc = std::max<int64_t>(1, (inc + 1) / 2);
    }
    if (res >= 2 && (res & (res - 1)) == 0 && res * 3 <= 65535) {
        res *= 3;
        inc *= 3;
    }
    time_res_ = static_cast<int>(res);
    time_inc_ = static_cast<int>(inc);

    src_.allocate(width, height);
    cur_.allocate(width, height);
    ref_.allocate(width, height);
    const size_t n_mb = static_cast<size_t>(mb_w_) * mb_h_;
    mv_cur_.assign(n_mb * 8, 0);
    mv_prev_.assign(n_mb * 8, 0);
    mb_intra_.assign(n_mb, 0);
    half_scratch_.assign(static_cast<size_t>(17) * cur_.y.stride, 0);
    // in_bounds() keeps vectors within the search range and within the reference's margins.
    visit_reach_ = 2 * std::min(options.search, std::max(width, height) + mpeg4::kLumaMargin + 16);
    visited_.assign(static_cast<size_t>(2 * visit_reach_ + 1) * (2 * visit_reach_ + 1), 0);
    visit_stamp_ = 0;
    for (int p = 0; p < 3; ++p) {
        const int bw = p == 0 ? 2 * mb_w_ : mb_w_, bh = p == 0 ? 2 * mb_h_ : mb_h_;
        pred_stride_[p] = bw + 1;
        const size_t cells = static_cast<size_t>(bh + 1) * (bw + 1);
        dc_[p].assign(cells, mpeg4::kDcPredictorDefault);
        ac_row_[p].assign(cells * 7, 0);
        ac_col_[p].assign(cells * 7, 0);
    }
    frame_index_ = 0;
    last_seconds_ = 0;
    rounding_ = 1;
    frames_since_intra_ = 0;
    header_written_ = false;
    have_ref_ = false;
    rc_complexity_p_ = rc_complexity_i_ = rc_buffer_ = 0;
    rc_last_qp_ = 0;
    return true;
}

void VideoEncoder::load_source(const YuvFrame& picture) {
    for (int y = 0; y < height_; ++y) {
        std::memcpy(src_.y.origin + y * src_.y.stride, picture.y.data() + static_cast<size_t>(y) * width_, width_);
    }
    const int cw = width_ / 2;
    for (int y = 0; y < height_ / 2; ++y) {
        std::memcpy(src_.u.origin + y * src_.u.stride, picture.u.data() + static_cast<size_t>(y) * cw, cw);
        std::memcpy(src_.v.origin + y * src_.v.stride, picture.v.data() + static_cast<size_t>(y) * cw, cw);
    }
}

std::vector<uint8_t> VideoEncoder::encode(const YuvFrame& picture) {
    load_source(picture);
    bool intra = !have_ref_ || frames_since_intra_ >= opt_.keyint;
    if (!intra) rounding_ ^= 1;
    int qp = choose_qp(intra);
    std::vector<MbCode> mbs(static_cast<size_t>(mb_w_) * mb_h_);
    analyse_vop(intra, qp, mbs);
    if (!intra && opt_.scene_cut && stats_.intra_mbs * 10 > static_cast<int>(mbs.size()) * 6) {
        // Most of the picture is new: an I-VOP codes it better and gives a clean reference.
        intra = true;
        qp = choose_qp(true);
        analyse_vop(true, qp, mbs);
    }
    const int fcode = intra ? 1 : vop_fcode(mbs);

    BitWriter bw;
    if (!header_written_) {
        mpeg4::write_layer_headers(bw, layer_header());
        header_written_ = true;
    }
    write_vop(bw, intra, qp, fcode, mbs);

    cur_.y.pad();
    cur_.u.pad();
    cur_.v.pad();
    std::swap(cur_, ref_);
    std::swap(mv_cur_, mv_prev_);
    have_ref_ = true;
    frames_since_intra_ = intra ? 1 : frames_since_intra_ + 1;
    ++frame_index_;

    std::vector<uint8_t> out = bw.take();
    stats_.intra = intra;
    stats_.qp = qp;
    stats_.fcode = fcode;
    stats_.bytes = static_cast<int>(out.size());
    update_rate(intra, qp, static_cast<int>(out.size()) * 8);
    return out;
}

void VideoEncoder::reconstruction(YuvFrame* out) const {
    out->allocate(width_, height_);
    for (int y = 0; y < height_; ++y) {
        std::memcpy(out->y.data() + static_cast<size_t>(y) * width_, ref_.y.origin + y * ref_.y.stride, width_);
    }
    const int cw = width_ / 2;
    for (int y = 0; y < height_ / 2; ++y) {
        std::memcpy(out->u.data() + static_cast<size_t>(y) * cw, ref_.u.origin + y * ref_.u.stride, cw);
        std::memcpy(out->v.data() + static_cast<size_t>(y) * cw, ref_.v.origin + y * ref_.v.stride, cw);
    }
}

}  // namespace zorbrix::enc
