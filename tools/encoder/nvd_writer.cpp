#include "tools/encoder/nvd_writer.h"

#include <cerrno>
#include <cstring>

namespace zorbrix::enc {
namespace {

void put_le32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void make_header(uint8_t h[16], int frames, int width, int height, float fps) {
    uint32_t fps_bits;
    std::memcpy(&fps_bits, &fps, 4);
    put_le32(h, static_cast<uint32_t>(frames));
    put_le32(h + 4, static_cast<uint32_t>(width));
    put_le32(h + 8, static_cast<uint32_t>(height));
    put_le32(h + 12, fps_bits);
}

}  // namespace

// The file is written under a temporary name and renamed when complete, so a failed or interrupted encode
// neither leaves a broken file nor destroys an earlier one of the same name.
NvdWriter::~NvdWriter() {
    if (file_) {
        std::fclose(file_);
        std::remove((path_ + ".part").c_str());
    }
}

bool NvdWriter::open(const std::string& path, int width, int height, float fps, std::string* error) {
    path_ = path;
    file_ = std::fopen((path + ".part").c_str(), "wb");
    if (!file_) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t h[16];
    make_header(h, 0, width, height, fps);
    failed_ = std::fwrite(h, 1, 16, file_) != 16;
    return !failed_;
}

bool NvdWriter::add_record(const std::vector<uint8_t>& record) {
    if (!file_) return false;
    uint8_t len[4];
    put_le32(len, static_cast<uint32_t>(record.size()));
    if (std::fwrite(len, 1, 4, file_) != 4 ||
        (!record.empty() && std::fwrite(record.data(), 1, record.size(), file_) != record.size())) {
        failed_ = true;
    }
    ++frames_;
    return !failed_;
}

bool NvdWriter::finish(std::string* error) {
    if (!file_) {
        *error = "no file open";
        return false;
    }
    static const uint8_t spare[4] = {0, 0, 0, 0};
    uint8_t count[4];
    put_le32(count, static_cast<uint32_t>(frames_));
    if (std::fwrite(spare, 1, 4, file_) != 4 || std::fseek(file_, 0, SEEK_SET) != 0 ||
        std::fwrite(count, 1, 4, file_) != 4) {
        failed_ = true;
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed_ || !closed || std::rename((path_ + ".part").c_str(), path_.c_str()) != 0) {
        *error = "cannot write " + path_ + ": " + std::strerror(errno);
        std::remove((path_ + ".part").c_str());
        return false;
    }
    return true;
}

std::vector<uint8_t> build_nvd(int width, int height, float fps, const std::vector<std::vector<uint8_t>>& records) {
    std::vector<uint8_t> out(16);
    make_header(out.data(), static_cast<int>(records.size()), width, height, fps);
    for (const auto& r : records) {
        uint8_t len[4];
        put_le32(len, static_cast<uint32_t>(r.size()));
        out.insert(out.end(), len, len + 4);
        out.insert(out.end(), r.begin(), r.end());
    }
    out.insert(out.end(), 4, 0);
    return out;
}

}  // namespace zorbrix::enc
