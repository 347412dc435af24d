#pragma once
// The intro's pictures, drawn in code: the scroller text, the corner frames, the logo, the two intro
// pictures, the sixteen captions and the countdown glyphs. Every picture is 32-bit with premultiplied
// alpha (no colour byte above its alpha), written as an uncompressed Targa.
#include <cstdint>
#include <string>
#include <vector>

namespace zorbrix::assets {

struct Picture {
    std::string name;  // the file name the intro loads, e.g. "kolon.tga"
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB, premultiplied, top row first
};

// Every file name, in a fixed order: "tekst.tga", the four corners (upper left, upper right, lower right,
// lower left), "zorbrixlogo_stor.tga", "intro_1.tga", "intro_2.tga", the sixteen captions in caption-table
// order, "0.tga" .. "9.tga", "kolon.tga".
std::vector<std::string> image_file_names();
// The sixteen caption file names in caption-table order (index 3 is the party's web address).
std::vector<std::string> caption_file_names();

// Where the DejaVu fonts are found (Debian package fonts-dejavu-core).
inline constexpr const char* kDefaultFontDir = "/usr/share/fonts/truetype/dejavu";

// Draws every picture. False, with the reason in `error`, when a font cannot be loaded.
bool render_all_images(std::vector<Picture>* out, std::string* error, const std::string& font_dir = kDefaultFontDir);
// Draws every picture and writes it as OUTDIR/<name>. False, with the reason, on any failure.
bool write_all_images(const std::string& outdir, std::string* error);

}  // namespace zorbrix::assets
