#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zorbrix {

// Writes interleaved 16-bit stereo samples as a PCM WAV file, which appears whole or not at all ("-", a device or a
// FIFO is written in place). False when the file cannot be written (or holds more than a WAV file can), with a
// one-line reason in *error when given.
bool write_wav_stereo16(const std::string& path, const std::vector<int16_t>& samples, int rate,
                        std::string* error = nullptr);

class OutputFile;
// The same into an output opened earlier (so a program can refuse an unwritable name before long work): written and
// flushed, left for the caller to commit with its other outputs. False with *error set when anything failed.
bool write_wav_stereo16(OutputFile& out, const std::vector<int16_t>& samples, int rate, std::string* error = nullptr);

}  // namespace zorbrix
