#pragma once
// The console's display on SDL2: a window of the console's size, or the desktop's full screen with the picture
// scaled to fit and black bars where the shapes differ. Frames are presented with vsync where the system offers
// it, and paced to the display's refresh rate where it does not, so the unpaced frame loops never spin a core.

#include "platform/ptc_backend.h"

#include <cstdint>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

namespace ptc {

class SdlBackend : public ConsoleBackend {
public:
    // Starts SDL's video. Throws DynamicError, saying so plainly, when no display is available.
    SdlBackend();
    ~SdlBackend() override;
    SdlBackend(const SdlBackend&) = delete;
    SdlBackend& operator=(const SdlBackend&) = delete;

    void open(const std::string& title, int width, int height, bool windowed) override;
    void close() override;
    void present(const uint32_t* pixels, int width, int height) override;
    bool poll(std::deque<Key>& keys, bool wait) override;

private:
    bool handle(const SDL_Event& event, std::deque<Key>& keys);
    void show_texture();
    void pace();

    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    bool closed_by_user_ = false;
    uint64_t min_frame_ticks_ = 0;   // performance-counter ticks a frame must at least take
    uint64_t next_frame_at_ = 0;
};

// Where a width x height picture goes on an output of out_width x out_height pixels: as large as fits, its shape
// kept (to the nearest pixel), centred; the rest stays black.
struct PictureRect {
    int x, y, width, height;
};
PictureRect fit_picture(int out_width, int out_height, int width, int height);

// The display's code for an SDL key (SDL_Keycode) with the modifier state (SDL_Keymod) of the press.
// Escape, Page Up, Page Down, Up and Down give 27, 33, 34, 38 and 40; no other key gives one of those.
int key_code_from_sdl(int32_t sdl_keycode, uint16_t sdl_modifiers);

}  // namespace ptc
