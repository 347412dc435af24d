#pragma once
// The in-memory overlay picture and the compositing routines every frame uses.
//
// All drawing goes into plain pixel memory given as address, width and height, rows contiguous (pitch = width x 4
// bytes). Image pixels are 0xAARRGGBB with the colours premultiplied by alpha.
#include <cstdint>
#include <optional>

#include "gfx/blit_kernels.h"

namespace zorbrix {

// Image flag: draw by premultiplied-alpha blending instead of copying.
constexpr int IMAGE_ALPHA = 1;

// The part of a width x height picture that lands inside a destination when its top-left corner goes to (x, y):
// source columns left..right and rows top..bottom (inclusive), written from destination pixel (dx, dy) on.
struct BlitRect {
    int left;
    int top;
    int right;
    int bottom;
    int dx;
    int dy;
};

// The clipped rectangle, or nothing when no pixel of the picture lands inside the destination.
std::optional<BlitRect> clip_blit(int width, int height, int dst_width, int dst_height, int x, int y);

class Image {
public:
    Image() = default;
    // Empty, then load(name, flags); an image that fails to load stays empty (0 x 0, draws nothing).
    Image(const char* name, int flags);
    ~Image();

    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // Loads a Targa or JPEG file through the image loaders. Returns 0, leaving the image as it was, when the file
    // cannot be loaded; otherwise the result of set_pixels.
    int load(const char* name, int flags);

    // Replaces the picture with a copy of width x height words from `pixels` and stores the flags. Returns 1.
    // Returns 0 and leaves the image as it was when the size is negative or too large to hold, when `pixels` is
    // null for a non-empty size, or when memory runs out. `pixels` may point into this image's own pixels.
    int set_pixels(const uint32_t* pixels, int width, int height, int flags);

    // Draws with the top-left corner at (x, y), clipped to the destination: blended when the image has
    // IMAGE_ALPHA, copied (alpha byte included) otherwise.
    void draw(uint32_t* dst, int dst_width, int dst_height, int x, int y) const;

    // Draws scaled by a fade factor (0 = invisible, 1 = full; outside 0..1 clamped, not-a-number counts as 0).
    // An image without IMAGE_ALPHA is faded as an opaque one (alpha 255).
    void draw_faded(uint32_t* dst, int dst_width, int dst_height, int x, int y, double fade) const;

    bool has_alpha() const { return (flags_ & IMAGE_ALPHA) != 0; }
    int width() const { return width_; }
    int height() const { return height_; }
    int flags() const { return flags_; }
    const uint32_t* pixels() const { return pixels_; }

private:
    uint32_t* pixels_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int flags_ = 0;
};

// Enlarges a (dst_width / 2) x (dst_height / 2) frame (rows of dst_width / 2 words) 2x with linear interpolation.
// Writes destination rows 2 .. 2 x (dst_height / 2) - 1 and columns 1 .. 2 x (dst_width / 2) - 2; the rest of the
// destination keeps what it held.
void upscale_video_2x(uint32_t* dst, const uint32_t* src, int dst_width, int dst_height);

// The four corner frames, in the order upper left, upper right, lower right, lower left.
void draw_corners(uint32_t* dst, int dst_width, int dst_height, const Image corners[4]);

// A faded draw with the image centred (offsets rounded toward zero).
void draw_centered_faded(uint32_t* dst, int dst_width, int dst_height, const Image& image, double fade);

}  // namespace zorbrix
