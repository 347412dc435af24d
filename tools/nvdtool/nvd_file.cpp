#include "tools/nvdtool/nvd_file.h"

#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/output_file.h"

namespace nvdtool {

bool read_file(const std::string& path, std::vector<uint8_t>& data, std::string& error, uint64_t limit) {
    return zorbrix::read_input_file(path, limit, &data, &error);
}

bool write_file(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
    return zorbrix::write_output_file(path, data.data(), data.size(), &error);
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
        out.records.emplace_back(data.begin() + static_cast<long>(pos + 4),
                                 data.begin() + static_cast<long>(pos + 4 + length));
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

NvdReader::~NvdReader() {
    if (file_ && owns_) std::fclose(file_);
}

bool NvdReader::open(const std::string& path, std::string& error) {
    if (path == "-") return open(stdin, error);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        error = "cannot read " + path + ": it is a directory";
        return false;
    }
    file_ = f;
    owns_ = true;
    if (!read_header(error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool NvdReader::open(std::FILE* file, std::string& error) {
    file_ = file;
    owns_ = false;
    return read_header(error);
}

bool NvdReader::read_header(std::string& error) {
    struct stat st;
    sized_ = fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode);
    if (sized_) {
        const long at = std::ftell(file_);
        remaining_ = at >= 0 && static_cast<uint64_t>(st.st_size) >= static_cast<uint64_t>(at)
                         ? static_cast<uint64_t>(st.st_size) - static_cast<uint64_t>(at)
                         : 0;
    }
    uint8_t h[16];
    const size_t got = std::fread(h, 1, 16, file_);
    if (got < 16) {
        error = "not an .nvd file: shorter than its 16-byte header";
        return false;
    }
    if (sized_) remaining_ -= 16;
    count_ = static_cast<int32_t>(le32(h));
    width_ = static_cast<int32_t>(le32(h + 4));
    height_ = static_cast<int32_t>(le32(h + 8));
    const uint32_t bits = le32(h + 12);
    std::memcpy(&fps_, &bits, 4);
    if (count_ < 0) {
        error = "not an .nvd file: negative frame count";
        return false;
    }
    index_ = 0;
    return true;
}

bool NvdReader::next(std::vector<uint8_t>& record, std::string& error) {
    error.clear();
    if (index_ >= count_) return false;
    const std::string which = "record " + std::to_string(index_) + " of " + std::to_string(count_);
    uint8_t b[4];
    if (std::fread(b, 1, 4, file_) != 4) {
        error = which + " is missing (file truncated)";
        return false;
    }
    if (sized_) remaining_ -= 4;
    const uint32_t length = le32(b);
    if (sized_ && length > remaining_) {
        error = which + " runs past the end of the file";
        return false;
    }
    // Without a known size, grow as the data arrives (doubling from 64 KiB), so a bogus length cannot claim
    // memory it does not bring.
    record.clear();
    size_t have = 0;
    while (have < length) {
        const size_t step = std::min<size_t>(length - have, std::max<size_t>(have, size_t{1} << 16));
        record.resize(have + step);
        const size_t got = std::fread(record.data() + have, 1, step, file_);
        have += got;
        if (got < step) {
            error = std::ferror(file_) ? which + ": read error" : which + " runs past the end of the file";
            return false;
        }
    }
    record.resize(length);
    if (sized_) remaining_ -= length;
    ++index_;
    return true;
}

std::vector<size_t> find_start_codes(const uint8_t* data, size_t size) {
    // Every prefix 00 00 01 with a code byte after it, not overlapping. The 01 bytes are found with memchr, which
    // scans many bytes per step; most coded data holds few of them.
    std::vector<size_t> out;
    size_t from = 2;  // the earliest position a prefix's 01 byte can have
    while (from + 1 < size) {
        const void* hit = std::memchr(data + from, 1, size - 1 - from);
        if (!hit) break;
        const size_t j = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (data[j - 1] == 0 && data[j - 2] == 0) {
            out.push_back(j - 2);
            from = j + 3;  // the next prefix may start right after this 01 byte
        } else {
            from = j + 1;
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
