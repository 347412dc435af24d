// The encoder's reconstruction must equal the decoder's output to the bit, frame after frame: otherwise the two
// drift apart over the P-VOPs. Every frame of every sequence is decoded by the intro's decoder and compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/tools/encoder/sequences.h"
#include "tools/encoder/encoder.h"
#include "video/colour_convert.h"
#include "video/decoder.h"

namespace {

using zorbrix::enc::EncoderOptions;
using zorbrix::enc::VideoEncoder;
using zorbrix::enc::YuvFrame;

struct Case {
    std::string sequence;
    int qp;
    bool mv4;
    bool ac_pred = true;
    int kbps = 0;
    int keyint = 250;
};

std::string case_name(const testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    std::string n = c.sequence + "_qp" + std::to_string(c.qp) + (c.mv4 ? "_mv4" : "") + (c.ac_pred ? "" : "_noacpred");
    if (c.kbps) n += "_kbps" + std::to_string(c.kbps);
    if (c.keyint != 250) n += "_keyint" + std::to_string(c.keyint);
    return n;
}

// Planar Y, V, U as the decoder's YV12 output writes them.
std::vector<uint8_t> as_yv12(const YuvFrame& f) {
    std::vector<uint8_t> out(f.y);
    out.insert(out.end(), f.v.begin(), f.v.end());
    out.insert(out.end(), f.u.begin(), f.u.end());
    return out;
}

// Plane and position of a byte of a YV12 picture, for failure messages.
std::string describe(size_t offset, int w, int h) {
    const size_t luma = static_cast<size_t>(w) * h, chroma = luma / 4;
    const char* plane = offset < luma ? "Y" : offset < luma + chroma ? "V" : "U";
    const size_t in_plane = offset < luma ? offset : (offset - luma) % chroma;
    const int pw = offset < luma ? w : w / 2;
    return std::string(plane) + " x " + std::to_string(in_plane % pw) + " y " + std::to_string(in_plane / pw);
}

class RoundTrip : public testing::TestWithParam<Case> {};

TEST_P(RoundTrip, DecoderOutputEqualsEncoderReconstruction) {
    const Case& c = GetParam();
    constexpr int kW = 128, kH = 96, kFrames = 14;
    const std::vector<YuvFrame> frames = enc_test::make_sequence(c.sequence, kW, kH, kFrames);

    EncoderOptions opt;
    opt.qp = c.qp;
    opt.mv4 = c.mv4;
    opt.ac_pred = c.ac_pred;
    opt.kbps = c.kbps;
    opt.keyint = c.keyint;
    VideoEncoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.init(kW, kH, opt, &error)) << error;

    int handle = 0;
    zorbrix::InitParams init{kW, kH, 0, zorbrix::FMT_YV12};
    ASSERT_EQ(zorbrix::decoder_call(&handle, zorbrix::OPT_INIT, &init, nullptr), 0);
    std::vector<uint8_t> decoded(kW * kH * 3 / 2);
    int p_vops = 0, inter4v = 0, skipped = 0, intra_in_p = 0;
    for (int i = 0; i < kFrames; ++i) {
        std::vector<uint8_t> record = encoder.encode(frames[i]);
        const auto& st = encoder.last_stats();
        p_vops += !st.intra;
        inter4v += st.inter4v_mbs;
        skipped += st.skipped_mbs;
        if (!st.intra) intra_in_p += st.intra_mbs;
        if (st.intra && i > 0) intra_in_p += 1;  // a scene cut coded as I-VOP
        const int length = static_cast<int>(record.size());
        record.insert(record.end(), 4, 0);  // the bit reader may look 4 bytes past the record
        zorbrix::FrameParams fp{decoded.data(), record.data(), length, 1};
        zorbrix::decoder_call(&handle, zorbrix::OPT_DECODE, &fp, nullptr);
        YuvFrame recon;
        encoder.reconstruction(&recon);
        const std::vector<uint8_t> expected = as_yv12(recon);
        size_t first = 0;
        while (first < expected.size() && decoded[first] == expected[first]) ++first;
        ASSERT_EQ(first, expected.size())
            << "frame " << i << (st.intra ? " (I)" : " (P)") << " differs first at " << describe(first, kW, kH);
    }
    zorbrix::decoder_call(&handle, zorbrix::OPT_RELEASE, nullptr, nullptr);
    if (c.sequence != "noise" && c.keyint > 1) {
        EXPECT_GT(p_vops, 0);
    }
    if (c.mv4 && c.sequence == "blobs") {
        EXPECT_GT(inter4v, 0) << "four-vector macroblocks never chosen";
    }
    if (c.sequence == "cut") {
        EXPECT_GT(intra_in_p, 0) << "the new scene should bring intra macroblocks or an I-VOP";
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, RoundTrip,
                         testing::Values(Case{"gradients", 4, false}, Case{"gradients", 4, true},
                                         Case{"gradients", 1, true}, Case{"noise", 2, false}, Case{"noise", 31, true},
                                         Case{"text", 3, false}, Case{"text", 3, true}, Case{"text", 12, true, false},
                                         Case{"cut", 5, true}, Case{"cut", 8, false, true, 0, 4},
                                         Case{"blobs", 4, true}, Case{"blobs", 20, true},
                                         Case{"blobs", 6, false, false}, Case{"gradients", 4, true, true, 300},
                                         Case{"noise", 4, false, true, 0, 1}),
                         case_name);

}  // namespace

namespace {

// A target bit rate is met over a couple of seconds, without the quantiser changing inside a VOP.
TEST(RateControl, MeetsTheTargetBitRate) {
    constexpr int kW = 128, kH = 96, kFrames = 50;
    const auto frames = enc_test::make_sequence("blobs", kW, kH, kFrames);
    for (int kbps : {50, 120}) {
        EncoderOptions opt;
        opt.kbps = kbps;
        opt.keyint = 25;
        VideoEncoder enc;
        std::string error;
        ASSERT_TRUE(enc.init(kW, kH, opt, &error));
        double bits = 0;
        int min_qp = 99, max_qp = 0;
        for (const auto& f : frames) {
            bits += 8.0 * enc.encode(f).size();
            min_qp = std::min(min_qp, enc.last_stats().qp);
            max_qp = std::max(max_qp, enc.last_stats().qp);
        }
        const double achieved = bits / (kFrames / 25.0) / 1000.0;
        EXPECT_NEAR(achieved, kbps, 0.15 * kbps) << "quantisers " << min_qp << ".." << max_qp;
    }
}

}  // namespace

namespace {

// Areas that do not change are sent as not coded, and only they: a still picture, then one macroblock's worth
// of change, must give P-VOPs of skipped macroblocks around the change, which the decoder plays back exactly.
TEST(ModeDecision, StillAreasAreNotCodedAndChangedOnesAre) {
    constexpr int kW = 128, kH = 96, kMbs = (kW / 16) * (kH / 16);
    std::vector<YuvFrame> frames = enc_test::make_sequence("text", kW, kH, 1);
    frames.resize(4, frames[0]);
    // Frame 2 darkens a 16x16 area that straddles four macroblocks; frame 3 returns to the still picture.
    for (int y = 40; y < 56; ++y)
        for (int x = 56; x < 72; ++x) frames[2].y[y * kW + x] = static_cast<uint8_t>(frames[2].y[y * kW + x] / 4);

    for (bool mv4 : {false, true}) {
        EncoderOptions opt;
        opt.qp = 4;
        opt.mv4 = mv4;
        VideoEncoder encoder;
        std::string error;
        ASSERT_TRUE(encoder.init(kW, kH, opt, &error)) << error;
        int handle = 0;
        zorbrix::InitParams init{kW, kH, 0, zorbrix::FMT_YV12};
        ASSERT_EQ(zorbrix::decoder_call(&handle, zorbrix::OPT_INIT, &init, nullptr), 0);
        std::vector<uint8_t> decoded(kW * kH * 3 / 2);
        for (size_t i = 0; i < frames.size(); ++i) {
            std::vector<uint8_t> record = encoder.encode(frames[i]);
            const auto& st = encoder.last_stats();
            if (i == 1) {
                EXPECT_EQ(kMbs, st.skipped_mbs) << "a still picture";
                EXPECT_LT(record.size(), 20u) << "a P-VOP of skipped macroblocks is a few bytes";
            }
            if (i == 2) {
                EXPECT_GE(st.skipped_mbs, kMbs - 9) << "only the changed area and its neighbours are coded";
                EXPECT_LE(st.skipped_mbs, kMbs - 4) << "the four changed macroblocks are coded";
            }
            const int length = static_cast<int>(record.size());
            record.insert(record.end(), 4, 0);
            zorbrix::FrameParams fp{decoded.data(), record.data(), length, 1};
            zorbrix::decoder_call(&handle, zorbrix::OPT_DECODE, &fp, nullptr);
            YuvFrame recon;
            encoder.reconstruction(&recon);
            ASSERT_EQ(as_yv12(recon), decoded) << "frame " << i << (mv4 ? " with four vectors" : "");
        }
        zorbrix::decoder_call(&handle, zorbrix::OPT_RELEASE, nullptr, nullptr);
    }
}

}  // namespace
