// Loads the input as a JPEG file through file_load and our memory data source. libjpeg errors end in
// zorbrix::fatal_exit, trapped here: the loader must have released everything before that.

#include <cstdint>

#include "fuzz/loading/scratch_file.h"
#include "loading/file_load.h"
#include "loading/image_loaders.h"
#include "platform/fatal.h"

using zorbrix::file_init;
using zorbrix::LoadJpeg;
using zorbrix::RawImage;

namespace {

// Pictures whose frame header asks for more than a few megapixels are skipped: decoding them is slow, and libjpeg
// itself allocates for them whatever they claim, which is not what is under test here.
bool declares_large_frame(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 8 < size; ++i) {
        if (data[i] != 0xFF) continue;
        const uint8_t marker = data[i + 1];
        if (marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8 || marker == 0xCC) continue;
        const unsigned height = unsigned(data[i + 5]) << 8 | data[i + 6];
        const unsigned width = unsigned(data[i + 7]) << 8 | data[i + 8];
        if (uint64_t(width) * height > (1u << 22) || width > 8192 || height > 8192) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool initialised = file_init(nullptr, scratch_directory().c_str());
    (void)initialised;
    if (declares_large_frame(data, size)) return 0;
    write_scratch_file("input.jpg", data, size);
    zorbrix::ScopedFatalTrap trap;
    try {
        RawImage* image = LoadJpeg("input.jpg");
        delete image;
    } catch (const zorbrix::FatalExit& e) {
        if (e.status != 1) __builtin_trap();
    }
    return 0;
}
