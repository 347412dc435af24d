// Decoders side by side: each handle of decoder_call, and so each VideoStream, decodes with a state of its own.
// Streams of different sizes and content, made here by the encoder, are decoded alone and then interleaved; every
// picture must be the same both ways. Also: the null handle's default decoder, release, and an unsupported stream on
// one handle leaving the others (and its own earlier layer) untouched. Decoders of different handles may also run on
// different threads at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "loading/file_load.h"
#include "platform/fatal.h"
#include "tests/support/test_paths.h"
#include "tests/tools/encoder/sequences.h"
#include "tests/video/stream_builder.h"
#include "tools/encoder/encoder.h"
#include "tools/encoder/nvd_writer.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/postprocess.h"
#include "video/video_stream.h"

using namespace zorbrix;

namespace {

using Picture = std::vector<uint8_t>;
using Records = std::vector<std::vector<uint8_t>>;

struct TestStream {
    const char* kind;  // a sequence of tests/tools/encoder/sequences.h
    int width;
    int height;
    int frames;
    bool mv4;
};

// The coded frames of a synthetic sequence: an I-VOP with the headers, then P-VOPs (scene cuts aside).
Records encode(const TestStream& s) {
    enc::EncoderOptions opt;
    opt.qp = 5;
    opt.mv4 = s.mv4;
    enc::VideoEncoder encoder;
    std::string error;
    EXPECT_TRUE(encoder.init(s.width, s.height, opt, &error)) << error;
    Records records;
    for (const auto& frame : enc_test::make_sequence(s.kind, s.width, s.height, s.frames))
        records.push_back(encoder.encode(frame));
    return records;
}

std::string write_nvd(const std::string& name, const TestStream& s, float fps) {
    const std::vector<uint8_t> file = enc::build_nvd(s.width, s.height, fps, encode(s));
    const std::string path = test_output_path(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
    return path;
}

// A raw decoder on one handle: initialised for a size and format, fed one record at a time.
class RawDecoder {
public:
    RawDecoder(void* handle, int width, int height, int format, int postproc)
        : handle_(handle), picture_(static_cast<size_t>(width) * height * 4) {
        InitParams init{width, height, 0, format};
        EXPECT_EQ(0, decoder_call(handle_, OPT_INIT, &init, nullptr));
        PostProcParams pp{postproc};
        EXPECT_EQ(0, decoder_call(handle_, OPT_POSTPROC, &pp, nullptr));
    }
    ~RawDecoder() { decoder_call(handle_, OPT_RELEASE, nullptr, nullptr); }
    RawDecoder(const RawDecoder&) = delete;
    RawDecoder& operator=(const RawDecoder&) = delete;

    Picture decode(std::vector<uint8_t> record) {
        const int32_t length = static_cast<int32_t>(record.size());
        record.resize(record.size() + 4, 0);  // the bit reader may look past the record
        std::fill(picture_.begin(), picture_.end(), 0);
        FrameParams f{picture_.data(), record.data(), length, 1};
        EXPECT_EQ(0, decoder_call(handle_, OPT_DECODE, &f, nullptr));
        return picture_;
    }

private:
    void* handle_;
    Picture picture_;
};

std::vector<Picture> decode_alone(void* handle, const TestStream& s, const Records& records, int format, int postproc) {
    RawDecoder d(handle, s.width, s.height, format, postproc);
    std::vector<Picture> out;
    for (const auto& r : records) out.push_back(d.decode(r));
    return out;
}

// Pictures a stream delivers for a list of times, with the stream alone in the process.
std::vector<Picture> play_alone(const std::string& path, const std::vector<float>& times) {
    VideoStream vs;
    EXPECT_TRUE(vs.open(path.c_str(), 100));
    std::vector<Picture> out;
    for (float t : times) {
        Picture px(static_cast<size_t>(vs.width()) * vs.height() * 4);
        vs.frame_at(reinterpret_cast<uint32_t*>(px.data()), t);
        out.push_back(px);
    }
    return out;
}

// The first differing byte of two pictures, or -1.
long first_difference(const Picture& a, const Picture& b) {
    if (a.size() != b.size()) return 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return -1;
}

}  // namespace

TEST(DecoderInstances, TwoVideoStreamsPlaySideBySideAsTheyPlayAlone) {
    file_init(nullptr, "");
    const TestStream a{"blobs", 96, 64, 12, true};
    const TestStream b{"text", 128, 96, 10, false};
    const std::string path_a = write_nvd("instances_a.nvd", a, 10.0f);
    const std::string path_b = write_nvd("instances_b.nvd", b, 25.0f);
    // Frame indices: forward one by one, a jump, a step back (decoding restarts at the first record), the same
    // frame again, the loop's wrap; the two streams in different places of their loops.
    auto times = [](std::vector<int> indices, float fps) {
        std::vector<float> t;
        for (int i : indices) t.push_back((static_cast<float>(i) + 0.5f) / fps);
        return t;
    };
    std::vector<float> times_a = times({0, 1, 2, 5, 3, 3, 11, 12, 4, 0, 7}, 10.0f);
    times_a[9] = 1e6f;  // a time far out
    const std::vector<float> times_b = times({5, 6, 7, 0, 9, 1, 10, 11, 3, 5, 2}, 25.0f);
    ASSERT_EQ(times_a.size(), times_b.size());
    const std::vector<Picture> alone_a = play_alone(path_a, times_a);
    const std::vector<Picture> alone_b = play_alone(path_b, times_b);
    // The pictures move, so a frame from the wrong place or the other stream's state shows.
    EXPECT_NE(alone_a[0], alone_a[1]);
    EXPECT_NE(alone_b[0], alone_b[1]);

    VideoStream va, vb;
    ASSERT_TRUE(va.open(path_a.c_str(), 100));
    ASSERT_TRUE(vb.open(path_b.c_str(), 100));
    EXPECT_NE(va.decoder_handle(), vb.decoder_handle());
    for (size_t k = 0; k < times_a.size(); ++k) {
        Picture pa(alone_a[k].size()), pb(alone_b[k].size());
        va.frame_at(reinterpret_cast<uint32_t*>(pa.data()), times_a[k]);
        vb.frame_at(reinterpret_cast<uint32_t*>(pb.data()), times_b[k]);
        EXPECT_EQ(-1, first_difference(alone_a[k], pa)) << "stream a, request " << k;
        EXPECT_EQ(-1, first_difference(alone_b[k], pb)) << "stream b, request " << k;
    }
    // Closing one leaves the other playing; reopening it gives a fresh decoder.
    vb.close();
    Picture pa(alone_a[0].size());
    va.frame_at(reinterpret_cast<uint32_t*>(pa.data()), times_a[0]);
    EXPECT_EQ(-1, first_difference(alone_a[0], pa));
    ASSERT_TRUE(vb.open(path_b.c_str(), 100));
    Picture pb(alone_b[0].size());
    vb.frame_at(reinterpret_cast<uint32_t*>(pb.data()), times_b[0]);
    EXPECT_EQ(-1, first_difference(alone_b[0], pb));
}

TEST(DecoderInstances, RawDecodersOfDifferentSizesInterleave) {
    // Three decoders: two handles and the null handle's default one, each with its own size, output format and
    // post-processing level.
    const TestStream a{"blobs", 64, 48, 9, true};
    const TestStream b{"gradients", 160, 112, 9, false};
    const TestStream c{"cut", 48, 32, 9, false};
    const Records ra = encode(a), rb = encode(b), rc = encode(c);
    int handle_a = 0, handle_b = 0;
    const std::vector<Picture> alone_a = decode_alone(&handle_a, a, ra, FMT_YV12, 0);
    const std::vector<Picture> alone_b = decode_alone(&handle_b, b, rb, FMT_RGB32, 100);
    const std::vector<Picture> alone_c = decode_alone(nullptr, c, rc, FMT_YUY2, 30);

    RawDecoder da(&handle_a, a.width, a.height, FMT_YV12, 0);
    RawDecoder db(&handle_b, b.width, b.height, FMT_RGB32, 100);
    RawDecoder dc(nullptr, c.width, c.height, FMT_YUY2, 30);
    for (size_t k = 0; k < ra.size(); ++k) {
        Picture pa, pb, pc;
        if (k % 2 == 0) {
            pa = da.decode(ra[k]);
            pb = db.decode(rb[k]);
            pc = dc.decode(rc[k]);
        } else {
            pc = dc.decode(rc[k]);
            pb = db.decode(rb[k]);
            pa = da.decode(ra[k]);
        }
        EXPECT_EQ(-1, first_difference(alone_a[k], pa)) << "decoder a, frame " << k;
        EXPECT_EQ(-1, first_difference(alone_b[k], pb)) << "decoder b, frame " << k;
        EXPECT_EQ(-1, first_difference(alone_c[k], pc)) << "decoder c, frame " << k;
    }
    EXPECT_NE(alone_a[0], alone_a[1]);  // the pictures move
    const mpeg4::DecoderState* sa = decoder_instance(&handle_a);
    const mpeg4::DecoderState* sb = decoder_instance(&handle_b);
    ASSERT_NE(nullptr, sa);
    ASSERT_NE(nullptr, sb);
    EXPECT_EQ(static_cast<long>(ra.size()), sa->stats.vops);
    EXPECT_EQ(static_cast<long>(rb.size()), sb->stats.vops);
    EXPECT_EQ(4, sa->mb_width);
    EXPECT_EQ(10, sb->mb_width);
}

TEST(DecoderInstances, DecodersOnDifferentThreadsGiveTheirLonePictures) {
    const TestStream a{"blobs", 80, 64, 10, true};
    const TestStream b{"text", 112, 80, 10, false};
    const Records ra = encode(a), rb = encode(b);
    int handle_a = 0, handle_b = 0;
    const std::vector<Picture> alone_a = decode_alone(&handle_a, a, ra, FMT_RGB32, 100);
    const std::vector<Picture> alone_b = decode_alone(&handle_b, b, rb, FMT_YV12, 0);
    for (int round = 0; round < 3; ++round) {
        std::vector<Picture> pa, pb;
        std::thread ta([&] { pa = decode_alone(&handle_a, a, ra, FMT_RGB32, 100); });
        std::thread tb([&] { pb = decode_alone(&handle_b, b, rb, FMT_YV12, 0); });
        ta.join();
        tb.join();
        ASSERT_EQ(alone_a.size(), pa.size());
        ASSERT_EQ(alone_b.size(), pb.size());
        for (size_t k = 0; k < alone_a.size(); ++k) {
            EXPECT_EQ(-1, first_difference(alone_a[k], pa[k])) << "round " << round << ", decoder a, frame " << k;
            EXPECT_EQ(-1, first_difference(alone_b[k], pb[k])) << "round " << round << ", decoder b, frame " << k;
        }
    }
}

TEST(DecoderInstances, TheNullHandlesDecoderOutlivesRelease) {
    const TestStream s{"gradients", 32, 32, 2, false};
    const Records records = encode(s);
    {
        RawDecoder d(nullptr, s.width, s.height, FMT_YV12, 0);
        for (const auto& r : records) d.decode(r);
    }
    // Released: the frame store is gone, the decoder and what it read stay, as with the one decoder of old.
    const mpeg4::DecoderState* state = decoder_instance(nullptr);
    ASSERT_NE(nullptr, state);
    EXPECT_EQ(nullptr, state->frames.current.y);
    EXPECT_EQ(2, state->stats.vops);
    EXPECT_EQ(32, state->layer.width);
    // A handle's decoder is freed on release; one never initialised has none, and options other than OPT_INIT do
    // not make one.
    int handle = 0;
    {
        RawDecoder d(&handle, s.width, s.height, FMT_YV12, 0);
        EXPECT_NE(nullptr, decoder_instance(&handle));
        EXPECT_NE(state, decoder_instance(&handle));
    }
    EXPECT_EQ(nullptr, decoder_instance(&handle));
    int other = 0;
    std::vector<uint8_t> chunk = records[0];
    chunk.resize(chunk.size() + 4, 0);
    std::vector<uint8_t> out(32 * 32 * 2);
    FrameParams f{out.data(), chunk.data(), static_cast<int32_t>(chunk.size() - 4), 1};
    EXPECT_EQ(0, decoder_call(&other, OPT_DECODE, &f, nullptr));
    EXPECT_EQ(nullptr, decoder_instance(&other));
}

TEST(DecoderInstances, AnUnsupportedStreamEndsThroughTheCallAndDisturbsNoOtherDecoder) {
    ScopedFatalTrap trap;
    const TestStream s{"blobs", 64, 48, 6, true};
    const Records records = encode(s);
    int handle_good = 0, handle_bad = 0;
    const std::vector<Picture> alone = decode_alone(&handle_good, s, records, FMT_YV12, 0);

    RawDecoder good(&handle_good, s.width, s.height, FMT_YV12, 0);
    RawDecoder bad(&handle_bad, s.width, s.height, FMT_YV12, 0);
    bad.decode(records[0]);
    // A layer header with MPEG quantisation on the second decoder, between the first one's frames.
    test::BitWriter bw;
    test::VolOptions o;
    o.width = s.width;
    o.height = s.height;
    o.quant_type = 1;
    test::write_vol(bw, o);
    test::write_vop_header(bw, 0, 8, o.resolution);
    bw.stuff();
    for (size_t k = 0; k < records.size(); ++k) {
        EXPECT_EQ(-1, first_difference(alone[k], good.decode(records[k]))) << "frame " << k;
        if (k != 2) continue;
        std::vector<uint8_t> data = bw.bytes();
        data.resize(data.size() + 4, 0);
        std::vector<uint8_t> out(static_cast<size_t>(s.width) * s.height * 2);
        FrameParams f{out.data(), data.data(), static_cast<int32_t>(data.size() - 4), 1};
        int status = -1;
        testing::internal::CaptureStderr();
        try {
            decoder_call(&handle_bad, OPT_DECODE, &f, nullptr);
        } catch (const FatalExit& e) {
            status = e.status;
        }
        EXPECT_EQ("unsupported video feature: MPEG quantisation\n", testing::internal::GetCapturedStderr());
        EXPECT_EQ(110, status);
    }
    // The refused layer's values were not taken: the decoder still holds the layer it played.
    const mpeg4::DecoderState* state = decoder_instance(&handle_bad);
    ASSERT_NE(nullptr, state);
    EXPECT_EQ(0, state->layer.quant_type);
    EXPECT_EQ(1, state->stats.vops);
}

// With post-processing, planar pictures are filtered straight into the caller's buffer and packed ones through the
// decoder's own planes; every output format and orientation must give the unfiltered picture filtered and converted.
TEST(DecoderInstances, PostprocessedOutputsAreThePictureFilteredAndConverted) {
    const TestStream s{"text", 80, 112, 3, false};
    const Records records = encode(s);
    const int w = s.width, h = s.height;
    std::vector<Picture> expected_planes;  // filtered Y, U, V one after the other
    {
        int handle = 0;
        RawDecoder plain(&handle, w, h, FMT_YV12, 0);
        for (const auto& r : records) {
            const Picture yv12 = plain.decode(r);
            Picture planes(w * h * 3 / 2);
            uint8_t* y = planes.data();
            uint8_t* u = y + w * h;
            uint8_t* v = u + w * h / 4;
            mpeg4::postprocess_frame(yv12.data(), yv12.data() + w * h * 5 / 4, yv12.data() + w * h, w, y, u, v, w, w, h,
                                     decoder_instance(&handle)->quant_map, mpeg4::kQuantStride, 0x3F);
            expected_planes.push_back(planes);
        }
    }
    int handle = 0;
    for (int format = FMT_YV12; format <= FMT_UYVY; ++format) {
        const std::vector<Picture> got = decode_alone(&handle, s, records, format, 100);
        const bool bottom_up = format >= FMT_RGB32 && format <= FMT_RGB565;
        for (size_t i = 0; i < records.size(); ++i) {
            const uint8_t* y = expected_planes[i].data();
            const uint8_t* u = y + w * h;
            const uint8_t* v = u + w * h / 4;
            Picture expected(got[i].size(), 0);
            converter_for_format(format)(y, w, u, v, w / 2, expected.data(), w, bottom_up ? -h : h);
            EXPECT_EQ(-1, first_difference(expected, got[i])) << "format " << format << ", frame " << i;
        }
    }
}
