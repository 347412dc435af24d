#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zorbrix::assets {

// Encodes 0xAARRGGBB pixels (top row first, colours already multiplied by alpha) as an uncompressed
// 32-bit Targa: an 18-byte header, then the rows bottom-up (the last row in the file is the top row),
// each pixel stored as the bytes B, G, R, A. Width and height must be 1..65535.
std::vector<uint8_t> encode_tga(const uint32_t* pixels, int width, int height);

// Writes encode_tga() to `path`, which appears whole or not at all. On failure returns false and, when `error` is
// given, says why.
bool write_tga(const std::string& path, const uint32_t* pixels, int width, int height, std::string* error);

}  // namespace zorbrix::assets
