#include "app/timeline.h"

#include "platform/ptc.h"

namespace zorbrix {

namespace {
constexpr int kScreenRows = 384;
}

double countdown_value(double seconds) {
    const double left = 27.0 - seconds;
    return left < 0 ? 0.0 : left;
}

double intro_fade(int row) {
    const double fade = 1 - row * 0.01;
    return fade < 0 ? 0.0 : fade;
}

bool cube_turn(int row) { return (row / 8) % 2 == 0; }

double effect_phase_base(int row) { return (row / 8) * 0.5; }

int caption_index(int order, int row) {
    const int k = (row / 32 + 4 * order - 16) % 16;
    return k < 0 ? k + 16 : k;
}

double caption_fade(int row) { return 1 - (row % 32) * 0.03125; }

double logo_fade(int row) {
    double fade = row < 54 ? row * 0.05 : 1 - (row - 56) * 0.1;
    if (fade > 1) fade = 1;
    if (fade < 0) fade = 0;
    return fade;
}

int32_t scroll_after_key(int32_t offset, int code, double frame_seconds, int text_height) {
    switch (code) {
    case ptc::Key::DOWN: offset += static_cast<int32_t>(frame_seconds * 256.0); break;
    case ptc::Key::UP: offset += static_cast<int32_t>(frame_seconds * -256.0); break;
    case ptc::Key::PAGEUP: offset -= kScreenRows; break;
    case ptc::Key::PAGEDOWN: offset += kScreenRows; break;
    default: break;
    }
    if (offset < 0) offset = 0;
    if (offset > text_height - kScreenRows) offset = text_height - kScreenRows;
    return offset;
}

}  // namespace zorbrix
