// Loads the input as a Targa file through file_load.

#include <cstdint>

#include "fuzz/loading/scratch_file.h"
#include "loading/file_load.h"
#include "loading/image_loaders.h"

using zorbrix::file_init;
using zorbrix::LoadTarga;
using zorbrix::RawImage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool initialised = file_init(nullptr, scratch_directory().c_str());
    (void)initialised;
    write_scratch_file("input.tga", data, size);
    RawImage* image = LoadTarga("input.tga");
    if (image) {
        volatile uint32_t sum = 0;
        for (long i = 0; i < long(image->width) * image->height; ++i) sum = sum + image->pixels[i];
        delete image;
    }
    return 0;
}
