#include "assets/images/pictures.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "assets/images/style.h"

namespace zorbrix::assets {

using namespace palette;

Picture make_picture(const std::string& name, const Canvas& canvas) {
    return {name, canvas.width(), canvas.height(), canvas.to_argb()};
}

namespace {

// Scales coverage by f(x, y), for strokes that fade out along their length.
Mask faded(Mask m, const std::function<float(float, float)>& f) {
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x)
            m.a[size_t(y) * m.w + x] *= std::clamp(f(float(m.x0 + x) + 0.5f, float(m.y0 + y) + 0.5f), 0.0f, 1.0f);
    return m;
}

Mask line_mask(float ax, float ay, float bx, float by, float thickness) {
    const float pad = thickness + 2;
    const int x0 = int(std::floor(std::min(ax, bx) - pad)), y0 = int(std::floor(std::min(ay, by) - pad));
    const int x1 = int(std::ceil(std::max(ax, bx) + pad)), y1 = int(std::ceil(std::max(ay, by) + pad));
    return shape_mask(x0, y0, x1 - x0, y1 - y0,
                      [=](float x, float y) { return dist_segment(x, y, ax, ay, bx, by) - thickness * 0.5f; });
}

Mask diamond_mask(float cx, float cy, float radius) {
    const int r = int(std::ceil(radius)) + 2;
    return shape_mask(int(cx) - r, int(cy) - r, 2 * r + 1, 2 * r + 1,
                      [=](float x, float y) { return dist_diamond(x, y, cx, cy, radius); });
}

// "Chrome" fill for display lettering: light sky above a horizon line, warm metal below it.
std::function<Rgb(int, int)> chrome(int cap_top, int baseline) {
    const float span = float(std::max(1, baseline - cap_top));
    return [=](int, int y) {
        const float t = std::clamp(float(y - cap_top) / span, 0.0f, 1.0f);
        if (t < 0.52f) return mix(kCream, kIvory, t / 0.52f);
        return mix(kCopper, mix(kAmber, kIvory, 0.35f), (t - 0.52f) / 0.48f);
    };
}

// Display lettering: a dark outline hugging the letters, a wide soft shadow, and a chrome fill.
void display_text(Painter& p, const FontSpec& font, const std::string& s, int centre_x, int baseline) {
    Typesetter& type = p.type();
    const int w = type.measure(font, s);
    const int cap = type.cap_height(font);
    Mask letters = type.render(font, s, centre_x - w / 2, baseline);
    Halo wide;
    wide.sigma = float(font.pixel_size) * 0.09f;
    wide.gain = 1.6f;
    wide.opacity = 0.9f;
    wide.dy = std::max(1, font.pixel_size / 24);
    p.add(glow(letters, 0.9f, 5.0f), kInk, wide, 0.95f);
    p.add(std::move(letters), chrome(baseline - cap, baseline), Halo{0, 0, 0, 0, 0, kInk});
}

// A centred rule: two lines fading outwards from a small diamond, leaving a gap of `gap` around it.
void ornament_rule(Painter& p, float cx, float y, float half_length, float gap, Rgb colour) {
    const Halo halo{1.4f, 2.0f, 0.7f, 0, 0, kInk};
    auto fade = [=](float x, float) {
        const float d = std::fabs(x - cx);
        return 1.0f - std::clamp((d - gap) / (half_length - gap), 0.0f, 1.0f);
    };
    p.add(faded(line_mask(cx - half_length, y, cx - gap, y, 1.2f), fade), colour, halo);
    p.add(faded(line_mask(cx + gap, y, cx + half_length, y, 1.2f), fade), colour, halo);
    p.add(diamond_mask(cx, y, 3.6f), kAmber, halo);
}

// A four-pointed glint: two thin crossed spikes with a soft light glow.
void sparkle(Painter& p, float cx, float cy, float size) {
    const int r = int(std::ceil(size)) + 2;
    Mask m = shape_mask(int(cx) - r, int(cy) - r, 2 * r + 1, 2 * r + 1, [=](float x, float y) {
        const float dx = std::fabs(x - cx), dy = std::fabs(y - cy);
        constexpr float w = 1.4f;
        const float vertical_spike = (dx / w + dy / size - 1.0f) * w;
        const float horizontal_spike = (dy / w + dx / size - 1.0f) * w;
        return std::min(vertical_spike, horizontal_spike);
    });
    p.add(std::move(m), kIvory, Halo{2.2f, 3.0f, 0.55f, 0, 0, kIvory});
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Countdown glyphs: bold digits centred in equal cells, so the clock never jitters as digits change.

namespace {

FontSpec clock_font() { return {Face::SansBold, 36, 0, false}; }

int clock_baseline(Typesetter& type) {
    const int cap = type.cap_height(clock_font());
    return (kGlyphHeight + cap) / 2;
}

Halo clock_halo() { return {1.8f, 2.6f, 0.92f, 0, 1, kInk}; }

// Glyphs are drawn side by side: fade the halo out towards the cell's left and right edges, so that it
// ends softly instead of being cut off where the cell ends.
void soften_cell_edges(Canvas& canvas) {
    const float w = float(canvas.width());
    canvas.attenuate([w](int x, int) {
        const float cx = float(x) + 0.5f;
        return std::min({1.0f, cx / 3.5f, (w - cx) / 3.5f});
    });
}

std::function<Rgb(int, int)> clock_fill(int cap_top, int baseline) {
    return vertical(kIvory, mix(kAmber, kCream, 0.25f), cap_top, baseline);
}

}  // namespace

Canvas draw_digit(Typesetter& type, int digit) {
    Canvas canvas(kDigitWidth, kGlyphHeight);
    const FontSpec font = clock_font();
    const std::string s(1, char('0' + digit));
    const int baseline = clock_baseline(type);
    Mask m = type.render(font, s, 0, baseline);
    // Centre the ink in the cell, so that narrow digits such as 1 sit in the middle.
    m = shifted(std::move(m), (kDigitWidth - m.w) / 2 - m.x0, 0);
    Painter p(type);
    p.add(std::move(m), clock_fill(baseline - type.cap_height(font), baseline), clock_halo());
    p.paint(canvas);
    soften_cell_edges(canvas);
    return canvas;
}

Canvas draw_colon(Typesetter& type) {
    Canvas canvas(kColonWidth, kGlyphHeight);
    const int baseline = clock_baseline(type);
    const int cap = type.cap_height(clock_font());
    const float cx = kColonWidth * 0.5f, r = 2.9f;
    const float y1 = float(baseline) - float(cap) * 0.74f, y2 = float(baseline) - float(cap) * 0.22f;
    Mask m = shape_mask(0, 0, kColonWidth, kGlyphHeight, [=](float x, float y) {
        return std::min(dist_round_rect(x, y, cx - r, y1 - r, cx + r, y1 + r, 1.2f),
                        dist_round_rect(x, y, cx - r, y2 - r, cx + r, y2 + r, 1.2f));
    });
    Painter p(type);
    p.add(std::move(m), clock_fill(baseline - cap, baseline), clock_halo());
    p.paint(canvas);
    soften_cell_edges(canvas);
    return canvas;
}

// ---------------------------------------------------------------------------------------------------------------
// Corner frame: a double bracket that fades along its arms, a diamond where the inner lines meet, and a
// quarter-circle flourish between them.

Canvas draw_corner(Typesetter& type) {
    const float S = float(kCornerSize);
    Canvas canvas(kCornerSize, kCornerSize);
    Painter p(type);
    const Halo halo{1.5f, 1.3f, 0.7f, 0, 0, kInk};
    auto arm_fade = [S](float start) {
        return [S, start](float x, float y) {
            const float d = std::max(x, y);
            return 1.0f - std::clamp((d - start) / (S - 4.0f - start), 0.0f, 1.0f);
        };
    };
    const float o = 6.5f, i = 12.5f;
    // Outer hairlines run almost the full size; inner, heavier lines are shorter.
    p.add(faded(line_mask(o, o, S - 4, o, 1.2f), arm_fade(20)), kCream, halo);
    p.add(faded(line_mask(o, o, o, S - 4, 1.2f), arm_fade(20)), kCream, halo);
    p.add(faded(line_mask(i, i, S * 0.62f, i, 2.2f), arm_fade(14)), vertical(kIvory, kAmber, 8, 16), halo);
    p.add(faded(line_mask(i, i, i, S * 0.62f, 2.2f), arm_fade(14)), kAmber, halo);
    // Flourish: a quarter circle around the corner point, tying the two inner arms together.
    const float R = 17.0f;
    p.add(shape_mask(0, 0, kCornerSize, kCornerSize,
                     [=](float x, float y) {
                         const float ring = std::fabs(dist_circle(x, y, i, i, R)) - 0.6f;
                         return (x < i || y < i) ? 1e3f : ring;
                     }),
          kCream, halo);
    // Small dots where the flourish meets the arms, and one out on each arm.
    for (const auto& [x, y, r] :
         {std::tuple{i + R, i, 1.9f}, {i, i + R, 1.9f}, {S * 0.62f + 6, o, 1.4f}, {o, S * 0.62f + 6, 1.4f}}) {
        p.add(
            shape_mask(int(x) - 4, int(y) - 4, 9, 9, [=](float px, float py) { return dist_circle(px, py, x, y, r); }),
            kIvory, halo);
    }
    p.add(diamond_mask(i, i, 5.5f), vertical(kIvory, kAmber, 7, 18), halo);
    p.paint(canvas);
    return canvas;
}

// ---------------------------------------------------------------------------------------------------------------
// The large party logo.

Canvas draw_logo(Typesetter& type) {
    Canvas canvas(420, 200);
    backing(canvas, 26, 26, 394, 178, 40, 30, 0.55f);
    Painter p(type);
    const FontSpec big{Face::SansBold, 78, 3.0f, false};
    display_text(p, big, "ZORBRIX", 210, 106);
    // Glints on the first and the last letter.
    const int half = type.measure(big, "ZORBRIX") / 2;
    const int cap = type.cap_height(big);
    sparkle(p, float(210 - half + 6), float(106 - cap + 4), 13.0f);
    sparkle(p, float(210 + half - 10), float(106 - 6), 9.0f);
    ornament_rule(p, 210, 128, 170, 9, kCream);
    const FontSpec tag{Face::SansBold, 13, 3.2f, false};
    p.text_centred(tag, "LAN PARTY  \u00b7  16\u201318 APRIL 2027", 210, 156, mix(kIvory, kIce, 0.6f), kIce,
                   {1.6f, 3.0f, 0.95f, 0, 1, kInk});
    p.paint(canvas);
    return canvas;
}

// ---------------------------------------------------------------------------------------------------------------
// Intro pictures: who presents, then what and when.

Canvas draw_intro_presents(Typesetter& type) {
    Canvas canvas(400, 200);
    backing(canvas, 40, 26, 360, 176, 36, 30, 0.45f);
    Painter p(type);
    const FontSpec group{Face::SansBold, 34, 5.0f, false};
    display_text(p, group, "HOLLOWMOOR", 200, 66);
    p.text_centred({Face::Serif, 26, 0, true}, "&", 200, 100, kCream, kAmber, {1.8f, 2.6f, 0.9f, 0, 1, kInk});
    display_text(p, group, "ELLERDAHL", 200, 140);
    p.text_centred({Face::Serif, 20, 1.0f, true}, "present", 200, 172, mix(kIvory, kIce, 0.5f), kIce,
                   {1.8f, 2.6f, 0.9f, 0, 1, kInk});
    p.paint(canvas);
    return canvas;
}

Canvas draw_intro_invitation(Typesetter& type) {
    Canvas canvas(440, 210);
    backing(canvas, 36, 24, 404, 188, 40, 30, 0.45f);
    Painter p(type);
    p.text_centred({Face::Serif, 20, 0.5f, true}, "an invitation to", 220, 50, mix(kIvory, kIce, 0.5f), kIce,
                   {1.8f, 2.6f, 0.9f, 0, 1, kInk});
    display_text(p, {Face::SansBold, 50, 2.0f, false}, "ZORBRIX 2027", 220, 106);
    ornament_rule(p, 220, 124, 150, 9, kCream);
    p.text_centred({Face::SansBold, 21, 0.5f, false}, "16\u201318 April 2027", 220, 156, kIvory, kCream);
    p.text_centred({Face::Sans, 14, 1.5f, false}, "Vindhallen  \u00b7  Ravnsby", 220, 180, kIce,
                   mix(kIce, kSteel, 0.3f));
    p.paint(canvas);
    return canvas;
}

// ---------------------------------------------------------------------------------------------------------------
// Captions. They are drawn centred on the screen while a cream 3D object turns in its middle, so each
// caption picture is mostly transparent and carries its text in its bottom band: on screen the text lands
// in the lower third, below the object, clear of the lower corner frames.

namespace {

struct CaptionText {
    const char* kicker;
    const char* title;
};

constexpr CaptionText kCaptions[16] = {
    {"ON SITE", "100 Mbit LAN"},
    {"ON SITE", "34 Mbit internet"},
    {"SATURDAY NIGHT", "Barbecue"},
    {"ALL THE DETAILS", "www.zorbrix.example.org"},
    {"COMPETITION", "PC / Amiga demo"},
    {"COMPETITION", "C64 demo"},
    {"COMPETITION", "Wild demo"},
    {"COMPETITION", "Tracked music"},
    {"COMPETITION", "Rendered graphics"},
    {"COMPETITION", "Pixeled graphics"},
    {"COMPETITION", "C64 graphics"},
    {"COMPETITION", "C64 music"},
    {"TOURNAMENT", "Counter-Strike 4 vs 4"},
    {"TOURNAMENT", "Quake 3"},
    {"TOURNAMENT", "StarCraft: Brood War"},
    {"FUN COMPO", "XBill"},
};

}  // namespace

Canvas draw_caption(Typesetter& type, int index) {
    constexpr int kW = 440, kH = 324;  // centred on 512 x 384: top left at (36, 30)
    constexpr int kMaxTitle = 330;     // keeps the text clear of the lower corner frames
    Canvas canvas(kW, kH);
    const CaptionText& c = kCaptions[std::clamp(index, 0, 15)];
    FontSpec title{Face::SansBold, 30, 0.5f, false};
    while (title.pixel_size > 16 && type.measure(title, c.title) > kMaxTitle) --title.pixel_size;
    const int title_w = type.measure(title, c.title);
    const int baseline = kH - 16;
    const FontSpec kicker{Face::SansBold, 14, 2.4f, false};
    const int kw = type.measure(kicker, c.kicker);
    const int kicker_base = baseline - type.cap_height(title) - 15;
    // A dark plate under the label and the title, at full strength all around the letters (its soft edge lies
    // outside them): the captions sit on the cream objects, and the plate keeps them readable as they fade.
    const int plate_half = std::max(title_w, kw + 2 * 54) / 2 + 16;
    backing(canvas, float(kW / 2 - plate_half), float(kicker_base - type.cap_height(kicker) - 12),
            float(kW / 2 + plate_half), float(baseline + 12), 12, 9, 0.9f);
    Painter p(type);
    // The label nearly white with a touch of ice blue, bold, on a strong halo: it holds against the plate and
    // against the cream that shows through it as the caption fades.
    const Rgb label = mix(kIce, kIvory, 0.75f);
    p.text_centred(kicker, c.kicker, kW / 2, kicker_base, label, mix(kIce, kIvory, 0.55f),
                   {2.2f, 3.2f, 1.0f, 0, 1, kInk});
    // Short rules either side of the kicker.
    const float ry = float(kicker_base) - 4.0f;
    const float gap = float(kw) * 0.5f + 10.0f, len = 34.0f;
    const Halo thin{1.2f, 2.0f, 0.7f, 0, 0, kInk};
    p.add(faded(line_mask(kW / 2.0f - gap - len, ry, kW / 2.0f - gap, ry, 1.2f),
                [=](float x, float) { return (x - (kW / 2.0f - gap - len)) / len; }),
          kAmber, thin);
    p.add(faded(line_mask(kW / 2.0f + gap, ry, kW / 2.0f + gap + len, ry, 1.2f),
                [=](float x, float) { return 1.0f - (x - (kW / 2.0f + gap)) / len; }),
          kAmber, thin);
    p.text_centred(title, c.title, kW / 2, baseline, kIvory, mix(kIvory, kCream, 0.6f), {3.0f, 3.0f, 1.0f, 0, 1, kInk});
    p.paint(canvas);
    return canvas;
}

}  // namespace zorbrix::assets
