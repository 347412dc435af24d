#pragma once
// Cutting an MPEG-4 visual elementary stream into .nvd records and deciding whether the decoder will play it.
// Each record is one VOP; the first VOP after a video object layer header also carries that header (with a video
// object start code before it, made up when the stream has none). Visual object sequence, visual object,
// group-of-VOP and user-data units are dropped, since the decoder does not take them. Every layer and VOP header
// is checked; the first feature the decoder would not play right stops the split with a one-line reason naming
// the feature, the frame (record index) where it first appears and the ffmpeg options that avoid it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nvdtool {

struct SplitResult {
    std::vector<std::vector<uint8_t>> records;
    int width = 0;
    int height = 0;
    int resolution = 0;       // vop_time_increment_resolution
    int fixed_increment = 0;  // the layer's fixed VOP increment, 0 when the rate is not fixed
    // Time of the first two VOPs in resolution units, -1 where unknown: a rate when the layer gives none.
    long first_times[2] = {-1, -1};
    bool resync_markers = false;  // the layer allows video packets (resync markers): played since they decode
};

// Splits the stream; false with a one-line reason when the decoder would not play it (or it holds nothing to
// play). The reason does not name the input; the caller adds that.
bool split_stream(const uint8_t* data, size_t size, SplitResult& out, std::string& reason);

// The picture size of the first video object layer header in a record; false when the record holds none.
bool record_layer_size(const uint8_t* data, size_t size, int& width, int& height);

// The rate the stream's own timing gives, 0 when it gives none.
double stream_fps(const SplitResult& s);

}  // namespace nvdtool
