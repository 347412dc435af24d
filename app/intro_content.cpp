#include "app/intro_content.h"

#include "engine3d/effects.h"
#include "loading/file_load.h"

#include <cstdio>
#include <cstdlib>

namespace zorbrix {

namespace {
// The backdrop's size when the video cannot be opened: the picture stays black.
constexpr int kFallbackVideoWidth = 256;
constexpr int kFallbackVideoHeight = 192;
}  // namespace

ZorbrixContent::ZorbrixContent(Soundtrack& soundtrack, int start_order)
    : soundtrack_(soundtrack), start_order_(start_order), images_(std::make_unique<IntroImages>()) {}

ZorbrixContent::~ZorbrixContent() { std::free(module_); }

void ZorbrixContent::open_archive() {
    // An archive that cannot be read must not take the loose files with it: without it, every name is still looked
    // up under "data/".
    if (!file_init("zorbrix.kf", "data/")) file_init(nullptr, "data/");
}

bool ZorbrixContent::start_sound() {
    if (!soundtrack_.init()) return false;
    sound_started_ = true;
    int length = 0;
    module_ = file_load("ambient3.xm", &length);
    if (!module_) return false;
    if (!soundtrack_.load(module_, length)) return false;
    start_time_ = soundtrack_.order_time(start_order_);
    if (start_time_ < 0) {
        start_order_missing_ = true;
        return false;
    }
    return true;
}

void ZorbrixContent::open_video(const ptc::Format& format) {
    video_.open("zorbrix.nvd", 100);
    const bool has_picture = video_.width() > 0 && video_.height() > 0;
    video_surface_ = std::make_unique<ptc::Surface>(has_picture ? video_.width() : kFallbackVideoWidth,
                                                    has_picture ? video_.height() : kFallbackVideoHeight, format);
}

void ZorbrixContent::load_images() {
    IntroImages& im = *images_;
    im.text.load("tekst.tga", IMAGE_ALPHA);
    im.corners[0].load("corner_upper_left.tga", IMAGE_ALPHA);
    im.corners[1].load("corner_upper_right.tga", IMAGE_ALPHA);
    im.corners[2].load("corner_lower_right.tga", IMAGE_ALPHA);
    im.corners[3].load("corner_lower_left.tga", IMAGE_ALPHA);
    im.logo.load("zorbrixlogo_stor.tga", IMAGE_ALPHA);
    im.intro[0].load("intro_1.tga", IMAGE_ALPHA);
    im.intro[1].load("intro_2.tga", IMAGE_ALPHA);
    for (int i = 0; i < kCaptionCount; ++i) {
        im.captions[i].load(kCaptionFiles[i], IMAGE_ALPHA);
    }
    char name[16];
    for (int digit = 0; digit < 10; ++digit) {
        std::snprintf(name, sizeof name, "%d.tga", digit);
        im.glyphs[digit].load(name, IMAGE_ALPHA);
    }
    im.glyphs[10].load("kolon.tga", IMAGE_ALPHA);
}

void ZorbrixContent::build_effects() {
    effect_b_init();
    effect_a_init();
}

void ZorbrixContent::start_song() {
    if (start_order_ > 0) {
        // Part-way in, the scenes start where the song does, not with a flash of the countdown before the first
        // callback arrives.
        g_music.order.store(start_order_, std::memory_order_relaxed);
        g_music.row.store(0, std::memory_order_relaxed);
    }
    soundtrack_.play(start_order_);
}

void ZorbrixContent::run(Stage& stage) {
    SceneContext context{stage.console, stage.screen, *video_surface_, video_, stage.timer, g_music, *images_, note_};
    EffectPhase phase;
    run_scenes(context, phase);
    run_end_scroller(context, phase);
}

void ZorbrixContent::stop_song() {
    if (sound_started_) soundtrack_.stop();
}

void ZorbrixContent::free_images() {
    // In the reverse order of loading: glyphs, captions, the intro pictures, logo, corners, text.
    IntroImages& im = *images_;
    for (int i = kGlyphCount - 1; i >= 0; --i) im.glyphs[i] = Image();
    for (int i = kCaptionCount - 1; i >= 0; --i) im.captions[i] = Image();
    im.intro[1] = Image();
    im.intro[0] = Image();
    im.logo = Image();
    for (int i = 3; i >= 0; --i) im.corners[i] = Image();
    im.text = Image();
}

void ZorbrixContent::close_video() {
    video_surface_.reset();
    video_.close();
}

void ZorbrixContent::close_sound() {
    if (sound_started_) soundtrack_.close();
    sound_started_ = false;
}

}  // namespace zorbrix
