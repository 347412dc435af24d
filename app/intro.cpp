#include "app/intro.h"

#include "platform/ptc_backend.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace zorbrix {

Answer DesktopDialogs::question(const char* caption, const char* text) {
    return ask_yes_no(caption, text, MessageIcon::Question);
}

void DesktopDialogs::message(const char* caption, const char* text) {
    show_message_box(caption, text, MessageIcon::None, /*print_if_unavailable=*/true);
}

int run_intro(IntroContent& content, const IntroEnvironment& environment) {
    DesktopDialogs desktop_dialogs;
    Dialogs& dialogs = environment.dialogs ? *environment.dialogs : desktop_dialogs;

    content.open_archive();
    if (!content.start_sound()) {
        // The sound library may have started before the module failed: let it go before the program ends, so no
        // audio thread outlives the song.
        content.close_sound();
        return 0;
    }

    // The console, the question, the format and the screen surface. A display error here (no display at all, for
    // instance) comes before anything is on screen: report it, release the sound and end.
    std::optional<ptc::Console> console;
    std::optional<ptc::Format> format;
    std::optional<ptc::Surface> screen;
    try {
        if (environment.make_display) {
            console.emplace(environment.make_display());
        } else {
            console.emplace();
        }
        console->option("DirectX");
        Answer fullscreen = Answer::No;
        if (environment.screen == ScreenChoice::Ask) {
            fullscreen = dialogs.question("Question", "Fullscreen?");
        } else if (environment.screen == ScreenChoice::Fullscreen) {
            fullscreen = Answer::Yes;
        }
        if (fullscreen == Answer::Interrupted) {
            // A signal took the question down: the program ends as when its window is closed.
            console.reset();
            content.close_sound();
            return 1;
        }
        if (fullscreen != Answer::Yes) {
            console->option("windowed output");
        }
        format.emplace(32, 0xff0000, 0x00ff00, 0x0000ff, 0);
        screen.emplace(kScreenWidth, kScreenHeight, *format);
    } catch (const ptc::DynamicError& error) {
        error.report();
        content.close_sound();
        return 1;
    }

    try {
        console->open(kWindowTitle, kScreenWidth, kScreenHeight, *format, 0);
        content.open_video(*format);
        content.load_images();
        content.build_effects();

        FrameTimer timer(environment.clock);
        // The timer reads the song's time: 0 as the song starts from its beginning.
        timer.start(-content.start_time());
        content.start_song();

        Stage stage{*console, *format, *screen, timer};
        content.run(stage);
    } catch (const ptc::DynamicError& error) {
        content.free_images();
        content.close_video();
        if (std::strcmp(error.message(), "quit") != 0) {
            // The display goes first, or a full-screen picture would hide the report's box and nobody could
            // answer it.
            console->close();
            error.report();
        }
        // The handled range ends with the scenes, so the song is still playing here.
        content.stop_song();
        content.close_sound();
        screen.reset();
        format.reset();
        console.reset();
        return 1;
    }

    // The music stops and the display goes away before the credits appear.
    content.stop_song();
    console->close();
    dialogs.message("Credits", kCreditsText);
    content.free_images();
    content.close_video();
    content.close_sound();
    screen.reset();
    format.reset();
    console.reset();
    return 1;
}

}  // namespace zorbrix
