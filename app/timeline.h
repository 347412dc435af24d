#pragma once
// The rules of the scene timeline and the end scroller that depend only on the music position and the clock:
// fades, the caption index, the clock value and the scroller's key handling. The frame loops (app/scenes.h) apply
// them; keeping them here lets tests check every rule without a display.
#include <cstdint>

namespace zorbrix {

// The order limits: a scene runs while the song's order is at most its limit.
inline constexpr int kCountdownLastOrder = 1;
inline constexpr int kFirstIntroLastOrder = 2;
inline constexpr int kSecondIntroLastOrder = 3;
inline constexpr int kEffectsLastOrder = 7;
inline constexpr int kLogoLastOrder = 8;

// Scene 1: the seconds left to 27 s, never below 0.
double countdown_value(double seconds);

// Scenes 2 and 3: an intro picture fades out over 100 rows.
double intro_fade(int row);

// Scene 4: which effect draws (true: the cube, false: the blob); they take turns every 8 rows.
bool cube_turn(int row);
// Scene 4: the phase offset D for a row: +0.5 for every group of 8 rows.
double effect_phase_base(int row);
// Scene 4: the caption shown at (order, row): one per 32 rows, order 4 starting at caption 0, each order moving on by
// four. Always 0..15, also for an order below 4.
int caption_index(int order, int row);
// Scene 4: full strength on a caption's first row, fading linearly to 1/32 on its last.
double caption_fade(int row);

// Scene 5: the logo fades in over rows 0..20, holds to row 56, fades out by row 66.
double logo_fade(int row);

// End scroller: the new scroll offset after reading key `code` (27 ends the scroller and is not handled here)
// with `frame_seconds` since the previous frame, kept within 0..text_height - 384 (the lower bound wins for a
// text shorter than the screen, as the bottom clamp comes last).
int32_t scroll_after_key(int32_t offset, int code, double frame_seconds, int text_height);

}  // namespace zorbrix
