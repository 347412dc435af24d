#pragma once
#include <cstdint>
#include <string>

namespace zorbrix {

// Writes 0x00RRGGBB pixels (rows of `width` words, top row first) as an 8-bit RGB PNG file.
// Used by tests, the capture tool and the screenshot tooling so people can look at what the code drew.
// The file appears whole or not at all (see platform/output_file.h). Returns false when it cannot be written, with
// a one-line reason in *error when given.
bool write_png_rgb(const std::string& path, const uint32_t* pixels, int width, int height, std::string* error);
bool write_png_rgb(const std::string& path, const uint32_t* pixels, int width, int height);

}  // namespace zorbrix
