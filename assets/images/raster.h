#pragma once
// A small float raster for drawing the intro's pictures: coverage masks placed anywhere on a canvas,
// soft blurs for glows and shadows, anti-aliased shapes from distance functions, and a premultiplied
// RGBA canvas that composites with "source over".
#include <cstdint>
#include <functional>
#include <vector>

namespace zorbrix::assets {

struct Rgb {
    float r = 0, g = 0, b = 0;
};

constexpr Rgb rgb(uint32_t hex) {
    return {static_cast<float>((hex >> 16) & 0xff) / 255.0f, static_cast<float>((hex >> 8) & 0xff) / 255.0f,
            static_cast<float>(hex & 0xff) / 255.0f};
}
Rgb mix(Rgb a, Rgb b, float t);

// Coverage values 0..1 over the rectangle (x0, y0) .. (x0 + w, y0 + h) of canvas coordinates.
struct Mask {
    int x0 = 0, y0 = 0, w = 0, h = 0;
    std::vector<float> a;

    Mask() = default;
    Mask(int x, int y, int width, int height) : x0(x), y0(y), w(width), h(height), a(size_t(width) * height, 0.0f) {}
    float at(int x, int y) const {  // canvas coordinates; 0 outside
        x -= x0;
        y -= y0;
        return (x < 0 || y < 0 || x >= w || y >= h) ? 0.0f : a[size_t(y) * w + x];
    }
    float& ref(int x, int y) { return a[size_t(y - y0) * w + (x - x0)]; }
    bool empty() const { return w <= 0 || h <= 0; }
};

// The mask grown by `pad` pixels on every side and blurred (three box passes, close to a Gaussian with
// this standard deviation), then multiplied by `gain` and clamped to 1: a gain above 1 thickens the
// glow so it hugs thin strokes.
Mask glow(const Mask& m, float sigma, float gain);
// The same mask moved by (dx, dy).
Mask shifted(Mask m, int dx, int dy);
// Union by maximum of coverage; the result spans both.
Mask unite(const Mask& a, const Mask& b);

// Signed distance (negative inside) to a shape, in pixels; shape_mask() samples it at every pixel centre
// and turns it into anti-aliased coverage (one pixel wide edge).
using Distance = std::function<float(float x, float y)>;
Mask shape_mask(int x0, int y0, int w, int h, const Distance& d);
float dist_segment(float px, float py, float ax, float ay, float bx, float by);
float dist_circle(float px, float py, float cx, float cy, float radius);
float dist_diamond(float px, float py, float cx, float cy, float radius);
float dist_round_rect(float px, float py, float x0, float y0, float x1, float y1, float radius);

// Premultiplied RGBA in floats, 0..1.
class Canvas {
public:
    Canvas(int width, int height);
    int width() const { return w_; }
    int height() const { return h_; }

    // Source over, the source colour at canvas pixel (x, y) given by `paint`, its alpha = coverage x opacity.
    void fill(const Mask& m, const std::function<Rgb(int x, int y)>& paint, float opacity = 1.0f);
    void fill(const Mask& m, Rgb colour, float opacity = 1.0f);
    // Source over another canvas placed at (x, y).
    void draw(const Canvas& src, int x, int y);
    // Mirrors the picture left-right and/or top-bottom.
    Canvas mirrored(bool horizontal, bool vertical) const;
    // Every alpha multiplied by `f(x, y)` (a fade mask), colours with it.
    void attenuate(const std::function<float(int x, int y)>& f);

    // 0xAARRGGBB, colours premultiplied and rounded so that no colour byte exceeds alpha.
    std::vector<uint32_t> to_argb() const;

private:
    int w_, h_;
    std::vector<float> px_;  // r, g, b, a per pixel
};

}  // namespace zorbrix::assets
