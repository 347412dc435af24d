#include "assets/images/tga_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/support/test_paths.h"

namespace zorbrix::assets {
namespace {

TEST(TgaWriter, HeaderAndBottomUpBgraRows) {
    // 3 x 2: top row red, green, blue (opaque); bottom row half-transparent grey, clear, white.
    const uint32_t pixels[6] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0x80404040, 0x00000000, 0xffffffff};
    const std::vector<uint8_t> tga = encode_tga(pixels, 3, 2);
    ASSERT_EQ(tga.size(), 18u + 3 * 2 * 4);
    EXPECT_EQ(tga[0], 0);   // no id
    EXPECT_EQ(tga[1], 0);   // no colour map
    EXPECT_EQ(tga[2], 2);   // uncompressed true colour
    EXPECT_EQ(tga[12], 3);  // width
    EXPECT_EQ(tga[13], 0);
    EXPECT_EQ(tga[14], 2);  // height
    EXPECT_EQ(tga[15], 0);
    EXPECT_EQ(tga[16], 32);
    EXPECT_EQ(tga[17], 8);  // alpha bits, bottom-left origin
    // The file starts with the bottom row.
    const std::vector<uint8_t> bottom = {0x40, 0x40, 0x40, 0x80, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};
    const std::vector<uint8_t> top = {0, 0, 0xff, 0xff, 0, 0xff, 0, 0xff, 0xff, 0, 0, 0xff};
    EXPECT_EQ(std::vector<uint8_t>(tga.begin() + 18, tga.begin() + 30), bottom);
    EXPECT_EQ(std::vector<uint8_t>(tga.begin() + 30, tga.end()), top);
}

TEST(TgaWriter, LargeSizesAreLittleEndian) {
    std::vector<uint32_t> pixels(300 * 1, 0xff112233);
    const std::vector<uint8_t> tga = encode_tga(pixels.data(), 300, 1);
    EXPECT_EQ(tga[12] | tga[13] << 8, 300);
    EXPECT_EQ(tga[14] | tga[15] << 8, 1);
}

TEST(TgaWriter, RefusesSizesTheFormatCannotHold) {
    const uint32_t pixel = 0;
    std::string error;
    EXPECT_FALSE(write_tga(test_output_path("never.tga"), &pixel, 0, 1, &error));
    EXPECT_NE(error.find("65535"), std::string::npos) << error;
    EXPECT_THROW(encode_tga(&pixel, 65536, 1), std::invalid_argument);
}

TEST(TgaWriter, ReportsAFileThatCannotBeCreated) {
    const uint32_t pixel = 0xffffffff;
    std::string error;
    const std::string path = test_output_path("no-such-folder") + "/x/y.tga";
    EXPECT_FALSE(write_tga(path, &pixel, 1, 1, &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
}

TEST(TgaWriter, WritesExactlyTheEncodedBytes) {
    const uint32_t pixels[4] = {0xff000000, 0x40202020, 0x00000000, 0xffabcdef};
    const std::string path = test_output_path("tga_writer_roundtrip.tga");
    std::string error;
    ASSERT_TRUE(write_tga(path, pixels, 2, 2, &error)) << error;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, encode_tga(pixels, 2, 2));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace zorbrix::assets
