// The container demuxers on hand-built files: the layouts ffmpeg does not write by default (samples spread over
// chunks by sample-to-chunk runs, 64-bit offsets, AVI rec lists and RIFF AVIX continuations, Matroska clusters of
// unknown size, block groups), and damaged sizes that must give a message rather than a read out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tools/nvdtool/containers.h"
#include "tools/nvdtool/nvd_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put_be(Bytes& b, uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(i >= 8 ? 0 : static_cast<uint8_t>(v >> (8 * i)));
}
void put_le(Bytes& b, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void put(Bytes& b, const Bytes& s) { b.insert(b.end(), s.begin(), s.end()); }

Bytes box(const char* type, const Bytes& payload) {
    Bytes b;
    put_be(b, payload.size() + 8, 4);
    put(b, type);
    put(b, payload);
    return b;
}
Bytes full_box(const char* type, const Bytes& payload) {
    Bytes p = {0, 0, 0, 0};
    put(p, payload);
    return box(type, p);
}

const Bytes kConfig = {0, 0, 1, 0, 0, 0, 1, 0x20, 0xAA};  // stands in for the VO and VOL headers

std::string span_text(const Bytes& file, const nvdtool::Span& s) {
    return std::string(file.begin() + static_cast<long>(s.offset), file.begin() + static_cast<long>(s.offset + s.size));
}

// An MP4 with five samples "A", "BB", "CCC", "DDDD", "EEEEE" in two chunks (3 + 2) of an mdat placed first.
Bytes make_mp4(bool co64, uint32_t stsz_count = 5, uint64_t second_chunk_shift = 0) {
    Bytes mdat_payload;
    put(mdat_payload, "ABBCCC");
    put(mdat_payload, "DDDDEEEEE");
    Bytes file = box("ftyp", Bytes{'i', 's', 'o', 'm', 0, 0, 2, 0});
    const uint64_t first = file.size() + 8, second = first + 6 + second_chunk_shift;
    put(file, box("mdat", mdat_payload));
    Bytes esds_payload = {0x03, 0x80, 0x80, 0x80, static_cast<uint8_t>(3 + 2 + 13 + 2 + kConfig.size()),
                          0,    1,    0,    0x04, static_cast<uint8_t>(13 + 2 + kConfig.size()),
                          0x20, 0x11};
    put_be(esds_payload, 0, 3 + 4 + 4);
    esds_payload.push_back(0x05);
    esds_payload.push_back(static_cast<uint8_t>(kConfig.size()));
    put(esds_payload, kConfig);
    Bytes entry(78, 0);
    put(entry, full_box("esds", esds_payload));
    Bytes stsd_payload;
    put_be(stsd_payload, 1, 4);
    put(stsd_payload, box("mp4v", entry));
    Bytes stsz;
    put_be(stsz, 0, 4);
    put_be(stsz, stsz_count, 4);
    for (int n = 1; n <= 5; ++n) put_be(stsz, n, 4);
    Bytes stco;
    put_be(stco, 2, 4);
    put_be(stco, first, co64 ? 8 : 4);
    put_be(stco, second, co64 ? 8 : 4);
    Bytes stsc;
    put_be(stsc, 2, 4);
    for (uint32_t v : {1u, 3u, 1u, 2u, 2u, 1u}) put_be(stsc, v, 4);
    Bytes stts;
    put_be(stts, 1, 4);
    put_be(stts, 5, 4);
    put_be(stts, 40, 4);  // 40 units of a 1000 timescale: 25 fps
    Bytes stbl;
    put(stbl, full_box("stsd", stsd_payload));
    put(stbl, full_box("stsz", stsz));
    put(stbl, full_box(co64 ? "co64" : "stco", stco));
    put(stbl, full_box("stsc", stsc));
    put(stbl, full_box("stts", stts));
    Bytes mdhd(8, 0);  // creation and modification times
    put_be(mdhd, 1000, 4);
    put_be(mdhd, 200, 4);
    put_be(mdhd, 0, 4);
    Bytes hdlr(4, 0);
    put(hdlr, "vide");
    put_be(hdlr, 0, 13);
    Bytes mdia;
    put(mdia, full_box("mdhd", mdhd));
    put(mdia, full_box("hdlr", hdlr));
    put(mdia, box("minf", box("stbl", stbl)));
    // A sound track first: the video track is found whatever its place.
    Bytes sound_hdlr(4, 0);
    put(sound_hdlr, "soun");
    put_be(sound_hdlr, 0, 13);
    Bytes moov = box("trak", box("mdia", full_box("hdlr", sound_hdlr)));
    put(moov, box("trak", box("mdia", mdia)));
    put(file, box("moov", moov));
    return file;
}

}  // namespace

TEST(Containers, Mp4SamplesFollowTheSampleTables) {
    for (bool co64 : {false, true}) {
        const Bytes file = make_mp4(co64);
        nvdtool::Demuxed d;
        std::string error;
        ASSERT_TRUE(nvdtool::demux(file.data(), file.size(), d, error)) << error;
        EXPECT_EQ(nvdtool::Container::mp4, d.container);
        EXPECT_EQ(kConfig, d.config);
        ASSERT_EQ(5u, d.samples.size());
        const char* want[] = {"A", "BB", "CCC", "DDDD", "EEEEE"};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(want[i], span_text(file, d.samples[i])) << "sample " << i;
        EXPECT_DOUBLE_EQ(25.0, d.fps);
    }
}

TEST(Containers, DamagedMp4TablesGiveMessages) {
    struct Case {
        Bytes file;
        const char* message;
    };
    const Case cases[] = {
        {make_mp4(false, 0x40000000), "shorter than its count"},
        {make_mp4(false, 5, 1u << 20), "lies outside the file"},
        {make_mp4(true, 5, uint64_t{1} << 62), "lies outside the file"},
    };
    for (const auto& c : cases) {
        nvdtool::Demuxed d;
        std::string error;
        EXPECT_FALSE(nvdtool::demux(c.file.data(), c.file.size(), d, error));
        EXPECT_NE(std::string::npos, error.find(c.message)) << error;
    }
    // Every cut of a valid file ends in a message or in samples that lie inside what is left.
    const Bytes whole = make_mp4(false);
    for (size_t n = 0; n < whole.size(); ++n) {
        nvdtool::Demuxed d;
        std::string error;
        if (nvdtool::demux(whole.data(), n, d, error)) {
            for (const auto& s : d.samples) EXPECT_LE(s.offset + s.size, n);
        } else {
            EXPECT_FALSE(error.empty()) << "cut at " << n;
        }
    }
}

namespace {

Bytes chunk(const char* id, const Bytes& payload) {
    Bytes b;
    put(b, id);
    put_le(b, payload.size(), 4);
    put(b, payload);
    if (payload.size() & 1) b.push_back(0);
    return b;
}
Bytes list(const char* type, const Bytes& payload) {
    Bytes p;
    put(p, type);
    put(p, payload);
    return chunk("LIST", p);
}

}  // namespace

TEST(Containers, AviChunksRecListsAndOpenDmlContinuation) {
    // Stream 0 is sound, stream 1 the video: its chunks are 01dc.
    Bytes strh_sound;
    put(strh_sound, "auds");
    strh_sound.resize(56, 0);
    Bytes strh_video;
    put(strh_video, "vidsFMP4");
    strh_video.resize(20, 0);
    put_le(strh_video, 1, 4);   // scale
    put_le(strh_video, 30, 4);  // rate
    strh_video.resize(56, 0);
    Bytes bih;
    put_le(bih, 40, 4);
    bih.resize(16, 0);
    put(bih, "xvid");  // lower case is taken too
    bih.resize(40, 0);
    put(bih, kConfig);
    Bytes hdrl = chunk("avih", Bytes(56, 0));
    put(hdrl, list("strl", chunk("strh", strh_sound)));
    Bytes strl = chunk("strh", strh_video);
    put(strl, chunk("strf", bih));
    put(hdrl, list("strl", strl));
    Bytes movi = chunk("01dc", {'A'});
    put(movi, chunk("00wb", {'s', 's'}));
    put(movi, list("rec ", chunk("01dc", {'B', 'B'})));
    put(movi, chunk("01dc", {}));  // a dropped frame: nothing to code
    put(movi, chunk("ix01", Bytes(8, 0)));
    Bytes riff;
    put(riff, "AVI ");
    put(riff, list("hdrl", hdrl));
    put(riff, list("movi", movi));
    put(riff, chunk("idx1", Bytes(16, 0)));
    Bytes file = chunk("RIFF", riff);
    Bytes avix;
    put(avix, "AVIX");
    put(avix, list("movi", chunk("01db", {'C', 'C', 'C'})));
    put(file, chunk("RIFF", avix));

    nvdtool::Demuxed d;
    std::string error;
    ASSERT_TRUE(nvdtool::demux(file.data(), file.size(), d, error)) << error;
    EXPECT_EQ(nvdtool::Container::avi, d.container);
    EXPECT_EQ(kConfig, d.config);
    ASSERT_EQ(3u, d.samples.size());
    EXPECT_EQ("A", span_text(file, d.samples[0]));
    EXPECT_EQ("BB", span_text(file, d.samples[1]));
    EXPECT_EQ("CCC", span_text(file, d.samples[2]));
    EXPECT_DOUBLE_EQ(30.0, d.fps);

    // Cut inside the last chunk: the complete ones are kept, and the note says so.
    nvdtool::Demuxed cut;
    ASSERT_TRUE(nvdtool::demux(file.data(), file.size() - 2, cut, error)) << error;
    EXPECT_EQ(2u, cut.samples.size());
    EXPECT_NE(std::string::npos, cut.note.find("complete frames were kept"));
    // Every other cut: a message or samples inside what is left.
    for (size_t n = 0; n < file.size(); ++n) {
        nvdtool::Demuxed part;
        if (nvdtool::demux(file.data(), n, part, error)) {
            for (const auto& s : part.samples) EXPECT_LE(s.offset + s.size, n);
        }
    }
    // Another codec is named.
    Bytes other = file;
    const std::string xvid = "xvid";
    auto at = std::search(other.begin(), other.end(), xvid.begin(), xvid.end());
    std::copy_n("DIV3", 4, at);
    EXPECT_FALSE(nvdtool::demux(other.data(), other.size(), d, error));
    EXPECT_NE(std::string::npos, error.find("'DIV3', not MPEG-4 visual")) << error;
}

namespace {

Bytes ebml(uint32_t id, const Bytes& payload, bool unknown_size = false) {
    Bytes b;
    if (id > 0xFFFFFF)
        put_be(b, id, 4);
    else if (id > 0xFFFF)
        put_be(b, id, 3);
    else if (id > 0xFF)
        put_be(b, id, 2);
    else
        put_be(b, id, 1);
    if (unknown_size)
        b.push_back(0xFF);
    else
        put_be(b, 0x0100000000000000ull | payload.size(), 8);  // eight-byte size
    put(b, payload);
    return b;
}
Bytes ebml_uint(uint32_t id, uint64_t v) {
    Bytes p;
    put_be(p, v, 8);
    return ebml(id, p);
}
Bytes ebml_string(uint32_t id, const std::string& s) {
    Bytes p;
    put(p, s);
    return ebml(id, p);
}
Bytes block(uint32_t id, uint8_t track, uint8_t flags, const std::string& data) {
    Bytes p = {static_cast<uint8_t>(0x80 | track), 0, 0, flags};
    put(p, data);
    return ebml(id, p);
}

Bytes make_mkv(uint8_t video_flags = 0x80) {
    Bytes file = ebml(0x1A45DFA3, ebml_string(0x4282, "matroska"));
    Bytes video = ebml_uint(0xD7, 2);
    put(video, ebml_uint(0x83, 1));
    put(video, ebml_string(0x86, "V_MPEG4/ISO/ASP"));
    put(video, ebml(0x63A2, kConfig));
    put(video, ebml_uint(0x23E383, 40000000));
    Bytes sound = ebml_uint(0xD7, 1);
    put(sound, ebml_uint(0x83, 2));
    put(sound, ebml_string(0x86, "A_PCM/INT/LIT"));
    Bytes tracks = ebml(0xAE, sound);
    put(tracks, ebml(0xAE, video));
    Bytes segment = ebml(0x114D9B74, Bytes(6, 0));  // a seek head, skipped
    put(segment, ebml(0x1654AE6B, tracks));
    // Live-style clusters of unknown size: each ends where the next begins.
    Bytes cluster = ebml_uint(0xE7, 0);
    put(cluster, block(0xA3, 2, video_flags, "A"));
    put(cluster, block(0xA3, 1, 0x80, "sound"));
    put(cluster, ebml(0xA0, block(0xA1, 2, 0, "BB")));
    put(segment, ebml(0x1F43B675, cluster, true));
    Bytes cluster2 = ebml_uint(0xE7, 80);
    put(cluster2, block(0xA3, 2, 0x80, "CCC"));
    put(segment, ebml(0x1F43B675, cluster2, true));
    put(file, ebml(0x18538067, segment, true));
    return file;
}

}  // namespace

TEST(Containers, MatroskaBlocksOfTheVideoTrack) {
    const Bytes file = make_mkv();
    nvdtool::Demuxed d;
    std::string error;
    ASSERT_TRUE(nvdtool::demux(file.data(), file.size(), d, error)) << error;
    EXPECT_EQ(nvdtool::Container::matroska, d.container);
    EXPECT_EQ(kConfig, d.config);
    ASSERT_EQ(3u, d.samples.size());
    EXPECT_EQ("A", span_text(file, d.samples[0]));
    EXPECT_EQ("BB", span_text(file, d.samples[1]));
    EXPECT_EQ("CCC", span_text(file, d.samples[2]));
    EXPECT_DOUBLE_EQ(25.0, d.fps);

    // Laced video blocks are refused, not cut wrongly.
    const Bytes laced = make_mkv(0x82);
    EXPECT_FALSE(nvdtool::demux(laced.data(), laced.size(), d, error));
    EXPECT_NE(std::string::npos, error.find("lacing")) << error;
    // Every cut: a message or samples inside what is left.
    for (size_t n = 0; n < file.size(); ++n) {
        nvdtool::Demuxed part;
        if (nvdtool::demux(file.data(), n, part, error)) {
            for (const auto& s : part.samples) EXPECT_LE(s.offset + s.size, n);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

// The start-code scan against the plain byte-by-byte rule (a prefix 00 00 01 with a byte after it, not
// overlapping), on data dense in zeros and ones so that prefixes touch, overlap and end the buffer.
TEST(StartCodes, FoundAsTheBytewiseRuleFindsThem) {
    auto bytewise = [](const std::vector<uint8_t>& d) {
        std::vector<size_t> out;
        for (size_t i = 0; i + 3 < d.size(); ++i)
            if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
                out.push_back(i);
                i += 2;
            }
        return out;
    };
    std::mt19937 rng(7);
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> d(rng() % 40);
        for (auto& b : d) b = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 256 : rng() % 2);
        ASSERT_EQ(nvdtool::find_start_codes(d.data(), d.size()), bytewise(d)) << "round " << round;
    }
    const std::vector<uint8_t> exact = {0, 0, 1, 0xB6, 0, 0, 1};
    EXPECT_EQ(nvdtool::find_start_codes(exact.data(), exact.size()), std::vector<size_t>{0});
}
