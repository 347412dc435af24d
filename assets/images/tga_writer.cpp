#include "assets/images/tga_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/output_file.h"

namespace zorbrix::assets {

std::vector<uint8_t> encode_tga(const uint32_t* pixels, int width, int height) {
    if (width < 1 || height < 1 || width > 65535 || height > 65535) {
        throw std::invalid_argument("Targa images must be 1..65535 pixels in each direction");
    }
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    std::vector<uint8_t> out(18 + w * h * 4);
    out[2] = 2;  // uncompressed true colour
    out[12] = static_cast<uint8_t>(width & 0xff);
    out[13] = static_cast<uint8_t>(width >> 8);
    out[14] = static_cast<uint8_t>(height & 0xff);
    out[15] = static_cast<uint8_t>(height >> 8);
    out[16] = 32;
    out[17] = 8;  // 8 attribute (alpha) bits, origin at the lower left: rows run bottom-up
    uint8_t* p = out.data() + 18;
    for (size_t row = h; row-- > 0;) {
        const uint32_t* src = pixels + row * w;
        for (size_t x = 0; x < w; ++x) {
            const uint32_t v = src[x];
            *p++ = static_cast<uint8_t>(v);
            *p++ = static_cast<uint8_t>(v >> 8);
            *p++ = static_cast<uint8_t>(v >> 16);
            *p++ = static_cast<uint8_t>(v >> 24);
        }
    }
    return out;
}

bool write_tga(const std::string& path, const uint32_t* pixels, int width, int height, std::string* error) {
    std::vector<uint8_t> bytes;
    try {
        bytes = encode_tga(pixels, width, height);
    } catch (const std::exception& e) {
        if (error) *error = path + ": " + e.what();
        return false;
    }
    return write_output_file(path, bytes.data(), bytes.size(), error);
}

}  // namespace zorbrix::assets
