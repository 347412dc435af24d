#pragma once
// The console's display on SDL2: a resizable window, or the desktop's full screen. The window opens at a whole
// multiple of the console's size (the largest that fits within about 80 % of the desktop, unless a scale is given);
// whatever the window's or screen's shape, the whole picture shows at its own shape, centred, with black bars where
// the shapes differ. Alt+Enter and F11 switch between window and full screen; they are not key presses of the
// program. Frames are presented with vsync where the system offers it, and paced to the display's refresh rate where
// it does not, so the unpaced frame loops never spin a core.

#include "platform/ptc_backend.h"

#include <cstdint>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

namespace ptc {

// How the picture is enlarged.
enum class Scaling {
    // Enlarged by whole pixels (nearest neighbour) to the next whole multiple, then smoothly to the exact size that
    // fills the output: crisp, without uneven pixels, and as large as the output allows.
    Smooth,
    // Whole multiples only, nearest neighbour: every pixel an exact square; wider black bars where no multiple
    // fills the output (below 1x it shrinks to fit, still nearest neighbour).
    Sharp,
};

struct DisplaySettings {
    int scale = 0;  // the window's size as a multiple of the console's; 0: the largest within ~80 % of the desktop
    Scaling scaling = Scaling::Smooth;
};

class SdlBackend : public ConsoleBackend {
public:
    // Starts SDL's video. Throws DynamicError, saying so plainly, when no display is available.
    explicit SdlBackend(DisplaySettings settings = {});
    ~SdlBackend() override;
    SdlBackend(const SdlBackend&) = delete;
    SdlBackend& operator=(const SdlBackend&) = delete;

    void open(const std::string& title, int width, int height, bool windowed) override;
    void close() override;
    void present(const uint32_t* pixels, int width, int height) override;
    bool poll(std::deque<Key>& keys, bool wait) override;

    // Switches between the window and the full screen (what Alt+Enter and F11 do).
    void toggle_fullscreen();
    bool fullscreen() const;

private:
    bool handle(const SDL_Event& event, std::deque<Key>& keys);
    void show_texture();
    void pace();

    DisplaySettings settings_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    SDL_Texture* enlarged_ = nullptr;  // the whole-pixel enlargement of smooth scaling, made when first needed
    int enlarged_factor_ = 0;
    bool alt_held_back_ = false;  // an Alt press not yet queued: it may turn out to be part of Alt+Enter
    Key held_alt_;
    bool closed_by_user_ = false;
    uint64_t min_frame_ticks_ = 0;  // performance-counter ticks a frame must at least take
    uint64_t next_frame_at_ = 0;
};

// Where a width x height picture goes on an output of out_width x out_height pixels: as large as fits, its shape
// kept (to the nearest pixel), centred; the rest stays black.
struct PictureRect {
    int x, y, width, height;
};
PictureRect fit_picture(int out_width, int out_height, int width, int height);
// The same at the largest whole multiple of the picture that fits (nearest-neighbour scaling); fit_picture when not
// even 1x fits.
PictureRect sharp_picture(int out_width, int out_height, int width, int height);
// The window's scale: the largest whole multiple of width x height that fits within 80 % of the desktop, at least 1.
int window_scale(int desktop_width, int desktop_height, int width, int height);

// The display's code for an SDL key (SDL_Keycode) with the modifier state (SDL_Keymod) of the press.
// Escape, Page Up, Page Down, Up and Down give 27, 33, 34, 38 and 40; no other key gives one of those.
int key_code_from_sdl(int32_t sdl_keycode, uint16_t sdl_modifiers);

}  // namespace ptc
