// Image::load: the one place gfx reaches into the image loaders.
#include "gfx/image.h"

#if __has_include("loading/image_loaders.h")
#include <memory>

#include "loading/image_loaders.h"

int Image::load(const char* name, int flags) {
    if (name == nullptr) {
        return 0;
    }
    const std::unique_ptr<RawImage> picture(image_load(name));
    if (!picture) {
        return 0;
    }
    return set_pixels(picture->pixels, picture->width, picture->height, flags);
}

#else
// Until the loaders are part of the build, nothing can be loaded.
int Image::load(const char*, int) { return 0; }
#endif
