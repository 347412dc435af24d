// VideoStream: loads an .nvd file, drives the decoder record by record and caches the last delivered frame.
#include "video/video_stream.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "loading/file_load.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/stream_features.h"

namespace zorbrix {
namespace {

int32_t read_le32(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

struct LayerSize {
    bool present = false;    // the first record starts with a video object and layer header
    bool supported = false;  // rectangular, of a size the decoder takes
    int width = 0;
    int height = 0;
};

// The picture size of the layer header at the start of the first record (records: a 32-bit length, then the
// data; the caller has checked that the first one lies inside the file), read as the decoder reads it.
LayerSize first_layer_size(const unsigned char* records, long size) {
    LayerSize out;
    if (size < 4) return out;
    const int32_t length = read_le32(records);
    mpeg4::BitReader br;
    br.reset(records + 4, static_cast<size_t>(length));
    if (br.peek_bits(27) != 8) return out;  // no video object start code: a chunk that starts with a VOP
    br.advance_bits(32);
    const mpeg4::LayerReport report = mpeg4::parse_layer_header(br);
    if (report.features & mpeg4::feature_bit(mpeg4::StreamFeature::NoLayer)) return out;
    out.present = true;
    out.width = report.layer.width;
    out.height = report.layer.height;
    out.supported = report.layer.shape == 0 && mpeg4::size_supported(out.width, out.height);
    return out;
}

}  // namespace

NvdInfo inspect_nvd(const unsigned char* data, long size) {
    NvdInfo info;
    if (!data || size < 16) return info;
    info.frame_count = read_le32(data);
    info.width = read_le32(data + 4);
    info.height = read_le32(data + 8);
    const uint32_t bits = static_cast<uint32_t>(read_le32(data + 12));
    std::memcpy(&info.fps, &bits, 4);
    long pos = 16;
    for (int i = 0; i < info.frame_count; ++i) {
        if (size - pos < 4) break;
        const int32_t length = read_le32(data + pos);
        if (length < 0 || length > size - pos - 4) break;
        pos += 4 + length;
        ++info.complete_records;
    }
    info.valid = info.frame_count > 0 && info.complete_records == info.frame_count;
    return info;
}

VideoStream::~VideoStream() { close(); }

bool VideoStream::open(const char* name, int postproc_level) {
    close();
    postproc_level_ = postproc_level;
    int size = 0;
    unsigned char* data = file_load(name, &size);
    if (!data) return false;
    NvdInfo info = inspect_nvd(data, size);
    // The stream's own layer header decides the picture size: a header that disagrees with it would otherwise give
    // frames the decoder does not fill. A layer of a size the decoder does not take is refused.
    if (info.valid) {
        const LayerSize layer = first_layer_size(data + 16, size - 16);
        if (layer.present && !layer.supported) info.valid = false;
        if (layer.present && layer.supported) {
            size_corrected_ = layer.width != info.width || layer.height != info.height;
            info.width = layer.width;
            info.height = layer.height;
        }
    }
    // The header must describe a picture the decoder takes and every record must lie inside the file; anything
    // else plays as a stream without frames rather than reading outside the buffer or delivering frames that are
    // never decoded.
    if (!info.valid || !mpeg4::size_supported(info.width, info.height) || !(info.fps > 0.0f) ||
        !std::isfinite(info.fps)) {
        size_corrected_ = false;
        std::free(data);
        return false;
    }
    // Copy into a buffer with four spare zero bytes after the last record, which the bit reader may look at.
    file_ = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size) + 4));
    if (!file_) {
        std::free(data);
        return false;
    }
    std::memcpy(file_, data, static_cast<size_t>(size));
    std::memset(file_ + size, 0, 4);
    std::free(data);
    file_size_ = size;

    frame_count_ = info.frame_count;
    width_ = info.width;
    height_ = info.height;
    fps_ = info.fps;
    first_record_ = next_record_ = file_ + 16;
    frame_cache_ = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(width_) * height_, 4));
    cached_index_ = -1;

    InitParams init{width_, height_, 0, FMT_RGB32};
    decoder_call(handle_, OPT_INIT, &init, nullptr);
    PostProcParams pp{postproc_level_};
    decoder_call(handle_, OPT_POSTPROC, &pp, nullptr);
    decoder_ready_ = true;
    return true;
}

int VideoStream::frame_at(uint32_t* dst, float seconds) {
    if (frame_count_ <= 0 || !dst || !frame_cache_) return 1;
    const double frames = static_cast<double>(fps_) * static_cast<double>(seconds);
    // Out-of-range times (not finite, or beyond an int) play frame 0.
    long long whole = std::isfinite(frames) && std::fabs(frames) < 2e9 ? static_cast<long long>(frames) : 0;
    int index = static_cast<int>(whole % frame_count_);
    if (index < 0) index += frame_count_;  // times before the start play backwards from the last frame
    if (index < cached_index_ && cached_index_ != -1) {
        cached_index_ = -1;
        next_record_ = first_record_;
    }
    const size_t bytes = static_cast<size_t>(width_) * height_ * 4;
    if (index == cached_index_) {
        std::memcpy(dst, frame_cache_, bytes);
        return 1;
    }
    for (int k = cached_index_; k < index; ++k) decode_next(dst);
    std::memcpy(frame_cache_, dst, bytes);
    cached_index_ = index;
    return 1;
}

int VideoStream::decode_next(uint32_t* dst) {
    if (!decoder_ready_) return 0;
    // Past the last record start again at the first (records were checked to lie inside the file).
    if (next_record_ + 4 > file_ + file_size_) next_record_ = first_record_;
    const int32_t length = static_cast<int32_t>(
        static_cast<uint32_t>(next_record_[0]) | static_cast<uint32_t>(next_record_[1]) << 8 |
        static_cast<uint32_t>(next_record_[2]) << 16 | static_cast<uint32_t>(next_record_[3]) << 24);
    FrameParams fp{dst, next_record_ + 4, length, 1};
    next_record_ += 4 + length;
    ++decoded_records_;
    return decoder_call(handle_, OPT_DECODE, &fp, nullptr);
}

void VideoStream::close() {
    if (decoder_ready_) decoder_call(handle_, OPT_RELEASE, nullptr, nullptr);
    decoder_ready_ = false;
    std::free(file_);
    std::free(frame_cache_);
    file_ = nullptr;
    frame_cache_ = nullptr;
    first_record_ = next_record_ = nullptr;
    cached_index_ = -1;
    frame_count_ = 0;
    width_ = height_ = 0;
    fps_ = 0.0f;
    file_size_ = 0;
    size_corrected_ = false;
}

}  // namespace zorbrix
