#include "platform/message_box.h"

#include <SDL.h>

#include <cstdio>

namespace zorbrix {
namespace {

// SDL has no question icon; its information icon is the closest. X11 shows no icons at all.
Uint32 sdl_flags(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return SDL_MESSAGEBOX_ERROR;
        case MessageIcon::Question:
        case MessageIcon::Information:
            return SDL_MESSAGEBOX_INFORMATION;
        case MessageIcon::None:
            break;
    }
    return 0;
}

}  // namespace

Answer ask_yes_no(const char* caption, const char* text, MessageIcon icon) {
    enum { kYes = 1, kNo = 0 };
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kNo, "No"},
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kYes, "Yes"},
    };
    SDL_MessageBoxData box{};
    box.flags = sdl_flags(icon);
    box.title = caption;
    box.message = text;
    box.numbuttons = 2;
    box.buttons = buttons;
    int pressed = -1;
    if (SDL_ShowMessageBox(&box, &pressed) != 0) {
        return Answer::Unavailable;
    }
    return pressed == kYes ? Answer::Yes : Answer::No;
}

bool show_message_box(const char* caption, const char* text, MessageIcon icon, bool print_if_unavailable) {
    const SDL_MessageBoxButtonData ok = {
        SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
    SDL_MessageBoxData box{};
    box.flags = sdl_flags(icon);
    box.title = caption;
    box.message = text;
    box.numbuttons = 1;
    box.buttons = &ok;
    int pressed = -1;
    if (SDL_ShowMessageBox(&box, &pressed) == 0) {
        return true;
    }
    if (print_if_unavailable) {
        std::printf("%s\n", text);
        std::fflush(stdout);
    }
    return false;
}

}  // namespace zorbrix
