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

// The caption pictures, in the order of their index.
extern const char* const kCaptionFiles[kCaptionCount];

// Every overlay picture of the intro.
struct IntroImages {
    Image text;                  // the end scroller's text
    Image corners[4];            // upper left, upper right, lower right, lower left
    Image logo;
    Image intro[2];              // "intro_1.tga", "intro_2.tga"
    Image captions[kCaptionCount];
    Image glyphs[kGlyphCount];   // '0'..'9', then ':'
};

struct SceneContext {
    ptc::Console& console;
    ptc::Surface& screen;          // 512 x 384
    ptc::Surface& video_surface;   // the video's frame size
    VideoStream& video;
    FrameTimer& timer;
    const MusicPosition& music;
    const IntroImages& images;
};

// The effect phase carried from scene 4 into scene 5 and the end scroller.
struct EffectPhase {
    double D = 0.0;
    double A = 0.0;
};

// Which loop is running; the capture tool scripts its key presses by it.
enum class ScenePhase { Countdown, FirstIntro, SecondIntro, Effects, Logo, Scroller, Done };

// Rows of the text picture above the top of the screen; 0 at program start.
extern int32_t scroll_offset;

// Runs scenes 1 to 5 in order. A key press waiting at a loop test ends every remaining scene (it is not taken).
void run_scenes(SceneContext& context, EffectPhase& phase, ScenePhase* progress = nullptr);

// The end scroller, until Escape; skipped when a key press is waiting as it starts.
void run_end_scroller(SceneContext& context, const EffectPhase& phase, ScenePhase* progress = nullptr);

}  // namespace zorbrix
