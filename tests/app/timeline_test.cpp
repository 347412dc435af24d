// The timeline's rules, and the scene loops themselves driven through the off-screen display with a scripted song
// position, clock and keys.

#include "app/timeline.h"
#include "app/scenes.h"
#include "engine3d/effects.h"
#include "platform/ptc_offscreen.h"
#include "video/video_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

using zorbrix::FrameTimer;
using zorbrix::MusicPosition;
using zorbrix::ScenePhase;

TEST(Timeline, ClockAndIntroFades) {
    EXPECT_EQ(zorbrix::countdown_value(0.0), 27.0);
    EXPECT_DOUBLE_EQ(zorbrix::countdown_value(0.5), 26.5);
    EXPECT_EQ(zorbrix::countdown_value(27.0), 0.0);
    EXPECT_EQ(zorbrix::countdown_value(80.0), 0.0);
    EXPECT_EQ(zorbrix::intro_fade(0), 1.0);
    EXPECT_DOUBLE_EQ(zorbrix::intro_fade(50), 0.5);
    EXPECT_EQ(zorbrix::intro_fade(100), 0.0);
    EXPECT_EQ(zorbrix::intro_fade(127), 0.0);
}

TEST(Timeline, EffectsAndCaptions) {
    // Order 5, row 40: group 5 (odd, the blob) with D = 2.5; caption (1 + 20 - 16) mod 16 = 5 at 1 - 8 / 32.
    EXPECT_FALSE(zorbrix::cube_turn(40));
    EXPECT_EQ(zorbrix::effect_phase_base(40), 2.5);
    EXPECT_EQ(zorbrix::caption_index(5, 40), 5);
    EXPECT_EQ(zorbrix::caption_fade(40), 0.75);
    EXPECT_TRUE(zorbrix::cube_turn(0));
    EXPECT_TRUE(zorbrix::cube_turn(23));
    EXPECT_FALSE(zorbrix::cube_turn(15));
    // Order 4 starts at caption 0, each order moves on by four, the last of order 7 is 15.
    EXPECT_EQ(zorbrix::caption_index(4, 0), 0);
    EXPECT_EQ(zorbrix::caption_index(4, 127), 3);
    EXPECT_EQ(zorbrix::caption_index(7, 127), 15);
    EXPECT_EQ(zorbrix::caption_fade(31), 1.0 / 32);
    EXPECT_EQ(zorbrix::caption_fade(32), 1.0);
    // Below order 4 the index stays within the table.
    for (int order = -1; order < 4; ++order) {
        for (int row = -1; row < 128; ++row) {
            const int k = zorbrix::caption_index(order, row);
            ASSERT_TRUE(k >= 0 && k < 16) << order << " " << row;
        }
    }
    EXPECT_EQ(zorbrix::caption_index(3, 0), 12);
}

TEST(Timeline, LogoFade) {
    EXPECT_EQ(zorbrix::logo_fade(0), 0.0);
    EXPECT_DOUBLE_EQ(zorbrix::logo_fade(10), 0.5);
    EXPECT_EQ(zorbrix::logo_fade(20), 1.0);
    for (int row : {54, 55, 56}) EXPECT_EQ(zorbrix::logo_fade(row), 1.0) << row;
    EXPECT_NEAR(zorbrix::logo_fade(63), 0.3, 1e-12);
    EXPECT_EQ(zorbrix::logo_fade(66), 0.0);
    EXPECT_EQ(zorbrix::logo_fade(127), 0.0);
}

TEST(Timeline, ScrollKeys) {
    using ptc::Key;
    // Arrow keys move by the frame's time x 256, truncated toward zero.
    EXPECT_EQ(zorbrix::scroll_after_key(100, Key::DOWN, 0.02, 2000), 105);
    EXPECT_EQ(zorbrix::scroll_after_key(100, Key::UP, 0.02, 2000), 95);
    EXPECT_EQ(zorbrix::scroll_after_key(100, Key::PAGEDOWN, 0.5, 2000), 484);
    EXPECT_EQ(zorbrix::scroll_after_key(100, Key::PAGEUP, 0.5, 2000), 0);
    EXPECT_EQ(zorbrix::scroll_after_key(1500, Key::PAGEDOWN, 0.5, 2000), 1616);
    EXPECT_EQ(zorbrix::scroll_after_key(100, ' ', 0.5, 2000), 100);
    // Any key read clamps; a text shorter than the screen ends with its bottom on the screen's bottom.
    EXPECT_EQ(zorbrix::scroll_after_key(1800, ' ', 0.5, 2000), 1616);
    EXPECT_EQ(zorbrix::scroll_after_key(0, ' ', 0.02, 300), -84);
    EXPECT_EQ(zorbrix::scroll_after_key(0, Key::PAGEUP, 0.02, 0), -384);
}

// The scene code on an off-screen display: a black video (none opened), small pictures, a clock and a song
// position that the test moves frame by frame from the display's frame sink.
class Scenes : public testing::Test {
protected:
    static void SetUpTestSuite() {
        zorbrix::effect_b_init();
        zorbrix::effect_a_init();
    }

    void SetUp() override {
        std::vector<uint32_t> pixels(64 * 64, 0xff808080u);
        images.logo.set_pixels(pixels.data(), 64, 64, zorbrix::IMAGE_ALPHA);
        std::vector<uint32_t> text(512 * 1000, 0xffffffffu);
        images.text.set_pixels(text.data(), 512, 1000, zorbrix::IMAGE_ALPHA);
        auto backend = std::make_unique<ptc::OffscreenBackend>([this](const uint32_t*, int, int, long) {
            ++frames;
            seen.push_back(note.scene);
            offsets.push_back(note.scroll_offset);
            if (script) script(*display);
        });
        display = backend.get();
        console = std::make_unique<ptc::Console>(std::move(backend));
        console->open("test", 512, 384, format);
    }

    void run_all() {
        zorbrix::SceneContext context{*console, screen, video_surface, video, timer, music, images, note};
        zorbrix::EffectPhase phase;
        zorbrix::run_scenes(context, phase);
        zorbrix::run_end_scroller(context, phase);
    }

    long frames = 0;
    std::vector<ScenePhase> seen;
    std::vector<int> offsets;
    std::function<void(ptc::OffscreenBackend&)> script;
    ptc::OffscreenBackend* display = nullptr;
    ptc::Format format{32, 0xff0000, 0x00ff00, 0x0000ff, 0};
    std::unique_ptr<ptc::Console> console;
    ptc::Surface screen{512, 384, format};
    ptc::Surface video_surface{256, 192, format};
    zorbrix::VideoStream video;
    // 20 ms per presented frame.
    FrameTimer timer{
        FrameTimer::Counter{[](void* self) { return int64_t(static_cast<Scenes*>(self)->frames) * 20; }, 1000, this}};
    MusicPosition music;
    zorbrix::IntroImages images;
    zorbrix::FrameNote note;
};

TEST_F(Scenes, OrderJumpsSkipScenesAndTheScrollerTakesItsKeys) {
    timer.start(0.0);
    script = [this](ptc::OffscreenBackend& d) {
        if (frames == 2) music.order = 4;  // straight from scene 1 to scene 4
        if (frames == 4) music.order = 9;  // past scene 5's limit as well
        if (frames == 5) d.press(ptc::Key(ptc::Key::PAGEDOWN));
        if (frames == 6) d.press(ptc::Key(ptc::Key::PAGEDOWN));             // clamped at 1000 - 384
        if (frames == 7) d.press(ptc::Key(ptc::Key::UP));                   // 0.02 s: 5 rows
        if (frames == 8) d.press(ptc::Key(ptc::Key::PAGEUP, false, true));  // with Shift: not Page Up
        if (frames == 9) d.press(ptc::Key(' '));
        if (frames == 10) d.press(ptc::Key(ptc::Key::PAGEUP));
        if (frames == 11) d.press(ptc::Key(ptc::Key::ESCAPE));
    };
    run_all();
    const std::vector<ScenePhase> scenes = {ScenePhase::Countdown, ScenePhase::Countdown, ScenePhase::Effects,
                                            ScenePhase::Effects,   ScenePhase::Scroller,  ScenePhase::Scroller,
                                            ScenePhase::Scroller,  ScenePhase::Scroller,  ScenePhase::Scroller,
                                            ScenePhase::Scroller,  ScenePhase::Scroller};
    EXPECT_EQ(seen, scenes);
    EXPECT_EQ(offsets, (std::vector<int>{0, 0, 0, 0, 0, 384, 616, 611, 611, 611, 227}));
    EXPECT_EQ(note.scene, ScenePhase::Done);
    EXPECT_FALSE(console->key());
}

TEST_F(Scenes, AKeyDuringTheScenesEndsThemAndSkipsTheScroller) {
    music.order = 2;
    timer.start(0.0);
    script = [this](ptc::OffscreenBackend& d) {
        if (frames == 3) d.press(ptc::Key(' '));
        if (frames == 3) music.order = 4;  // the key wins over the order at the loop test
    };
    run_all();
    EXPECT_EQ(seen, std::vector<ScenePhase>(3, ScenePhase::FirstIntro));
    EXPECT_EQ(note.scene, ScenePhase::Done);
    EXPECT_TRUE(console->key());  // never taken
}

TEST_F(Scenes, FramesShowTheirLayerOverTheBackdrop) {
    timer.start(0.0);
    zorbrix::SceneContext context{*console, screen, video_surface, video, timer, music, images, note};
    zorbrix::EffectPhase phase;
    // The logo at row 30 is at full strength, centred over a black backdrop.
    zorbrix::logo_frame(context, phase, 30);
    const auto* pixels = static_cast<const uint32_t*>(screen.lock());
    EXPECT_EQ(pixels[(192 - 32) * 512 + (256 - 32)] & 0xffffff, 0x808080u);
    EXPECT_EQ(note.fade, 1.0);
    EXPECT_EQ(note.effect, 'A');
    screen.unlock();
    // Scene 4 at order 5, row 40: the blob under caption 5 at 0.75. The note keeps the song position the frame
    // was drawn at.
    music.order = 5;
    music.row = 40;
    zorbrix::effects_frame(context, phase, 5, 40);
    EXPECT_EQ(note.caption, 5);
    EXPECT_EQ(note.fade, 0.75);
    EXPECT_EQ(note.order, 5);
    EXPECT_EQ(note.row, 40);
    EXPECT_EQ(phase.D, 2.5);
    EXPECT_FALSE(screen.locked());
    EXPECT_FALSE(video_surface.locked());
    // The scroller's frame draws the text at the offset it is given and notes it.
    music.row = 41;
    zorbrix::scroller_frame(context, phase, 0.0, 100);
    EXPECT_EQ(note.scroll_offset, 100);
    EXPECT_EQ(note.row, 41);
    EXPECT_FALSE(screen.locked());
}

}  // namespace
