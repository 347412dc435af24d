// Conformance against streams no one here wrote: ffmpeg's MPEG-4 encoder on moving test sources, imported and
// decoded with nvdtool, then compared with the source frames and with ffmpeg's own decode of the same stream.
// A wrong table or rounding rule costs many dB within a few frames; a correct decoder lands within a fraction
// of a dB of ffmpeg (the two inverse DCTs differ by a unit here and there).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/png_writer.h"
#include "tests/support/test_paths.h"

namespace {

std::string output_dir() {
    const std::string dir = test_output_path("video-conformance");
    std::filesystem::create_directories(dir);
    return dir;
}

bool have_ffmpeg() { return std::system("ffmpeg -version > /dev/null 2>&1") == 0; }

int run(const std::string& cmd) { return std::system((cmd + " > /dev/null 2>&1").c_str()); }

std::vector<uint8_t> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}

struct Case {
    const char* name;
    int width;
    int height;
    const char* source;  // lavfi graph without size/rate
    int frames;
    const char* options;
    const char* feature;  // a --stats counter that must be non-zero ("" for none)
    const char* filter = "";  // appended to the source graph
};

const Case kCases[] = {
    {"plain", 256, 192, "testsrc2", 16, "-qscale:v 4", "inter"},
    {"four_vectors", 256, 192, "testsrc2", 12, "-qscale:v 5 -flags +mv4+bitexact", "inter4v"},
    {"ac_prediction", 256, 192, "mandelbrot", 10, "-qscale:v 6 -flags +aic+bitexact", "ac_predicted"},
    {"intra_only", 256, 192, "testsrc2", 4, "-qscale:v 3 -g 1", "intra"},
    {"dquant", 256, 192, "testsrc2", 10, "-b:v 200k -lumi_mask 0.5 -dark_mask 0.5 -p_mask 0.5 -mbd rd", "inter_q"},
    {"finest", 256, 192, "testsrc2", 4, "-qscale:v 1", "escape3"},
    {"coarsest", 256, 192, "testsrc2", 8, "-qscale:v 31 -flags +mv4+bitexact", "inter"},
    {"large_motion_720x576", 720, 576, "testsrc2", 8, "-qscale:v 6 -flags +mv4+bitexact", "max_fcode",
     ",scroll=h=0.03:v=0.02"},
    // Saturated colour at the coarsest quantiser: chroma DCs above the 12-bit range, whose saturated values are
    // the next blocks' predictors (an I-VOP after the first went wrong in one chroma plane along its row).
    {"saturated_q31", 256, 192, "testsrc2", 30, "-qscale:v 31 -g 10", "intra", ",eq=saturation=1.8"},
};

std::map<std::string, long> parse_stats(const std::string& path) {
    std::map<std::string, long> m;
    std::ifstream in(path);
    std::string key;
    long value;
    while (in >> key >> value) m[key] = value;
    return m;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Conformance : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(Conformance, MatchesAnIndependentDecoder) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const Case& c = GetParam();
    const std::string dir = output_dir();
    const std::string base = dir + "/" + c.name;
    const std::string nvdtool = build_dir() + "/bin/nvdtool";
    std::ostringstream graph;
    graph << c.source << "=size=" << c.width << "x" << c.height << ":rate=25" << c.filter;
    const std::string input = "-f lavfi -i \"" + graph.str() + "\"";
    const std::string frames = " -frames:v " + std::to_string(c.frames);
    // One run writes the stream and the source frames.
    ASSERT_EQ(0, run("ffmpeg -nostdin -y " + input + frames + " -c:v mpeg4 -threads 1 -bf 0 -flags +bitexact " + c.options +
                     " -f m4v " + base + ".m4v" + frames + " -f rawvideo -pix_fmt yuv420p " + base + ".src"));
    ASSERT_EQ(0, run("ffmpeg -nostdin -y -threads 1 -i " + base + ".m4v -f rawvideo -pix_fmt yuv420p " + base + ".ffdec"));
    ASSERT_EQ(0, run(nvdtool + " import " + base + ".m4v " + base + ".nvd"));
    ASSERT_EQ(0, std::system((nvdtool + " decode " + base + ".nvd " + base + ".yv12 --stats > " + base + ".stats").c_str()));

    const auto stats = parse_stats(base + ".stats");
    EXPECT_EQ(c.frames, stats.at("vops"));
    if (*c.feature) {
        EXPECT_GT(stats.at(c.feature), std::string(c.feature) == "max_fcode" ? 1 : 0) << c.feature << " not exercised";
    }

    const auto ours = read_all(base + ".yv12"), ff = read_all(base + ".ffdec"), src = read_all(base + ".src");
    const size_t luma = static_cast<size_t>(c.width) * c.height, quarter = luma / 4, frame = luma + 2 * quarter;
    ASSERT_EQ(frame * c.frames, ours.size());
    ASSERT_EQ(frame * c.frames, ff.size());
    ASSERT_EQ(frame * c.frames, src.size());
    double sum_ours = 0, sum_ff = 0;
    for (int f = 0; f < c.frames; ++f) {
        const uint8_t* o = ours.data() + f * frame;  // Y, V, U
        const uint8_t* r = ff.data() + f * frame;    // Y, U, V
        const uint8_t* s = src.data() + f * frame;
        const double po = psnr(o, s, luma), pf = psnr(r, s, luma);
        sum_ours += po;
        sum_ff += pf;
        EXPECT_NEAR(pf, po, 0.25) << "frame " << f;
        // Against ffmpeg's own decode: only IDCT rounding differs.
        EXPECT_GT(psnr(o, r, luma), 45.0) << "luma of frame " << f;
        EXPECT_GT(psnr(o + luma, r + luma + quarter, quarter), 45.0) << "V of frame " << f;
        EXPECT_GT(psnr(o + luma + quarter, r + luma, quarter), 45.0) << "U of frame " << f;
    }
    std::printf("%s: mean luma PSNR ours %.3f dB, ffmpeg %.3f dB\n", c.name, sum_ours / c.frames, sum_ff / c.frames);
}

INSTANTIATE_TEST_SUITE_P(FfmpegStreams, Conformance, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ConformancePostProcessing, Level100DeblocksWithoutLosingThePicture) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string dir = output_dir();
    const std::string base = dir + "/postproc";
    const std::string nvdtool = build_dir() + "/bin/nvdtool";
    const std::string input = "-f lavfi -i \"testsrc2=size=256x192:rate=25\"";
    ASSERT_EQ(0, run("ffmpeg -nostdin -y " + input + " -frames:v 6 -c:v mpeg4 -threads 1 -bf 0 -flags +bitexact -qscale:v 20 -f m4v " +
                     base + ".m4v -frames:v 6 -f rawvideo -pix_fmt yuv420p " + base + ".src"));
    ASSERT_EQ(0, run(nvdtool + " import " + base + ".m4v " + base + ".nvd"));
    ASSERT_EQ(0, run(nvdtool + " decode " + base + ".nvd " + base + ".pp0 --format yv12"));
    ASSERT_EQ(0, run(nvdtool + " decode " + base + ".nvd " + base + ".pp100 --format yv12 --postproc 100"));
    ASSERT_EQ(0, run(nvdtool + " decode " + base + ".nvd " + base + ".rgb --format rgb32 --postproc 100"));
    const auto p0 = read_all(base + ".pp0"), p100 = read_all(base + ".pp100"), src = read_all(base + ".src");
    const auto rgb = read_all(base + ".rgb");
    const size_t luma = 256 * 192, frame = luma * 3 / 2;
    ASSERT_EQ(6 * frame, p100.size());
    ASSERT_EQ(6 * luma * 4, rgb.size());
    for (int f = 0; f < 6; ++f) {
        const double a = psnr(p0.data() + f * frame, src.data() + f * frame, luma);
        const double b = psnr(p100.data() + f * frame, src.data() + f * frame, luma);
        EXPECT_GT(b, a - 0.5) << "frame " << f;  // smoothing block edges costs little against the source
        EXPECT_NE(0, std::memcmp(p0.data() + f * frame, p100.data() + f * frame, luma)) << "nothing was filtered";
    }
    // The last frame as a picture for people to look at (the 32-bit layout stores the bottom row first).
    std::vector<uint32_t> px(luma);
    const uint32_t* last = reinterpret_cast<const uint32_t*>(rgb.data() + 5 * luma * 4);
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x) px[y * 256 + x] = last[(191 - y) * 256 + x];
    EXPECT_TRUE(write_png_rgb(dir + "/postproc_level100.png", px.data(), 256, 192));
}
