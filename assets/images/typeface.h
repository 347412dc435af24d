#pragma once
// Anti-aliased text through FreeType, from the DejaVu TrueType fonts.
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "assets/images/raster.h"

namespace zorbrix::assets {

enum class Face {
    Sans,
    SansBold,
    Mono,
    MonoBold,
    Serif,
    SerifBold
};

struct FontSpec {
    Face face = Face::Sans;
    int pixel_size = 14;    // em size in pixels
    float tracking = 0.0f;  // extra pixels between letters
    bool oblique = false;   // slanted by a shear, for the faces that ship without an italic
};

class Typesetter {
public:
    // Opens FreeType; fonts are loaded on first use from `font_dir` (the DejaVu folder by default).
    explicit Typesetter(std::string font_dir = "/usr/share/fonts/truetype/dejavu");
    ~Typesetter();
    Typesetter(const Typesetter&) = delete;
    Typesetter& operator=(const Typesetter&) = delete;

    // False, with the reason in error(), when FreeType or a font could not be loaded. Drawing with a font
    // that failed draws nothing, so a caller checks ok() once after drawing everything.
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // Advance width of a UTF-8 line in pixels (kerning and tracking included, no trailing tracking).
    int measure(const FontSpec& font, const std::string& text);
    // Distance from the baseline up to the top of capital letters, and down to the bottom of descenders.
    int cap_height(const FontSpec& font);
    int descent(const FontSpec& font);
    int line_height(const FontSpec& font);
    // Coverage mask of the line with its pen starting at x on the given baseline (canvas coordinates).
    Mask render(const FontSpec& font, const std::string& text, int x, int baseline);

private:
    struct FaceHandle;
    FaceHandle* face_for(const FontSpec& font);
    void fail(const std::string& message);

    std::string font_dir_;
    void* library_ = nullptr;  // FT_Library
    std::map<std::pair<int, int>, std::unique_ptr<FaceHandle>> faces_;
    std::string error_;
};

// Decodes UTF-8 into code points; a malformed byte becomes U+FFFD.
std::u32string utf8_decode(const std::string& text);

}  // namespace zorbrix::assets
