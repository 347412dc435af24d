#pragma once
// Reading and writing .nvd files and finding start codes in MPEG-4 visual data, shared by the subcommands.
#include <cstdint>
#include <string>
#include <vector>

namespace nvdtool {

struct NvdFile {
    int width = 0;
    int height = 0;
    float fps = 0.0f;
    std::vector<std::vector<uint8_t>> records;
};

bool read_file(const std::string& path, std::vector<uint8_t>& data, std::string& error);
bool write_file(const std::string& path, const std::vector<uint8_t>& data, std::string& error);

// Parses an .nvd image; false with a message when the header is short or a record runs past the end.
bool parse_nvd(const std::vector<uint8_t>& data, NvdFile& out, std::string& error);
// Serialises an .nvd image, with four spare zero bytes after the last record.
std::vector<uint8_t> serialise_nvd(const NvdFile& file);

// Offsets of every 00 00 01 xx start code in data (offset of the first 00).
std::vector<size_t> find_start_codes(const uint8_t* data, size_t size);

// The VOP coding type ("I", "P", "B", "S") of the first VOP in a record, or "-" when it holds none.
const char* vop_type_name(const uint8_t* data, size_t size);

}  // namespace nvdtool
