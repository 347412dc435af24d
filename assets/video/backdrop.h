#pragma once
// The intro's backdrop video: a calm, abstract, slowly flowing picture in dark, cool colours, looping without a
// jump, coded with our own encoder into the .nvd file the intro plays.
//
// The intro shows a stream's picture upside down (its converter delivers the bottom row first and the 2x
// enlargement puts that row at the top of the screen), so the stream carries the picture flipped and viewers
// see it upright.
#include <cstdint>
#include <string>

#include "tools/encoder/y4m.h"

namespace zorbrix::assets {

constexpr int kBackdropWidth = 256;
constexpr int kBackdropHeight = 192;
constexpr int kBackdropFps = 25;
constexpr int kBackdropFrames = 300;                  // 12 seconds; every motion repeats exactly after this
constexpr long long kBackdropMaxBytes = 1500 * 1000;  // the file stays below 1.5 MB

// Frame `index` (taken modulo the loop length) as viewers see it: 0x00RRGGBB, top row first.
void render_backdrop_rgb(int index, uint32_t* pixels);
// The same frame in 4:2:0 (BT.601 studio range), flipped vertically when `for_stream` is set.
enc::YuvFrame render_backdrop_yuv(int index, bool for_stream);

// Renders the whole loop and codes it into `path` at the finest quantiser that keeps the file below
// kBackdropMaxBytes. False with a message on failure; *qp_used (optional) receives the quantiser.
bool write_backdrop(const std::string& path, std::string* error, int* qp_used = nullptr);
// Writes the loop as YUV4MPEG2 (stream orientation), for people who want to code it themselves with
// `nvdtool encode`.
bool write_backdrop_y4m(const std::string& path, std::string* error);

}  // namespace zorbrix::assets
