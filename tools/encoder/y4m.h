#pragma once
// YUV4MPEG2 reading and writing: the raw-video interchange format every video tool speaks.
// Only 4:2:0 with 8-bit samples is handled; that is what the encoder takes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/output_file.h"

namespace zorbrix::enc {

// One picture in planar 4:2:0: Y of width x height, U and V of (width / 2) x (height / 2), rows packed.
struct YuvFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;

    void allocate(int w, int h);
    int chroma_width() const { return width / 2; }
    int chroma_height() const { return height / 2; }
};

struct Y4mHeader {
    int width = 0;
    int height = 0;
    int fps_num = 25;  // F tag; 25:1 when the file does not say
    int fps_den = 1;
};

// Every size the header declares is checked before anything is allocated: sides up to kMaxSide, frame rates from
// 1/1001 to 1000 pictures a second.
class Y4mReader {
public:
    static constexpr int kMaxSide = 16384;

    Y4mReader() = default;
    ~Y4mReader();
    Y4mReader(const Y4mReader&) = delete;
    Y4mReader& operator=(const Y4mReader&) = delete;

    // Opens a file ("-" reads standard input) and parses the stream header. On failure returns false with a
    // message in *error.
    bool open(const std::string& path, std::string* error);
    const Y4mHeader& header() const { return header_; }
    // Reads the next frame. Returns false at the clean end of the stream (error left empty) or on damage
    // (a truncated frame or a bad frame marker; *error says which).
    bool read_frame(YuvFrame* frame, std::string* error);

private:
    bool parse_header(const std::string& line, std::string* error);
    std::FILE* file_ = nullptr;
    bool owns_file_ = false;
    Y4mHeader header_;
};

// Writes a 4:2:0 stream header and frames, frame by frame, through an OutputFile: a file appears whole at close(),
// "-" (standard output), a device or a FIFO is written as the frames come.
class Y4mWriter {
public:
    Y4mWriter() = default;
    Y4mWriter(const Y4mWriter&) = delete;
    Y4mWriter& operator=(const Y4mWriter&) = delete;

    bool open(const std::string& path, const Y4mHeader& header, std::string* error);
    bool write_frame(const YuvFrame& frame);
    // Hands what is buffered to the system; false when anything failed.
    bool flush() { return out_.flush(); }
    // Starts writing what a file holds so far to the disk in the background (see OutputFile::start_writeback).
    bool start_writeback() { return out_.start_writeback(); }
    // Flushes and puts the file in place; false when anything failed to reach it (then nothing is left behind).
    // A writer destroyed without close() leaves no file either.
    bool close();
    // The first failure, one line naming the file.
    const std::string& error() const { return out_.error(); }

private:
    OutputFile out_;
    bool closed_ = false;
};

}  // namespace zorbrix::enc
