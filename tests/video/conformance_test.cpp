// Conformance against streams no one here wrote: ffmpeg's MPEG-4 encoder on moving test sources, imported and
// decoded with nvdtool, then compared with the source frames and with ffmpeg's own decode of the same stream.
// A wrong table or rounding rule costs many dB within a few frames; a correct decoder lands within a fraction
// of a dB of ffmpeg (the two inverse DCTs differ by a unit here and there).
#include <gtest/gtest.h>

#include <algorithm>
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
#include "platform/fatal.h"
#include "tests/support/test_files.h"
#include "tests/support/test_paths.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/decoder_core.h"

using namespace zorbrix;

namespace {

std::string output_dir() {
    const std::string dir = test_output_path("video-conformance");
    std::filesystem::create_directories(dir);
    return dir;
}

bool have_ffmpeg() { return std::system("ffmpeg -version > /dev/null 2>&1") == 0; }

int run(const std::string& cmd) { return std::system((cmd + " > /dev/null 2>&1").c_str()); }

struct Case {
    const char* name;
    int width;
    int height;
    const char* source;  // lavfi graph without size/rate
    int frames;
    const char* options;
    const char* feature;      // a --stats counter that must be non-zero ("" for none)
    const char* filter = "";  // appended to the source graph
    // Tolerance against ffmpeg's decode, every frame and every plane.
    double min_psnr = 45.0;         // dB
    int max_difference = 4;         // sample levels
    double source_psnr_gap = 0.25;  // dB: our luma PSNR against the source may trail ffmpeg's by this much
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
    // Sizes other than the intro's.
    {"qcif_176x144", 176, 144, "testsrc2", 20, "-qscale:v 5", "inter"},
    {"vga_640x480", 640, 480, "testsrc2", 10, "-qscale:v 5", "inter", ",scroll=h=0.01"},
    // A long GOP: 299 predicted frames after one I-VOP. The two inverse DCTs differ by a unit here and there and
    // the differences pile up through the predictions until the next I-VOP, so the tolerance is wider.
    {"gop_300", 256, 192, "testsrc2", 300, "-qscale:v 4 -g 300", "inter", "", 45.0, 16, 0.5},
    // ffmpeg's rate control: the quantiser changes from frame to frame.
    {"rate_control", 256, 192, "testsrc2", 50, "-b:v 150k", "inter"},
    // Video packets as slice threads and a packet size write them: I- and P-VOPs.
    {"slices_256x192", 256, 192, "testsrc2", 20, "-threads 4 -slices 4 -qscale:v 5 -g 8", "video_packets"},
    {"slices_720x576", 720, 576, "testsrc2", 10, "-threads 2 -qscale:v 6 -g 5", "video_packets", ",scroll=h=0.02"},
    {"packet_size_256x192", 256, 192, "mandelbrot", 12, "-ps 400 -b:v 300k -g 6", "video_packets"},
};

// Reads an .nvd file's records and decodes them here (the decoder is a library, so its counters can be read).
mpeg4::DecodeStats decode_in_process(const std::string& nvd) {
    const std::vector<uint8_t> file = read_all(nvd);
    int handle = 0;
    if (file.size() < 16) return {};
    int32_t header[3];
    std::memcpy(header, file.data(), 12);
    InitParams init{header[1], header[2], 0, FMT_YV12};
    decoder_call(&handle, OPT_INIT, &init, nullptr);
    std::vector<uint8_t> out(static_cast<size_t>(header[1]) * header[2] * 3 / 2);
    size_t pos = 16;
    for (int i = 0; i < header[0] && pos + 4 <= file.size(); ++i) {
        int32_t length;
        std::memcpy(&length, file.data() + pos, 4);
        std::vector<uint8_t> chunk(file.begin() + static_cast<long>(pos) + 4,
                                   file.begin() + static_cast<long>(pos) + 4 + length);
        chunk.resize(chunk.size() + 4, 0);
        FrameParams f{out.data(), chunk.data(), length, 1};
        decoder_call(&handle, OPT_DECODE, &f, nullptr);
        pos += 4 + static_cast<size_t>(length);
    }
    const mpeg4::DecodeStats stats = decoder_instance(&handle)->stats;
    decoder_call(&handle, OPT_RELEASE, nullptr, nullptr);
    return stats;
}

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
    ASSERT_EQ(
        0, run("ffmpeg -nostdin -y " + input + frames + " -c:v mpeg4 -threads 1 -bf 0 -flags +bitexact " + c.options +
               " -f m4v " + base + ".m4v" + frames + " -f rawvideo -pix_fmt yuv420p " + base + ".src"));
    ASSERT_EQ(0,
              run("ffmpeg -nostdin -y -threads 1 -i " + base + ".m4v -f rawvideo -pix_fmt yuv420p " + base + ".ffdec"));
    ASSERT_EQ(0, run(nvdtool + " import " + base + ".m4v " + base + ".nvd"));
    ASSERT_EQ(
        0, std::system((nvdtool + " decode " + base + ".nvd " + base + ".yv12 --stats > " + base + ".stats").c_str()));

    const auto stats = parse_stats(base + ".stats");
    EXPECT_EQ(c.frames, stats.at("vops"));
    if (std::string(c.feature) == "video_packets") {
        EXPECT_GE(decode_in_process(base + ".nvd").video_packets, c.frames) << "the stream has no video packets";
    } else if (*c.feature) {
        EXPECT_GT(stats.at(c.feature), std::string(c.feature) == "max_fcode" ? 1 : 0) << c.feature << " not exercised";
    }

    const auto ours = read_all(base + ".yv12"), ff = read_all(base + ".ffdec"), src = read_all(base + ".src");
    const size_t luma = static_cast<size_t>(c.width) * c.height, quarter = luma / 4, frame = luma + 2 * quarter;
    ASSERT_EQ(frame * c.frames, ours.size());
    ASSERT_EQ(frame * c.frames, ff.size());
    ASSERT_EQ(frame * c.frames, src.size());
    double sum_ours = 0, sum_ff = 0;
    double worst[3] = {99, 99, 99};
    int max_diff[3] = {0, 0, 0};
    for (int f = 0; f < c.frames; ++f) {
        const uint8_t* o = ours.data() + f * frame;  // Y, V, U
        const uint8_t* r = ff.data() + f * frame;    // Y, U, V
        const uint8_t* s = src.data() + f * frame;
        const double po = psnr(o, s, luma), pf = psnr(r, s, luma);
        sum_ours += po;
        sum_ff += pf;
        EXPECT_NEAR(pf, po, c.source_psnr_gap) << "frame " << f;
        // Against ffmpeg's own decode: only inverse DCT rounding differs, a few units at most.
        const uint8_t* planes_ours[3] = {o, o + luma + quarter, o + luma};
        const uint8_t* planes_ff[3] = {r, r + luma, r + luma + quarter};
        const size_t sizes[3] = {luma, quarter, quarter};
        for (int k = 0; k < 3; ++k) {
            const double p = psnr(planes_ours[k], planes_ff[k], sizes[k]);
            worst[k] = std::min(worst[k], p);
            for (size_t i = 0; i < sizes[k]; ++i)
                max_diff[k] = std::max(max_diff[k], std::abs(planes_ours[k][i] - planes_ff[k][i]));
            EXPECT_GT(p, c.min_psnr) << "YUV"[k] << " of frame " << f;
        }
    }
    for (int k = 0; k < 3; ++k) EXPECT_LE(max_diff[k], c.max_difference) << "YUV"[k];
    std::printf(
        "%s: mean luma PSNR ours %.3f dB, ffmpeg %.3f dB; against ffmpeg's decode worst PSNR Y %.2f U %.2f "
        "V %.2f dB, max difference Y %d U %d V %d\n",
        c.name, sum_ours / c.frames, sum_ff / c.frames, worst[0], worst[1], worst[2], max_diff[0], max_diff[1],
        max_diff[2]);
}

INSTANTIATE_TEST_SUITE_P(FfmpegStreams, Conformance, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ConformancePostProcessing, Level100DeblocksWithoutLosingThePicture) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string dir = output_dir();
    const std::string base = dir + "/postproc";
    const std::string nvdtool = build_dir() + "/bin/nvdtool";
    const std::string input = "-f lavfi -i \"testsrc2=size=256x192:rate=25\"";
    ASSERT_EQ(0, run("ffmpeg -nostdin -y " + input +
                     " -frames:v 6 -c:v mpeg4 -threads 1 -bf 0 -flags +bitexact -qscale:v 20 -f m4v " + base +
                     ".m4v -frames:v 6 -f rawvideo -pix_fmt yuv420p " + base + ".src"));
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
    // The planar output is filtered straight into the destination, the 32-bit one through the decoder's own
    // planes: converting the planar pictures must give the 32-bit ones byte for byte.
    std::vector<uint8_t> converted(luma * 4);
    for (int f = 0; f < 6; ++f) {
        const uint8_t* y = p100.data() + f * frame;
        const uint8_t* v = y + luma;
        const uint8_t* u = v + luma / 4;
        convert_rgb32(y, 256, u, v, 128, converted.data(), 256, -192);
        EXPECT_EQ(0, std::memcmp(converted.data(), rgb.data() + f * luma * 4, luma * 4)) << "frame " << f;
    }
    // The last frame as a picture for people to look at (the 32-bit layout stores the bottom row first).
    std::vector<uint32_t> px(luma);
    const uint32_t* last = reinterpret_cast<const uint32_t*>(rgb.data() + 5 * luma * 4);
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x) px[y * 256 + x] = last[(191 - y) * 256 + x];
    EXPECT_TRUE(write_png_rgb(dir + "/postproc_level100.png", px.data(), 256, 192));
}

namespace {

// Splits an elementary stream into the decoder's chunks: the first from the video object start code up to the
// second VOP, then one VOP each; returns the status the decoder ended with (-1: none) and its standard error.
int decode_elementary(const std::vector<uint8_t>& es, int width, int height, std::string* err) {
    std::vector<size_t> starts;
    size_t object = std::string::npos;
    for (size_t i = 0; i + 3 < es.size(); ++i) {
        if (es[i] || es[i + 1] || es[i + 2] != 1) continue;
        if (es[i + 3] <= 0x1F && object == std::string::npos) object = i;
        if (es[i + 3] == 0xB6) starts.push_back(i);
    }
    if (object == std::string::npos || starts.empty()) return -2;
    starts[0] = object;
    starts.push_back(es.size());
    int handle = 0;
    InitParams init{width, height, 0, FMT_YV12};
    decoder_call(&handle, OPT_INIT, &init, nullptr);
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 3 / 2);
    int status = -1;
    ScopedFatalTrap trap;
    testing::internal::CaptureStderr();
    try {
        for (size_t k = 0; k + 1 < starts.size(); ++k) {
            std::vector<uint8_t> chunk(es.begin() + static_cast<long>(starts[k]),
                                       es.begin() + static_cast<long>(starts[k + 1]));
            const int32_t length = static_cast<int32_t>(chunk.size());
            chunk.resize(chunk.size() + 4, 0);
            FrameParams f{out.data(), chunk.data(), length, 1};
            decoder_call(&handle, OPT_DECODE, &f, nullptr);
        }
    } catch (const FatalExit& e) {
        status = e.status;
    }
    *err = testing::internal::GetCapturedStderr();
    decoder_call(&handle, OPT_RELEASE, nullptr, nullptr);
    return status;
}

}  // namespace

TEST(ConformanceRefusals, UnsupportedFfmpegStreamsEndWithTheirStatusAndName) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string base = output_dir() + "/refusal";
    const std::string input =
        "-f lavfi -i \"testsrc2=size=256x192:rate=25\" -frames:v 4 -c:v mpeg4 -threads 1 -bf 0 -flags +bitexact ";
    struct Refusal {
        const char* options;
        int status;
        const char* message;
    };
    const Refusal refusals[] = {
        {"-mpeg_quant 1", 110, "unsupported video feature: MPEG quantisation\n"},
        {"-data_partitioning 1", 102, "unsupported video feature: data partitioning\n"},
        {"-flags +ildct", 109, "unsupported video feature: interlace\n"},
        {"-qscale:v 5", -1, ""},  // the same stream without them plays
    };
    for (const Refusal& r : refusals) {
        ASSERT_EQ(0, run("ffmpeg -nostdin -y " + input + r.options + " -f m4v " + base + ".m4v")) << r.options;
        std::string err;
        EXPECT_EQ(r.status, decode_elementary(read_all(base + ".m4v"), 256, 192, &err)) << r.options;
        EXPECT_EQ(r.message, err) << r.options;
    }
}
