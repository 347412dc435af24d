#pragma once
// The intro's soundtrack, "ambient3.xm": a calm ambient piece composed and synthesised in code. Ten orders of
// 128-row patterns at speed 6 / 125 BPM (15.36 s an order); orders 0 and 1 carry the countdown, and every order from
// 2 to 8 starts a scene or a new group of captions with a clear change in the music. The song loops from its end back
// to order 0 without a seam.

#include "assets/music/xm_writer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zorbrix::music {

xm::Module soundtrack_module();

// The module as XM bytes.
std::vector<uint8_t> compose_soundtrack();

// Writes the module to path. False, with the reason in *error when given, when the file cannot be written.
bool write_soundtrack(const std::string& path, std::string* error = nullptr);

}  // namespace zorbrix::music
