// nvdtool end to end: import drops the headers the decoder does not take and keeps one record per VOP, export
// gives the stream back, info lists the frames, decode writes every frame; bad input gives a message, not a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_files.h"
#include "tests/support/test_paths.h"
#include "tests/video/stream_builder.h"
#include "video/mpeg4/vlc_tables.h"

namespace {

using zorbrix::test::BitWriter;

std::string tool() { return build_dir() + "/bin/nvdtool"; }

struct Result {
    int status;
    std::string out;
};

Result run(const std::string& args) {
    // One log per test: the tests may run in parallel.
    const std::string log = test_output_path(std::string("nvdtool_") +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log");
    const int raw = std::system((tool() + " " + args + " > " + log + " 2>&1").c_str());
    std::ifstream in(log);
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(std::istreambuf_iterator<char>(in), {})};
    return r;
}

void write_all(const std::string& path, const std::vector<uint8_t>& d) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(d.data()), static_cast<long>(d.size()));
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& what) {
    to.insert(to.end(), what.begin(), what.end());
}

// A 32x16 elementary stream as a common encoder writes it: sequence and visual object headers, video object
// and layer, user data, a group of VOP, then an I-VOP and two P-VOPs.
struct Sample {
    std::vector<uint8_t> stream, headers, vops[3];
};

Sample make_sample() {
    Sample s;
    s.stream = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x89, 0x13, 0, 0, 0, 1, 0xB2, 'h', 'i'};
    BitWriter vol;
    zorbrix::test::write_vol(vol, {.width = 32, .height = 16, .resolution = 25});
    s.headers = vol.bytes();
    append(s.stream, s.headers);
    append(s.stream, {0, 0, 1, 0xB2, 'x', 'y', 'z', 0, 0, 1, 0xB3, 0, 0x10, 0x07});
    for (int i = 0; i < 3; ++i) {
        BitWriter v;
        zorbrix::test::write_vop_header(v, i == 0 ? 0 : 1, 8, 25);
        for (int mb = 0; mb < 2; ++mb) {
            if (i == 0)
                zorbrix::test::write_flat_intra_mb(v, false);
            else
                v.put(1, 1);  // skipped
        }
        v.stuff();
        s.vops[i] = v.bytes();
        append(s.stream, s.vops[i]);
    }
    return s;
}

}  // namespace

TEST(Nvdtool, ImportKeepsLayerHeadersWithTheFirstVopAndDropsTheRest) {
    const Sample s = make_sample();
    const std::string in = test_output_path("nvdtool_sample.m4v"), nvd = test_output_path("nvdtool_sample.nvd");
    write_all(in, s.stream);
    Result r = run("import " + in + " " + nvd + " --fps 12.5");
    ASSERT_EQ(0, r.status) << r.out;
    const auto file = read_all(nvd);
    ASSERT_GE(file.size(), 16u);
    int32_t header[3];
    float fps;
    std::memcpy(header, file.data(), 12);
    std::memcpy(&fps, file.data() + 12, 4);
    EXPECT_EQ(3, header[0]);
    EXPECT_EQ(32, header[1]);
    EXPECT_EQ(16, header[2]);
    EXPECT_FLOAT_EQ(12.5f, fps);
    size_t pos = 16;
    for (int i = 0; i < 3; ++i) {
        uint32_t len;
        std::memcpy(&len, file.data() + pos, 4);
        std::vector<uint8_t> want = i == 0 ? s.headers : std::vector<uint8_t>{};
        append(want, s.vops[i]);
        ASSERT_EQ(want, std::vector<uint8_t>(file.begin() + static_cast<long>(pos + 4),
                                             file.begin() + static_cast<long>(pos + 4 + len)))
            << "record " << i;
        pos += 4 + len;
    }
    EXPECT_EQ(pos + 4, file.size());  // four spare zero bytes
    EXPECT_EQ(0u, static_cast<uint32_t>(file[pos] | file[pos + 1] | file[pos + 2] | file[pos + 3]));

    // Without --fps the rate comes from the layer's timing: resolution 25, increments 1 apart.
    r = run("import " + in + " " + nvd);
    ASSERT_EQ(0, r.status) << r.out;
    std::memcpy(&fps, read_all(nvd).data() + 12, 4);
    EXPECT_GT(fps, 0.0f);

    // Export gives back the stream the decoder takes.
    const std::string out = test_output_path("nvdtool_sample_export.m4v");
    r = run("export " + nvd + " " + out);
    ASSERT_EQ(0, r.status) << r.out;
    std::vector<uint8_t> want = s.headers;
    for (const auto& v : s.vops) append(want, v);
    EXPECT_EQ(want, read_all(out));
}

TEST(Nvdtool, InfoAndDecode) {
    const Sample s = make_sample();
    const std::string in = test_output_path("nvdtool_sample2.m4v"), nvd = test_output_path("nvdtool_sample2.nvd");
    write_all(in, s.stream);
    ASSERT_EQ(0, run("import " + in + " " + nvd + " --fps 25").status);
    Result r = run("info " + nvd);
    ASSERT_EQ(0, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("frames: 3"));
    EXPECT_NE(std::string::npos, r.out.find("width: 32"));
    EXPECT_NE(std::string::npos, r.out.find("height: 16"));
    EXPECT_NE(std::string::npos, r.out.find("fps: 25"));
    EXPECT_NE(std::string::npos, r.out.find("frame 0: I"));
    EXPECT_NE(std::string::npos, r.out.find("frame 2: P"));

    const std::string yv12 = test_output_path("nvdtool_sample2.yv12"), rgb = test_output_path("nvdtool_sample2.rgb");
    ASSERT_EQ(0, run("decode " + nvd + " " + yv12).status);
    const auto frames = read_all(yv12);
    ASSERT_EQ(3u * 32 * 16 * 3 / 2, frames.size());
    for (int f = 0; f < 3; ++f) EXPECT_EQ(128, frames[f * 768 + 100]);  // flat grey, copied by the skips
    ASSERT_EQ(0, run("decode " + nvd + " " + rgb + " --format rgb32 --postproc 100").status);
    EXPECT_EQ(3u * 32 * 16 * 4, read_all(rgb).size());
}

TEST(Nvdtool, BadInputGivesMessages) {
    const std::string missing = test_output_path("no_such_input.m4v");
    Result r = run("import " + missing + " " + test_output_path("bad_input_out.nvd"));
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.out.find("cannot open"));
    // A stream without a layer header.
    const std::string novol = test_output_path("novol.m4v");
    write_all(novol, {0, 0, 1, 0xB6, 0x10, 0x20, 0x30});
    r = run("import " + novol + " " + test_output_path("bad_input_out.nvd"));
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.out.find("no video object layer"));
    // A truncated .nvd file.
    const std::string bad = test_output_path("truncated.nvd");
    write_all(bad, {2, 0, 0, 0, 32, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0x80, 0x3F, 100, 0, 0, 0, 1, 2});
    r = run("info " + bad);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.out.find("runs past the end"));
    r = run("decode " + bad + " " + test_output_path("bad_input_out.yv12"));
    EXPECT_EQ(1, r.status);
    r = run("decode " + bad + " " + test_output_path("bad_input_out.yv12") + " --postproc 101");
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.out.find("0..100"));
    r = run("frobnicate");
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.out.find("unknown command"));
    r = run("import " + novol + " " + test_output_path("bad_input_out.nvd") + " --fps -3");
    EXPECT_EQ(2, r.status);
}

TEST(Nvdtool, StreamSizeWinsOverAHeaderThatDisagrees) {
    const Sample s = make_sample();
    const std::string in = test_output_path("nvdtool_liar.m4v"), nvd = test_output_path("nvdtool_liar.nvd");
    write_all(in, s.stream);
    ASSERT_EQ(0, run("import " + in + " " + nvd).status);
    auto file = read_all(nvd);
    const int32_t wrong[2] = {16, 16};
    std::memcpy(file.data() + 4, wrong, 8);
    write_all(nvd, file);
    // Decoding at the header's size would give black frames with status 0; the stream's 32x16 is used and said.
    const std::string yv12 = test_output_path("nvdtool_liar.yv12");
    Result r = run("decode " + nvd + " " + yv12);
    ASSERT_EQ(0, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("header says 16x16 but the stream is 32x16")) << r.out;
    const auto frames = read_all(yv12);
    ASSERT_EQ(3u * 32 * 16 * 3 / 2, frames.size());
    EXPECT_EQ(128, frames[2 * 768 + 100]);
    r = run("info " + nvd);
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("layer header says 32x16, the file header 16x16")) << r.out;

    // A first record without a layer header cannot be decoded at all: refused, no output.
    std::vector<uint8_t> headless = {3, 0, 0, 0, 32, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0xC8, 0x41};
    for (const auto& v : s.vops) {
        const uint32_t n = static_cast<uint32_t>(v.size());
        append(headless, {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0, 0});
        append(headless, v);
    }
    append(headless, {0, 0, 0, 0});
    const std::string bad = test_output_path("nvdtool_headless.nvd"),
                      bad_out = test_output_path("nvdtool_headless.yv12");
    write_all(bad, headless);
    std::remove(bad_out.c_str());
    r = run("decode " + bad + " " + bad_out);
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("no video object layer header")) << r.out;
    EXPECT_FALSE(std::ifstream(bad_out).good());
}

TEST(Nvdtool, FailedWritesAreFailures) {
    const Sample s = make_sample();
    const std::string in = test_output_path("nvdtool_full.m4v"), nvd = test_output_path("nvdtool_full.nvd");
    write_all(in, s.stream);
    ASSERT_EQ(0, run("import " + in + " " + nvd).status);
    for (const std::string& cmd : {"info " + nvd + " > /dev/full", "decode " + nvd + " /dev/full",
                                   "export " + nvd + " /dev/full", "import " + in + " /dev/full"}) {
        const std::string log = test_output_path("nvdtool_full.log");
        const int raw = std::system((tool() + " " + cmd + " 2> " + log).c_str());
        std::ifstream l(log);
        const std::string text(std::istreambuf_iterator<char>(l), {});
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << cmd << ": " << text;
        EXPECT_FALSE(text.empty()) << cmd;
    }
    // A decode into a folder that does not exist leaves nothing and says why.
    Result r = run("decode " + nvd + " " + test_output_path("no/such/folder/out.yv12"));
    EXPECT_EQ(1, r.status) << r.out;
}

TEST(Nvdtool, ImportRefusesSpritesAndTakesWhatItCanMend) {
    auto stream_with = [](const zorbrix::test::VolOptions& o, int second_type, bool strip_object_header) {
        BitWriter vol;
        zorbrix::test::write_vol(vol, o);
        std::vector<uint8_t> s = vol.bytes();
        if (strip_object_header) s.erase(s.begin(), s.begin() + 4);
        for (int i = 0; i < 2; ++i) {
            BitWriter v;
            zorbrix::test::write_vop_header(v, i == 0 ? 0 : second_type, 8, 25);
            for (int mb = 0; mb < 2; ++mb) {
                if (i == 0)
                    zorbrix::test::write_flat_intra_mb(v, false);
                else
                    v.put(1, 1);
            }
            v.stuff();
            append(s, v.bytes());
        }
        return s;
    };
    const std::string in = test_output_path("nvdtool_sprite.m4v"), nvd = test_output_path("nvdtool_sprite.nvd");
    std::remove(nvd.c_str());
    // A layer with global motion compensation: refused at the layer, frame 0.
    write_all(in, stream_with({.width = 32, .height = 16, .resolution = 25, .verid = 2, .sprite_enable = 2}, 1, false));
    Result r = run("import " + in + " " + nvd);
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("sprite/GMC VOPs (frame 0): encode without -flags +gmc")) << r.out;
    EXPECT_FALSE(std::ifstream(nvd).good());
    // An S-VOP in a plain layer: refused where it appears.
    write_all(in, stream_with({.width = 32, .height = 16, .resolution = 25}, 3, false));
    r = run("import " + in + " " + nvd);
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("sprite/GMC VOPs (frame 1)")) << r.out;
    EXPECT_FALSE(std::ifstream(nvd).good());

    // User data after the layer is dropped (the decoder would stop at it) and a missing video object header is
    // supplied: the result plays.
    write_all(in, stream_with({.width = 32, .height = 16, .resolution = 25, .user_data_after = true}, 1, true));
    r = run("import " + in + " " + nvd);
    ASSERT_EQ(0, r.status) << r.out;
    const auto file = read_all(nvd);
    ASSERT_GT(file.size(), 24u);
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 1, 0, 0, 0, 1, 0x20}),
              std::vector<uint8_t>(file.begin() + 20, file.begin() + 28));
    const std::string yv12 = test_output_path("nvdtool_mended.yv12");
    r = run("decode " + nvd + " " + yv12);
    ASSERT_EQ(0, r.status) << r.out;
    const auto frames = read_all(yv12);
    ASSERT_EQ(2u * 768, frames.size());
    EXPECT_EQ(128, frames[768 + 100]);
}

TEST(Nvdtool, StandardOutputCarriesOnlyTheFile) {
    // With "-" as the output, the summary and statistics go to standard error, not into the data.
    const Sample s = make_sample();
    const std::string in = test_output_path("nvdtool_pipe.m4v"), nvd = test_output_path("nvdtool_pipe.nvd"),
                      piped = test_output_path("nvdtool_piped.nvd"), frames = test_output_path("nvdtool_piped.yv12");
    write_all(in, s.stream);
    ASSERT_EQ(0, run("import " + in + " " + nvd).status);
    ASSERT_EQ(0, std::system(("cat " + in + " | " + tool() + " import - - > " + piped + " 2>/dev/null").c_str()));
    EXPECT_EQ(read_all(nvd), read_all(piped));
    ASSERT_EQ(0, std::system((tool() + " decode " + nvd + " - --stats > " + frames + " 2>/dev/null").c_str()));
    EXPECT_EQ(3u * 768, read_all(frames).size());
}
