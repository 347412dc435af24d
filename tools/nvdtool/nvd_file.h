#pragma once
// Reading and writing .nvd files and finding start codes in MPEG-4 visual data, shared by the subcommands.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace nvdtool {

struct NvdFile {
    int width = 0;
    int height = 0;
    float fps = 0.0f;
    std::vector<std::vector<uint8_t>> records;
};

// Whole-file input ("-" for standard input), refused past `limit` bytes, and careful output (a temporary renamed
// into place; nothing is left behind on failure).
bool read_file(const std::string& path, std::vector<uint8_t>& data, std::string& error,
               uint64_t limit = uint64_t{4} << 30);
bool write_file(const std::string& path, const std::vector<uint8_t>& data, std::string& error);

// Parses an .nvd image; false with a message when the header is short or a record runs past the end.
bool parse_nvd(const std::vector<uint8_t>& data, NvdFile& out, std::string& error);
// Serialises an .nvd image, with four spare zero bytes after the last record.
std::vector<uint8_t> serialise_nvd(const NvdFile& file);

// Reads an .nvd file record by record, so that memory holds one record, never the file. A record length is
// checked against what the file still holds before anything is allocated for it (a stream without a size grows
// its buffer only as data arrives).
class NvdReader {
public:
    NvdReader() = default;
    ~NvdReader();
    NvdReader(const NvdReader&) = delete;
    NvdReader& operator=(const NvdReader&) = delete;

    // Opens a file ("-" for standard input) and reads the header.
    bool open(const std::string& path, std::string& error);
    // Reads the header from an open stream that the reader does not close.
    bool open(std::FILE* file, std::string& error);

    int frame_count() const { return count_; }
    int width() const { return width_; }
    int height() const { return height_; }
    float fps() const { return fps_; }
    // Records read so far.
    int index() const { return index_; }

    // The next record into `record` (resized to its length). False after the last record (error empty) or on
    // damage.
    bool next(std::vector<uint8_t>& record, std::string& error);

private:
    bool read_header(std::string& error);
    std::FILE* file_ = nullptr;
    bool owns_ = false;
    bool sized_ = false;      // a regular file whose remaining size is known
    uint64_t remaining_ = 0;  // bytes after the current position, when sized
    int count_ = 0, width_ = 0, height_ = 0, index_ = 0;
    float fps_ = 0.0f;
};

// Offsets of every 00 00 01 xx start code in data (offset of the first 00).
std::vector<size_t> find_start_codes(const uint8_t* data, size_t size);

// The VOP coding type ("I", "P", "B", "S") of the first VOP in a record, or "-" when it holds none.
const char* vop_type_name(const uint8_t* data, size_t size);

}  // namespace nvdtool
