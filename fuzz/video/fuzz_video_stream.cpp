// The intro's path from file to picture: arbitrary bytes as an .nvd file (header and records) opened by
// VideoStream, then frames asked for at times taken from the input, delivered in every output format. The first
// input byte picks the format, the postprocessing level and the times; the rest is the file. Unsupported-feature
// exits are trapped; anything the sanitizers see is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/loading/scratch_file.h"
#include "loading/file_load.h"
#include "platform/fatal.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/video_stream.h"

using zorbrix::file_init;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const bool ready = file_init(nullptr, "");
    (void)ready;
    const uint8_t mode = data[0];
    const std::string path = write_scratch_file("fuzz.nvd", data + 1, size - 1);
    zorbrix::ScopedFatalTrap trap;
    zorbrix::VideoStream vs;
    try {
        if (!vs.open(path.c_str(), (mode & 8) ? 100 : 0)) return 0;
        // The stream decodes into RGB32 by default; the other formats are at most as wide.
        const int format = mode & 7;
        if (format) {
            zorbrix::InitParams out{0, 0, 0, format};
            zorbrix::decoder_call(vs.decoder_handle(), zorbrix::OPT_OUTPUT, &out, nullptr);
        }
        std::vector<uint32_t> frame(static_cast<size_t>(vs.width()) * vs.height());
        const float fps = vs.fps();
        // Forward through a few frames, a wrap to the start, and one time far out.
        const int steps[] = {0, 1, 3, 2, 1 + (mode >> 4), -1};
        float t = 0.0f;
        for (int s : steps) {
            t = s < 0 ? 1e6f : t + static_cast<float>(s) / fps;
            vs.frame_at(frame.data(), t);
        }
        vs.frame_at(frame.data(), 0.0f);
    } catch (const zorbrix::FatalExit&) {
    }
    vs.close();
    return 0;
}
