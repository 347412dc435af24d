#pragma once
// The countdown clock: seconds as "SS:HH" (two-digit seconds, colon, two-digit hundredths), one picture per
// character, centred horizontally.
#include <cstdint>
#include <string>

#include "gfx/image.h"

namespace zorbrix {

// Glyph table: indices 0..9 are the digits, 10 the colon; character ch uses glyph ch - '0'.
constexpr int CLOCK_GLYPHS = 11;

// The clock text for a value in seconds: "%02d:%02d" of whole seconds and hundredths (the value rounded down to
// hundredths). Negative values and values that are not a number show 00:00; values from 100 s on get more digits.
std::string clock_text(double value);

// Draws clock_text(value) centred horizontally with its top at y. Always returns 0.
int draw_clock(uint32_t* dst, int dst_width, int dst_height, int y, const Image glyphs[CLOCK_GLYPHS], double value);

// The width in pixels of the text drawn with the glyphs: the sum of the glyph widths. Characters without a glyph
// (anything but '0'..'9' and ':') and glyphs that failed to load count 0.
int text_width(const char* text, const Image glyphs[CLOCK_GLYPHS]);

}  // namespace zorbrix
