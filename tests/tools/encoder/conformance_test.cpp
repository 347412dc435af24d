// `nvdtool encode` end to end, and standard conformance judged by a decoder no one here wrote: ffmpeg must decode
// our streams (exported as an elementary stream) about as well as our own decoder does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/test_files.h"
#include "tests/support/test_paths.h"
#include "tests/tools/encoder/sequences.h"
#include "tools/encoder/encoder.h"
#include "tools/encoder/y4m.h"

namespace {

using zorbrix::enc::YuvFrame;

// Each test has its own log: CTest runs tests in parallel.
std::string log_path() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name() + ".log";
    std::replace(name.begin(), name.end(), '/', '_');
    return test_output_path(name);
}

int run(const std::string& command) {
    const int status = std::system((command + " 2>" + log_path()).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string log_text() {
    const auto bytes = read_all(log_path());
    return {bytes.begin(), bytes.end()};
}

// PSNR over all three planes of a raw 4:2:0 file whose chroma planes come in the given order against the source.
double psnr(const std::vector<YuvFrame>& src, const std::vector<uint8_t>& raw, bool v_first) {
    double se = 0;
    size_t n = 0, at = 0;
    for (const YuvFrame& f : src) {
        const std::vector<uint8_t>* planes[3] = {&f.y, v_first ? &f.v : &f.u, v_first ? &f.u : &f.v};
        for (const auto* p : planes) {
            for (uint8_t s : *p) {
                const double d = at < raw.size() ? static_cast<double>(raw[at]) - s : 255.0;
                se += d * d;
                ++at;
                ++n;
            }
        }
    }
    return 10 * std::log10(255.0 * 255.0 * n / std::max(se, 1e-9));
}

struct Stream {
    std::string sequence;
    std::string options;
};

class Conformance : public testing::TestWithParam<Stream> {};

TEST_P(Conformance, FfmpegDecodesOurStreamsAsWellAsOurDecoder) {
    const Stream& s = GetParam();
    constexpr int kW = 176, kH = 144, kFrames = 16;
    const std::vector<YuvFrame> frames = enc_test::make_sequence(s.sequence, kW, kH, kFrames);
    const std::string base = test_output_path("conf_" + s.sequence);
    {
        zorbrix::enc::Y4mWriter w;
        std::string error;
        ASSERT_TRUE(w.open(base + ".y4m", {kW, kH, 25, 1}, &error)) << error;
        for (const auto& f : frames) w.write_frame(f);
        ASSERT_TRUE(w.close());
    }
    ASSERT_EQ(run("./nvdtool encode " + base + ".y4m " + base + ".nvd " + s.options), 0) << log_text();
    ASSERT_EQ(run("./nvdtool decode " + base + ".nvd " + base + "_ours.yuv"), 0) << log_text();
    ASSERT_EQ(run("./nvdtool export " + base + ".nvd " + base + ".m4v"), 0) << log_text();
    ASSERT_EQ(run("ffmpeg -v error -y -i " + base + ".m4v -f rawvideo -pix_fmt yuv420p " + base + "_ffmpeg.yuv"), 0)
        << log_text();
    const auto ours = read_all(base + "_ours.yuv");
    const auto theirs = read_all(base + "_ffmpeg.yuv");
    ASSERT_EQ(ours.size(), static_cast<size_t>(kW * kH * 3 / 2 * kFrames));
    ASSERT_EQ(theirs.size(), ours.size()) << "ffmpeg did not decode every frame";
    const double p_ours = psnr(frames, ours, true), p_theirs = psnr(frames, theirs, false);
    std::printf("%s %s: our decoder %.3f dB, ffmpeg %.3f dB\n", s.sequence.c_str(), s.options.c_str(), p_ours,
                p_theirs);
    EXPECT_GT(p_ours, 30.0);
    EXPECT_NEAR(p_theirs, p_ours, 0.5) << "ours " << p_ours << " dB, ffmpeg " << p_theirs << " dB";
}

INSTANTIATE_TEST_SUITE_P(Streams, Conformance,
                         testing::Values(Stream{"blobs", "--qp 3 --mv4"}, Stream{"text", "--qp 5"},
                                         Stream{"noise", "--qp 2 --mv4"}, Stream{"cut", "--kbps 400 --keyint 6 --mv4"},
                                         Stream{"gradients", "--qp 2 --no-acpred --search 24"}),
                         [](const testing::TestParamInfo<Stream>& i) { return i.param.sequence; });

// The command writes exactly what the library codes, and its decoded output is the library's reconstruction.
TEST(EncodeCommand, MatchesTheLibraryAndItsReconstruction) {
    constexpr int kW = 64, kH = 48, kFrames = 8;
    const auto frames = enc_test::make_sequence("blobs", kW, kH, kFrames);
    const std::string base = test_output_path("cmd");
    {
        zorbrix::enc::Y4mWriter w;
        std::string error;
        ASSERT_TRUE(w.open(base + ".y4m", {kW, kH, 30, 1}, &error));
        for (const auto& f : frames) w.write_frame(f);
        ASSERT_TRUE(w.close());
    }
    ASSERT_EQ(run("./nvdtool encode " + base + ".y4m " + base + ".nvd --qp 6 --mv4 --keyint 5"), 0) << log_text();
    ASSERT_EQ(run("./nvdtool decode " + base + ".nvd " + base + ".yuv"), 0) << log_text();
    zorbrix::enc::EncoderOptions opt;
    opt.qp = 6;
    opt.mv4 = true;
    opt.keyint = 5;
    opt.fps_num = 30;
    zorbrix::enc::VideoEncoder enc;
    std::string error;
    ASSERT_TRUE(enc.init(kW, kH, opt, &error));
    const auto file = read_all(base + ".nvd");
    const auto decoded = read_all(base + ".yuv");
    ASSERT_EQ(decoded.size(), static_cast<size_t>(kW * kH * 3 / 2 * kFrames));
    size_t at = 16, out = 0;
    for (int i = 0; i < kFrames; ++i) {
        const auto record = enc.encode(frames[i]);
        ASSERT_LE(at + 4 + record.size(), file.size());
        const uint32_t len =
            file[at] | file[at + 1] << 8 | file[at + 2] << 16 | static_cast<uint32_t>(file[at + 3]) << 24;
        ASSERT_EQ(len, record.size()) << "frame " << i;
        EXPECT_TRUE(std::equal(record.begin(), record.end(), file.begin() + static_cast<long>(at) + 4))
            << "frame " << i;
        at += 4 + len;
        YuvFrame r;
        enc.reconstruction(&r);
        for (const auto* p : {&r.y, &r.v, &r.u}) {
            EXPECT_TRUE(std::equal(p->begin(), p->end(), decoded.begin() + static_cast<long>(out))) << "frame " << i;
            out += p->size();
        }
    }
    EXPECT_EQ(at + 4, file.size()) << "four spare bytes follow the last record";
}

TEST(EncodeCommand, ReportsBadUseClearly) {
    EXPECT_EQ(run("./nvdtool encode"), 2);
    EXPECT_NE(log_text().find("usage"), std::string::npos);
    EXPECT_EQ(run("./nvdtool encode a.y4m b.nvd --qp 0"), 2);
    EXPECT_NE(log_text().find("--qp"), std::string::npos);
    EXPECT_EQ(run("./nvdtool encode a.y4m b.nvd --qp 4 --kbps 100"), 2);
    EXPECT_EQ(run("./nvdtool encode a.y4m b.nvd --bogus"), 2);
    EXPECT_NE(log_text().find("unknown option"), std::string::npos);
    EXPECT_EQ(
        run("./nvdtool encode " + test_output_path("missing.y4m") + " " + test_output_path("bad_use_missing.nvd")), 1);
    EXPECT_NE(log_text().find("cannot open"), std::string::npos);
    // Too large for the decoder.
    const std::string big = test_output_path("big.y4m");
    { std::ofstream(big) << "YUV4MPEG2 W1280 H720 F25:1 C420jpeg\n"; }
    EXPECT_EQ(run("./nvdtool encode " + big + " " + test_output_path("big.nvd")), 1);
    EXPECT_NE(log_text().find("720x576"), std::string::npos);
    std::FILE* f = std::fopen(test_output_path("big.nvd").c_str(), "rb");
    EXPECT_EQ(f, nullptr) << "no output file is left behind on failure";
    if (f) std::fclose(f);
}

}  // namespace
