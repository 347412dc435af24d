#pragma once
// The drawing of each picture (internal to the generator).
#include <string>

#include "assets/images/images.h"
#include "assets/images/raster.h"
#include "assets/images/typeface.h"

namespace zorbrix::assets {

// Countdown glyphs: every digit has the same cell size; the colon is narrower.
constexpr int kGlyphHeight = 40;
constexpr int kDigitWidth = 30;
constexpr int kColonWidth = 14;
constexpr int kCornerSize = 76;

Picture make_picture(const std::string& name, const Canvas& canvas);

Canvas draw_digit(Typesetter& type, int digit);
Canvas draw_colon(Typesetter& type);
// Upper-left corner; the other three are its mirror images.
Canvas draw_corner(Typesetter& type);
Canvas draw_logo(Typesetter& type);
Canvas draw_intro_presents(Typesetter& type);
Canvas draw_intro_invitation(Typesetter& type);
// Caption `index` of the caption table (0..15).
Canvas draw_caption(Typesetter& type, int index);
Canvas draw_scroller_text(Typesetter& type);

}  // namespace zorbrix::assets
