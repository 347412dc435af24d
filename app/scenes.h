#pragma once
// The five scene loops and the end scroller. The same code drives the intro on the desktop and the offline capture:
// everything it draws with (console, surfaces, clock, music position, pictures, video) comes in a SceneContext.
#include "gfx/image.h"
#include "platform/frame_timer.h"
#include "platform/music_position.h"
#include "platform/ptc.h"

#include <cstdint>

namespace zorbrix {

class VideoStream;

inline constexpr int kCaptionCount = 16;
inline constexpr int kGlyphCount = 11;
// Top edge of the countdown clock on the screen.
inline constexpr int kClockTop = 344;

// The caption pictures, in the order of their index.
extern const char* const kCaptionFiles[kCaptionCount];

// Every overlay picture of the intro.
struct IntroImages {
    Image text;        // the end scroller's text
    Image corners[4];  // upper left, upper right, lower right, lower left
    Image logo;
    Image intro[2];  // "intro_1.tga", "intro_2.tga"
    Image captions[kCaptionCount];
    Image glyphs[kGlyphCount];  // '0'..'9', then ':'
};

// Which loop is running.
enum class ScenePhase {
    Countdown,
    FirstIntro,
    SecondIntro,
    Effects,
    Logo,
    Scroller,
    Done
};

// What the frame being drawn shows and the song position it was drawn at, filled in by each frame function before
// the frame is presented: the capture tool logs it, so the timeline can be checked against the song frame by frame,
// and scripts the scroller's keys by it.
struct FrameNote {
    ScenePhase scene = ScenePhase::Countdown;
    int order = -1;  // the song's order and row as the frame read them (-1 before the first callback)
    int row = -1;
    int32_t scroll_offset = 0;  // the end scroller: rows of the text picture above the top of the screen
    double clock = -1;          // scene 1: the clock's value in seconds
    int caption = -1;           // scene 4: the caption index
    double fade = -1;           // scenes 2 to 5: the overlay's fade as passed to the blit (before its clamp)
    char effect = '-';          // 'A' the blob, 'B' the cube, '-' none
};

struct SceneContext {
    ptc::Console& console;
    ptc::Surface& screen;         // 512 x 384
    ptc::Surface& video_surface;  // the video's frame size
    VideoStream& video;
    FrameTimer& timer;
    const MusicPosition& music;
    const IntroImages& images;
    FrameNote& note;
};

// The effect phase carried from scene 4 into scene 5 and the end scroller.
struct EffectPhase {
    double D = 0.0;
    double A = 0.0;
};

// Runs scenes 1 to 5 in order. A key press waiting at a loop test ends every remaining scene (it is not taken).
void run_scenes(SceneContext& context, EffectPhase& phase);

// The end scroller, until Escape; skipped when a key press is waiting as it starts. The text starts at its top
// (scroll offset 0).
void run_end_scroller(SceneContext& context, const EffectPhase& phase);

// One frame of each scene, composited into the screen surface and left there (both surfaces unlocked); the loops
// above present it. `row` and `order` are the copies the loop read at the start of the iteration.
void countdown_frame(SceneContext& context);
void intro_frame(SceneContext& context, const Image& picture, int row);
void effects_frame(SceneContext& context, EffectPhase& phase, int order, int row);
void logo_frame(SceneContext& context, const EffectPhase& phase, int row);
// The scroller's frame over the still video frame of time t0, with the text picture drawn `scroll_offset` rows above
// the top of the screen (keys are handled by the loop).
void scroller_frame(SceneContext& context, const EffectPhase& phase, double t0, int32_t scroll_offset);

// Copies the screen surface to the console and shows it.
void present(SceneContext& context);

}  // namespace zorbrix
