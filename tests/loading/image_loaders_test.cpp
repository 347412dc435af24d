#include "loading/image_loaders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "gfx/png_writer.h"
#include "loading/file_load.h"
#include "loading/resource_archive.h"
#include "platform/fatal.h"
#include "tests/support/test_paths.h"

using zorbrix::file_init;
using zorbrix::file_shutdown;
using zorbrix::image_load;
using zorbrix::LoadJpeg;
using zorbrix::LoadTarga;
using zorbrix::RawImage;
using zorbrix::write_png_rgb;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// ImageMagick's own program (not the stand-in some machines put first on the PATH).
const char kConvert[] = "/usr/bin/convert";

class ImageLoaderTest : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(test_output_path("loading")) / (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ASSERT_TRUE(file_init(nullptr, (dir_.string() + "/").c_str()));
    }
    void TearDown() override { file_shutdown(); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    void write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }

    Bytes read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), {});
    }

    void convert(const std::string& arguments) const {
        const std::string command = std::string(kConvert) + " " + arguments + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // Leaves the picture where people can look at it.
    static void save_png(const RawImage& image, const std::string& name) {
        std::vector<uint32_t> rgb(size_t(image.width) * size_t(image.height));
        for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = image.pixels[i] & 0xFFFFFF;
        write_png_rgb(test_output_path("loading/" + name), rgb.data(), image.width, image.height);
    }

    fs::path dir_;
};

// A picture with gradients, hard edges and varying alpha, as 0xAARRGGBB.
std::vector<uint32_t> test_picture(int width, int height) {
    std::vector<uint32_t> p(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t r = uint32_t(255 * x / (width - 1)), g = uint32_t(255 * y / (height - 1)), b = 60;
            if ((x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2) < height * height / 9) b = 230;
            const uint32_t a = uint32_t((x * 7 + y * 3) & 255);
            p[size_t(y) * size_t(width) + size_t(x)] = a << 24 | r << 16 | g << 8 | b;
        }
    return p;
}

// A PAM file (top row first) that ImageMagick reads.
Bytes pam(const std::vector<uint32_t>& pixels, int width, int height, bool alpha) {
    const std::string header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                               "\nDEPTH " + (alpha ? "4" : "3") + "\nMAXVAL 255\nTUPLTYPE " +
                               (alpha ? "RGB_ALPHA" : "RGB") + "\nENDHDR\n";
    Bytes out(header.begin(), header.end());
    for (uint32_t p : pixels) {
        out.push_back(uint8_t(p >> 16));
        out.push_back(uint8_t(p >> 8));
        out.push_back(uint8_t(p));
        if (alpha) out.push_back(uint8_t(p >> 24));
    }
    return out;
}

// A Targa header (18 bytes) followed by the given pixel bytes.
Bytes targa(int width, int height, int bits, const Bytes& pixel_bytes, uint8_t id_length = 0) {
    Bytes out = {id_length,
                 0,
                 2,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 0,
                 uint8_t(width),
                 uint8_t(width >> 8),
                 uint8_t(height),
                 uint8_t(height >> 8),
                 uint8_t(bits),
                 0};
    for (unsigned char b : pixel_bytes) out.push_back(b);  // (vector::insert trips GCC 12's bounds warning)
    return out;
}

TEST_F(ImageLoaderTest, PicksTheLoaderByExtensionInAnyLetterCase) {
    const Bytes one_pixel = targa(1, 1, 24, {1, 2, 3});
    for (const char* name : {"pic.tga", "PIC.TGA", "Pic.TgA", ".tga", "pic.png", "tga", "pic.tga.bak"})
        write(name, one_pixel);
    for (const char* name : {"pic.tga", "PIC.TGA", "Pic.TgA"}) {
        RawImage* image = image_load(name);
        ASSERT_NE(image, nullptr) << name;
        EXPECT_EQ(image->pixels[0], 0x00030201u);
        delete image;
    }
    for (const char* name : {".tga", "pic.png", "tga", "pic.tga.bak", "", "missing.tga"}) {
        EXPECT_EQ(image_load(name), nullptr) << name;
    }
    EXPECT_EQ(image_load(nullptr), nullptr);
    convert("-size 8x8 xc:red " + path("pic.jpg"));
    fs::copy_file(path("pic.jpg"), path("PIC.JPG"));
    fs::copy_file(path("pic.jpg"), path("pic.Jpg"));
    for (const char* name : {"pic.jpg", "PIC.JPG", "pic.Jpg"}) {
        RawImage* image = image_load(name);
        ASSERT_NE(image, nullptr) << name;
        EXPECT_EQ(image->width, 8);
        EXPECT_EQ(image->pixels[0] & 0xFF0000u, 0xFE0000u & image->pixels[0]) << "red";
        EXPECT_GE((image->pixels[0] >> 16) & 0xFF, 250u);
        delete image;
    }
}

TEST_F(ImageLoaderTest, TargaRowsAreStoredBottomUpAndAlphaIsKept) {
    // Stored row A (first), then row B: B is the top row.
    write("rows24.tga", targa(2, 2, 24, {1, 2, 3, 4, 5, 6, /* B: */ 7, 8, 9, 10, 11, 12}));
    RawImage* image = LoadTarga("rows24.tga");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->pixels[0], 0x00090807u);
    EXPECT_EQ(image->pixels[1], 0x000C0B0Au);
    EXPECT_EQ(image->pixels[2], 0x00030201u);
    EXPECT_EQ(image->pixels[3], 0x00060504u);
    delete image;

    write("rows32.tga", targa(1, 2, 32, {1, 2, 3, 0x80, /* top: */ 5, 6, 7, 0xFF}));
    image = LoadTarga("rows32.tga");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], 0xFF070605u);
    EXPECT_EQ(image->pixels[1], 0x80030201u);
    delete image;

    // The ID length does not move the pixel data: it is read from offset 18 all the same.
    write("id.tga", targa(1, 1, 24, {1, 2, 3, 4}, 1));
    image = LoadTarga("id.tga");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], 0x00030201u);
    delete image;
}

TEST_F(ImageLoaderTest, TargaFilesThatCannotHoldTheirPictureAreRefused) {
    write("deep16.tga", targa(1, 1, 16, {1, 2}));
    write("short.tga", targa(4, 4, 32, Bytes(63, 1)));
    write("huge.tga", targa(65535, 65535, 32, Bytes(100, 1)));
    write("header_only.tga", Bytes(17, 0));
    write("empty.tga", targa(0, 0, 24, {}));
    for (const char* name : {"deep16.tga", "short.tga", "huge.tga", "header_only.tga"}) {
        EXPECT_EQ(LoadTarga(name), nullptr) << name;
    }
    RawImage* empty = LoadTarga("empty.tga");
    ASSERT_NE(empty, nullptr) << "0 x 0 is a valid, empty picture";
    EXPECT_EQ(empty->width, 0);
    EXPECT_EQ(empty->height, 0);
    delete empty;
    write("no_columns.tga", targa(0, 3, 32, {}));
    RawImage* no_columns = LoadTarga("no_columns.tga");
    ASSERT_NE(no_columns, nullptr) << "so is 0 x 3";
    EXPECT_EQ(no_columns->height, 3);
    delete no_columns;
}

// Files written by ImageMagick from a known picture load pixel for pixel. (ImageMagick 6 writes Targa rows top
// first while its header says bottom-up; -flip makes the file say what it holds.)
TEST_F(ImageLoaderTest, TargaFilesFromImageMagickMatchTheirSource) {
    const int w = 96, h = 64;
    const std::vector<uint32_t> picture = test_picture(w, h);
    write("src32.pam", pam(picture, w, h, true));
    write("src24.pam", pam(picture, w, h, false));
    convert(path("src32.pam") + " -flip -depth 8 -type TrueColorAlpha -compress None " + path("im32.tga"));
    convert(path("src24.pam") + " -flip -depth 8 -type TrueColor -compress None " + path("im24.tga"));
    ASSERT_EQ(read("im32.tga")[16], 32);
    ASSERT_EQ(read("im24.tga")[16], 24);

    RawImage* im32 = LoadTarga("im32.tga");
    RawImage* im24 = LoadTarga("im24.tga");
    ASSERT_NE(im32, nullptr);
    ASSERT_NE(im24, nullptr);
    ASSERT_EQ(im32->width, w);
    ASSERT_EQ(im32->height, h);
    ASSERT_EQ(im24->width, w);
    ASSERT_EQ(im24->height, h);
    int wrong32 = 0, wrong24 = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
        wrong32 += im32->pixels[i] != picture[i];
        wrong24 += im24->pixels[i] != (picture[i] & 0xFFFFFF);  // no alpha in the file: 0
    }
    EXPECT_EQ(wrong32, 0);
    EXPECT_EQ(wrong24, 0);
    save_png(*im24, "targa_from_imagemagick.png");
    delete im32;
    delete im24;
}

// JPEG files from ImageMagick decode to what ImageMagick itself decodes (the same library, default settings),
// one shorter than the 4096-byte read size and one many times longer.
TEST_F(ImageLoaderTest, JpegFilesDecodeThroughTheMemorySource) {
    struct Case {
        const char* name;
        int width, height;
        bool noisy;
    };
    for (const Case c : {Case{"small.jpg", 40, 30, false}, Case{"large.jpg", 200, 150, true}}) {
        SCOPED_TRACE(c.name);
        std::vector<uint32_t> picture = test_picture(c.width, c.height);
        if (c.noisy) {
            std::mt19937 rng(1);
            for (auto& p : picture) p ^= rng() & 0x3F3F3F;
        }
        write("src.pam", pam(picture, c.width, c.height, false));
        convert(path("src.pam") + " -quality 90 " + path(c.name));
        const size_t file_size = read(c.name).size();
        if (c.noisy)
            EXPECT_GT(file_size, 3 * 4096u);
        else
            EXPECT_LT(file_size, 4096u);
        convert(path(c.name) + " -depth 8 rgb:" + path("reference.rgb"));
        const Bytes reference = read("reference.rgb");
        ASSERT_EQ(reference.size(), size_t(c.width) * size_t(c.height) * 3);

        RawImage* image = LoadJpeg(c.name);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->width, c.width);
        ASSERT_EQ(image->height, c.height);
        int max_difference = 0, max_from_source = 0;
        for (size_t i = 0; i < picture.size(); ++i) {
            const uint32_t p = image->pixels[i];
            EXPECT_EQ(p >> 24, 0u);
            for (int k = 0; k < 3; ++k) {
                const int ours = int((p >> (16 - 8 * k)) & 0xFF);
                max_difference = std::max(max_difference, std::abs(ours - int(reference[3 * i + size_t(k)])));
                max_from_source = std::max(max_from_source, std::abs(ours - int((picture[i] >> (16 - 8 * k)) & 0xFF)));
            }
        }
        EXPECT_LE(max_difference, 1);
        EXPECT_LT(max_from_source, 100) << "the picture, not noise";
        save_png(*image, std::string("jpeg_") + c.name + ".png");
        delete image;
    }
}

TEST_F(ImageLoaderTest, GreyscaleJpegGivesGreyPixelsAndATruncatedOneShowsWhatItHolds) {
    convert("-size 64x48 gradient:white-black -colorspace Gray -type Grayscale " + path("grey.jpg"));
    RawImage* grey = LoadJpeg("grey.jpg");
    ASSERT_NE(grey, nullptr);
    for (size_t i = 0; i < size_t(grey->width * grey->height); ++i) {
        const uint32_t p = grey->pixels[i];
        ASSERT_EQ(p, (p & 0xFF) * 0x010101u);
    }
    EXPECT_GT(grey->pixels[0] & 0xFF, 240u);
    delete grey;

    convert("-size 160x120 plasma:fractal -seed 3 -quality 90 " + path("whole.jpg"));
    Bytes cut = read("whole.jpg");
    cut.resize(cut.size() * 2 / 3);
    write("cut.jpg", cut);
    zorbrix::ScopedFatalTrap trap;
    RawImage* image = LoadJpeg("cut.jpg");  // a warning, not an error
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 160);
    delete image;
}

TEST_F(ImageLoaderTest, JpegErrorsEndTheProcessWithStatusOne) {
    write("garbage.jpg", Bytes(5000, 0x42));
    write("empty.jpg", {});
    Bytes header_only = {0xFF, 0xD8};
    write("header_only.jpg", header_only);
    {
        zorbrix::ScopedFatalTrap trap;
        for (const char* name : {"garbage.jpg", "empty.jpg", "header_only.jpg"}) {
            SCOPED_TRACE(name);
            try {
                LoadJpeg(name);
                ADD_FAILURE() << "no error";
            } catch (const zorbrix::FatalExit& e) {
                EXPECT_EQ(e.status, 1);
            }
        }
    }
    EXPECT_EQ(LoadJpeg("missing.jpg"), nullptr) << "a missing file is no error";
    EXPECT_EXIT(LoadJpeg("garbage.jpg"), testing::ExitedWithCode(1), "Not a JPEG file");
}

}  // namespace
