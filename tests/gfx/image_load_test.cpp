// Image::load through the image loaders, from a loose Targa file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "gfx/image.h"
#include "loading/file_load.h"
#include "tests/support/test_paths.h"

using zorbrix::file_init;
using zorbrix::Image;
using zorbrix::IMAGE_ALPHA;

namespace {

// A 32-bit uncompressed Targa, bottom row first, of the given top-down pixels.
void write_targa(const std::string& path, int w, int h, const std::vector<uint32_t>& top_down) {
    unsigned char header[18] = {0, 0, 2};
    header[12] = static_cast<unsigned char>(w);
    header[13] = static_cast<unsigned char>(w >> 8);
    header[14] = static_cast<unsigned char>(h);
    header[15] = static_cast<unsigned char>(h >> 8);
    header[16] = 32;
    header[17] = 8;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(header, 1, sizeof header, f);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t p = top_down[static_cast<size_t>(y) * w + x];
            const unsigned char bgra[4] = {static_cast<unsigned char>(p), static_cast<unsigned char>(p >> 8),
                                           static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 24)};
            std::fwrite(bgra, 1, 4, f);
        }
    }
    std::fclose(f);
}

TEST(ImageLoad, LoadsATargaAndKeepsTheOldPictureOnFailure) {
    const std::string dir = test_output_path("gfx_image_load") + "/";
    std::filesystem::create_directories(dir);
    const std::vector<uint32_t> pixels = {0xFF102030u, 0x80404040u, 0x00000000u, 0xFFFFFFFFu, 0x01020304u, 0x7F000000u};
    write_targa(dir + "picture.tga", 3, 2, pixels);
    ASSERT_TRUE(file_init(nullptr, dir.c_str()));

    Image img("picture.tga", IMAGE_ALPHA);
    ASSERT_EQ(img.width(), 3);
    ASSERT_EQ(img.height(), 2);
    EXPECT_TRUE(img.has_alpha());
    EXPECT_EQ(std::vector<uint32_t>(img.pixels(), img.pixels() + 6), pixels);

    EXPECT_EQ(img.load("missing.tga", 0), 0);
    EXPECT_EQ(img.load(nullptr, 0), 0);
    EXPECT_EQ(img.width(), 3);
    EXPECT_TRUE(img.has_alpha());
    EXPECT_EQ(img.pixels()[0], 0xFF102030u);

    const Image missing("missing.tga", IMAGE_ALPHA);
    EXPECT_EQ(missing.width(), 0);
    EXPECT_EQ(missing.height(), 0);
    EXPECT_EQ(missing.pixels(), nullptr);
}

}  // namespace
