#include "gfx/image.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace zorbrix {

std::optional<BlitRect> clip_blit(int width, int height, int dst_width, int dst_height, int x, int y) {
    // 64-bit so that positions and sizes near the ends of the int range cannot overflow.
    int64_t left = 0, top = 0, right = int64_t{width} - 1, bottom = int64_t{height} - 1;
    int64_t dx = x, dy = y;
    if (dx < 0) {
        left = -dx;
        dx = 0;
    }
    if (dy < 0) {
        top = -dy;
        dy = 0;
    }
    if (dx + (right - left + 1) > dst_width) {
        right = left + dst_width - dx - 1;
    }
    if (dy + (bottom - top + 1) > dst_height) {
        bottom = top + dst_height - dy - 1;
    }
    if (right < left || bottom < top) {
        return std::nullopt;
    }
    // Now 0 <= left <= right < width, 0 <= top <= bottom < height and dx < dst_width, dy < dst_height.
    return BlitRect{static_cast<int>(left),   static_cast<int>(top), static_cast<int>(right),
                    static_cast<int>(bottom), static_cast<int>(dx),  static_cast<int>(dy)};
}

Image::Image(const char* name, int flags) { load(name, flags); }

Image::~Image() { delete[] pixels_; }

Image::Image(Image&& other) noexcept
    : pixels_(std::exchange(other.pixels_, nullptr)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      flags_(std::exchange(other.flags_, 0)) {}

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        delete[] pixels_;
        pixels_ = std::exchange(other.pixels_, nullptr);
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        flags_ = std::exchange(other.flags_, 0);
    }
    return *this;
}

int Image::set_pixels(const uint32_t* pixels, int width, int height, int flags) {
    if (width < 0 || height < 0) {
        return 0;
    }
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (count > std::numeric_limits<size_t>::max() / sizeof(uint32_t) / 2) {
        return 0;
    }
    uint32_t* copy = nullptr;
    if (count > 0) {
        if (pixels == nullptr) {
            return 0;
        }
        copy = new (std::nothrow) uint32_t[count];
        if (copy == nullptr) {
            return 0;
        }
        // Copied before the old array goes, so a block taken from this very image survives.
        std::memcpy(copy, pixels, count * sizeof(uint32_t));
    }
    delete[] pixels_;
    pixels_ = copy;
    width_ = width;
    height_ = height;
    flags_ = flags;
    return 1;
}

void Image::draw(uint32_t* dst, int dst_width, int dst_height, int x, int y) const {
    if (dst == nullptr || pixels_ == nullptr) {
        return;
    }
    const std::optional<BlitRect> r = clip_blit(width_, height_, dst_width, dst_height, x, y);
    if (!r) {
        return;
    }
    const RowKernels& k = row_kernels();
    const int run = r->right - r->left + 1;
    for (int row = r->top; row <= r->bottom; ++row) {
        const uint32_t* s = pixels_ + static_cast<ptrdiff_t>(row) * width_ + r->left;
        uint32_t* d = dst + static_cast<ptrdiff_t>(r->dy + row - r->top) * dst_width + r->dx;
        if (has_alpha()) {
            k.blend_row(d, s, run);
        } else {
            k.copy_row(d, s, run);
        }
    }
}

void Image::draw_faded(uint32_t* dst, int dst_width, int dst_height, int x, int y, double fade) const {
    if (dst == nullptr || pixels_ == nullptr) {
        return;
    }
    const std::optional<BlitRect> r = clip_blit(width_, height_, dst_width, dst_height, x, y);
    if (!r) {
        return;
    }
    const RowKernels& k = row_kernels();
    const int f = fade_to_byte(fade);
    const int run = r->right - r->left + 1;
    for (int row = r->top; row <= r->bottom; ++row) {
        const uint32_t* s = pixels_ + static_cast<ptrdiff_t>(row) * width_ + r->left;
        uint32_t* d = dst + static_cast<ptrdiff_t>(r->dy + row - r->top) * dst_width + r->dx;
        if (has_alpha()) {
            k.blend_row_faded(d, s, run, f);
            continue;
        }
        // Without alpha the picture counts as opaque: the same faded blend with every alpha byte set to 255.
        uint32_t opaque[256];
        for (int done = 0; done < run;) {
            const int n = std::min(run - done, 256);
            for (int i = 0; i < n; ++i) {
                opaque[i] = s[done + i] | 0xFF000000u;
            }
            k.blend_row_faded(d + done, opaque, n, f);
            done += n;
        }
    }
}

void upscale_video_2x(uint32_t* dst, const uint32_t* src, int dst_width, int dst_height) {
    const int pairs = dst_height / 2 - 1;
    // Narrower than 4 pixels there is nothing between two source columns to write.
    if (dst == nullptr || src == nullptr || pairs <= 0 || dst_width < 4) {
        return;
    }
    const RowKernels& k = row_kernels();
    const int h = dst_width / 2;
    uint32_t* d = dst + 2 * static_cast<ptrdiff_t>(dst_width) + 1;
    const uint32_t* s = src;
    for (int p = 0; p < pairs; ++p) {
        k.upscale_row_pair(d, s, dst_width);
        d += 2 * static_cast<ptrdiff_t>(dst_width);
        s += h;
    }
}

void draw_corners(uint32_t* dst, int dst_width, int dst_height, const Image corners[4]) {
    if (dst == nullptr || corners == nullptr || dst_width <= 0 || dst_height <= 0) {
        return;
    }
    corners[0].draw(dst, dst_width, dst_height, 0, 0);
    corners[1].draw(dst, dst_width, dst_height, dst_width - corners[1].width(), 0);
    corners[2].draw(dst, dst_width, dst_height, dst_width - corners[2].width(), dst_height - corners[2].height());
    corners[3].draw(dst, dst_width, dst_height, 0, dst_height - corners[3].height());
}

void draw_centered_faded(uint32_t* dst, int dst_width, int dst_height, const Image& image, double fade) {
    if (dst_width <= 0 || dst_height <= 0) {
        return;
    }
    image.draw_faded(dst, dst_width, dst_height, (dst_width - image.width()) / 2, (dst_height - image.height()) / 2,
                     fade);
}

}  // namespace zorbrix
