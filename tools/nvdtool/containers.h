#pragma once
// Finding the MPEG-4 visual samples inside the files users actually hand over: raw elementary streams, MP4/MOV
// (ISO base media), AVI (including OpenDML's RIFF AVIX continuation) and Matroska. The container is recognised by
// its content, never by the file name. Every demuxer checks each size it reads against the bytes that hold it, so
// hostile input gives an error message, not a read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nvdtool {

enum class Container {
    elementary,
    mp4,
    avi,
    matroska
};

// "elementary stream", "MP4/MOV", "AVI", "Matroska".
const char* container_name(Container c);

// What the first bytes say. Anything that is not a recognised container is taken as an elementary stream.
Container detect_container(const uint8_t* data, size_t size);

struct Span {
    size_t offset = 0;
    size_t size = 0;
};

struct Demuxed {
    Container container = Container::elementary;
    // Decoder configuration carried outside the samples (the VOL and the headers before it), empty when none.
    std::vector<uint8_t> config;
    // The video samples in decoding order, as byte ranges of the input (each lies fully inside it).
    std::vector<Span> samples;
    // The picture rate the container records, 0 when it records none.
    double fps = 0.0;
    // Something worth telling the user that did not stop the demuxing (a truncated last chunk), empty otherwise.
    std::string note;
};

// Demuxes the input. For an elementary stream the whole input is one sample. False with a one-line message when
// the container is damaged, holds no video track, or its video is not MPEG-4 visual.
bool demux(const uint8_t* data, size_t size, Demuxed& out, std::string& error);

}  // namespace nvdtool
