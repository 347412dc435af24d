#pragma once
// The look shared by every picture: one palette that sits with the cream 3D objects over the dark, cool
// video, and a painter that gives every stroke a soft dark halo so light text reads over anything.
#include <functional>
#include <string>
#include <vector>

#include "assets/images/raster.h"
#include "assets/images/typeface.h"

namespace zorbrix::assets {

namespace palette {
constexpr Rgb kIvory = rgb(0xFFF6E4);   // brightest text, highlights
constexpr Rgb kCream = rgb(0xFAE0AF);   // the 3D objects' fill colour
constexpr Rgb kAmber = rgb(0xEBA85E);   // warm accent: headings, ornaments
constexpr Rgb kCopper = rgb(0xB86A3A);  // deep end of the warm gradients
constexpr Rgb kIce = rgb(0x9DD0EE);     // cool accent: labels, small print
constexpr Rgb kSteel = rgb(0x5E7F9E);   // muted cool lines
constexpr Rgb kInk = rgb(0x06101E);     // halos and shadows: darker than the darkest backdrop
}  // namespace palette

struct Halo {
    float sigma = 2.0f;    // softness in pixels
    float gain = 2.2f;     // >1 makes the halo hug thin strokes
    float opacity = 0.8f;  // 0 = no halo
    int dx = 0, dy = 1;    // a slight drop, as if lit from above
    Rgb colour = palette::kInk;
};

// A vertical gradient between two colours across [y_top, y_bottom] (canvas rows).
std::function<Rgb(int, int)> vertical(Rgb top, Rgb bottom, int y_top, int y_bottom);

// Collects strokes, then paints all halos first and all fills on top, so the halo of one line never dims
// the letters of its neighbour.
class Painter {
public:
    explicit Painter(Typesetter& type) : type_(type) {}
    Typesetter& type() { return type_; }

    void add(Mask mask, std::function<Rgb(int, int)> paint, const Halo& halo = {}, float opacity = 1.0f);
    void add(Mask mask, Rgb colour, const Halo& halo = {}, float opacity = 1.0f) {
        add(
            std::move(mask), [colour](int, int) { return colour; }, halo, opacity);
    }
    // Text with its pen at x; fill runs from `top` at cap height to `bottom` at the baseline.
    // Returns the advance width.
    int text(const FontSpec& font, const std::string& s, int x, int baseline, Rgb top, Rgb bottom,
             const Halo& halo = {});
    int text_centred(const FontSpec& font, const std::string& s, int centre_x, int baseline, Rgb top, Rgb bottom,
                     const Halo& halo = {});
    int text_right(const FontSpec& font, const std::string& s, int right_x, int baseline, Rgb top, Rgb bottom,
                   const Halo& halo = {});

    void paint(Canvas& canvas) const;

private:
    struct Stroke {
        Mask mask;
        std::function<Rgb(int, int)> paint;
        Halo halo;
        float opacity;
    };
    Typesetter& type_;
    std::vector<Stroke> strokes_;
};

// A soft dark backing: a rounded rectangle of ink whose alpha falls off over `soft` pixels at its edge.
void backing(Canvas& canvas, float x0, float y0, float x1, float y1, float radius, float soft, float opacity);

}  // namespace zorbrix::assets
