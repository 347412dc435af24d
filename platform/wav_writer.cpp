#include "platform/wav_writer.h"

#include "platform/output_file.h"

namespace zorbrix {

namespace {

void put_le(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

}  // namespace

bool write_wav_stereo16(const std::string& path, const std::vector<int16_t>& samples, int rate, std::string* error) {
    OutputFile out;
    if (!out.open(path, error)) return false;
    return write_wav_stereo16(out, samples, rate, error) && out.commit(error);
}

bool write_wav_stereo16(OutputFile& out, const std::vector<int16_t>& samples, int rate, std::string* error) {
    // The RIFF sizes are 32-bit: refuse rather than write a header that lies.
    if (samples.size() > (0xFFFFFFFFull - 36) / 2) {
        if (error) *error = "cannot write " + out.path() + ": the sound is too long for a WAV file";
        return false;
    }
    const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
    std::string header = "RIFF";
    put_le(header, 36 + data_bytes, 4);
    header += "WAVEfmt ";
    put_le(header, 16, 4);  // format chunk size
    put_le(header, 1, 2);   // PCM
    put_le(header, 2, 2);   // channels
    put_le(header, static_cast<uint32_t>(rate), 4);
    put_le(header, static_cast<uint32_t>(rate) * 4, 4);  // bytes per second
    put_le(header, 4, 2);                                // bytes per frame
    put_le(header, 16, 2);                               // bits per sample
    header += "data";
    put_le(header, data_bytes, 4);
    // Samples are stored little-endian, as the machine holds them.
    if (!out.write(header) || !out.write(samples.data(), samples.size() * 2) || !out.flush()) {
        if (error) *error = out.error();
        return false;
    }
    return true;
}

}  // namespace zorbrix
