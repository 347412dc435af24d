#include "tools/encoder/encode_file.h"

#include <cmath>
#include <cstring>
#include <numeric>

#include "tools/encoder/nvd_writer.h"
#include "tools/encoder/y4m.h"

namespace zorbrix::enc {

YuvFrame extend_to_macroblocks(const YuvFrame& in) {
    const int w = (in.width + 15) & ~15, h = (in.height + 15) & ~15;
    if (w == in.width && h == in.height) return in;
    YuvFrame out;
    out.allocate(w, h);
    auto copy = [](const std::vector<uint8_t>& src, int sw, int sh, std::vector<uint8_t>& dst, int dw, int dh) {
        for (int y = 0; y < dh; ++y) {
            const uint8_t* row = src.data() + static_cast<size_t>(std::min(y, sh - 1)) * sw;
            uint8_t* d = dst.data() + static_cast<size_t>(y) * dw;
            std::memcpy(d, row, sw);
            std::memset(d + sw, row[sw - 1], dw - sw);
        }
    };
    copy(in.y, in.width, in.height, out.y, w, h);
    copy(in.u, in.width / 2, in.height / 2, out.u, w / 2, h / 2);
    copy(in.v, in.width / 2, in.height / 2, out.v, w / 2, h / 2);
    return out;
}

bool encode_y4m_to_nvd(const std::string& in_path, const std::string& out_path, EncoderOptions options,
                       double fps_override, std::string* error, EncodeSummary* summary, std::string* note) {
    Y4mReader reader;
    if (!reader.open(in_path, error)) return false;
    const Y4mHeader& h = reader.header();
    if (fps_override > 0) {
        // A decimal rate as a fraction over 1000 (25 -> 25/1, 29.97 -> 29970/1000), reduced.
        int num = static_cast<int>(std::lround(fps_override * 1000.0)), den = 1000;
        const int g = std::gcd(num, den);
        options.fps_num = num / g;
        options.fps_den = den / g;
    } else {
        options.fps_num = h.fps_num;
        options.fps_den = h.fps_den;
    }
    const int w = (h.width + 15) & ~15, ht = (h.height + 15) & ~15;
    if (note && (w != h.width || ht != h.height)) {
        *note = "picture size " + std::to_string(h.width) + "x" + std::to_string(h.height) + " extended to " +
                std::to_string(w) + "x" + std::to_string(ht) + " (a multiple of 16) by repeating the edges";
    }
    VideoEncoder encoder;
    if (!encoder.init(w, ht, options, error)) return false;
    NvdWriter writer;
    const float fps = static_cast<float>(static_cast<double>(options.fps_num) / options.fps_den);
    if (!writer.open(out_path, w, ht, fps, error)) return false;
    EncodeSummary s;
    s.width = w;
    s.height = ht;
    s.fps = fps;
    YuvFrame frame, extended;
    while (reader.read_frame(&frame, error)) {
        const bool whole_macroblocks = w == h.width && ht == h.height;
        if (!whole_macroblocks) extended = extend_to_macroblocks(frame);
        const std::vector<uint8_t> record = encoder.encode(whole_macroblocks ? frame : extended);
        if (!writer.add_record(record)) {
            *error = "cannot write " + out_path;
            return false;
        }
        ++s.frames;
        s.bytes += static_cast<long long>(record.size()) + 4;
        s.intra_frames += encoder.last_stats().intra;
    }
    if (!error->empty()) {
        // A stream cut off inside a frame (an interrupted pipe, a partly copied file) keeps its complete frames.
        if (s.frames > 0 && error->rfind("truncated", 0) == 0) {
            if (note) {
                *note += (note->empty() ? "" : "; ") + in_path + ": " + *error + " after " + std::to_string(s.frames) +
                         " frames; the complete frames were kept";
            }
            error->clear();
        } else {
            *error = in_path + ": " + *error + " after " + std::to_string(s.frames) + " frames";
            return false;
        }
    }
    if (s.frames == 0) {
        *error = in_path + ": no frames";
        return false;
    }
    if (!writer.finish(error)) return false;
    s.bytes += 20;
    if (summary) *summary = s;
    return true;
}

}  // namespace zorbrix::enc
