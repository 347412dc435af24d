// The encoder's YUV4MPEG2 reader: header tags, frame markers and frame data from a file. Sizes and rates the
// header declares must be refused or bounded before memory is taken.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/loading/scratch_file.h"
#include "tools/encoder/y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zorbrix::enc::Y4mReader reader;
    std::string error;
    if (!reader.open(write_scratch_file("in.y4m", data, size), &error)) return 0;
    const auto& h = reader.header();
    if (h.fps_num <= 0 || h.fps_den <= 0 || static_cast<double>(h.fps_num) / h.fps_den > 1000.0 ||
        static_cast<double>(h.fps_num) / h.fps_den < 1.0 / 1001.0)
        __builtin_trap();  // an accepted header must hold a usable rate
    zorbrix::enc::YuvFrame frame;
    for (int i = 0; i < 8 && reader.read_frame(&frame, &error); ++i) {
    }
    return 0;
}
