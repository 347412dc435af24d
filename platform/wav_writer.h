#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zorbrix {

// Writes interleaved 16-bit stereo samples as a PCM WAV file. False when the file cannot be written.
bool write_wav_stereo16(const std::string& path, const std::vector<int16_t>& samples, int rate);

}  // namespace zorbrix
