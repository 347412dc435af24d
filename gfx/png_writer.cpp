#include "gfx/png_writer.h"

#include <zlib.h>

#include <cstdio>

#include <vector>
#include "platform/output_file.h"

namespace zorbrix {

namespace {

void put_u32be(std::vector<unsigned char>& out, uint32_t v) {
    out.push_back(static_cast<unsigned char>(v >> 24));
    out.push_back(static_cast<unsigned char>(v >> 16));
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

void put_chunk(std::vector<unsigned char>& out, const char type[4], const std::vector<unsigned char>& data) {
    put_u32be(out, static_cast<uint32_t>(data.size()));
    const size_t type_at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + type_at, static_cast<uInt>(data.size() + 4));
    put_u32be(out, static_cast<uint32_t>(crc));
}

}  // namespace

bool write_png_rgb(const std::string& path, const uint32_t* pixels, int width, int height, std::string* error) {
    if (width <= 0 || height <= 0) {
        if (error) *error = "cannot write " + path + ": the picture is empty";
        return false;
    }
    // Raw scanlines: filter byte 0 then R, G, B per pixel.
    std::vector<unsigned char> raw;
    raw.reserve(size_t(height) * (size_t(width) * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[size_t(y) * width + x];
            raw.push_back(static_cast<unsigned char>(p >> 16));
            raw.push_back(static_cast<unsigned char>(p >> 8));
            raw.push_back(static_cast<unsigned char>(p));
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) {
        if (error) *error = "cannot write " + path + ": the picture does not compress";
        return false;
    }
    packed.resize(packed_size);

    std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    put_u32be(header, static_cast<uint32_t>(width));
    put_u32be(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, truecolour, deflate, no filter set, no interlace
    put_chunk(file, "IHDR", header);
    put_chunk(file, "IDAT", packed);
    put_chunk(file, "IEND", {});

    return zorbrix::write_output_file(path, file.data(), file.size(), error);
}

bool write_png_rgb(const std::string& path, const uint32_t* pixels, int width, int height) {
    return write_png_rgb(path, pixels, width, height, nullptr);
}

}  // namespace zorbrix
