#include "tools/nvdtool/stream_split.h"

#include "tools/nvdtool/nvd_file.h"
#include "video/mpeg4/bitreader.h"
#include "video/mpeg4/stream_features.h"

namespace nvdtool {

namespace {

using zorbrix::mpeg4::BitReader;
using zorbrix::mpeg4::StreamFeature;

// How to make ffmpeg write a stream without the feature.
const char* avoid_hint(StreamFeature f) {
    switch (f) {
    case StreamFeature::BFrames: return "encode with -bf 0";
    case StreamFeature::QuarterPel: return "encode without -flags +qpel";
    case StreamFeature::SpriteGmc: return "encode without -flags +gmc";
    case StreamFeature::Interlace: return "encode without -flags +ildct+ilme (progressive)";
    case StreamFeature::MpegQuantisation: return "encode with -mpeg_quant 0";
    case StreamFeature::DataPartitioning: return "encode with -data_partitioning 0";
    case StreamFeature::PictureSize: return "scale to multiples of 16 up to 720x576, e.g. -s 256x192";
    default: return "re-encode with ffmpeg -c:v mpeg4 -bf 0";
    }
}

std::string refusal(StreamFeature f, size_t frame, const std::string& detail = "") {
    return std::string(zorbrix::mpeg4::feature_name(f)) + detail + " (frame " + std::to_string(frame) +
           "): " + avoid_hint(f);
}

}  // namespace

bool split_stream(const uint8_t* data, size_t size, SplitResult& out, std::string& reason) {
    out = SplitResult{};
    const std::vector<size_t> codes = find_start_codes(data, size);
    zorbrix::mpeg4::LayerInfo layer;
    bool have_layer = false;
    std::vector<uint8_t> pending;  // video object and layer headers waiting for their VOP
    std::vector<uint8_t> object;   // the last video object header
    long seconds = 0;              // modulo_time_base seconds so far
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t begin = codes[k];
        const size_t end = k + 1 < codes.size() ? codes[k + 1] : size;
        const uint8_t* unit = data + begin;
        const size_t n = end - begin;
        const uint8_t code = unit[3];
        const size_t frame = out.records.size();
        if (code <= 0x1F) {
            object.assign(unit, unit + n);  // a new video object starts its headers afresh
            pending = object;
        } else if (code <= 0x2F) {
            BitReader br;
            br.reset(unit, n);
            const zorbrix::mpeg4::LayerReport report = zorbrix::mpeg4::parse_layer_header(br);
            if (report.first == StreamFeature::PictureSize) {
                reason = refusal(report.first, frame,
                                 " " + std::to_string(report.layer.width) + "x" + std::to_string(report.layer.height));
                return false;
            }
            if (report.first != StreamFeature::None) {
                reason = refusal(report.first, frame);
                return false;
            }
            if (!report.complete) {
                reason = "damaged video object layer header (frame " + std::to_string(frame) + ")";
                return false;
            }
            if (have_layer && (report.layer.width != layer.width || report.layer.height != layer.height)) {
                reason = "picture size changes from " + std::to_string(layer.width) + "x" +
                         std::to_string(layer.height) + " to " + std::to_string(report.layer.width) + "x" +
                         std::to_string(report.layer.height) + " (frame " + std::to_string(frame) +
                         "): encode every part at one size, e.g. -s " + std::to_string(layer.width) + "x" +
                         std::to_string(layer.height);
                return false;
            }
            layer = report.layer;
            if (!layer.resync_marker_disable) out.resync_markers = true;
            if (!have_layer) {
                out.width = layer.width;
                out.height = layer.height;
                out.resolution = layer.vop_time_increment_resolution;
                out.fixed_increment = layer.fixed_vop_rate ? layer.fixed_vop_time_increment : 0;
            }
            have_layer = true;
            // The decoder expects the video object start code right before the layer's (one layer per record).
            pending = object.empty() ? std::vector<uint8_t>{0, 0, 1, 0} : object;
            pending.insert(pending.end(), unit, unit + n);
        } else if (code == 0xB6) {
            if (!have_layer) {
                reason = "no VOL (frame " + std::to_string(frame) +
                         "): the stream has no video object layer header before its first VOP; re-encode with ffmpeg "
                         "-c:v mpeg4";
                return false;
            }
            BitReader br;
            br.reset(unit, n);
            const zorbrix::mpeg4::VopReport report = zorbrix::mpeg4::parse_vop_header(br, layer);
            if (report.first != StreamFeature::None) {
                reason = refusal(report.first, frame);
                return false;
            }
            if (frame < 2) {
                seconds += report.vop.modulo_time_base;
                out.first_times[frame] =
                    seconds * static_cast<long>(layer.vop_time_increment_resolution) + report.vop.time_increment;
            }
            std::vector<uint8_t> record = std::move(pending);
            pending.clear();
            record.insert(record.end(), unit, unit + n);
            out.records.push_back(std::move(record));
        }
        // Visual object sequence, visual object, group of VOP, user data and other units are dropped.
    }
    if (!have_layer) {
        reason =
            "no VOL (frame 0): the stream has no video object layer header (is it MPEG-4 visual?); "
            "re-encode with ffmpeg -c:v mpeg4";
        return false;
    }
    if (out.records.empty()) {
        reason = "the stream holds no VOP (no coded frame)";
        return false;
    }
    return true;
}

bool record_layer_size(const uint8_t* data, size_t size, int& width, int& height) {
    const std::vector<size_t> codes = find_start_codes(data, size);
    for (size_t k = 0; k < codes.size(); ++k) {
        if (data[codes[k] + 3] < 0x20 || data[codes[k] + 3] > 0x2F) continue;
        const size_t end = k + 1 < codes.size() ? codes[k + 1] : size;
        BitReader br;
        br.reset(data + codes[k], end - codes[k]);
        const zorbrix::mpeg4::LayerReport report = zorbrix::mpeg4::parse_layer_header(br);
        width = report.layer.width;
        height = report.layer.height;
        return true;
    }
    return false;
}

double stream_fps(const SplitResult& s) {
    if (s.resolution <= 0) return 0.0;
    if (s.fixed_increment > 0) return static_cast<double>(s.resolution) / s.fixed_increment;
    if (s.first_times[0] >= 0 && s.first_times[1] > s.first_times[0])
        return static_cast<double>(s.resolution) / static_cast<double>(s.first_times[1] - s.first_times[0]);
    return 0.0;
}

}  // namespace nvdtool
