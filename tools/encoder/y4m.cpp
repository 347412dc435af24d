#include "tools/encoder/y4m.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sstream>

namespace zorbrix::enc {

void YuvFrame::allocate(int w, int h) {
    width = w;
    height = h;
    y.assign(static_cast<size_t>(w) * h, 0);
    u.assign(static_cast<size_t>(w / 2) * (h / 2), 128);
    v.assign(static_cast<size_t>(w / 2) * (h / 2), 128);
}

namespace {

// Reads up to and including '\n' (not stored); false at end of file or for an absurdly long line.
bool read_line(std::FILE* f, std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        if (c == '\n') return true;
        line->push_back(static_cast<char>(c));
        if (line->size() > 4096) return false;
    }
    return false;  // end of file; a partial line stays in *line so the caller can tell truncation apart
}

// A decimal count of at most 12 digits (so no overflow), nothing else.
bool parse_count(const std::string& text, long long* out) {
    if (text.empty() || text.size() > 12) return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

}  // namespace

Y4mReader::~Y4mReader() {
    if (file_ && owns_file_) std::fclose(file_);
}

bool Y4mReader::open(const std::string& path, std::string* error) {
    if (path == "-") {
        file_ = stdin;
        owns_file_ = false;
    } else {
        file_ = std::fopen(path.c_str(), "rb");
        owns_file_ = true;
        if (!file_) {
            *error = "cannot open " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    std::string line;
    if (!read_line(file_, &line)) {
        *error = path + ": not a YUV4MPEG2 file (no header line)";
        return false;
    }
    return parse_header(line, error);
}

bool Y4mReader::parse_header(const std::string& line, std::string* error) {
    std::istringstream in(line);
    std::string magic;
    in >> magic;
    if (magic != "YUV4MPEG2") {
        *error = "not a YUV4MPEG2 file (the header does not start with \"YUV4MPEG2\")";
        return false;
    }
    std::string tag;
    std::string colour = "420jpeg";
    while (in >> tag) {
        const char kind = tag[0];
        const std::string value = tag.substr(1);
        if (kind == 'W' || kind == 'H') {
            long long v = 0;
            if (!parse_count(value, &v) || v <= 0 || v > kMaxSide) {
                *error = std::string("bad picture ") + (kind == 'W' ? "width " : "height ") + kind + value + " (1.." +
                         std::to_string(kMaxSide) + ")";
                return false;
            }
            (kind == 'W' ? header_.width : header_.height) = static_cast<int>(v);
        } else if (kind == 'F') {
            // A rate the coded stream can hold: 1/1001 up to 1000 pictures a second. Outside that a single
            // picture's time stamp can grow without bound (F1:2147483647 once wrote a gigabyte for five frames).
            const size_t colon = value.find(':');
            long long num = 0, den = 0;
            if (colon == std::string::npos || !parse_count(value.substr(0, colon), &num) ||
                !parse_count(value.substr(colon + 1), &den) || num <= 0 || den <= 0 || num > INT32_MAX ||
                den > INT32_MAX) {
                *error = "bad frame rate tag F" + value;
                return false;
            }
            if (num * 1001 < den || num > den * 1000) {
                *error = "frame rate F" + value + " is outside 1/1001 .. 1000 pictures a second";
                return false;
            }
            header_.fps_num = static_cast<int>(num);
            header_.fps_den = static_cast<int>(den);
        } else if (kind == 'C') {
            colour = value;
        }
        // I (interlacing), A (aspect ratio) and X (extensions) do not change how the samples are laid out.
    }
    if (header_.width <= 0 || header_.height <= 0) {
        *error = "missing or bad picture size in the YUV4MPEG2 header";
        return false;
    }
    if (colour.rfind("420", 0) != 0) {
        *error = "colour space C" + colour +
                 " is not supported; convert to 4:2:0 (for example with ffmpeg -pix_fmt yuv420p)";
        return false;
    }
    if (colour.find("p10") != std::string::npos || colour.find("p12") != std::string::npos ||
        colour.find("p16") != std::string::npos) {
        *error = "only 8-bit samples are supported (got C" + colour + ")";
        return false;
    }
    if (header_.width % 2 || header_.height % 2) {
        *error = "4:2:0 pictures need an even width and height";
        return false;
    }
    return true;
}

bool Y4mReader::read_frame(YuvFrame* frame, std::string* error) {
    error->clear();
    std::string line;
    if (!read_line(file_, &line)) {
        if (!line.empty()) *error = "truncated frame marker";
        return false;
    }
    if (line.rfind("FRAME", 0) != 0) {
        *error = "bad frame marker (expected \"FRAME\")";
        return false;
    }
    // A file with a size must still hold the whole frame before memory is taken for it.
    const size_t frame_bytes = static_cast<size_t>(header_.width) * header_.height +
                               2 * static_cast<size_t>(header_.width / 2) * (header_.height / 2);
    struct stat st;
    const long at = std::ftell(file_);
    if (at >= 0 && fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_size < at || static_cast<uint64_t>(st.st_size - at) < frame_bytes)) {
        *error = "truncated frame data";
        return false;
    }
    // The frame is read over whole, so one of the same size is reused as it is.
    if (frame->width != header_.width || frame->height != header_.height ||
        frame->y.size() != static_cast<size_t>(header_.width) * header_.height ||
        frame->u.size() != static_cast<size_t>(header_.width / 2) * (header_.height / 2) ||
        frame->v.size() != frame->u.size()) {
        frame->allocate(header_.width, header_.height);
    }
    const size_t luma = frame->y.size(), chroma = frame->u.size();
    if (std::fread(frame->y.data(), 1, luma, file_) != luma ||
        std::fread(frame->u.data(), 1, chroma, file_) != chroma ||
        std::fread(frame->v.data(), 1, chroma, file_) != chroma) {
        *error = "truncated frame data";
        return false;
    }
    return true;
}

bool Y4mWriter::open(const std::string& path, const Y4mHeader& header, std::string* error) {
    closed_ = false;
    if (!out_.open(path, error)) return false;
    char line[96];
    std::snprintf(line, sizeof line, "YUV4MPEG2 W%d H%d F%d:%d Ip A1:1 C420jpeg\n", header.width, header.height,
                  header.fps_num, header.fps_den);
    if (!out_.write(std::string_view(line))) {
        if (error) *error = out_.error();
        return false;
    }
    return true;
}

bool Y4mWriter::write_frame(const YuvFrame& frame) {
    if (!out_.is_open()) return false;
    // The marker and the three planes in one call to the system, straight from the frame's memory.
    const OutputFile::Piece pieces[] = {{"FRAME\n", 6},
                                        {frame.y.data(), frame.y.size()},
                                        {frame.u.data(), frame.u.size()},
                                        {frame.v.data(), frame.v.size()}};
    return out_.write(pieces, 4);
}

bool Y4mWriter::close() {
    if (closed_) return out_.ok();
    closed_ = true;
    return out_.commit();
}

}  // namespace zorbrix::enc
