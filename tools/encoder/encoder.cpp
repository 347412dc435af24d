#include "tools/encoder/encoder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tools/encoder/dsp.h"
#include "tools/encoder/recon.h"
#include "tools/encoder/scan.h"
#include "tools/encoder/vlc_codes.h"
#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/motion.h"

namespace zorbrix::enc {

namespace {

using mpeg4::dc_scaler;
using mpeg4::dequant;
using mpeg4::kChromaMargin;
using mpeg4::kLumaMargin;
constexpr int kDcDefault = mpeg4::kDcPredictorDefault;

int median3(int a, int b, int c) { return a + b + c - std::min({a, b, c}) - std::max({a, b, c}); }

// Vectors of a VOP are limited to -32 f .. 32 f - 1 half-pel units, f = 1 << (fcode - 1).
int fcode_for(int min_v, int max_v) {
    for (int fcode = 1; fcode <= 7; ++fcode) {
        const int f = 1 << (fcode - 1);
        if (min_v >= -32 * f && max_v <= 32 * f - 1) return fcode;
    }
    return 7;
}

int wrap_mvd(int mvd, int fcode) {
    const int f = 1 << (fcode - 1);
    if (mvd < -32 * f) mvd += 64 * f;
    if (mvd > 32 * f - 1) mvd -= 64 * f;
    return mvd;
}

}  // namespace

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
    y.allocate(w, h, kLumaMargin);
    u.allocate(w / 2, h / 2, kChromaMargin);
    v.allocate(w / 2, h / 2, kChromaMargin);
}

struct VideoEncoder::MbCode {
    int type = 3;  // -1 skipped, 0 inter, 2 inter4v, 3 intra
    int cbp = 0;   // bit 5 = block 0 ... bit 0 = block 5
    bool ac_pred = false;
    int16_t mv[4][2] = {};
    int16_t mvd[4][2] = {};  // vector minus its predictor, before wrapping
    int dc_diff[6] = {};
    uint8_t scan[6] = {};
    int16_t level[6][64];  // levels to code, raster order; intra blocks: AC after prediction
};

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
    if (options.keyint < 1 || options.search < 1 || options.kbps < 0 || options.fps_num <= 0 ||
        options.fps_den <= 0) {
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
    for (int p = 0; p < 3; ++p) {
        const int bw = p == 0 ? 2 * mb_w_ : mb_w_, bh = p == 0 ? 2 * mb_h_ : mb_h_;
        pred_stride_[p] = bw + 1;
        const size_t cells = static_cast<size_t>(bh + 1) * (bw + 1);
        dc_[p].assign(cells, kDcDefault);
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

mpeg4::LayerHeader VideoEncoder::layer_header() const {
    mpeg4::LayerHeader layer;  // the defaults are the plain layer this encoder codes
    layer.width = width_;
    layer.height = height_;
    layer.time_resolution = time_res_;
    return layer;
}

void VideoEncoder::write_vop_header(BitWriter& bw, bool intra, int qp, int fcode) {
    const int64_t ticks = frame_index_ * time_inc_;
    const int64_t seconds = ticks / time_res_;
    mpeg4::VopHeader vop;
    vop.coding_type = intra ? 0 : 1;
    vop.modulo_time_base = static_cast<int>(seconds - last_seconds_);
    vop.time_increment = static_cast<int>(ticks % time_res_);
    vop.rounding_type = rounding_;
    vop.intra_dc_vlc_thr = 0;  // intra DC always coded separately
    vop.quant = qp;
    vop.fcode_forward = fcode;
    mpeg4::write_vop_header(bw, layer_header(), vop);
    last_seconds_ = seconds;
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
    int min_v = 0, max_v = 0;
    for (const MbCode& mb : mbs) {
        for (const auto& v : mb.mv) {
            min_v = std::min({min_v, static_cast<int>(v[0]), static_cast<int>(v[1])});
            max_v = std::max({max_v, static_cast<int>(v[0]), static_cast<int>(v[1])});
        }
    }
    const int fcode = intra ? 1 : fcode_for(min_v, max_v);

    BitWriter bw;
    if (!header_written_) {
        mpeg4::write_layer_headers(bw, layer_header());
        header_written_ = true;
    }
    write_vop_header(bw, intra, qp, fcode);
    for (size_t i = 0; i + 1 < mbs.size(); ++i) write_mb(bw, !intra, mbs[i], fcode);
    // The decoder ends a VOP early when, after the second-to-last macroblock, the bits from the next byte
    // boundary on look like a start code. That happens when the last macroblock and the stuffing fit in what is
    // left of the current byte, as a skipped or a plain zero-difference macroblock can. Such a last macroblock is
    // sent as a four-vector macroblock with four equal vectors instead: the same picture, more bits.
    MbCode last = mbs.back();
    if (!intra && (last.type == -1 || last.type == 0)) {
        BitWriter probe;
        write_mb(probe, true, last, fcode);
        const int left = static_cast<int>((8 - bw.bit_count() % 8) % 8);
        if (left > 0 && static_cast<int>(probe.bit_count()) + 1 <= left) {
            last.type = 2;
            for (int b = 1; b < 4; ++b) {
                last.mv[b][0] = last.mv[0][0];
                last.mv[b][1] = last.mv[0][1];
            }
            for (int b = 0; b < 4; ++b) {
                int px, py;
                vector_predictor(mb_w_ - 1, mb_h_ - 1, b, last.mv, &px, &py);
                last.mvd[b][0] = static_cast<int16_t>(last.mv[b][0] - px);
                last.mvd[b][1] = static_cast<int16_t>(last.mv[b][1] - py);
            }
        }
    }
    write_mb(bw, !intra, last, fcode);
    bw.stuff();

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

void VideoEncoder::analyse_vop(bool intra, int qp, std::vector<MbCode>& mbs) {
    stats_ = FrameStats{};
    std::fill(mb_intra_.begin(), mb_intra_.end(), static_cast<int8_t>(intra ? 1 : 0));
    std::fill(mv_cur_.begin(), mv_cur_.end(), static_cast<int16_t>(0));
    for (int mby = 0; mby < mb_h_; ++mby) {
        for (int mbx = 0; mbx < mb_w_; ++mbx) {
            MbCode& mb = mbs[static_cast<size_t>(mby) * mb_w_ + mbx];
            mb = MbCode{};
            if (intra) {
                analyse_intra_mb(mbx, mby, false, qp, mb);
            } else {
                analyse_inter_mb(mbx, mby, qp, mb);
            }
            switch (mb.type) {
                case -1: ++stats_.skipped_mbs; break;
                case 0: ++stats_.inter_mbs; break;
                case 2: ++stats_.inter4v_mbs; break;
                default: ++stats_.intra_mbs; break;
            }
        }
    }
}

void VideoEncoder::analyse_intra_mb(int mbx, int mby, bool p_vop, int qp, MbCode& mb) {
    const DspFunctions& d = dsp();
    mb.type = 3;
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
        bool coded = false;
        for (int k = 1; k < 64 && !coded; ++k) coded = mb.level[i][k] != 0;
        if (coded) mb.cbp |= 1 << (5 - i);

        // Reconstruction, as the decoder does it from the true levels.
        const bool luma = i < 4;
        const int scaler = dc_scaler(qp, luma);
        int16_t block[64];
        block[0] = static_cast<int16_t>(qdc[i] * scaler);
        for (int k = 1; k < 64; ++k) block[k] = true_level[i][k] ? dequant(true_level[i][k], qp) : 0;
        recon_idct(block);
        PaddedPlane& cp = luma ? cur_.y : i == 4 ? cur_.u : cur_.v;
        const int by = luma ? 2 * mby + (i >> 1) : mby;
        const int bx = luma ? 2 * mbx + (i & 1) : mbx;
        recon_put(block, cp.origin + by * 8 * cp.stride + bx * 8, cp.stride);
    }
}

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

void VideoEncoder::analyse_inter_mb(int mbx, int mby, int qp, MbCode& mb) {
    const DspFunctions& d = dsp();
    const size_t mbi = static_cast<size_t>(mby) * mb_w_ + mbx;
    const int lambda = std::max(1, qp);
    int16_t zero[4][2] = {};
    int px, py;
    vector_predictor(mbx, mby, 0, zero, &px, &py);
    int vx, vy;
    uint32_t sad16;
    search16(mbx, mby, px, py, lambda, &vx, &vy, &sad16);
    const uint32_t cost_16 = sad16 + static_cast<uint32_t>(lambda * (mvd_bits(vx - px, 1) + mvd_bits(vy - py, 1)));

    // Intra when the macroblock's own variation is well below what motion leaves.
    const uint8_t* s = src_.y.origin + 16 * mby * src_.y.stride + 16 * mbx;
    int sum = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) sum += s[y * src_.y.stride + x];
    const int mean = (sum + 128) >> 8;
    uint32_t dev = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) dev += static_cast<uint32_t>(std::abs(s[y * src_.y.stride + x] - mean));
    if (dev + 500 < sad16) {
        analyse_intra_mb(mbx, mby, true, qp, mb);
        return;
    }

    mb.type = 0;
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
            mb.type = 2;
            std::memcpy(mb.mv, four, sizeof(four));
        }
    }
    // Vector differences against the predictors the decoder forms.
    for (int b = 0; b < (mb.type == 2 ? 4 : 1); ++b) {
        int bpx, bpy;
        vector_predictor(mbx, mby, b, mb.mv, &bpx, &bpy);
        mb.mvd[b][0] = static_cast<int16_t>(mb.mv[b][0] - bpx);
        mb.mvd[b][1] = static_cast<int16_t>(mb.mv[b][1] - bpy);
    }

    motion_compensate(mbx, mby, mb.mv, mb.type == 2);
    mb.cbp = 0;
    // An inter level is non-zero from |coefficient| >= 2 qp + qp / 2 on.
    const int zero_block_limit = 4 * (2 * qp + qp / 2 - 2);
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
        if (static_cast<int>(d.sad8(sb, sp.stride, pb, cp.stride)) < zero_block_limit) {
            std::memset(mb.level[i], 0, sizeof(mb.level[i]));
            continue;
        }
        int16_t coef[64];
        d.diff8(sb, sp.stride, pb, cp.stride, coef);
        d.fdct(coef);
        if (d.quant(coef, mb.level[i], qp, qp / 2)) mb.cbp |= 1 << (5 - i);
    }
    if (mb.type == 0 && mb.mv[0][0] == 0 && mb.mv[0][1] == 0 && mb.cbp == 0) {
        mb.type = -1;  // not coded: the decoder copies the co-located area, which is this prediction
    }
    for (int i = 0; i < 6; ++i) {
        if (!(mb.cbp & (1 << (5 - i)))) continue;
        const bool luma = i < 4;
        PaddedPlane& cp = luma ? cur_.y : i == 4 ? cur_.u : cur_.v;
        const int row = luma ? 16 * mby + 8 * (i >> 1) : 8 * mby;
        const int col = luma ? 16 * mbx + 8 * (i & 1) : 8 * mbx;
        int16_t block[64];
        for (int k = 0; k < 64; ++k) block[k] = mb.level[i][k] ? dequant(mb.level[i][k], qp) : 0;
        recon_idct(block);
        recon_add(block, cp.origin + row * cp.stride + col, cp.stride);
    }
    for (int b = 0; b < 4; ++b) {
        mv_cur_[mbi * 8 + b * 2] = mb.mv[b][0];
        mv_cur_[mbi * 8 + b * 2 + 1] = mb.mv[b][1];
    }
}

void VideoEncoder::write_mb(BitWriter& bw, bool p_vop, const MbCode& mb, int fcode) const {
    if (p_vop) {
        bw.put_bits(mb.type == -1 ? 1 : 0, 1);  // not_coded
        if (mb.type == -1) return;
    }
    const bool intra = mb.type == 3;
    const int cbpc = mb.cbp & 3, cbpy = mb.cbp >> 2;
    put_mcbpc(bw, p_vop, mb.type, cbpc);
    if (intra) bw.put_bits(mb.ac_pred ? 1 : 0, 1);
    put_cbpy(bw, intra ? cbpy : 15 - cbpy);
    if (!intra) {
        for (int b = 0; b < (mb.type == 2 ? 4 : 1); ++b) {
            put_mvd(bw, wrap_mvd(mb.mvd[b][0], fcode), fcode);
            put_mvd(bw, wrap_mvd(mb.mvd[b][1], fcode), fcode);
        }
    }
    for (int i = 0; i < 6; ++i) {
        if (intra) put_intra_dc(bw, i < 4, mb.dc_diff[i]);
        if (!(mb.cbp & (1 << (5 - i)))) continue;
        const uint8_t* scan = kScans[mb.scan[i]];
        const int first = intra ? 1 : 0;
        int last_pos = -1;
        for (int k = 63; k >= first; --k) {
            if (mb.level[i][scan[k]]) {
                last_pos = k;
                break;
            }
        }
        int run = 0;
        for (int k = first; k <= last_pos; ++k) {
            const int lv = mb.level[i][scan[k]];
            if (!lv) {
                ++run;
                continue;
            }
            put_tcoef(bw, intra, k == last_pos, run, lv);
            run = 0;
        }
    }
}

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
