// nvdtool encode on any input: YUV4MPEG2 read directly, anything else through an ffmpeg child that scales and
// flips; a missing or failing ffmpeg is the command's failure, with a message and no output file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_files.h"
#include "tests/support/test_paths.h"

namespace {

bool have_ffmpeg() { return std::system("ffmpeg -version > /dev/null 2>&1") == 0; }

std::string dir() {
    const std::string d = test_output_path("nvdtool-encode");
    std::filesystem::create_directories(d);
    return d + "/";
}

struct Result {
    int status;
    std::string out;
};

// Runs a shell line with nvdtool as $N.
Result sh(const std::string& line, const std::string& log_name) {
    const std::string log = dir() + log_name + ".log";
    const std::string cmd = "N=" + build_dir() + "/bin/nvdtool; " + line + " > " + log + " 2>&1";
    const int raw = std::system(cmd.c_str());
    std::ifstream in(log);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(std::istreambuf_iterator<char>(in), {})};
}

double luma_psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}

int header_field(const std::vector<uint8_t>& nvd, int index) {
    int32_t v = 0;
    if (nvd.size() >= 16) std::memcpy(&v, nvd.data() + 4 * index, 4);
    return v;
}

}  // namespace

TEST(NvdtoolEncode, AnyInputThroughFfmpegScaledAndFlipped) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // A source whose top and bottom differ, in a container the encoder cannot read itself, under an awkward name.
    const std::string src = dir() + "-odd:name.mkv";
    ASSERT_EQ(0,
              std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 6 -c:v ffv1 'file:" +
                           src + "' > /dev/null 2>&1")
                              .c_str()));
    Result r = sh("$N encode '" + src + "' " + dir() + "scaled.nvd --size 128x96 --qp 2", "scaled");
    ASSERT_EQ(0, r.status) << r.out;
    auto nvd = read_all(dir() + "scaled.nvd");
    EXPECT_EQ(6, header_field(nvd, 0));
    EXPECT_EQ(128, header_field(nvd, 1));
    EXPECT_EQ(96, header_field(nvd, 2));

    // --for-intro: 256x192 and upside down, as the intro's bottom-up converter wants it.
    r = sh("$N encode '" + src + "' " + dir() + "intro.nvd --for-intro --qp 2", "intro");
    ASSERT_EQ(0, r.status) << r.out;
    nvd = read_all(dir() + "intro.nvd");
    EXPECT_EQ(256, header_field(nvd, 1));
    EXPECT_EQ(192, header_field(nvd, 2));
    ASSERT_EQ(0, sh("$N decode " + dir() + "intro.nvd " + dir() + "intro.yv12", "intro_decode").status);
    for (const char* vf : {"scale=256:192,vflip", "scale=256:192"}) {
        ASSERT_EQ(0, std::system(("ffmpeg -v error -y -i 'file:" + src + "' -vf " + vf +
                                  " -pix_fmt yuv420p -f rawvideo " + dir() + "ref.yuv > /dev/null 2>&1")
                                     .c_str()));
        const auto ours = read_all(dir() + "intro.yv12"), ref = read_all(dir() + "ref.yuv");
        ASSERT_GE(ours.size(), 256u * 192);
        ASSERT_GE(ref.size(), 256u * 192);
        const double p = luma_psnr(ours.data(), ref.data(), 256 * 192);
        if (std::strstr(vf, "vflip"))
            EXPECT_GT(p, 30.0) << "against the flipped source";
        else
            EXPECT_LT(p, 20.0) << "against the unflipped source";
    }

    // Standard input stays YUV4MPEG2, read directly.
    r = sh("ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 3 -f yuv4mpegpipe - | $N encode - " +
               dir() + "stdin.nvd",
           "stdin");
    ASSERT_EQ(0, r.status) << r.out;
    EXPECT_EQ(64, header_field(read_all(dir() + "stdin.nvd"), 1));
}

TEST(NvdtoolEncode, MissingOrFailingFfmpegIsAFailureWithoutOutput) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string src = dir() + "small.mkv", out = dir() + "nothing.nvd";
    ASSERT_EQ(0, std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 2 -c:v ffv1 " +
                              src + " > /dev/null 2>&1")
                                 .c_str()));
    std::filesystem::remove(out);
    Result r = sh("PATH=/nonexistent $N encode " + src + " " + out, "no_ffmpeg");
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("ffmpeg is not installed")) << r.out;
    EXPECT_FALSE(std::filesystem::exists(out));

    std::ofstream(dir() + "junk.bin") << "this is no video at all";
    r = sh("$N encode " + dir() + "junk.bin " + out, "junk");
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("ffmpeg failed")) << r.out;
    EXPECT_FALSE(std::filesystem::exists(out));

    // A rate outside what the stream can hold is refused before anything is coded (it once gave a gigabyte).
    r = sh("printf 'YUV4MPEG2 W64 H48 F1:2147483647\\n' | $N encode - " + out, "rate");
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("outside 1/1001 .. 1000")) << r.out;
    EXPECT_FALSE(std::filesystem::exists(out));

    r = sh("$N encode " + src + " " + out + " --size 100x7", "bad_size");
    EXPECT_EQ(2, r.status) << r.out;
}
