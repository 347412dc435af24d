// The backdrop: seamless loop, calm dark picture, shown upright by the intro's decoding path, within budget.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "assets/video/backdrop.h"
#include "gfx/png_writer.h"
#include "tests/support/test_paths.h"
#include "tools/encoder/encoder.h"
#include "video/colour_convert.h"
#include "video/decoder.h"

using zorbrix::write_png_rgb;

namespace {

using namespace zorbrix::assets;
constexpr int kPixels = kBackdropWidth * kBackdropHeight;

std::vector<uint32_t> rgb(int index) {
    std::vector<uint32_t> px(kPixels);
    render_backdrop_rgb(index, px.data());
    return px;
}

double mean_abs_diff(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    double sum = 0;
    for (int i = 0; i < kPixels; ++i)
        for (int s = 0; s < 24; s += 8)
            sum += std::abs(static_cast<int>((a[i] >> s) & 255) - static_cast<int>((b[i] >> s) & 255));
    return sum / (3.0 * kPixels);
}

double psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    double se = 0;
    for (int i = 0; i < kPixels; ++i)
        for (int s = 0; s < 24; s += 8) {
            const double d = static_cast<double>((a[i] >> s) & 255) - static_cast<double>((b[i] >> s) & 255);
            se += d * d;
        }
    return 10 * std::log10(255.0 * 255.0 / (se / (3.0 * kPixels) + 1e-9));
}

TEST(Backdrop, LoopsWithoutAJumpAndMovesSlowly) {
    const auto last = rgb(kBackdropFrames - 1), first = rgb(0), second = rgb(1);
    EXPECT_EQ(rgb(kBackdropFrames), first) << "the loop length is not the period of the motion";
    const double wrap = mean_abs_diff(last, first), step = mean_abs_diff(first, second);
    // Crossing the loop point changes the picture no more than any other frame step; both steps are small.
    EXPECT_LT(wrap, 1.5 * step + 0.05);
    EXPECT_LT(step, 2.0);
    EXPECT_LT(mean_abs_diff(rgb(100), rgb(101)), 2.0);
}

TEST(Backdrop, IsDarkAndCool) {
    for (int index : {0, 100, 200}) {
        const auto px = rgb(index);
        double r = 0, g = 0, b = 0;
        int bright = 0;
        for (uint32_t p : px) {
            r += (p >> 16) & 255;
            g += (p >> 8) & 255;
            b += p & 255;
            bright += ((p >> 16) & 255) > 160 || ((p >> 8) & 255) > 160 || (p & 255) > 160;
        }
        r /= kPixels;
        g /= kPixels;
        b /= kPixels;
        EXPECT_LT(r + g + b, 3 * 70.0) << "frame " << index << " too bright for light captions on top";
        EXPECT_GT(r + g + b, 3 * 8.0) << "frame " << index << " is practically black";
        EXPECT_GT(b, r) << "frame " << index << " is not a cool picture";
        EXPECT_EQ(bright, 0) << "frame " << index << " has pixels that compete with cream objects";
    }
}

// Codes the first frames the way write_backdrop does, decodes them through the intro's path (RGB32 output with
// the bottom row first, deblocking on) and checks that the rows as the intro puts them on screen are the upright
// picture.
TEST(Backdrop, IntroShowsTheStreamUpright) {
    zorbrix::enc::EncoderOptions opt;
    opt.qp = 3;
    opt.mv4 = true;
    zorbrix::enc::VideoEncoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.init(kBackdropWidth, kBackdropHeight, opt, &error)) << error;
    int handle = 0;
    zorbrix::InitParams init{kBackdropWidth, kBackdropHeight, 0, zorbrix::FMT_RGB32};
    zorbrix::decoder_call(&handle, zorbrix::OPT_INIT, &init, nullptr);
    zorbrix::PostProcParams pp{100};
    zorbrix::decoder_call(&handle, zorbrix::OPT_POSTPROC, &pp, nullptr);
    std::vector<uint32_t> shown(kPixels);
    constexpr int kFrames = 6;
    for (int i = 0; i < kFrames; ++i) {
        std::vector<uint8_t> record = encoder.encode(render_backdrop_yuv(i, true));
        const int length = static_cast<int>(record.size());
        record.insert(record.end(), 4, 0);
        zorbrix::FrameParams fp{shown.data(), record.data(), length, 1};
        zorbrix::decoder_call(&handle, zorbrix::OPT_DECODE, &fp, nullptr);
    }
    zorbrix::decoder_call(&handle, zorbrix::OPT_RELEASE, nullptr, nullptr);
    // The destination's first row is the one the 2x enlargement puts at the top of the screen.
    const auto upright = rgb(kFrames - 1);
    std::vector<uint32_t> flipped(kPixels);
    for (int y = 0; y < kBackdropHeight; ++y)
        for (int x = 0; x < kBackdropWidth; ++x)
            flipped[y * kBackdropWidth + x] = upright[(kBackdropHeight - 1 - y) * kBackdropWidth + x];
    write_png_rgb(test_output_path("backdrop_as_shown.png"), shown.data(), kBackdropWidth, kBackdropHeight);
    write_png_rgb(test_output_path("backdrop_rendered.png"), upright.data(), kBackdropWidth, kBackdropHeight);
    EXPECT_GT(psnr(shown, upright), 36.0);
    EXPECT_GT(psnr(shown, upright), psnr(shown, flipped) + 6.0) << "the intro would show the backdrop upside down";
}

}  // namespace
