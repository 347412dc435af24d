// Arbitrary bytes as coded chunks through the decoder interface: after a valid layer header, and without one.
// The first four input bytes pick the picture size (16 x 16 up to 720 x 576, now and then one the decoder does
// not take), the output format (all seven, and none), the postprocessing level, whether the layer header turns
// resync markers on (video packets) and how the rest is cut into chunks. Unsupported-feature exits are trapped;
// anything the sanitizers see is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/fatal.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/header_writer.h"

namespace {

// Video object and layer headers for a rectangular simple-profile layer of the given size (a VOP follows).
std::vector<uint8_t> layer_header(int width, int height, bool resync) {
    zorbrix::mpeg4::LayerHeader layer;
    layer.width = width;
    layer.height = height;
    layer.time_resolution = 25;
    layer.resync_marker_disable = resync ? 0 : 1;
    zorbrix::mpeg4::BitWriter bw;
    zorbrix::mpeg4::write_layer_headers(bw, layer);
    return bw.take();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    zorbrix::ScopedFatalTrap trap;
    const uint8_t mode = data[0];
    const uint8_t choice = data[3];
    // Most inputs take a small picture (up to 4 x 4 macroblocks), which keeps the runs fast; one dimension in four
    // takes any size up to 45 (36) macroblocks.
    int w = 16 * (1 + ((data[1] & 0xC0) == 0xC0 ? data[1] % 45 : data[1] % 4));
    int h = 16 * (1 + ((data[2] & 0xC0) == 0xC0 ? data[2] % 36 : data[2] % 4));
    if ((choice & 0xF0) == 0xF0) {
        // Now and then a size the decoder does not take: not a multiple of 16, or beyond 720 x 576.
        w += (choice & 1) ? 8 : 0;
        h += (choice & 2) ? 592 : 0;
    }
    data += 4;
    size -= 4;
    const int format = mode & 7;  // 0 selects no converter
    int handle = 0;
    zorbrix::InitParams init{w, h, 0, format};
    zorbrix::decoder_call(&handle, zorbrix::OPT_INIT, &init, nullptr);
    zorbrix::PostProcParams pp{(mode & 8) ? 100 : (mode & 16) ? 25 : 0};
    zorbrix::decoder_call(&handle, zorbrix::OPT_POSTPROC, &pp, nullptr);
    // Four bytes a pixel holds every format (RGB32 is the widest).
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 4);
    try {
        // Chunks: the input split at every 0xB6 byte that follows 00 00 01, like one VOP per chunk.
        std::vector<std::vector<uint8_t>> chunks(1);
        if (mode & 32) chunks[0] = layer_header(w, h, (choice & 4) != 0);
        for (size_t i = 0; i < size; ++i) {
            if (i >= 3 && data[i] == 0xB6 && data[i - 1] == 1 && data[i - 2] == 0 && data[i - 3] == 0 &&
                chunks.back().size() > 3) {
                chunks.back().resize(chunks.back().size() - 3);
                chunks.push_back({0, 0, 1});
            }
            chunks.back().push_back(data[i]);
        }
        for (const auto& c : chunks) {
            // Exactly the chunk's bytes: the reader must not look past them.
            std::vector<uint8_t> exact(c);
            zorbrix::FrameParams fp{frame.data(), exact.empty() ? nullptr : exact.data(),
                                    static_cast<int32_t>(exact.size()), (mode & 64) ? 0 : 1};
            zorbrix::decoder_call(&handle, zorbrix::OPT_DECODE, &fp, nullptr);
        }
    } catch (const zorbrix::FatalExit&) {
    }
    zorbrix::decoder_call(&handle, zorbrix::OPT_RELEASE, nullptr, nullptr);
    return 0;
}
