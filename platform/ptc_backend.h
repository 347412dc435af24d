#pragma once
// What a ptc::Console draws through. The SDL2 display (platform/ptc_sdl.h) shows frames in a window or full screen;
// the off-screen backend (platform/ptc_offscreen.h) runs the same drawing code headless, for the offline capture
// and for tests.

#include "platform/ptc.h"

#include <cstdint>
#include <deque>
#include <string>

namespace ptc {

class ConsoleBackend {
public:
    virtual ~ConsoleBackend() = default;

    // Shows a display for width x height pixels: a window of that size when windowed, otherwise the full screen
    // with the picture scaled to fit, keeping its shape. Throws DynamicError when it cannot.
    virtual void open(const std::string& title, int width, int height, bool windowed) = 0;
    // Takes the display away. Safe to call when nothing is open.
    virtual void close() = 0;

    // Shows width x height pixels 0x00RRGGBB, rows of width words. Called once per console update.
    virtual void present(const uint32_t* pixels, int width, int height) = 0;

    // Appends the key presses that arrived since the last call to `keys`, oldest first. With wait set it returns
    // only once it has appended at least one press or the user closed the display. Returns true once the user has
    // closed the display.
    virtual bool poll(std::deque<Key>& keys, bool wait) = 0;
};

}  // namespace ptc
