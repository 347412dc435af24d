// nvdtool import on streams as ffmpeg writes them, made at test time: every container either imports and then
// decodes within 45 dB PSNR of ffmpeg's own decode (every frame, every plane; the two inverse DCTs differ by a unit
// here and there), or is refused with one line naming the feature, the frame and the option, and no output file.
#include <gtest/gtest.h>

#include <algorithm>
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
    const std::string d = test_output_path("nvdtool-import");
    std::filesystem::create_directories(d);
    return d + "/";
}

std::string tool() { return build_dir() + "/bin/nvdtool"; }

struct Result {
    int status;
    std::string out;
};

Result run(const std::string& args, const std::string& log_name) {
    const std::string log = dir() + log_name + ".log";
    const int raw = std::system((tool() + " " + args + " > " + log + " 2>&1").c_str());
    std::ifstream in(log);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(std::istreambuf_iterator<char>(in), {})};
}

// Encodes `frames` pictures of a moving test source with ffmpeg's MPEG-4 encoder into `path`.
bool make_stream(const std::string& path, const std::string& options, int width = 256, int height = 192,
                 int frames = 20) {
    const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
                            std::to_string(height) + ":rate=25 -frames:v " + std::to_string(frames) + " -c:v mpeg4 " +
                            options + " " + path + " > /dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 && std::filesystem::file_size(path) > 0;
}

// Imports, decodes, and holds every plane of every frame to ffmpeg's decode of the same file. Returns the lowest
// PSNR met.
double import_and_compare(const std::string& name, const std::string& stream, int width, int height, int frames) {
    const std::string nvd = dir() + name + ".nvd", yv12 = dir() + name + ".yv12", ref = dir() + name + ".ref";
    Result r = run("import " + stream + " " + nvd, name + "_import");
    EXPECT_EQ(0, r.status) << r.out;
    r = run("decode " + nvd + " " + yv12, name + "_decode");
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ(0, std::system(("ffmpeg -v error -y -i " + stream + " -f rawvideo -pix_fmt yuv420p " + ref).c_str()));
    const auto ours = read_all(yv12), theirs = read_all(ref);
    const size_t luma = static_cast<size_t>(width) * height, quarter = luma / 4, frame = luma + 2 * quarter;
    EXPECT_EQ(frame * frames, ours.size()) << name;
    EXPECT_EQ(ours.size(), theirs.size()) << name;
    double lowest = 99.0;
    for (size_t f = 0; f < static_cast<size_t>(frames) && (f + 1) * frame <= std::min(ours.size(), theirs.size());
         ++f) {
        const uint8_t* o = ours.data() + f * frame;    // Y, V, U
        const uint8_t* t = theirs.data() + f * frame;  // Y, U, V
        const double y = psnr(o, t, luma), v = psnr(o + luma, t + luma + quarter, quarter),
                     u = psnr(o + luma + quarter, t + luma, quarter);
        EXPECT_GT(y, 45.0) << name << " luma of frame " << f;
        EXPECT_GT(u, 45.0) << name << " U of frame " << f;
        EXPECT_GT(v, 45.0) << name << " V of frame " << f;
        lowest = std::min({lowest, y, u, v});
    }
    std::printf("%s: lowest plane PSNR against ffmpeg's decode %.2f dB over %d frames\n", name.c_str(), lowest, frames);
    return lowest;
}

}  // namespace

TEST(NvdtoolImport, EveryContainerDecodesLikeFfmpeg) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // The .m4v name makes ffmpeg write an MP4 container; -f m4v a raw elementary stream.
    const struct {
        const char* name;
        const char* file;
        const char* options;
        int width, height;
    } cases[] = {
        {"mp4_named_m4v", "c.m4v", "-threads 1", 256, 192},
        {"mov", "c.mov", "-threads 1", 256, 192},
        {"avi", "c.avi", "-threads 1", 256, 192},
        {"mkv", "c.mkv", "-threads 1", 256, 192},
        {"raw", "c.raw.m4v", "-threads 1 -f m4v", 256, 192},
        {"qcif_mkv", "q.mkv", "-threads 1", 176, 144},
        {"vga_rate_control_avi", "v.avi", "-threads 1 -b:v 400k", 640, 480},
    };
    for (const auto& c : cases) {
        const std::string stream = dir() + c.file;
        ASSERT_TRUE(make_stream(stream, c.options, c.width, c.height)) << c.name;
        import_and_compare(c.name, stream, c.width, c.height, 20);
    }
    // The container's rate is recorded.
    const auto nvd = read_all(dir() + "mp4_named_m4v.nvd");
    ASSERT_GE(nvd.size(), 16u);
    float fps;
    std::memcpy(&fps, nvd.data() + 12, 4);
    EXPECT_FLOAT_EQ(25.0f, fps);
}

TEST(NvdtoolImport, SliceThreadedStreamsAreAccepted) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // ffmpeg's default threading puts resync markers (video packets) in, which the decoder plays.
    const std::string stream = dir() + "slices.mp4", nvd = dir() + "slices.nvd";
    ASSERT_TRUE(make_stream(stream, "-threads 4 -slices 4"));
    const Result r = run("import " + stream + " " + nvd, "slices");
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("20 frames, 256x192")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("video packets")) << r.out;
}

TEST(NvdtoolImport, UnplayableStreamsAreRefusedBeforeAnythingIsWritten) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const struct {
        const char* name;
        const char* file;
        const char* options;
        int width, height;
        const char* message;
    } cases[] = {
        {"bframes", "b.avi", "-threads 1 -bf 2", 256, 192, "B-frames (frame 2): encode with -bf 0"},
        {"qpel", "qpel.mp4", "-threads 1 -flags +qpel", 256, 192,
         "quarter-pel motion (frame 0): encode without -flags +qpel"},
        {"interlace", "il.mkv", "-threads 1 -flags +ildct", 256, 192, "interlace (frame 0)"},
        {"mpeg_quant", "mq.mp4", "-threads 1 -mpeg_quant 1", 256, 192,
         "MPEG quantisation (frame 0): encode with -mpeg_quant 0"},
        {"partitioned", "dp.m4v", "-threads 1 -data_partitioning 1 -f m4v", 256, 192,
         "data partitioning (frame 0): encode with -data_partitioning 0"},
        {"odd_size", "odd.avi", "-threads 1", 250, 190, "picture size 250x190 (frame 0)"},
        {"too_large", "big.mp4", "-threads 1", 800, 608, "picture size 800x608 (frame 0)"},
    };
    for (const auto& c : cases) {
        const std::string stream = dir() + c.file, nvd = dir() + c.name + "_refused.nvd";
        ASSERT_TRUE(make_stream(stream, c.options, c.width, c.height, 6)) << c.name;
        std::filesystem::remove(nvd);
        const Result r = run("import " + stream + " " + nvd, std::string(c.name) + "_refused");
        EXPECT_EQ(1, r.status) << c.name << ": " << r.out;
        EXPECT_NE(std::string::npos, r.out.find(c.message)) << c.name << ": " << r.out;
        EXPECT_EQ(1, std::count(r.out.begin(), r.out.end(), '\n')) << c.name << ": one line, not " << r.out;
        EXPECT_FALSE(std::filesystem::exists(nvd)) << c.name;
        // Nothing beside it either (no temporary left behind).
        for (const auto& e : std::filesystem::directory_iterator(dir()))
            EXPECT_EQ(std::string::npos, e.path().filename().string().find(std::string(c.name) + "_refused.nvd."))
                << e.path();
    }
}

TEST(NvdtoolImport, SizeChangeMidwayAndForeignCodecsAreRefused) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string a = dir() + "part_a.m4v", b = dir() + "part_b.m4v", both = dir() + "parts.m4v";
    ASSERT_TRUE(make_stream(a, "-threads 1 -f m4v", 256, 192, 5));
    ASSERT_TRUE(make_stream(b, "-threads 1 -f m4v", 128, 96, 5));
    auto joined = read_all(a);
    const auto second = read_all(b);
    joined.insert(joined.end(), second.begin(), second.end());
    std::ofstream(both, std::ios::binary)
        .write(reinterpret_cast<const char*>(joined.data()), static_cast<long>(joined.size()));
    Result r = run("import " + both + " " + dir() + "parts.nvd", "parts");
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("picture size changes from 256x192 to 128x96 (frame 5)")) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir() + "parts.nvd"));

    // A video track in another codec names it and how to re-encode.
    const std::string mjpeg = dir() + "mjpeg.avi";
    ASSERT_EQ(0, std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 2 -c:v mjpeg " +
                              mjpeg + " > /dev/null 2>&1")
                                 .c_str()));
    r = run("import " + mjpeg + " " + dir() + "mjpeg.nvd", "mjpeg");
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("not MPEG-4 visual")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("-c:v mpeg4")) << r.out;
    // A file with sound only.
    const std::string sound = dir() + "sound.mkv";
    ASSERT_EQ(0, std::system(
                     ("ffmpeg -v error -y -f lavfi -i sine=duration=0.2 -c:a pcm_s16le " + sound + " > /dev/null 2>&1")
                         .c_str()));
    r = run("import " + sound + " " + dir() + "sound.nvd", "sound");
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("no video track")) << r.out;
}

TEST(NvdtoolImport, TruncatedContainersNeverCrashAndKeepWhatIsWhole) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // An AVI cut inside its last chunk keeps the complete frames and says so; other cuts give a message.
    for (const char* ext : {"avi", "mkv", "mp4"}) {
        const std::string stream = dir() + "cut." + ext;
        ASSERT_TRUE(make_stream(stream, "-threads 1", 64, 48, 8));
        const auto whole = read_all(stream);
        for (size_t keep : {whole.size() * 9 / 10, whole.size() / 2, size_t{40}, size_t{9}}) {
            const std::string cut = dir() + "cut_part." + ext;
            std::ofstream(cut, std::ios::binary)
                .write(reinterpret_cast<const char*>(whole.data()), static_cast<long>(keep));
            const Result r = run("import " + cut + " " + dir() + "cut_part.nvd", std::string("cut_") + ext);
            EXPECT_TRUE(r.status == 0 || r.status == 1) << ext << " cut at " << keep << ": " << r.out;
            EXPECT_FALSE(r.out.empty()) << ext << " cut at " << keep;
            if (r.status == 0 && std::string(ext) != "mp4") {
                EXPECT_NE(std::string::npos, r.out.find("kept")) << ext << ": " << r.out;
            }
        }
    }
}
