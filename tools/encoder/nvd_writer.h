#pragma once
// Writes .nvd files: a 16-byte header (frame count, width, height as little-endian 32-bit integers, then the
// picture rate as a 32-bit float), one length-prefixed record per coded frame, and 4 zero bytes after the last
// record so that a bit reader may look past the end.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zorbrix::enc {

class NvdWriter {
public:
    NvdWriter() = default;
    ~NvdWriter();
    NvdWriter(const NvdWriter&) = delete;
    NvdWriter& operator=(const NvdWriter&) = delete;

    bool open(const std::string& path, int width, int height, float fps, std::string* error);
    bool add_record(const std::vector<uint8_t>& record);
    // Writes the trailer and the final frame count, closes the file and gives it its name. Until then the data
    // lives in PATH.part, which is removed when the writer is destroyed unfinished.
    bool finish(std::string* error);
    int frame_count() const { return frames_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    int frames_ = 0;
    bool failed_ = false;
};

// The same layout built in memory.
std::vector<uint8_t> build_nvd(int width, int height, float fps, const std::vector<std::vector<uint8_t>>& records);

}  // namespace zorbrix::enc
