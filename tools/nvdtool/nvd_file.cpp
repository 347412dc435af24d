#include "tools/nvdtool/nvd_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace nvdtool {


bool read_file(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    data.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) error = "cannot read " + path;
    return ok;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0 || !ok) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

namespace {
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void put_le32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
}  // namespace

bool parse_nvd(const std::vector<uint8_t>& data, NvdFile& out, std::string& error) {
    if (data.size() < 16) {
        error = "not an .nvd file: shorter than its 16-byte header";
        return false;
    }
    const int32_t count = static_cast<int32_t>(le32(data.data()));
    out.width = static_cast<int32_t>(le32(data.data() + 4));
    out.height = static_cast<int32_t>(le32(data.data() + 8));
    const uint32_t bits = le32(data.data() + 12);
    std::memcpy(&out.fps, &bits, 4);
    if (count < 0) {
        error = "not an .nvd file: negative frame count";
        return false;
    }
    out.records.clear();
    size_t pos = 16;
    for (int32_t i = 0; i < count; ++i) {
        if (data.size() - pos < 4) {
            error = "record " + std::to_string(i) + " of " + std::to_string(count) + " is missing (file truncated)";
            return false;
        }
        const uint32_t length = le32(data.data() + pos);
        if (length > data.size() - pos - 4) {
            error = "record " + std::to_string(i) + " runs past the end of the file";
            return false;
        }
        out.records.emplace_back(data.begin() + static_cast<long>(pos + 4), data.begin() + static_cast<long>(pos + 4 + length));
        pos += 4 + length;
    }
    return true;
}

std::vector<uint8_t> serialise_nvd(const NvdFile& file) {
    std::vector<uint8_t> v;
    put_le32(v, static_cast<uint32_t>(file.records.size()));
    put_le32(v, static_cast<uint32_t>(file.width));
    put_le32(v, static_cast<uint32_t>(file.height));
    uint32_t bits;
    std::memcpy(&bits, &file.fps, 4);
    put_le32(v, bits);
    for (const auto& r : file.records) {
        put_le32(v, static_cast<uint32_t>(r.size()));
        v.insert(v.end(), r.begin(), r.end());
    }
    put_le32(v, 0);  // spare bytes the decoder's bit reader may look at
    return v;
}

std::vector<size_t> find_start_codes(const uint8_t* data, size_t size) {
    std::vector<size_t> out;
    for (size_t i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            out.push_back(i);
            i += 2;
        }
    }
    return out;
}

const char* vop_type_name(const uint8_t* data, size_t size) {
    for (size_t off : find_start_codes(data, size)) {
        if (data[off + 3] == 0xB6) {
            if (off + 4 >= size) return "-";
            static const char* kNames[4] = {"I", "P", "B", "S"};
            return kNames[data[off + 4] >> 6];
        }
    }
    return "-";
}

}  // namespace nvdtool
