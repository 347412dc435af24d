// nvdtool import's path for outside files: container detection and demuxing (MP4/MOV, AVI, Matroska, raw), then
// the elementary-stream splitter with its header checks. Every sample a demuxer reports must lie inside the input;
// anything the sanitizers see is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/nvdtool/containers.h"
#include "tools/nvdtool/stream_split.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so a read past the end is seen.
    const std::vector<uint8_t> input(data, data + size);
    nvdtool::Demuxed demuxed;
    std::string error;
    if (!nvdtool::demux(input.data(), input.size(), demuxed, error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    std::vector<uint8_t> stream = demuxed.config;
    for (const auto& s : demuxed.samples) {
        if (s.offset > input.size() || s.size > input.size() - s.offset) std::abort();
        stream.insert(stream.end(), input.begin() + static_cast<long>(s.offset),
                      input.begin() + static_cast<long>(s.offset + s.size));
    }
    nvdtool::SplitResult split;
    if (!nvdtool::split_stream(stream.data(), stream.size(), split, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (split.records.empty()) std::abort();  // success means something to play
    (void)nvdtool::stream_fps(split);
    return 0;
}
