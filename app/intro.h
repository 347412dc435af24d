#pragma once
// The intro's entry: set-up, the frame loops, and the tear-down in a fixed order, with the program's one handler
// for display errors. main() only calls run_intro(); the offline capture and the tests call it with their own
// display, message boxes, clock and content.

#include "app/command_line.h"
#include "platform/frame_timer.h"
#include "platform/message_box.h"
#include "platform/ptc.h"

#include <functional>
#include <memory>

namespace ptc {
class ConsoleBackend;
}

namespace zorbrix {

inline constexpr const char* kWindowTitle = "Zorbrix::LAN Invitation Intro";
inline constexpr int kScreenWidth = 512;
inline constexpr int kScreenHeight = 384;
inline constexpr const char* kCreditsText = "code & gfx: vyrn / hollowmoor\nmusic: trokk / ellerdahl";

// The message boxes the entry shows.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual Answer question(const char* caption, const char* text) = 0;
    virtual void message(const char* caption, const char* text) = 0;
};

// The desktop's boxes (platform/message_box.h): a question nobody can see counts as No, a message nobody can see
// goes to standard output.
class DesktopDialogs : public Dialogs {
public:
    Answer question(const char* caption, const char* text) override;
    void message(const char* caption, const char* text) override;
};

// What the frame loops draw with, made by the entry.
struct Stage {
    ptc::Console& console;
    const ptc::Format& format;
    ptc::Surface& screen;  // kScreenWidth x kScreenHeight; every frame is composited here, then copied and updated
    FrameTimer& timer;
};

// Everything the intro sets up around the display: archive, sound, video, pictures, 3D effects, and the scene
// loops that use them. The entry calls each hook once, at its fixed place in the start-up and shutdown order.
// The hooks from open_video to run may throw ptc::DynamicError; the entry handles it.
class IntroContent {
public:
    virtual ~IntroContent() = default;

    // Before the display. Opens the resource archive; the result is not tested.
    virtual void open_archive() = 0;
    // Starts the sound library and loads the song. False ends the program with status 0, before any window (after
    // close_sound, which must cope with a library that did not start).
    virtual bool start_sound() = 0;

    // After the console is open, in this order.
    virtual void open_video(const ptc::Format& format) = 0;  // the video and a surface of its frame size
    virtual void load_images() = 0;
    virtual void build_effects() = 0;
    // Where the timer starts, in seconds: the song's time at the point it starts playing (0 unless the intro
    // starts part-way into the song). Asked just before the timer starts.
    virtual double start_time() const { return 0.0; }
    // Right after the timer started: registers the music callbacks and starts the song.
    virtual void start_song() = 0;
    // The scene loops, then the end scroller.
    virtual void run(Stage& stage) = 0;

    // Shutdown. stop_song comes before the console closes; free_images and close_video (its surface, then the
    // video) after the credits; close_sound last. On a display error the entry calls free_images, close_video,
    // stop_song (unless already stopped) and close_sound, in that order; on a display error before the console
    // opened, only close_sound. Each must therefore cope with its set-up hook not having run, or only in part.
    virtual void stop_song() = 0;
    virtual void free_images() = 0;
    virtual void close_video() = 0;
    virtual void close_sound() = 0;
};

struct IntroEnvironment {
    // Makes the display the console draws through; empty means the SDL2 desktop display.
    std::function<std::unique_ptr<ptc::ConsoleBackend>()> make_display;
    // The message boxes; null means DesktopDialogs.
    Dialogs* dialogs = nullptr;
    // The timer's clock.
    FrameTimer::Counter clock = FrameTimer::monotonic_clock();
    // Ask "Fullscreen?", or take the answer given on the command line.
    ScreenChoice screen = ScreenChoice::Ask;
};

// Runs the intro. Returns 0 when the sound cannot be started, 1 otherwise (normal end, and a display error that
// was reported or was the user closing the display). A display error before the console opens (no display at all,
// for instance) is reported the same way and also returns 1.
int run_intro(IntroContent& content, const IntroEnvironment& environment = {});

}  // namespace zorbrix
