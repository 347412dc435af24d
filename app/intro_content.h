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
    // The soundtrack stays the caller's. The song and the scenes start at order `start_order` (0: the beginning).
    explicit ZorbrixContent(Soundtrack& soundtrack, int start_order = 0);
    ~ZorbrixContent() override;

    void open_archive() override;
    bool start_sound() override;
    void open_video(const ptc::Format& format) override;
    void load_images() override;
    void build_effects() override;
    double start_time() const override { return start_time_; }
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
    // After start_sound failed: true when it was because the song has no order start_order.
    bool start_order_missing() const { return start_order_missing_; }

private:
    Soundtrack& soundtrack_;
    int start_order_ = 0;
    double start_time_ = 0.0;
    bool start_order_missing_ = false;
    bool sound_started_ = false;
    unsigned char* module_ = nullptr;  // the module's bytes, alive for the whole run
    VideoStream video_;
    std::unique_ptr<ptc::Surface> video_surface_;
    std::unique_ptr<IntroImages> images_;
    FrameNote note_;
};

}  // namespace zorbrix
