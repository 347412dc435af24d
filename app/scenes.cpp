#include "app/scenes.h"

#include "app/timeline.h"
#include "engine3d/effects.h"
#include "engine3d/vector3d.h"
#include "gfx/clock.h"
#include "video/video_stream.h"

#include <cstring>

namespace zorbrix {

const char* const kCaptionFiles[kCaptionCount] = {
    "text_100_mbit_lan.tga",
    "text_34_mbit_internet.tga",
    "text_barbeque.tga",
    "text_web_address.tga",
    "text_pc_amiga_demo.tga",
    "text_c64_demo.tga",
    "text_wild_demo.tga",
    "text_tracked_music.tga",
    "text_rendered_graphics.tga",
    "text_pixeled_graphics.tga",
    "text_c64_graphics.tga",
    "text_c64_music.tga",
    "text_counterstrike_4_vs_4.tga",
    "text_quake_3.tga",
    "text_starcraft_broodwar.tga",
    "text_xbill.tga",
};

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 384;

// The two surfaces of one frame while they are locked.
struct Locked {
    uint32_t* video = nullptr;
    uint32_t* screen = nullptr;
};

// With the video surface locked: the video frame for `seconds` into it, then, with the screen locked too, that
// frame enlarged over the screen and the corner frames on top. Both surfaces stay locked.
void draw_backdrop(SceneContext& c, Locked& l, double seconds) {
    c.video.frame_at(l.video, static_cast<float>(seconds));
    l.screen = static_cast<uint32_t*>(c.screen.lock());
    if (c.video_surface.width() * 2 == kWidth && c.video_surface.height() * 2 == kHeight) {
        upscale_video_2x(l.screen, l.video, kWidth, kHeight);
    } else {
        // The enlargement reads a frame of exactly half the screen's size; a video of any other size would be read
        // out of its bounds, so it is not shown and the backdrop is black.
        std::memset(l.screen, 0, sizeof(uint32_t) * kWidth * kHeight);
    }
    draw_corners(l.screen, kWidth, kHeight, c.images.corners);
}

// The base of every scene frame: the video frame for a timer reading taken once the video surface is locked.
Locked backdrop(SceneContext& c) {
    Locked l;
    l.video = static_cast<uint32_t*>(c.video_surface.lock());
    draw_backdrop(c, l, c.timer.elapsed());
    return l;
}

// The scroller's base: the video frame of a fixed time.
Locked backdrop_at(SceneContext& c, double seconds) {
    Locked l;
    l.video = static_cast<uint32_t*>(c.video_surface.lock());
    draw_backdrop(c, l, seconds);
    return l;
}

void unlock_screen_then_video(SceneContext& c) {
    c.screen.unlock();
    c.video_surface.unlock();
}

// A picture centred over the finished frame, with both surfaces unlocked.
void overlay(SceneContext& c, const Image& image, double fade) {
    auto* pixels = static_cast<uint32_t*>(c.screen.lock());
    draw_centered_faded(pixels, kWidth, kHeight, image, fade);
    c.screen.unlock();
}

// The loop test: a waiting key press ends the scene (it stays queued), then an order past the scene's limit does.
bool scene_goes_on(SceneContext& c, int last_order) {
    if (c.console.key()) return false;
    return c.music.order.load(std::memory_order_relaxed) <= last_order;
}

int read_row(const SceneContext& c) { return c.music.row.load(std::memory_order_relaxed); }
int read_order(const SceneContext& c) { return c.music.order.load(std::memory_order_relaxed); }

void begin_scene(SceneContext& c, ScenePhase scene) {
    c.note = FrameNote{};
    c.note.scene = scene;
}

// The song position the frame is drawn at, for its note.
void note_position(SceneContext& c) {
    c.note.order = read_order(c);
    c.note.row = read_row(c);
}

void countdown(SceneContext& c) {
    while (scene_goes_on(c, kCountdownLastOrder)) {
        countdown_frame(c);
        present(c);
    }
}

void intro_picture(SceneContext& c, const Image& picture, int last_order) {
    while (scene_goes_on(c, last_order)) {
        const int r = read_row(c);
        intro_frame(c, picture, r);
        present(c);
    }
}

void effects_with_captions(SceneContext& c, EffectPhase& phase) {
    phase.D = 0.0;
    while (scene_goes_on(c, kEffectsLastOrder)) {
        const int o = read_order(c);
        const int r = read_row(c);
        effects_frame(c, phase, o, r);
        present(c);
        phase.D = c.timer.elapsed() * 4.0 + phase.D;
    }
}

void logo(SceneContext& c, EffectPhase& phase) {
    phase.A = c.timer.elapsed() * 0.5;
    while (scene_goes_on(c, kLogoLastOrder)) {
        const int r = read_row(c);
        logo_frame(c, phase, r);
        present(c);
    }
}

}  // namespace

void countdown_frame(SceneContext& c) {
    note_position(c);
    const Locked l = backdrop(c);
    const double value = countdown_value(c.timer.elapsed());
    draw_clock(l.screen, kWidth, kHeight, kClockTop, c.images.glyphs, value);
    c.note.clock = value;
    unlock_screen_then_video(c);
}

void intro_frame(SceneContext& c, const Image& picture, int row) {
    note_position(c);
    backdrop(c);
    unlock_screen_then_video(c);
    const double fade = intro_fade(row);
    overlay(c, picture, fade);
    c.note.fade = fade;
}

void effects_frame(SceneContext& c, EffectPhase& phase, int order, int row) {
    note_position(c);
    const Locked l = backdrop(c);
    phase.D = effect_phase_base(row);
    const Vector3D position(0, 0, 0, 1);
    if (cube_turn(row)) {
        effect_b_render(l.screen, static_cast<float>(c.timer.elapsed() * 2.5 + phase.D), 2, 1.5f, position);
        c.note.effect = 'B';
    } else {
        effect_a_render(l.screen, 0, static_cast<float>(c.timer.elapsed() * 4.0 + phase.D), position);
        c.note.effect = 'A';
    }
    unlock_screen_then_video(c);
    const int k = caption_index(order, row);
    const double fade = caption_fade(row);
    overlay(c, c.images.captions[k], fade);
    c.note.caption = k;
    c.note.fade = fade;
}

void logo_frame(SceneContext& c, const EffectPhase& phase, int row) {
    note_position(c);
    const Locked l = backdrop(c);
    const Vector3D position(0, 0, 0, 1);
    effect_a_render(l.screen, 0, static_cast<float>(phase.D - phase.A + c.timer.elapsed() * 0.5), position);
    c.note.effect = 'A';
    unlock_screen_then_video(c);
    const double fade = logo_fade(row);
    overlay(c, c.images.logo, fade);
    c.note.fade = fade;
}

void scroller_frame(SceneContext& c, const EffectPhase& phase, double t0, int32_t scroll_offset) {
    note_position(c);
    c.screen.clear();
    const Locked l = backdrop_at(c, t0);
    const Vector3D position(0, 0, 0, 1);
    effect_a_render(l.screen, 0, static_cast<float>(phase.D - phase.A + c.timer.elapsed() * 0.5), position);
    c.note.effect = 'A';
    c.images.text.draw(l.screen, kWidth, kHeight, 0, -scroll_offset);
    c.note.scroll_offset = scroll_offset;
    c.video_surface.unlock();
    c.screen.unlock();
}

void present(SceneContext& c) {
    c.screen.copy(c.console);
    c.console.update();
}

void run_scenes(SceneContext& c, EffectPhase& phase) {
    begin_scene(c, ScenePhase::Countdown);
    countdown(c);
    begin_scene(c, ScenePhase::FirstIntro);
    intro_picture(c, c.images.intro[0], kFirstIntroLastOrder);
    begin_scene(c, ScenePhase::SecondIntro);
    intro_picture(c, c.images.intro[1], kSecondIntroLastOrder);
    begin_scene(c, ScenePhase::Effects);
    effects_with_captions(c, phase);
    begin_scene(c, ScenePhase::Logo);
    logo(c, phase);
}

void run_end_scroller(SceneContext& c, const EffectPhase& phase) {
    const bool waiting = c.console.key();
    const double t0 = c.timer.elapsed();
    double prev = t0;
    int32_t scroll_offset = 0;
    if (waiting) {
        begin_scene(c, ScenePhase::Done);
        return;
    }
    begin_scene(c, ScenePhase::Scroller);
    for (;;) {
        const double now = c.timer.elapsed();
        if (c.console.key()) {
            const ptc::Key key = c.console.read();
            // The scroller's keys are compared with keys made from their code alone: with Alt, Shift or Control
            // held a key is none of them, and is taken and ignored.
            const int code = key == ptc::Key(key.code()) ? key.code() : ptc::Key::UNDEFINED;
            if (code == ptc::Key::ESCAPE) break;
            scroll_offset = scroll_after_key(scroll_offset, code, now - prev, c.images.text.height());
        }
        prev = now;
        scroller_frame(c, phase, t0, scroll_offset);
        present(c);
    }
    begin_scene(c, ScenePhase::Done);
}

}  // namespace zorbrix
