#include "platform/wav_writer.h"

#include <cstdio>

namespace zorbrix {

namespace {

void put_le(std::FILE* f, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((value >> (8 * i)) & 0xff), f);
}

}  // namespace

bool write_wav_stereo16(const std::string& path, const std::vector<int16_t>& samples, int rate) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    put_le(f, 36 + data_bytes, 4);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put_le(f, 16, 4);                          // format chunk size
    put_le(f, 1, 2);                           // PCM
    put_le(f, 2, 2);                           // channels
    put_le(f, static_cast<uint32_t>(rate), 4);
    put_le(f, static_cast<uint32_t>(rate) * 4, 4);   // bytes per second
    put_le(f, 4, 2);                           // bytes per frame
    put_le(f, 16, 2);                          // bits per sample
    std::fwrite("data", 1, 4, f);
    put_le(f, data_bytes, 4);
    // Samples are stored little-endian, as the machine holds them.
    const bool written = std::fwrite(samples.data(), 2, samples.size(), f) == samples.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace zorbrix
