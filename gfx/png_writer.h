#pragma once
#include <cstdint>
#include <string>

// Writes 0x00RRGGBB pixels (rows of `width` words, top row first) as an 8-bit RGB PNG file.
// Used by tests, the capture tool and the screenshot tooling so people can look at what the code drew.
// Returns false when the file cannot be written.
bool write_png_rgb(const std::string& path, const uint32_t* pixels, int width, int height);
