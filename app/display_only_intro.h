#pragma once
// The intro as far as this build has it: the display, the timer and the shutdown, with no archive, sound, video,
// pictures or 3D effects yet. Its frame loop shows the black screen until a key press is waiting. The full intro
// content replaces this class in main() once those subsystems are wired in.

#include "app/intro.h"

namespace zorbrix {

class DisplayOnlyIntro : public IntroContent {
public:
    void open_archive() override {}
    // There is no sound library in this build, so there is nothing that can fail to start.
    bool start_sound() override { return true; }
    void open_video(const ptc::Format&) override {}
    void load_images() override {}
    void build_effects() override {}
    void start_song() override {}
    void run(Stage& stage) override;
    void stop_song() override {}
    void free_images() override {}
    void close_video() override {}
    void close_sound() override {}
};

// Presents the black screen until a key press is waiting (the press stays queued).
void show_black_screen_until_key(Stage& stage);

}  // namespace zorbrix
