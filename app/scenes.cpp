#include "app/scenes.h"

#include "app/timeline.h"
#include "engine3d/effects.h"
#include "engine3d/vector3d.h"
#include "gfx/clock.h"
#include "video/video_stream.h"

namespace zorbrix {

const char* const kCaptionFiles[kCaptionCount] = {
    "text_100_mbit_lan.tga",      "text_34_mbit_internet.tga",     "text_barbeque.tga",
    "text_web_address.tga",       "text_pc_amiga_demo.tga",        "text_c64_demo.tga",
    "text_wild_demo.tga",         "text_tracked_music.tga",        "text_rendered_graphics.tga",
    "text_pixeled_graphics.tga",  "text_c64_graphics.tga",         "text_c64_music.tga",
    "text_counterstrike_4_vs_4.tga", "text_quake_3.tga",           "text_starcraft_broodwar.tga",
    "text_xbill.tga",
};

int32_t scroll_offset = 0;

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 384;
constexpr int kClockTop = 344;

// One frame's drawing, from the backdrop to the console.
class Frame {
public:
    explicit Frame(SceneContext& context) : c_(context) {}

    bool scene_goes_on(int last_order) const {
        if (c_.console.key()) return false;
        return c_.music.order.load(std::memory_order_relaxed) <= last_order;
    }
    int row() const { return c_.music.row.load(std::memory_order_relaxed); }
    int order() const { return c_.music.order.load(std::memory_order_relaxed); }
    double now() const { return c_.timer.elapsed(); }

    // The video frame for `seconds`, enlarged over the screen, with the corner frames on top. Leaves both surfaces
    // locked; screen() is the screen's pixels.
    void backdrop(double seconds) {
        video_ = static_cast<uint32_t*>(c_.video_surface.lock());
        c_.video.frame_at(video_, static_cast<float>(seconds));
        screen_ = static_cast<uint32_t*>(c_.screen.lock());
        // The enlargement reads a frame of exactly half the screen's size; a video of any other size is not shown.
        if (c_.video_surface.width() * 2 == kWidth && c_.video_surface.height() * 2 == kHeight) {
            upscale_video_2x(screen_, video_, kWidth, kHeight);
        }
        draw_corners(screen_, kWidth, kHeight, c_.images.corners);
    }
    void base() { backdrop(now()); }
    uint32_t* screen() const { return screen_; }

    void unlock_screen_then_video() {
        c_.screen.unlock();
        c_.video_surface.unlock();
    }
    void overlay(const Image& image, double fade) {
        auto* pixels = static_cast<uint32_t*>(c_.screen.lock());
        draw_centered_faded(pixels, kWidth, kHeight, image, fade);
        c_.screen.unlock();
    }
    void present() {
        c_.screen.copy(c_.console);
        c_.console.update();
    }

private:
    SceneContext& c_;
    uint32_t* video_ = nullptr;
    uint32_t* screen_ = nullptr;
};

void mark(ScenePhase* progress, ScenePhase phase) {
    if (progress) *progress = phase;
}

void countdown(SceneContext& c, Frame& f) {
    while (f.scene_goes_on(kCountdownLastOrder)) {
        f.base();
        draw_clock(f.screen(), kWidth, kHeight, kClockTop, c.images.glyphs, countdown_value(f.now()));
        f.unlock_screen_then_video();
        f.present();
    }
}

void intro_picture(Frame& f, const Image& picture, int last_order) {
    while (f.scene_goes_on(last_order)) {
        const int r = f.row();
        f.base();
        f.unlock_screen_then_video();
        f.overlay(picture, intro_fade(r));
        f.present();
    }
}

void effects_with_captions(SceneContext& c, Frame& f, EffectPhase& phase) {
    phase.D = 0.0;
    while (f.scene_goes_on(kEffectsLastOrder)) {
        const int o = f.order();
        const int r = f.row();
        f.base();
        phase.D = effect_phase_base(r);
        const Vector3D position(0, 0, 0, 1);
        if (cube_turn(r)) {
            effect_b_render(f.screen(), static_cast<float>(f.now() * 2.5 + phase.D), 2, 1.5f, position);
        } else {
            effect_a_render(f.screen(), 0, static_cast<float>(f.now() * 4.0 + phase.D), position);
        }
        f.unlock_screen_then_video();
        f.overlay(c.images.captions[caption_index(o, r)], caption_fade(r));
        f.present();
        phase.D = f.now() * 4.0 + phase.D;
    }
}

void logo(SceneContext& c, Frame& f, EffectPhase& phase) {
    phase.A = f.now() * 0.5;
    while (f.scene_goes_on(kLogoLastOrder)) {
        const int r = f.row();
        f.base();
        const Vector3D position(0, 0, 0, 1);
        effect_a_render(f.screen(), 0, static_cast<float>(phase.D - phase.A + f.now() * 0.5), position);
        f.unlock_screen_then_video();
        f.overlay(c.images.logo, logo_fade(r));
        f.present();
    }
}

}  // namespace

void run_scenes(SceneContext& context, EffectPhase& phase, ScenePhase* progress) {
    Frame frame(context);
    mark(progress, ScenePhase::Countdown);
    countdown(context, frame);
    mark(progress, ScenePhase::FirstIntro);
    intro_picture(frame, context.images.intro[0], kFirstIntroLastOrder);
    mark(progress, ScenePhase::SecondIntro);
    intro_picture(frame, context.images.intro[1], kSecondIntroLastOrder);
    mark(progress, ScenePhase::Effects);
    effects_with_captions(context, frame, phase);
    mark(progress, ScenePhase::Logo);
    logo(context, frame, phase);
}

void run_end_scroller(SceneContext& c, const EffectPhase& phase, ScenePhase* progress) {
    const bool waiting = c.console.key();
    const double t0 = c.timer.elapsed();
    double prev = t0;
    if (waiting) {
        mark(progress, ScenePhase::Done);
        return;
    }
    mark(progress, ScenePhase::Scroller);
    Frame frame(c);
    for (;;) {
        const double now = c.timer.elapsed();
        if (c.console.key()) {
            const ptc::Key key = c.console.read();
            // Only a key without Alt, Shift or Control counts as one of the scroller's keys.
            const int code = key == ptc::Key(key.code()) ? key.code() : ptc::Key::UNDEFINED;
            if (code == ptc::Key::ESCAPE) break;
            scroll_offset = scroll_after_key(scroll_offset, code, now - prev, c.images.text.height());
        }
        prev = now;
        c.screen.clear();
        frame.backdrop(t0);
        const Vector3D position(0, 0, 0, 1);
        effect_a_render(frame.screen(), 0, static_cast<float>(phase.D - phase.A + c.timer.elapsed() * 0.5), position);
        c.images.text.draw(frame.screen(), kWidth, kHeight, 0, -scroll_offset);
        c.video_surface.unlock();
        c.screen.unlock();
        frame.present();
    }
    mark(progress, ScenePhase::Done);
}

}  // namespace zorbrix
