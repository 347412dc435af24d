#pragma once
// Synthetic test sequences for the encoder: each stresses a different part of it.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/encoder/y4m.h"

namespace enc_test {

using zorbrix::enc::YuvFrame;

// "gradients": smooth diagonal gradients panning in sub-pixel steps (half-pel motion, smooth areas).
// "noise": fresh random noise every frame (intra decisions, escapes, large levels).
// "text": dark glyph-like marks on a light page scrolling up 3 pixels a frame (sharp edges, motion).
// "cut": a moving pattern that changes to a different scene half-way (scene cut, intra in P-VOPs).
// "blobs": shapes moving in different directions (four-vector macroblocks).
std::vector<YuvFrame> make_sequence(const std::string& kind, int width, int height, int frames);

}  // namespace enc_test
