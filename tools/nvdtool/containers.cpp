#include "tools/nvdtool/containers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace nvdtool {

namespace {

uint32_t be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint64_t be64(const uint8_t* p) { return static_cast<uint64_t>(be32(p)) << 32 | be32(p + 4); }
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

bool tag_is(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

std::string printable_tag(const uint8_t* p, size_t n = 4) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(p[i] >= 32 && p[i] < 127 ? static_cast<char>(p[i]) : '?');
    return s;
}

const char kReencode[] = "re-encode with ffmpeg -c:v mpeg4";

// ---------------------------------------------------------------------------------------------------------------
// ISO base media (MP4, MOV, M4V, 3GP)

// A box: its type and the range of its payload.
struct Box {
    char type[5] = {};
    size_t begin = 0;  // payload
    size_t end = 0;
};

// Reads the box header at pos, inside [pos, limit). False when it does not fit.
bool read_box(const uint8_t* d, size_t pos, size_t limit, Box& box) {
    if (limit < pos || limit - pos < 8) return false;
    uint64_t size = be32(d + pos);
    std::memcpy(box.type, d + pos + 4, 4);
    size_t header = 8;
    if (size == 1) {
        if (limit - pos < 16) return false;
        size = be64(d + pos + 8);
        header = 16;
    } else if (size == 0) {
        size = limit - pos;  // to the end of the enclosing range
    }
    if (size < header || size > limit - pos) return false;
    box.begin = pos + header;
    box.end = pos + static_cast<size_t>(size);
    return true;
}

// The first child of the given type in [begin, end); false when there is none or the children are damaged.
bool find_box(const uint8_t* d, size_t begin, size_t end, const char* type, Box& out) {
    size_t pos = begin;
    Box b;
    while (read_box(d, pos, end, b)) {
        if (tag_is(reinterpret_cast<const uint8_t*>(b.type), type)) {
            out = b;
            return true;
        }
        pos = b.end;
    }
    return false;
}

bool is_mp4_box_type(const uint8_t* t) {
    static const char* kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "uuid", "styp", "PICT"};
    for (const char* k : kTypes)
        if (tag_is(t, k)) return true;
    return false;
}

// The length field of an MPEG-4 descriptor: up to four bytes of seven bits each.
bool read_descriptor(const uint8_t* d, size_t& pos, size_t end, uint8_t& tag, size_t& length) {
    if (pos >= end) return false;
    tag = d[pos++];
    length = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= end) return false;
        const uint8_t b = d[pos++];
        length = length << 7 | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    return length <= end - pos;
}

// The DecoderSpecificInfo of an esds payload (after its version and flags).
bool parse_esds(const uint8_t* d, size_t pos, size_t end, std::vector<uint8_t>& config, std::string& error) {
    uint8_t tag;
    size_t length;
    if (!read_descriptor(d, pos, end, tag, length) || tag != 0x03 || length < 3) {
        error = "MP4: damaged elementary stream descriptor";
        return false;
    }
    end = pos + length;
    pos += 2;  // ES_ID
    const uint8_t flags = d[pos++];
    if (flags & 0x80) pos += 2;  // dependsOn_ES_ID
    if (flags & 0x40) {          // URL
        if (pos >= end) return false;
        pos += 1 + d[pos];
    }
    if (flags & 0x20) pos += 2;  // OCR_ES_Id
    if (pos > end || !read_descriptor(d, pos, end, tag, length) || tag != 0x04 || length < 13) {
        error = "MP4: damaged decoder configuration descriptor";
        return false;
    }
    const uint8_t object_type = d[pos];
    if (object_type != 0x20) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "MP4: the video track's object type is 0x%02X, not MPEG-4 visual (0x20); ",
                      object_type);
        error = buf;
        error += kReencode;
        return false;
    }
    const size_t dc_end = pos + length;
    pos += 13;
    while (pos < dc_end) {
        if (!read_descriptor(d, pos, dc_end, tag, length)) break;
        if (tag == 0x05) {
            config.assign(d + pos, d + pos + length);
            return true;
        }
        pos += length;
    }
    return true;  // no DecoderSpecificInfo: the samples must carry the VOL themselves
}

struct TrackTables {
    Box stsz, stco, stsc, stts;
    bool have_stsz = false, have_stco = false, co64 = false, have_stsc = false, have_stts = false;
};

bool demux_mp4(const uint8_t* d, size_t size, Demuxed& out, std::string& error) {
    Box moov;
    if (!find_box(d, 0, size, "moov", moov)) {
        error = "MP4: no movie header (moov box); the file is cut short or damaged";
        return false;
    }
    size_t pos = moov.begin;
    Box trak;
    bool found = false;
    bool saw_other_video = false;
    std::string codec_error;
    Box stbl;
    uint32_t timescale = 0;
    while (read_box(d, pos, moov.end, trak)) {
        pos = trak.end;
        if (!tag_is(reinterpret_cast<const uint8_t*>(trak.type), "trak")) continue;
        Box mdia, hdlr, minf, mdhd;
        if (!find_box(d, trak.begin, trak.end, "mdia", mdia) || !find_box(d, mdia.begin, mdia.end, "hdlr", hdlr))
            continue;
        if (hdlr.end - hdlr.begin < 12 || !tag_is(d + hdlr.begin + 8, "vide")) continue;
        if (!find_box(d, mdia.begin, mdia.end, "minf", minf) || !find_box(d, minf.begin, minf.end, "stbl", stbl))
            continue;
        if (find_box(d, mdia.begin, mdia.end, "mdhd", mdhd) && mdhd.end - mdhd.begin >= 24) {
            const uint8_t version = d[mdhd.begin];
            if (version == 1 && mdhd.end - mdhd.begin >= 32)
                timescale = be32(d + mdhd.begin + 20);
            else if (version == 0)
                timescale = be32(d + mdhd.begin + 12);
        }
        // The sample description: one visual sample entry whose esds holds the decoder configuration.
        Box stsd;
        if (!find_box(d, stbl.begin, stbl.end, "stsd", stsd) || stsd.end - stsd.begin < 8) continue;
        Box entry;
        if (!read_box(d, stsd.begin + 8, stsd.end, entry)) continue;
        if (!tag_is(reinterpret_cast<const uint8_t*>(entry.type), "mp4v")) {
            saw_other_video = true;
            codec_error = "MP4: the video track is coded as '" +
                          printable_tag(reinterpret_cast<const uint8_t*>(entry.type)) +
                          "', not MPEG-4 visual ('mp4v'); " + kReencode;
            continue;
        }
        const size_t visual_entry = 78;  // sample entry and visual sample entry fields before the child boxes
        if (entry.end - entry.begin < visual_entry) {
            error = "MP4: the video sample description is too short";
            return false;
        }
        Box esds;
        if (find_box(d, entry.begin + visual_entry, entry.end, "esds", esds)) {
            if (esds.end - esds.begin < 4) {
                error = "MP4: damaged esds box";
                return false;
            }
            if (!parse_esds(d, esds.begin + 4, esds.end, out.config, error)) {
                if (error.empty()) error = "MP4: damaged esds box";
                return false;
            }
        }
        found = true;
        break;
    }
    if (!found) {
        if (saw_other_video)
            error = codec_error;
        else if (find_box(d, 0, size, "moof", trak))
            error =
                "MP4: fragmented files are not supported; remux with ffmpeg -c copy -movflags -frag_keyframe out.mp4";
        else
            error = "MP4: no video track";
        return false;
    }

    TrackTables t;
    t.have_stsz = find_box(d, stbl.begin, stbl.end, "stsz", t.stsz);
    t.have_stco = find_box(d, stbl.begin, stbl.end, "stco", t.stco);
    if (!t.have_stco && find_box(d, stbl.begin, stbl.end, "co64", t.stco)) t.have_stco = t.co64 = true;
    t.have_stsc = find_box(d, stbl.begin, stbl.end, "stsc", t.stsc);
    t.have_stts = find_box(d, stbl.begin, stbl.end, "stts", t.stts);
    if (!t.have_stsz || !t.have_stco || !t.have_stsc) {
        if (find_box(d, 0, size, "moof", trak))
            error =
                "MP4: fragmented files are not supported; remux with ffmpeg -c copy -movflags -frag_keyframe out.mp4";
        else
            error = "MP4: the video track lacks its sample tables (stsz, stco or co64, stsc)";
        return false;
    }
    // Sample sizes.
    if (t.stsz.end - t.stsz.begin < 12) {
        error = "MP4: damaged stsz box";
        return false;
    }
    const uint32_t constant_size = be32(d + t.stsz.begin + 4);
    const uint32_t sample_count = be32(d + t.stsz.begin + 8);
    if (constant_size == 0 && (t.stsz.end - t.stsz.begin - 12) / 4 < sample_count) {
        error = "MP4: the sample size table is shorter than its count";
        return false;
    }
    if (constant_size != 0 && static_cast<uint64_t>(constant_size) * sample_count > size) {
        error = "MP4: the samples are larger than the file";
        return false;
    }
    auto sample_size = [&](uint32_t i) -> uint32_t {
        return constant_size ? constant_size : be32(d + t.stsz.begin + 12 + 4 * static_cast<size_t>(i));
    };
    // Chunk offsets.
    if (t.stco.end - t.stco.begin < 8) {
        error = "MP4: damaged chunk offset box";
        return false;
    }
    const uint32_t chunk_count = be32(d + t.stco.begin + 4);
    const size_t entry_bytes = t.co64 ? 8 : 4;
    if ((t.stco.end - t.stco.begin - 8) / entry_bytes < chunk_count) {
        error = "MP4: the chunk offset table is shorter than its count";
        return false;
    }
    auto chunk_offset = [&](uint32_t i) -> uint64_t {
        const uint8_t* p = d + t.stco.begin + 8 + entry_bytes * i;
        return t.co64 ? be64(p) : be32(p);
    };
    // Sample-to-chunk runs.
    if (t.stsc.end - t.stsc.begin < 8) {
        error = "MP4: damaged stsc box";
        return false;
    }
    const uint32_t run_count = be32(d + t.stsc.begin + 4);
    if ((t.stsc.end - t.stsc.begin - 8) / 12 < run_count) {
        error = "MP4: the sample-to-chunk table is shorter than its count";
        return false;
    }
    out.samples.reserve(std::min<size_t>(sample_count, size / 4 + 1));
    uint32_t sample = 0;
    for (uint32_t r = 0; r < run_count && sample < sample_count; ++r) {
        const uint8_t* e = d + t.stsc.begin + 8 + 12 * static_cast<size_t>(r);
        const uint32_t first = be32(e), per_chunk = be32(e + 4);
        const uint32_t next_first = r + 1 < run_count ? be32(e + 12) : chunk_count + 1;
        if (first == 0 || next_first < first) {
            error = "MP4: damaged sample-to-chunk table";
            return false;
        }
        for (uint32_t c = first; c < next_first && sample < sample_count; ++c) {
            if (c > chunk_count) {
                error = "MP4: the sample-to-chunk table names a chunk that does not exist";
                return false;
            }
            uint64_t offset = chunk_offset(c - 1);
            for (uint32_t k = 0; k < per_chunk && sample < sample_count; ++k, ++sample) {
                const uint32_t n = sample_size(sample);
                if (offset > size || n > size - offset) {
                    error = "MP4: sample " + std::to_string(sample) + " lies outside the file (cut short?)";
                    return false;
                }
                out.samples.push_back({static_cast<size_t>(offset), n});
                offset += n;
            }
        }
    }
    if (sample < sample_count) {
        error = "MP4: the sample-to-chunk table places only " + std::to_string(sample) + " of " +
                std::to_string(sample_count) + " samples";
        return false;
    }
    // The rate: samples per time-to-sample duration.
    if (t.have_stts && timescale > 0 && t.stts.end - t.stts.begin >= 8) {
        const uint32_t n = be32(d + t.stts.begin + 4);
        uint64_t count = 0, duration = 0;
        for (uint32_t i = 0; i < n && (t.stts.end - t.stts.begin - 8) / 8 > i; ++i) {
            const uint8_t* e = d + t.stts.begin + 8 + 8 * static_cast<size_t>(i);
            count += be32(e);
            duration += static_cast<uint64_t>(be32(e)) * be32(e + 4);
        }
        if (count > 0 && duration > 0) out.fps = static_cast<double>(timescale) * count / static_cast<double>(duration);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// AVI and OpenDML

bool is_mpeg4_fourcc(const uint8_t* p) {
    static const char* kCodes[] = {"FMP4", "DIVX", "DX50", "XVID", "MP4V", "M4S2", "MP4S",
                                   "3IV2", "BLZ0", "DXGM", "RMP4", "SEDG", "WV1F", "UMP4"};
    char up[4];
    for (int i = 0; i < 4; ++i) up[i] = static_cast<char>(p[i] >= 'a' && p[i] <= 'z' ? p[i] - 32 : p[i]);
    for (const char* k : kCodes)
        if (std::memcmp(up, k, 4) == 0) return true;
    return false;
}

struct AviState {
    int video_stream = -1;
    char chunk_id[2] = {};
};

// Walks the chunks of a movi list (and its rec lists), collecting the video stream's data chunks.
void walk_movi(const uint8_t* d, size_t pos, size_t end, const AviState& st, Demuxed& out, bool& truncated, int depth) {
    while (end - pos >= 8) {
        const uint8_t* id = d + pos;
        const uint32_t n = le32(d + pos + 4);
        const size_t body = pos + 8;
        if (n > end - body) {
            truncated = true;
            return;
        }
        if (tag_is(id, "LIST") && n >= 4 && depth < 4) {
            walk_movi(d, body + 4, body + n, st, out, truncated, depth + 1);
        } else if (id[0] == st.chunk_id[0] && id[1] == st.chunk_id[1] && (id[2] == 'd' || id[2] == 'D') &&
                   (id[3] == 'c' || id[3] == 'b')) {
            if (n > 0) out.samples.push_back({body, n});  // an empty chunk repeats the previous frame: nothing to code
        }
        pos = body + n + (n & 1);
        if (pos > end) return;
    }
}

bool demux_avi(const uint8_t* d, size_t size, Demuxed& out, std::string& error) {
    if (size < 12) {
        error = "AVI: the file ends inside its RIFF header";
        return false;
    }
    // The first RIFF AVI list: headers and the first movi; further RIFF AVIX lists: more movi.
    size_t riff_end = 12 + static_cast<size_t>(std::min<uint64_t>(le32(d + 4) >= 4 ? le32(d + 4) - 4 : 0, size - 12));
    AviState st;
    bool headers_done = false;
    size_t pos = 12;
    int stream = 0;
    uint32_t rate = 0, scale = 0;
    std::vector<size_t> movis, movi_ends;
    while (true) {
        if (riff_end - pos < 8) break;
        const uint8_t* id = d + pos;
        const uint32_t n = le32(d + pos + 4);
        const size_t body = pos + 8;
        if (n > riff_end - body) {
            if (tag_is(id, "LIST") && riff_end - body >= 4 && tag_is(d + body, "movi")) {
                movis.push_back(body + 4);
                movi_ends.push_back(riff_end);
                out.note = "the file ends inside its last chunk; the complete frames were kept";
            }
            break;
        }
        if (tag_is(id, "LIST") && n >= 4 && tag_is(d + body, "hdrl")) {
            // Stream lists: strh (type, scale, rate), strf (BITMAPINFOHEADER and any extra data).
            size_t p = body + 4;
            const size_t hend = body + n;
            while (hend - p >= 8) {
                const uint32_t m = le32(d + p + 4);
                if (m > hend - p - 8) break;
                if (tag_is(d + p, "LIST") && m >= 4 && tag_is(d + p + 8, "strl")) {
                    size_t q = p + 12;
                    const size_t send = p + 8 + m;
                    bool video = false;
                    while (send - q >= 8) {
                        const uint32_t k = le32(d + q + 4);
                        if (k > send - q - 8) break;
                        const uint8_t* c = d + q + 8;
                        if (tag_is(d + q, "strh") && k >= 28 && tag_is(c, "vids") && st.video_stream < 0) {
                            video = true;
                            scale = le32(c + 20);
                            rate = le32(c + 24);
                        } else if (tag_is(d + q, "strf") && video && st.video_stream < 0) {
                            if (k < 40) {
                                error = "AVI: the video stream's format header is too short";
                                return false;
                            }
                            if (!is_mpeg4_fourcc(c + 16)) {
                                error = "AVI: the video is coded as '" + printable_tag(c + 16) +
                                        "', not MPEG-4 visual; " + kReencode;
                                return false;
                            }
                            const uint32_t header_size = std::max<uint32_t>(40, std::min<uint32_t>(le32(c), k));
                            out.config.assign(c + header_size, c + k);
                            st.video_stream = stream;
                        }
                        q += 8 + k + (k & 1);
                        if (q > send) break;
                    }
                    ++stream;
                }
                p += 8 + m + (m & 1);
                if (p > hend) break;
            }
            headers_done = true;
        } else if (tag_is(id, "LIST") && n >= 4 && tag_is(d + body, "movi")) {
            movis.push_back(body + 4);
            movi_ends.push_back(body + n);
        }
        pos = body + n + (n & 1);
        if (pos >= riff_end) {
            // OpenDML: the next RIFF AVIX list continues the movie.
            if (riff_end <= size && size - riff_end >= 12 && tag_is(d + riff_end, "RIFF") &&
                tag_is(d + riff_end + 8, "AVIX")) {
                pos = riff_end + 12;
                const uint32_t m = le32(d + riff_end + 4);
                riff_end = pos + std::min<size_t>(m >= 4 ? m - 4 : 0, size - pos);
                continue;
            }
            break;
        }
    }
    if (!headers_done || st.video_stream < 0) {
        error = "AVI: no video stream";
        return false;
    }
    if (st.video_stream > 99) {
        error = "AVI: too many streams";
        return false;
    }
    st.chunk_id[0] = static_cast<char>('0' + st.video_stream / 10);
    st.chunk_id[1] = static_cast<char>('0' + st.video_stream % 10);
    bool truncated = false;
    for (size_t i = 0; i < movis.size(); ++i)
        if (movis[i] <= movi_ends[i]) walk_movi(d, movis[i], movi_ends[i], st, out, truncated, 0);
    if (truncated) out.note = "the file ends inside its last chunk; the complete frames were kept";
    if (rate > 0 && scale > 0) out.fps = static_cast<double>(rate) / scale;
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Matroska (EBML)

constexpr uint64_t kUnknownSize = ~0ull;

// An element ID with its length marker kept (1 to 4 bytes).
bool read_ebml_id(const uint8_t* d, size_t& pos, size_t end, uint32_t& id) {
    if (pos >= end) return false;
    const uint8_t first = d[pos];
    int len = 1;
    while (len <= 4 && !(first & (0x80 >> (len - 1)))) ++len;
    if (len > 4 || end - pos < static_cast<size_t>(len)) return false;
    id = 0;
    for (int i = 0; i < len; ++i) id = id << 8 | d[pos + i];
    pos += len;
    return true;
}

// A variable-length integer (1 to 8 bytes) with its marker removed; all value bits set means "unknown".
bool read_vint(const uint8_t* d, size_t& pos, size_t end, uint64_t& value) {
    if (pos >= end) return false;
    const uint8_t first = d[pos];
    int len = 1;
    while (len <= 8 && !(first & (0x80 >> (len - 1)))) ++len;
    if (len > 8 || end - pos < static_cast<size_t>(len)) return false;
    value = first & (0xFF >> len);
    bool all_ones = value == (0xFFu >> len);
    for (int i = 1; i < len; ++i) {
        value = value << 8 | d[pos + i];
        all_ones = all_ones && d[pos + i] == 0xFF;
    }
    pos += len;
    if (all_ones) value = kUnknownSize;
    return true;
}

uint64_t read_uint(const uint8_t* d, size_t begin, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n && i < 8; ++i) v = v << 8 | d[begin + i];
    return v;
}

struct MkvTrack {
    uint64_t number = 0;
    uint64_t type = 0;
    std::string codec;
    std::vector<uint8_t> codec_private;
    uint64_t default_duration = 0;
    bool encoded = false;
};

struct MkvBlock {
    uint64_t track;
    Span data;
    bool laced;
};

enum : uint32_t {
    kEbmlHeader = 0x1A45DFA3,
    kSegment = 0x18538067,
    kCluster = 0x1F43B675,
    kTracks = 0x1654AE6B,
    kTrackEntry = 0xAE,
    kTrackNumber = 0xD7,
    kTrackType = 0x83,
    kCodecId = 0x86,
    kCodecPrivate = 0x63A2,
    kDefaultDuration = 0x23E383,
    kContentEncodings = 0x6D80,
    kBlockGroup = 0xA0,
    kBlock = 0xA1,
    kSimpleBlock = 0xA3,
    kDocType = 0x4282,
};

bool demux_matroska(const uint8_t* d, size_t size, Demuxed& out, std::string& error) {
    // A flat walk that steps into the few master elements holding what we need (segment, cluster, tracks, track
    // entry, block group) and skips everything else by its size. Stepping in rather than around lets clusters of
    // unknown size (as live muxers write them) be read without knowing where they end.
    std::vector<MkvTrack> tracks;
    std::vector<MkvBlock> blocks;
    size_t track_end = 0;  // end of the track entry being read, 0 outside one
    size_t pos = 0;
    bool saw_header = false;
    while (pos < size) {
        const size_t element = pos;
        uint32_t id;
        uint64_t n;
        if (!read_ebml_id(d, pos, size, id) || !read_vint(d, pos, size, n)) {
            if (element > 0) out.note = "the file ends inside an element; what came before it was kept";
            break;
        }
        if (track_end && element >= track_end) track_end = 0;
        const bool unknown = n == kUnknownSize;
        if (!unknown && n > size - pos) {
            if (id == kSegment || id == kCluster)
                n = size - pos;  // a cut-off segment or cluster: read what is there
            else {
                out.note = "the file ends inside an element; what came before it was kept";
                break;
            }
        }
        switch (id) {
        case kEbmlHeader: {
            saw_header = true;
            if (unknown) {
                error = "Matroska: damaged EBML header";
                return false;
            }
            size_t p = pos;
            const size_t end = pos + n;
            while (p < end) {
                uint32_t cid;
                uint64_t m;
                if (!read_ebml_id(d, p, end, cid) || !read_vint(d, p, end, m) || m > end - p) break;
                if (cid == kDocType) {
                    const std::string doc(reinterpret_cast<const char*>(d + p), m);
                    if (doc.compare(0, 8, "matroska") != 0 && doc.compare(0, 4, "webm") != 0) {
                        error = "Matroska: unknown document type '" + doc.substr(0, 32) + "'";
                        return false;
                    }
                }
                p += m;
            }
            pos += n;
            break;
        }
        case kSegment:
        case kCluster:
        case kTracks:
        case kBlockGroup: break;  // step in
        case kTrackEntry:
            if (unknown) {
                error = "Matroska: a track entry of unknown size";
                return false;
            }
            tracks.emplace_back();
            track_end = pos + n;
            break;
        case kSimpleBlock:
        case kBlock: {
            if (unknown) {
                error = "Matroska: a block of unknown size";
                return false;
            }
            size_t p = pos;
            const size_t end = pos + n;
            uint64_t track;
            if (read_vint(d, p, end, track) && end - p >= 3) {
                const uint8_t flags = d[p + 2];
                p += 3;
                blocks.push_back({track, {p, end - p}, (flags & 0x06) != 0});
            }
            pos += n;
            break;
        }
        default: {
            if (unknown) {
                error = "Matroska: an element of unknown size where none is allowed";
                return false;
            }
            if (track_end && !tracks.empty() && pos + n <= track_end) {
                MkvTrack& t = tracks.back();
                if (id == kTrackNumber)
                    t.number = read_uint(d, pos, n);
                else if (id == kTrackType)
                    t.type = read_uint(d, pos, n);
                else if (id == kCodecId)
                    t.codec.assign(reinterpret_cast<const char*>(d + pos), std::min<uint64_t>(n, 64));
                else if (id == kCodecPrivate)
                    t.codec_private.assign(d + pos, d + pos + n);
                else if (id == kDefaultDuration)
                    t.default_duration = read_uint(d, pos, n);
                else if (id == kContentEncodings)
                    t.encoded = true;
            }
            pos += n;
            break;
        }
        }
    }
    if (!saw_header) {
        error = "Matroska: no EBML header";
        return false;
    }
    const MkvTrack* video = nullptr;
    for (const auto& t : tracks)
        if (t.type == 1) {
            video = &t;
            break;
        }
    if (!video) {
        error = "Matroska: no video track";
        return false;
    }
    const std::string codec = video->codec.c_str();  // the string may be padded with zero bytes
    if (codec.rfind("V_MPEG4/ISO/", 0) != 0 || codec == "V_MPEG4/ISO/AVC") {
        error = "Matroska: the video track is coded as '" + codec + "', not MPEG-4 visual; " + kReencode;
        return false;
    }
    if (video->encoded) {
        error = "Matroska: the video track uses content encoding (compression); remux with ffmpeg -c copy";
        return false;
    }
    out.config = video->codec_private;
    for (const auto& b : blocks) {
        if (b.track != video->number) continue;
        if (b.laced) {
            error = "Matroska: the video track uses lacing; remux with ffmpeg -c copy";
            return false;
        }
        out.samples.push_back(b.data);
    }
    if (video->default_duration > 0) out.fps = 1e9 / static_cast<double>(video->default_duration);
    return true;
}

}  // namespace

const char* container_name(Container c) {
    switch (c) {
    case Container::mp4: return "MP4/MOV";
    case Container::avi: return "AVI";
    case Container::matroska: return "Matroska";
    default: return "elementary stream";
    }
}

Container detect_container(const uint8_t* data, size_t size) {
    if (size >= 4 && tag_is(data, "RIFF") && (size < 12 || tag_is(data + 8, "AVI ") || tag_is(data + 8, "AVIX")))
        return Container::avi;
    if (size >= 4 && be32(data) == kEbmlHeader) return Container::matroska;
    if (size >= 8 && is_mp4_box_type(data + 4)) return Container::mp4;
    return Container::elementary;
}

bool demux(const uint8_t* data, size_t size, Demuxed& out, std::string& error) {
    out = Demuxed{};
    out.container = detect_container(data, size);
    switch (out.container) {
    case Container::mp4: return demux_mp4(data, size, out, error);
    case Container::avi: return demux_avi(data, size, out, error);
    case Container::matroska: return demux_matroska(data, size, out, error);
    default:
        if (size > 0) out.samples.push_back({0, size});
        return true;
    }
}

}  // namespace nvdtool
