#pragma once
// Whole-file encoding: YUV4MPEG2 in, .nvd out. Shared by `nvdtool encode` and the data generator.
#include <functional>
#include <string>

#include "tools/encoder/encoder.h"

namespace zorbrix::enc {

struct EncodeSummary {
    int frames = 0;
    long long bytes = 0;
    int width = 0, height = 0;
    int intra_frames = 0;
    double fps = 25.0;
};

// fps_override > 0 replaces the input's picture rate. Pictures whose size is not a multiple of 16 are extended
// to the next multiple by repeating their last column and row, and input cut off inside a frame keeps its complete
// frames; both are reported in *note.
bool encode_y4m_to_nvd(const std::string& in_path, const std::string& out_path, EncoderOptions options,
                       double fps_override, std::string* error, EncodeSummary* summary = nullptr,
                       std::string* note = nullptr);

// Extends a picture to a multiple of 16 in both directions by edge replication.
YuvFrame extend_to_macroblocks(const YuvFrame& in);

}  // namespace zorbrix::enc
