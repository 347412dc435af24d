// Image::load: the one place gfx reaches into the image loaders.
#include <memory>

#include "gfx/image.h"
#include "loading/image_loaders.h"

namespace zorbrix {

int Image::load(const char* name, int flags) {
    if (name == nullptr) {
        return 0;
    }
    const std::unique_ptr<RawImage> picture(image_load(name));
    if (!picture) {
        return 0;
    }
    // set_pixels copies the block (and refuses a picture whose pixels could not be allocated); the loader's
    // picture is released here either way.
    return set_pixels(picture->pixels, picture->width, picture->height, flags);
}

}  // namespace zorbrix
