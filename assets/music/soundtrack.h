#pragma once
// The intro's soundtrack, "ambient3.xm": a calm ambient piece composed and synthesised in code, ten orders at
// speed 6 / 125 BPM (0.12 s a row). Each order's length fits the scene it carries:
//   orders 0 and 1, the countdown: 97 + 128 rows, so order 2 (the drop) starts at exactly 27.00 s;
//   orders 2 and 3, the intro pictures: 96 rows each, so a picture fading over 100 rows is never gone for long;
//   orders 4 to 7, the captions: 128 rows each (32-row captions, 8-row effect turns);
//   order 8, the logo: 72 rows (it is gone by row 66); order 9, the outro under the scroller: 128 rows.
// Every order from 2 to 8 starts a scene or a new group of captions with a clear change in the music, and a drum
// fill leads into every scene change. The song loops from its end back to order 0 without a seam.

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
