#include "platform/ptc_sdl.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>

namespace ptc {
namespace {

[[noreturn]] void throw_sdl(const std::string& what) { throw DynamicError(what + ": " + SDL_GetError()); }

}  // namespace

PictureRect fit_picture(int out_width, int out_height, int width, int height) {
    if (out_width <= 0 || out_height <= 0 || width <= 0 || height <= 0) {
        return {0, 0, 0, 0};
    }
    const int64_t ow = out_width, oh = out_height, w = width, h = height;
    if (ow * h <= oh * w) {
        // Limited by the width: bars above and below.
        const int fitted = int((ow * h * 2 + w) / (w * 2));
        return {0, (out_height - fitted) / 2, out_width, fitted};
    }
    // Limited by the height: bars left and right.
    const int fitted = int((oh * w * 2 + h) / (h * 2));
    return {(out_width - fitted) / 2, 0, fitted, out_height};
}

PictureRect sharp_picture(int out_width, int out_height, int width, int height) {
    if (out_width <= 0 || out_height <= 0 || width <= 0 || height <= 0) return {0, 0, 0, 0};
    const int k = std::min(out_width / width, out_height / height);
    if (k < 1) return fit_picture(out_width, out_height, width, height);
    return {(out_width - k * width) / 2, (out_height - k * height) / 2, k * width, k * height};
}

int window_scale(int desktop_width, int desktop_height, int width, int height) {
    if (width <= 0 || height <= 0) return 1;
    const int64_t k = std::min(int64_t(desktop_width) * 4 / (int64_t(width) * 5),
                               int64_t(desktop_height) * 4 / (int64_t(height) * 5));
    return int(std::clamp<int64_t>(k, 1, 64));
}

int key_code_from_sdl(int32_t sdl_keycode, uint16_t sdl_modifiers) {
    const SDL_Keycode k = sdl_keycode;
    if (k >= SDLK_a && k <= SDLK_z) {
        return 'A' + (k - SDLK_a);
    }
    if (k >= SDLK_0 && k <= SDLK_9) {
        return '0' + (k - SDLK_0);
    }
    if (k >= SDLK_F1 && k <= SDLK_F12) {
        return 112 + (k - SDLK_F1);
    }
    // With Num Lock off the keypad is a second set of cursor and page keys.
    if (!(sdl_modifiers & KMOD_NUM)) {
        switch (k) {
        case SDLK_KP_0: return 45;
        case SDLK_KP_1: return 35;
        case SDLK_KP_2: return Key::DOWN;
        case SDLK_KP_3: return Key::PAGEDOWN;
        case SDLK_KP_4: return 37;
        case SDLK_KP_6: return 39;
        case SDLK_KP_7: return 36;
        case SDLK_KP_8: return Key::UP;
        case SDLK_KP_9: return Key::PAGEUP;
        case SDLK_KP_PERIOD: return 46;
        default: break;
        }
    }
    if (k >= SDLK_KP_1 && k <= SDLK_KP_9) {
        return 97 + (k - SDLK_KP_1);
    }
    switch (k) {
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 17;
    case SDLK_LALT:
    case SDLK_RALT: return 18;
    case SDLK_PAUSE: return 19;
    case SDLK_CAPSLOCK: return 20;
    case SDLK_ESCAPE: return Key::ESCAPE;
    case SDLK_SPACE: return 32;
    case SDLK_PAGEUP: return Key::PAGEUP;
    case SDLK_PAGEDOWN: return Key::PAGEDOWN;
    case SDLK_END: return 35;
    case SDLK_HOME: return 36;
    case SDLK_LEFT: return 37;
    case SDLK_UP: return Key::UP;
    case SDLK_RIGHT: return 39;
    case SDLK_DOWN: return Key::DOWN;
    case SDLK_INSERT: return 45;
    case SDLK_DELETE: return 46;
    case SDLK_KP_0: return 96;
    case SDLK_KP_MULTIPLY: return 106;
    case SDLK_KP_PLUS: return 107;
    case SDLK_KP_MINUS: return 109;
    case SDLK_KP_PERIOD: return 110;
    case SDLK_KP_DIVIDE: return 111;
    case SDLK_NUMLOCKCLEAR: return 144;
    case SDLK_SCROLLLOCK: return 145;
    case SDLK_SEMICOLON: return 186;
    case SDLK_EQUALS: return 187;
    case SDLK_COMMA: return 188;
    case SDLK_MINUS: return 189;
    case SDLK_PERIOD: return 190;
    case SDLK_SLASH: return 191;
    case SDLK_BACKQUOTE: return 192;
    case SDLK_LEFTBRACKET: return 219;
    case SDLK_BACKSLASH: return 220;
    case SDLK_RIGHTBRACKET: return 221;
    case SDLK_QUOTE: return 222;
    default: return Key::UNDEFINED;
    }
}

SdlBackend::SdlBackend(DisplaySettings settings) : settings_(settings) {
    // A video driver chosen by the user through SDL_VIDEODRIVER is used as it is.
    const char* chosen = SDL_getenv("SDL_VIDEODRIVER");
    if (chosen && *chosen) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            throw DynamicError(std::string("no display available (") + SDL_GetError() + ")");
        }
        return;
    }
    // Otherwise only drivers that show something on a screen. SDL would fall back to its invisible "offscreen"
    // driver, and the intro would run unseen with no way to stop it.
    const char* x11 = SDL_getenv("DISPLAY");
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    std::string failures;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const std::string name = SDL_GetVideoDriver(i);
        if (name == "offscreen" || name == "dummy" || name == "evdev" || (name == "x11" && !(x11 && *x11)) ||
            (name == "wayland" && !(wayland && *wayland))) {
            continue;
        }
        SDL_SetHint(SDL_HINT_VIDEODRIVER, name.c_str());
        const int status = SDL_InitSubSystem(SDL_INIT_VIDEO);
        SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
        if (status == 0) {
            return;
        }
        failures += (failures.empty() ? "" : "; ") + name + ": " + SDL_GetError();
    }
    if (!(x11 && *x11) && !(wayland && *wayland)) {
        failures += std::string(failures.empty() ? "" : "; ") + "neither DISPLAY nor WAYLAND_DISPLAY is set";
    }
    throw DynamicError("no display available (" + failures + "); the intro needs a graphical desktop");
}

SdlBackend::~SdlBackend() {
    close();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void SdlBackend::open(const std::string& title, int width, int height, bool windowed) {
    close();
    closed_by_user_ = false;
    // The window: a whole multiple of the picture, resizable and maximisable. Full screen it covers the desktop at
    // its own resolution; leaving full screen gives back the window at this size.
    int scale = settings_.scale;
    if (scale <= 0) {
        SDL_Rect usable{0, 0, 0, 0};
        SDL_DisplayMode desktop{};
        if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) {
            scale = window_scale(usable.w, usable.h, width, height);
        } else if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
            scale = window_scale(desktop.w, desktop.h, width, height);
        } else {
            scale = 1;
        }
    }
    Uint32 flags = SDL_WINDOW_RESIZABLE;
    if (!windowed) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width * scale,
                               height * scale, flags);
    if (!window_) {
        throw_sdl("cannot open the display window");
    }
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!renderer_) {
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_PRESENTVSYNC);
    }
    if (!renderer_) {
        renderer_ = SDL_CreateRenderer(window_, -1, 0);
    }
    if (!renderer_) {
        const std::string error = SDL_GetError();
        close();
        throw DynamicError("cannot draw into the display window: " + error);
    }
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!texture_) {
        const std::string error = SDL_GetError();
        close();
        throw DynamicError("cannot create the display's picture: " + error);
    }
    SDL_SetTextureScaleMode(texture_, SDL_ScaleModeNearest);
    if (!windowed) {
        SDL_ShowCursor(SDL_DISABLE);
    }

    // Without vsync, frames are paced to the refresh rate; with it, to twice that, in case a hidden window makes
    // presenting return at once.
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(renderer_, &info);
    const bool vsync = (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
    SDL_DisplayMode mode{};
    int refresh = 60;
    if (SDL_GetCurrentDisplayMode(SDL_GetWindowDisplayIndex(window_), &mode) == 0 && mode.refresh_rate > 0) {
        refresh = mode.refresh_rate;
    }
    min_frame_ticks_ = SDL_GetPerformanceFrequency() / Uint64(vsync ? 2 * refresh : refresh);
    next_frame_at_ = 0;

    // Black until the first frame arrives, and in front so that key presses reach it.
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    SDL_RenderPresent(renderer_);
    SDL_RaiseWindow(window_);
}

void SdlBackend::close() {
    if (enlarged_) {
        SDL_DestroyTexture(enlarged_);
        enlarged_ = nullptr;
        enlarged_factor_ = 0;
    }
    alt_held_back_ = false;
    if (texture_) {
        SDL_DestroyTexture(texture_);
        texture_ = nullptr;
    }
    if (renderer_) {
        SDL_DestroyRenderer(renderer_);
        renderer_ = nullptr;
    }
    if (window_) {
        SDL_ShowCursor(SDL_ENABLE);
        SDL_DestroyWindow(window_);
        window_ = nullptr;
        // Let the window system see the window go before anything else (such as a message box) appears.
        SDL_PumpEvents();
    }
}

void SdlBackend::show_texture() {
    // The picture keeps its shape on any screen, with black bars where the shapes differ. The output size is asked
    // every time: it is the full screen's, or the window's in device pixels.
    int out_width = 0, out_height = 0, width = 0, height = 0;
    SDL_GetRendererOutputSize(renderer_, &out_width, &out_height);
    SDL_QueryTexture(texture_, nullptr, nullptr, &width, &height);
    const bool sharp = settings_.scaling == Scaling::Sharp;
    const PictureRect fit =
        sharp ? sharp_picture(out_width, out_height, width, height) : fit_picture(out_width, out_height, width, height);
    const SDL_Rect target{fit.x, fit.y, fit.width, fit.height};
    SDL_Texture* source = texture_;
    // Smooth scaling by an uneven factor: whole pixels first, into a texture of the next whole multiple, then
    // linear filtering down to the exact size. Even factors (and shrinking) need no second step.
    if (!sharp && width > 0 && (fit.width % width != 0 || fit.height % height != 0) && fit.width > width &&
        SDL_RenderTargetSupported(renderer_)) {
        const int factor = std::min((fit.width + width - 1) / width, 8);
        if (factor != enlarged_factor_) {
            if (enlarged_) SDL_DestroyTexture(enlarged_);
            enlarged_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_TARGET, width * factor,
                                          height * factor);
            enlarged_factor_ = enlarged_ ? factor : 0;
            if (enlarged_) SDL_SetTextureScaleMode(enlarged_, SDL_ScaleModeLinear);
        }
        if (enlarged_ && SDL_SetRenderTarget(renderer_, enlarged_) == 0) {
            SDL_SetTextureScaleMode(texture_, SDL_ScaleModeNearest);
            SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
            SDL_SetRenderTarget(renderer_, nullptr);
            source = enlarged_;
        }
    }
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    if (source == texture_) {
        // A direct copy: nearest neighbour at whole multiples, linear otherwise (when smooth).
        const bool whole = width > 0 && fit.width % width == 0 && fit.height % height == 0;
        SDL_SetTextureScaleMode(texture_, sharp || whole ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
    }
    SDL_RenderCopy(renderer_, source, nullptr, &target);
    SDL_RenderPresent(renderer_);
}

void SdlBackend::pace() {
    const Uint64 now = SDL_GetPerformanceCounter();
    if (next_frame_at_ > now) {
        const Uint64 wait_ms = (next_frame_at_ - now) * 1000 / SDL_GetPerformanceFrequency();
        if (wait_ms > 0) {
            SDL_Delay(Uint32(wait_ms));
        }
        while (SDL_GetPerformanceCounter() < next_frame_at_) {
        }
        next_frame_at_ += min_frame_ticks_;
    } else {
        // On time or late: the next frame is due one interval from now, never earlier to catch up.
        next_frame_at_ = now + min_frame_ticks_;
    }
}

void SdlBackend::present(const uint32_t* pixels, int width, int height) {
    if (!texture_) {
        throw DynamicError("update on a display that is not open");
    }
    if (SDL_UpdateTexture(texture_, nullptr, pixels, width * 4) != 0) {
        throw_sdl("cannot show the frame");
    }
    (void)height;
    pace();
    show_texture();
}

bool SdlBackend::fullscreen() const {
    return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
}

void SdlBackend::toggle_fullscreen() {
    if (!window_) return;
    const bool to_full = !fullscreen();
    if (SDL_SetWindowFullscreen(window_, to_full ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0) return;
    SDL_ShowCursor(to_full ? SDL_DISABLE : SDL_ENABLE);
    if (texture_) show_texture();
}

bool SdlBackend::handle(const SDL_Event& event, std::deque<Key>& keys) {
    switch (event.type) {
    case SDL_QUIT: closed_by_user_ = true; break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            closed_by_user_ = true;
        } else if ((event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                    event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) &&
                   texture_) {
            // The window system lost the picture (uncovered, restored): show the last frame again.
            show_texture();
        }
        break;
    case SDL_KEYDOWN: {
        const SDL_Keysym& key = event.key.keysym;
        const bool alt = (key.mod & KMOD_ALT) != 0;
        // Alt+Enter and F11 switch between window and full screen, and are no key press of the program; nor
        // is the Alt that began Alt+Enter. An Alt press is therefore held back until it is released, or until
        // another key shows that it was not part of the switch.
        if (key.sym == SDLK_F11 || ((key.sym == SDLK_RETURN || key.sym == SDLK_KP_ENTER) && alt)) {
            if (!event.key.repeat) toggle_fullscreen();
            alt_held_back_ = false;
            return false;
        }
        const Key press(key_code_from_sdl(key.sym, key.mod), alt, (key.mod & KMOD_SHIFT) != 0,
                        (key.mod & KMOD_CTRL) != 0);
        if (key.sym == SDLK_LALT || key.sym == SDLK_RALT) {
            if (!event.key.repeat) {
                alt_held_back_ = true;
                held_alt_ = press;
            }
            return false;
        }
        if (alt_held_back_) {
            keys.push_back(held_alt_);
            alt_held_back_ = false;
        }
        keys.push_back(press);
        return true;
    }
    case SDL_KEYUP:
        if ((event.key.keysym.sym == SDLK_LALT || event.key.keysym.sym == SDLK_RALT) && alt_held_back_) {
            keys.push_back(held_alt_);
            alt_held_back_ = false;
            return true;
        }
        break;
    default: break;
    }
    return false;
}

bool SdlBackend::poll(std::deque<Key>& keys, bool wait) {
    bool got_key = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        got_key |= handle(event, keys);
    }
    while (wait && !got_key && !closed_by_user_) {
        if (SDL_WaitEventTimeout(&event, 250)) {
            got_key |= handle(event, keys);
        }
    }
    return closed_by_user_;
}

}  // namespace ptc
