// YUV4MPEG2 reading and writing and the .nvd layout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/test_files.h"
#include "tests/support/test_paths.h"
#include "tools/encoder/encode_file.h"
#include "tools/encoder/nvd_writer.h"
#include "tools/encoder/y4m.h"

namespace {

using namespace zorbrix::enc;

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(Y4m, WritesAndReadsBackFramesAndRate) {
    const std::string path = test_output_path("io_roundtrip.y4m");
    YuvFrame f;
    f.allocate(6, 4);
    for (size_t i = 0; i < f.y.size(); ++i) f.y[i] = static_cast<uint8_t>(i * 7);
    f.u[3] = 9;
    f.v[5] = 200;
    {
        Y4mWriter w;
        std::string error;
        ASSERT_TRUE(w.open(path, Y4mHeader{6, 4, 30000, 1001}, &error)) << error;
        ASSERT_TRUE(w.write_frame(f));
        ASSERT_TRUE(w.write_frame(f));
        ASSERT_TRUE(w.close());
    }
    Y4mReader r;
    std::string error;
    ASSERT_TRUE(r.open(path, &error)) << error;
    EXPECT_EQ(r.header().width, 6);
    EXPECT_EQ(r.header().fps_num, 30000);
    EXPECT_EQ(r.header().fps_den, 1001);
    YuvFrame g;
    ASSERT_TRUE(r.read_frame(&g, &error));
    EXPECT_EQ(g.y, f.y);
    EXPECT_EQ(g.u, f.u);
    EXPECT_EQ(g.v, f.v);
    ASSERT_TRUE(r.read_frame(&g, &error));
    EXPECT_FALSE(r.read_frame(&g, &error));
    EXPECT_TRUE(error.empty()) << "a clean end is not an error: " << error;
}

TEST(Y4m, RejectsWhatItCannotReadWithAReason) {
    struct Bad {
        std::string text, expect;
    };
    const Bad cases[] = {
        {"P5 2 2 255\n", "not a YUV4MPEG2 file"},
        {"YUV4MPEG2 W16 H16 C444\nFRAME\n", "4:2:0"},
        {"YUV4MPEG2 W16 H16 F25:0\n", "frame rate"},
        {"YUV4MPEG2 H16\n", "picture size"},
        {"YUV4MPEG2 W15 H16\n", "even"},
        {"YUV4MPEG2 W16 H16 C420p10\n", "8-bit"},
        // Declared sizes and rates are bounded before anything is allocated or coded.
        {"YUV4MPEG2 W64 H48 F1:2147483647\n", "outside 1/1001 .. 1000"},
        {"YUV4MPEG2 W64 H48 F1001:1\n", "outside 1/1001 .. 1000"},
        {"YUV4MPEG2 W64 H48 F1:1002\n", "outside 1/1001 .. 1000"},
        {"YUV4MPEG2 W64 H48 F99999999999999999999:1\n", "bad frame rate"},
        {"YUV4MPEG2 W64 H48 F25\n", "bad frame rate"},
        {"YUV4MPEG2 W99999999999 H48\n", "bad picture width W99999999999"},
        {"YUV4MPEG2 W64 H16385\n", "bad picture height H16385"},
        {"YUV4MPEG2 W-64 H48\n", "bad picture width"},
        {"YUV4MPEG2 W64x H48\n", "bad picture width"},
    };
    for (const Bad& b : cases) {
        const std::string path = test_output_path("bad.y4m");
        write_text(path, b.text);
        Y4mReader r;
        std::string error;
        EXPECT_FALSE(r.open(path, &error)) << b.text;
        EXPECT_NE(error.find(b.expect), std::string::npos) << error;
    }
    // A truncated frame is reported, not taken as the end.
    const std::string path = test_output_path("short.y4m");
    write_text(path, "YUV4MPEG2 W4 H2\nFRAME\n123456789ab\nFRAME\n12");
    Y4mReader r;
    std::string error;
    ASSERT_TRUE(r.open(path, &error));
    YuvFrame f;
    EXPECT_TRUE(r.read_frame(&f, &error));
    EXPECT_FALSE(r.read_frame(&f, &error));
    EXPECT_NE(error.find("truncated"), std::string::npos);
    Y4mReader missing;
    EXPECT_FALSE(missing.open(test_output_path("does-not-exist.y4m"), &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST(Y4m, TakesTheRatesAtTheEdgesOfTheRange) {
    for (const char* rate : {"F1:1001", "F1000:1", "F30000:1001", "F2000:2"}) {
        const std::string path = test_output_path("edge_rate.y4m");
        write_text(path, std::string("YUV4MPEG2 W16 H16 ") + rate + "\n");
        Y4mReader r;
        std::string error;
        EXPECT_TRUE(r.open(path, &error)) << rate << ": " << error;
    }
}

TEST(Nvd, FileAndMemoryLayoutsMatchAndEndWithSpareBytes) {
    const std::vector<std::vector<uint8_t>> records = {{1, 2, 3}, {}, {9}};
    const std::vector<uint8_t> mem = build_nvd(32, 16, 25.0f, records);
    const std::vector<uint8_t> expected_start = {3, 0, 0,    0,    32, 0, 0, 0, 16, 0, 0, 0,
                                                 0, 0, 0xC8, 0x41, 3,  0, 0, 0, 1,  2, 3};
    ASSERT_GE(mem.size(), expected_start.size());
    EXPECT_TRUE(std::equal(expected_start.begin(), expected_start.end(), mem.begin()));
    EXPECT_EQ(mem.size(), 16u + 7 + 4 + 5 + 4);
    EXPECT_EQ(std::vector<uint8_t>(mem.end() - 4, mem.end()), std::vector<uint8_t>(4, 0));

    const std::string path = test_output_path("layout.nvd");
    NvdWriter w;
    std::string error;
    ASSERT_TRUE(w.open(path, 32, 16, 25.0f, &error)) << error;
    for (const auto& r : records) ASSERT_TRUE(w.add_record(r));
    ASSERT_TRUE(w.finish(&error)) << error;
    EXPECT_EQ(read_all(path), mem);
}

TEST(EncodeFile, ExtendsOddSizesByRepeatingEdges) {
    YuvFrame f;
    f.allocate(18, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 18; ++x) f.y[y * 18 + x] = static_cast<uint8_t>(10 * y + x);
    const YuvFrame g = extend_to_macroblocks(f);
    ASSERT_EQ(g.width, 32);
    ASSERT_EQ(g.height, 16);
    EXPECT_EQ(g.y[0], 0);
    EXPECT_EQ(g.y[31], 17);           // last column repeated
    EXPECT_EQ(g.y[15 * 32 + 5], 95);  // last row repeated
    EXPECT_EQ(g.u.size(), 16u * 8);
}

}  // namespace

namespace {

// Input cut off inside a frame keeps the complete frames and says so; damage before any frame is an error.
TEST(EncodeFile, KeepsTheCompleteFramesOfATruncatedInput) {
    const std::string in = test_output_path("cut_off.y4m"), out = test_output_path("cut_off.nvd");
    std::string data = "YUV4MPEG2 W16 H16 F25:1\n";
    for (int i = 0; i < 2; ++i) data += "FRAME\n" + std::string(16 * 16 * 3 / 2, static_cast<char>(60 + 40 * i));
    data += "FRAME\n" + std::string(100, 'x');
    write_text(in, data);
    std::string error, note;
    EncodeSummary s;
    ASSERT_TRUE(encode_y4m_to_nvd(in, out, EncoderOptions{}, 0, &error, &s, &note)) << error;
    EXPECT_EQ(s.frames, 2);
    EXPECT_NE(note.find("truncated"), std::string::npos) << note;
    const auto file = read_all(out);
    ASSERT_GE(file.size(), 4u);
    EXPECT_EQ(file[0], 2);

    write_text(in, "YUV4MPEG2 W16 H16 F25:1\nFRAME\nxx");
    EXPECT_FALSE(encode_y4m_to_nvd(in, out, EncoderOptions{}, 0, &error, &s, &note));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    EXPECT_EQ(read_all(out), file) << "a failed encode must not destroy the earlier file";
    EXPECT_TRUE(read_all(out + ".part").empty()) << "no partial file is left behind";
}

// A writer left unfinished leaves nothing beside its output; an output written in place (here a pipe, which cannot
// be rewritten) still gets the final frame count in its header.
TEST(NvdWriterOutput, AbandonedLeavesNothingAndPipesGetTheWholeFile) {
    namespace fs = std::filesystem;
    const fs::path dir = test_output_path("nvd_writer_abandoned");
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        NvdWriter w;
        std::string error;
        ASSERT_TRUE(w.open((dir / "x.nvd").string(), 16, 16, 25.0f, &error)) << error;
        ASSERT_TRUE(w.add_record({1, 2, 3}));
    }
    EXPECT_TRUE(fs::is_empty(dir)) << "an unfinished writer left a file behind";

    const std::vector<std::vector<uint8_t>> records = {{9, 8, 7}, {}, {1}};
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::vector<uint8_t> received;
    std::thread reader([&] {
        uint8_t buf[256];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) received.insert(received.end(), buf, buf + n);
    });
    {
        NvdWriter w;
        std::string error;
        EXPECT_TRUE(w.open("/dev/fd/" + std::to_string(fds[1]), 16, 16, 25.0f, &error)) << error;
        for (const auto& r : records) EXPECT_TRUE(w.add_record(r));
        EXPECT_TRUE(w.finish(&error)) << error;
    }
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    EXPECT_EQ(received, build_nvd(16, 16, 25.0f, records));
}

}  // namespace
