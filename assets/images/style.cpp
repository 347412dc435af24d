#include "assets/images/style.h"

#include <algorithm>
#include <cmath>

namespace zorbrix::assets {

std::function<Rgb(int, int)> vertical(Rgb top, Rgb bottom, int y_top, int y_bottom) {
    const float span = float(std::max(1, y_bottom - y_top));
    return [=](int, int y) { return mix(top, bottom, std::clamp(float(y - y_top) / span, 0.0f, 1.0f)); };
}

void Painter::add(Mask mask, std::function<Rgb(int, int)> paint, const Halo& halo, float opacity) {
    if (mask.empty()) return;
    strokes_.push_back({std::move(mask), std::move(paint), halo, opacity});
}

int Painter::text(const FontSpec& font, const std::string& s, int x, int baseline, Rgb top, Rgb bottom,
                  const Halo& halo) {
    const int cap = type_.cap_height(font);
    add(type_.render(font, s, x, baseline), vertical(top, bottom, baseline - cap, baseline), halo);
    return type_.measure(font, s);
}

int Painter::text_centred(const FontSpec& font, const std::string& s, int centre_x, int baseline, Rgb top, Rgb bottom,
                          const Halo& halo) {
    const int w = type_.measure(font, s);
    return text(font, s, centre_x - w / 2, baseline, top, bottom, halo);
}

int Painter::text_right(const FontSpec& font, const std::string& s, int right_x, int baseline, Rgb top, Rgb bottom,
                        const Halo& halo) {
    const int w = type_.measure(font, s);
    return text(font, s, right_x - w, baseline, top, bottom, halo);
}

void Painter::paint(Canvas& canvas) const {
    for (const Stroke& s : strokes_) {
        if (s.halo.opacity <= 0.0f) continue;
        canvas.fill(shifted(glow(s.mask, s.halo.sigma, s.halo.gain), s.halo.dx, s.halo.dy), s.halo.colour,
                    s.halo.opacity * s.opacity);
    }
    for (const Stroke& s : strokes_) canvas.fill(s.mask, s.paint, s.opacity);
}

void backing(Canvas& canvas, float x0, float y0, float x1, float y1, float radius, float soft, float opacity) {
    const int ix0 = int(std::floor(x0 - soft)), iy0 = int(std::floor(y0 - soft));
    const int ix1 = int(std::ceil(x1 + soft)), iy1 = int(std::ceil(y1 + soft));
    Mask m = shape_mask(ix0, iy0, ix1 - ix0, iy1 - iy0,
                        [=](float x, float y) { return dist_round_rect(x, y, x0, y0, x1, y1, radius); });
    // Replace the hard edge by a smooth fall-off measured from the inside.
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x) {
            const float d = dist_round_rect(float(ix0 + x) + 0.5f, float(iy0 + y) + 0.5f, x0, y0, x1, y1, radius);
            const float t = std::clamp((-d) / soft, 0.0f, 1.0f);
            m.a[size_t(y) * m.w + x] = t * t * (3.0f - 2.0f * t);
        }
    canvas.fill(m, palette::kInk, opacity);
}

}  // namespace zorbrix::assets
