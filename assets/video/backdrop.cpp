#include "assets/video/backdrop.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/encoder/encoder.h"
#include "tools/encoder/nvd_writer.h"

namespace zorbrix::assets {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

double smooth(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// Cool, dark palette: night blue through deep indigo to a muted teal at the brightest folds.
Rgb palette(double v) {
    static const Rgb kStops[] = {{0.010, 0.014, 0.040},
                                 {0.030, 0.045, 0.120},
                                 {0.060, 0.090, 0.220},
                                 {0.070, 0.190, 0.300},
                                 {0.160, 0.330, 0.420}};
    v = std::clamp(v, 0.0, 1.0) * 4.0;
    const int i = std::min(3, static_cast<int>(v));
    return mix(kStops[i], kStops[i + 1], v - i);
}

// The picture at loop phase `phase` (0..2 pi), at picture coordinates u (0..1 across) and w (0..1 down).
// Every time term uses a whole number of turns per loop, so phase 2 pi equals phase 0 exactly.
Rgb shade(double u, double w, double phase) {
    const double x = u * 4.0 / 3.0, y = w;  // square units
    // Slow domain warp: the flow field itself drifts round once per loop.
    const double wx = 0.22 * std::sin(2.1 * y + 1.7 * x + phase) + 0.11 * std::sin(3.7 * x - 2.9 * y - 2 * phase + 1.0);
    const double wy = 0.20 * std::cos(1.9 * x - 2.3 * y - phase + 0.5) + 0.09 * std::cos(4.1 * y + 3.1 * x + 2 * phase);
    const double px = x + wx, py = y + wy;
    // Soft cloud layers.
    double v = 0.0;
    v += 0.50 * std::sin(3.1 * px + 1.6 * py + phase + 0.3);
    v += 0.40 * std::sin(-1.9 * px + 3.7 * py - phase + 1.9);
    v += 0.26 * std::sin(5.9 * px - 3.2 * py + 2 * phase + 4.0);
    v += 0.18 * std::sin(4.3 * px + 6.7 * py - 3 * phase + 2.2);
    v += 0.10 * std::sin(9.1 * px + 2.3 * py + 2 * phase + 0.7);
    v = 0.45 + 0.36 * v;
    // Brighter ridges where layers fold, kept soft.
    const double ridge = std::pow(1.0 - std::abs(std::sin(3.0 * px - 2.0 * py + 0.7 * v * kPi + phase)), 6.0);
    v += 0.18 * ridge;
    Rgb c = palette(v);
    // Two faint light shafts sweeping slowly across from the upper left.
    const double diag = 0.78 * x + 0.62 * y;
    const double shaft = 0.5 + 0.5 * std::sin(5.0 * diag - phase) * std::sin(2.0 * diag + 1.3 + phase);
    const double beam = smooth(0.55, 1.0, shaft) * (1.0 - 0.6 * y);
    c = mix(c, Rgb{0.22, 0.32, 0.45}, 0.22 * beam);
    // Vignette: darker towards the corners so the frame images and captions sit on calm ground.
    const double dx = u - 0.5, dy = w - 0.5;
    const double vig = 1.0 - 0.55 * smooth(0.2, 0.7, std::sqrt(dx * dx + dy * dy));
    return {c.r * vig, c.g * vig, c.b * vig};
}

void render_rgb_doubles(int index, std::vector<Rgb>& out) {
    const int n = ((index % kBackdropFrames) + kBackdropFrames) % kBackdropFrames;
    const double phase = 2.0 * kPi * n / kBackdropFrames;
    out.resize(static_cast<size_t>(kBackdropWidth) * kBackdropHeight);
    for (int y = 0; y < kBackdropHeight; ++y) {
        for (int x = 0; x < kBackdropWidth; ++x) {
            out[static_cast<size_t>(y) * kBackdropWidth + x] =
                shade((x + 0.5) / kBackdropWidth, (y + 0.5) / kBackdropHeight, phase);
        }
    }
}

uint8_t to8(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

void render_backdrop_rgb(int index, uint32_t* pixels) {
    std::vector<Rgb> img;
    render_rgb_doubles(index, img);
    for (size_t i = 0; i < img.size(); ++i) {
        pixels[i] = static_cast<uint32_t>(to8(img[i].r * 255)) << 16 | static_cast<uint32_t>(to8(img[i].g * 255)) << 8 |
                    to8(img[i].b * 255);
    }
}

enc::YuvFrame render_backdrop_yuv(int index, bool for_stream) {
    std::vector<Rgb> img;
    render_rgb_doubles(index, img);
    constexpr int w = kBackdropWidth, h = kBackdropHeight;
    enc::YuvFrame f;
    f.allocate(w, h);
    auto src = [&](int x, int y) -> const Rgb& {
        const int sy = for_stream ? h - 1 - y : y;
        return img[static_cast<size_t>(sy) * w + x];
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgb& c = src(x, y);
            f.y[static_cast<size_t>(y) * w + x] = to8(16.0 + 65.481 * c.r + 128.553 * c.g + 24.966 * c.b);
        }
    }
    for (int y = 0; y < h / 2; ++y) {
        for (int x = 0; x < w / 2; ++x) {
            double r = 0, g = 0, b = 0;
            for (int k = 0; k < 4; ++k) {
                const Rgb& c = src(2 * x + (k & 1), 2 * y + (k >> 1));
                r += c.r / 4;
                g += c.g / 4;
                b += c.b / 4;
            }
            f.u[static_cast<size_t>(y) * (w / 2) + x] = to8(128.0 - 37.797 * r - 74.203 * g + 112.0 * b);
            f.v[static_cast<size_t>(y) * (w / 2) + x] = to8(128.0 + 112.0 * r - 93.786 * g - 18.214 * b);
        }
    }
    return f;
}

bool write_backdrop(const std::string& path, std::string* error, int* qp_used) {
    std::vector<enc::YuvFrame> frames;
    frames.reserve(kBackdropFrames);
    for (int i = 0; i < kBackdropFrames; ++i) frames.push_back(render_backdrop_yuv(i, true));
    // Finest quantiser first; the picture is smooth, so this normally succeeds at once.
    for (int qp : {1, 2, 3, 4, 5, 6, 8, 10, 12, 16, 20, 31}) {
        enc::EncoderOptions opt;
        opt.qp = qp;
        opt.mv4 = true;
        opt.keyint = kBackdropFrames;  // one I-VOP: the loop restarts decoding at the first record anyway
        opt.fps_num = kBackdropFps;
        opt.fps_den = 1;
        enc::VideoEncoder encoder;
        if (!encoder.init(kBackdropWidth, kBackdropHeight, opt, error)) return false;
        std::vector<std::vector<uint8_t>> records;
        long long bytes = 20;
        for (const enc::YuvFrame& f : frames) {
            records.push_back(encoder.encode(f));
            bytes += 4 + static_cast<long long>(records.back().size());
        }
        if (bytes >= kBackdropMaxBytes) continue;
        enc::NvdWriter writer;
        if (!writer.open(path, kBackdropWidth, kBackdropHeight, static_cast<float>(kBackdropFps), error)) return false;
        for (const auto& r : records) {
            if (!writer.add_record(r)) {
                *error = "cannot write " + path;
                return false;
            }
        }
        if (!writer.finish(error)) return false;
        if (qp_used) *qp_used = qp;
        return true;
    }
    *error = "the backdrop does not fit in the size budget at any quantiser";
    return false;
}

bool write_backdrop_y4m(const std::string& path, std::string* error) {
    enc::Y4mWriter writer;
    if (!writer.open(path, enc::Y4mHeader{kBackdropWidth, kBackdropHeight, kBackdropFps, 1}, error)) return false;
    for (int i = 0; i < kBackdropFrames; ++i) writer.write_frame(render_backdrop_yuv(i, true));
    if (!writer.close()) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace zorbrix::assets
