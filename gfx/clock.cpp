#include "gfx/clock.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace zorbrix {

namespace {

// The glyph for a character, or null when it has none.
const Image* glyph_for(char ch, const Image glyphs[CLOCK_GLYPHS]) {
    const int index = static_cast<unsigned char>(ch) - '0';
    if (glyphs == nullptr || index < 0 || index >= CLOCK_GLYPHS) {
        return nullptr;
    }
    return &glyphs[index];
}

}  // namespace

std::string clock_text(double value) {
    const double hundredths = std::floor(value * 100.0);
    int n = 0;
    if (hundredths >= INT_MAX) {
        n = INT_MAX;
    } else if (hundredths > 0.0) {  // negative and not-a-number stay 0
        n = static_cast<int>(hundredths);
    }
    char text[256];
    std::snprintf(text, sizeof text, "%02d:%02d", n / 100, n % 100);
    return text;
}

int text_width(const char* text, const Image glyphs[CLOCK_GLYPHS]) {
    if (text == nullptr) {
        return 0;
    }
    int64_t width = 0;  // 64-bit: a long text of very wide glyphs must not overflow
    for (const char* p = text; *p != '\0'; ++p) {
        if (const Image* g = glyph_for(*p, glyphs)) {
            width += g->width();
        }
    }
    return static_cast<int>(std::min<int64_t>(width, INT_MAX));
}

int draw_clock(uint32_t* dst, int dst_width, int dst_height, int y, const Image glyphs[CLOCK_GLYPHS], double value) {
    const std::string text = clock_text(value);
    int64_t x = (int64_t{dst_width} - text_width(text.c_str(), glyphs)) / 2;
    for (const char ch : text) {
        const Image* g = glyph_for(ch, glyphs);
        if (g == nullptr) {
            continue;
        }
        if (x >= dst_width) {
            break;  // the rest lies beyond the right edge
        }
        g->draw(dst, dst_width, dst_height, static_cast<int>(x), y);  // x lies in [(dst_width - width) / 2, dst_width)
        x += g->width();
    }
    return 0;
}

}  // namespace zorbrix
