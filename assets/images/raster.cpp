#include "assets/images/raster.h"

#include <algorithm>
#include <cmath>

namespace zorbrix::assets {

Rgb mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

namespace {

// One box blur pass of radius r along rows (stride 1) or columns (stride w); edges read as 0.
void box_pass(std::vector<float>& v, int w, int h, int r, bool along_rows) {
    const int n = along_rows ? w : h;
    const int lines = along_rows ? h : w;
    const size_t step = along_rows ? 1 : size_t(w);
    std::vector<float> line(size_t(n) + 2 * r + 1, 0.0f);
    const float inv = 1.0f / float(2 * r + 1);
    for (int l = 0; l < lines; ++l) {
        float* base = v.data() + (along_rows ? size_t(l) * w : size_t(l));
        std::fill(line.begin(), line.end(), 0.0f);
        for (int i = 0; i < n; ++i) line[size_t(i + r)] = base[size_t(i) * step];
        // Running sum over the window [i, i + 2r] of the padded line.
        double sum = 0;
        for (int i = 0; i < 2 * r; ++i) sum += line[size_t(i)];
        for (int i = 0; i < n; ++i) {
            sum += line[size_t(i + 2 * r)];
            base[size_t(i) * step] = float(sum) * inv;
            sum -= line[size_t(i)];
        }
    }
}

}  // namespace

Mask glow(const Mask& m, float sigma, float gain) {
    // Three box passes of width 2r+1 give variance 3 * ((2r+1)^2 - 1) / 12 = r(r+1).
    const int r = std::max(1, int(std::lround((std::sqrt(1.0f + 4.0f * sigma * sigma) - 1.0f) * 0.5f)));
    const int pad = 3 * r + 1;
    Mask out(m.x0 - pad, m.y0 - pad, m.w + 2 * pad, m.h + 2 * pad);
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x) out.a[size_t(y + pad) * out.w + (x + pad)] = m.a[size_t(y) * m.w + x];
    for (int pass = 0; pass < 3; ++pass) {
        box_pass(out.a, out.w, out.h, r, true);
        box_pass(out.a, out.w, out.h, r, false);
    }
    for (float& v : out.a) v = std::min(1.0f, v * gain);
    return out;
}

Mask shifted(Mask m, int dx, int dy) {
    m.x0 += dx;
    m.y0 += dy;
    return m;
}

Mask unite(const Mask& a, const Mask& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    const int x0 = std::min(a.x0, b.x0), y0 = std::min(a.y0, b.y0);
    const int x1 = std::max(a.x0 + a.w, b.x0 + b.w), y1 = std::max(a.y0 + a.h, b.y0 + b.h);
    Mask out(x0, y0, x1 - x0, y1 - y0);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) out.ref(x, y) = std::max(a.at(x, y), b.at(x, y));
    return out;
}

Mask shape_mask(int x0, int y0, int w, int h, const Distance& d) {
    Mask m(x0, y0, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float dist = d(float(x0 + x) + 0.5f, float(y0 + y) + 0.5f);
            m.a[size_t(y) * w + x] = std::clamp(0.5f - dist, 0.0f, 1.0f);
        }
    return m;
}

float dist_segment(float px, float py, float ax, float ay, float bx, float by) {
    const float vx = bx - ax, vy = by - ay;
    const float len2 = vx * vx + vy * vy;
    const float t = len2 > 0 ? std::clamp(((px - ax) * vx + (py - ay) * vy) / len2, 0.0f, 1.0f) : 0.0f;
    return std::hypot(px - (ax + t * vx), py - (ay + t * vy));
}

float dist_circle(float px, float py, float cx, float cy, float radius) {
    return std::hypot(px - cx, py - cy) - radius;
}

float dist_diamond(float px, float py, float cx, float cy, float radius) {
    // L1 ball; scaled so that the edge distance is Euclidean.
    return (std::fabs(px - cx) + std::fabs(py - cy) - radius) * 0.70710678f;
}

float dist_round_rect(float px, float py, float x0, float y0, float x1, float y1, float radius) {
    const float cx = (x0 + x1) * 0.5f, cy = (y0 + y1) * 0.5f;
    const float hx = (x1 - x0) * 0.5f - radius, hy = (y1 - y0) * 0.5f - radius;
    const float qx = std::fabs(px - cx) - hx, qy = std::fabs(py - cy) - hy;
    const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - radius;
}

Canvas::Canvas(int width, int height) : w_(width), h_(height), px_(size_t(width) * height * 4, 0.0f) {}

void Canvas::fill(const Mask& m, const std::function<Rgb(int, int)>& paint, float opacity) {
    const int xs = std::max(0, m.x0), xe = std::min(w_, m.x0 + m.w);
    const int ys = std::max(0, m.y0), ye = std::min(h_, m.y0 + m.h);
    for (int y = ys; y < ye; ++y)
        for (int x = xs; x < xe; ++x) {
            const float a = m.a[size_t(y - m.y0) * m.w + (x - m.x0)] * opacity;
            if (a <= 0.0f) continue;
            const Rgb c = paint(x, y);
            float* p = &px_[(size_t(y) * w_ + x) * 4];
            const float k = 1.0f - a;
            p[0] = c.r * a + p[0] * k;
            p[1] = c.g * a + p[1] * k;
            p[2] = c.b * a + p[2] * k;
            p[3] = a + p[3] * k;
        }
}

void Canvas::fill(const Mask& m, Rgb colour, float opacity) {
    fill(
        m, [colour](int, int) { return colour; }, opacity);
}

void Canvas::draw(const Canvas& src, int x, int y) {
    for (int sy = 0; sy < src.h_; ++sy) {
        const int dy = y + sy;
        if (dy < 0 || dy >= h_) continue;
        for (int sx = 0; sx < src.w_; ++sx) {
            const int dx = x + sx;
            if (dx < 0 || dx >= w_) continue;
            const float* s = &src.px_[(size_t(sy) * src.w_ + sx) * 4];
            float* d = &px_[(size_t(dy) * w_ + dx) * 4];
            const float k = 1.0f - s[3];
            for (int i = 0; i < 4; ++i) d[i] = s[i] + d[i] * k;
        }
    }
}

Canvas Canvas::mirrored(bool horizontal, bool vertical) const {
    Canvas out(w_, h_);
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) {
            const int sx = horizontal ? w_ - 1 - x : x;
            const int sy = vertical ? h_ - 1 - y : y;
            std::copy_n(&px_[(size_t(sy) * w_ + sx) * 4], 4, &out.px_[(size_t(y) * w_ + x) * 4]);
        }
    return out;
}

void Canvas::attenuate(const std::function<float(int, int)>& f) {
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) {
            const float k = std::clamp(f(x, y), 0.0f, 1.0f);
            float* p = &px_[(size_t(y) * w_ + x) * 4];
            for (int i = 0; i < 4; ++i) p[i] *= k;
        }
}

std::vector<uint32_t> Canvas::to_argb() const {
    std::vector<uint32_t> out(size_t(w_) * h_);
    auto byte = [](float v) { return uint32_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    for (size_t i = 0; i < out.size(); ++i) {
        const float* p = &px_[i * 4];
        const uint32_t a = byte(p[3]);
        const uint32_t r = std::min(a, byte(p[0])), g = std::min(a, byte(p[1])), b = std::min(a, byte(p[2]));
        out[i] = a << 24 | r << 16 | g << 8 | b;
    }
    return out;
}

}  // namespace zorbrix::assets
