#include "tools/encoder/nvd_writer.h"

#include <algorithm>
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

NvdWriter::~NvdWriter() = default;  // an unfinished output is abandoned by OutputFile

bool NvdWriter::open(const std::string& path, int width, int height, float fps, std::string* error) {
    if (!output_.open(path, error)) return false;
    open_ = true;
    uint8_t h[16];
    make_header(h, 0, width, height, fps);
    if (output_.direct()) {
        held_.assign(h, h + 16);
        return true;
    }
    return output_.write(h, 16);
}

bool NvdWriter::add_record(const std::vector<uint8_t>& record) {
    if (!open_) return false;
    uint8_t len[4];
    put_le32(len, static_cast<uint32_t>(record.size()));
    ++frames_;
    if (output_.direct()) {
        held_.insert(held_.end(), len, len + 4);
        held_.insert(held_.end(), record.begin(), record.end());
        return true;
    }
    return output_.write(len, 4) && (record.empty() || output_.write(record.data(), record.size()));
}

bool NvdWriter::finish(std::string* error) {
    if (!open_) {
        if (error) *error = "no file open";
        return false;
    }
    open_ = false;
    static const uint8_t spare[4] = {0, 0, 0, 0};
    uint8_t count[4];
    put_le32(count, static_cast<uint32_t>(frames_));
    if (output_.direct()) {
        held_.insert(held_.end(), spare, spare + 4);
        std::copy(count, count + 4, held_.begin());
        output_.write(held_.data(), held_.size());
        held_.clear();
    } else {
        output_.write(spare, 4) && output_.write_at(0, count, 4);
    }
    return output_.commit(error);
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
