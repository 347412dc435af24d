#pragma once
// Writes .nvd files: a 16-byte header (frame count, width, height as little-endian 32-bit integers, then the
// picture rate as a 32-bit float), one length-prefixed record per coded frame, and 4 zero bytes after the last
// record so that a bit reader may look past the end.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/output_file.h"

namespace zorbrix::enc {

class NvdWriter {
public:
    NvdWriter() = default;
    ~NvdWriter();
    NvdWriter(const NvdWriter&) = delete;
    NvdWriter& operator=(const NvdWriter&) = delete;

    bool open(const std::string& path, int width, int height, float fps, std::string* error);
    bool add_record(const std::vector<uint8_t>& record);
    // Writes the trailer and the final frame count and puts the file in place. Until then a file output lives in a
    // temporary beside it, removed when the writer is destroyed unfinished (or the program is interrupted); an
    // output that is written in place (standard output, a FIFO, a device) gets the whole file at once here, since
    // its header cannot be rewritten afterwards.
    bool finish(std::string* error);
    int frame_count() const { return frames_; }

private:
    zorbrix::OutputFile output_;
    std::vector<uint8_t> held_;  // the whole file, for outputs written in place
    bool open_ = false;
    int frames_ = 0;
};

// The same layout built in memory.
std::vector<uint8_t> build_nvd(int width, int height, float fps, const std::vector<std::vector<uint8_t>>& records);

}  // namespace zorbrix::enc
