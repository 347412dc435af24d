#pragma once
// The intro's content around the display: the resource archive, the soundtrack, the backdrop video, every overlay
// picture, the two 3D effects, and the scene loops with the end scroller. The entry (app/intro.h) calls each part
// at its place in the start-up and shutdown order.
#include "app/intro.h"
#include "app/scenes.h"
#include "app/soundtrack.h"
#include "video/video_stream.h"

#include <memory>

namespace zorbrix {

class ZorbrixContent : public IntroContent {
public:
    // The soundtrack stays the caller's.
    explicit ZorbrixContent(Soundtrack& soundtrack);
    ~ZorbrixContent() override;

    void open_archive() override;
    bool start_sound() override;
    void open_video(const ptc::Format& format) override;
    void load_images() override;
    void build_effects() override;
    void start_song() override;
    void run(Stage& stage) override;
    void stop_song() override;
    void free_images() override;
    void close_video() override;
    void close_sound() override;

    // Which loop runs now, and what the frame being presented shows (the capture logs it and scripts its keys by it).
    ScenePhase phase() const { return note_.scene; }
    const FrameNote& frame_note() const { return note_; }
    const IntroImages& images() const { return *images_; }

private:
    Soundtrack& soundtrack_;
    bool sound_started_ = false;
    unsigned char* module_ = nullptr;   // the module's bytes, alive for the whole run
    VideoStream video_;
    std::unique_ptr<ptc::Surface> video_surface_;
    std::unique_ptr<IntroImages> images_;
    FrameNote note_;
};

}  // namespace zorbrix
