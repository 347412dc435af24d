#pragma once
// The sound layer's live backends, on SDL2 audio. The device backend plays on the machine's audio device; the silent
// one is the layer's stand-in where no device opens (a server, CI): SDL's "dummy" driver takes the audio at the
// real-time rate and discards it, so songs and their callbacks keep time without a sound.

#include "platform/sound_backend.h"

#include <cstdint>

namespace zorbrix {

class DeviceSoundBackend : public SoundBackend {
public:
    DeviceSoundBackend() = default;
    ~DeviceSoundBackend() override { close(); }
    DeviceSoundBackend(const DeviceSoundBackend&) = delete;
    DeviceSoundBackend& operator=(const DeviceSoundBackend&) = delete;

    // Opens SDL's audio device for 16-bit stereo at `rate`, about 23 ms a buffer at 44100 Hz.
    bool open(int rate, SoundSource& source) override;
    void close() override;

    const char* driver_name() const override;
    int buffer_frames() const override { return buffer_frames_; }
    // SDL keeps one buffer queued ahead of the callback, so a real device plays a new buffer one buffer later; the
    // dummy driver takes each buffer right after its callback (0).
    int64_t latency_ns() const override { return latency_ns_; }

    void set_paused(bool paused) override;
    void lock() override;
    void unlock() override;

    // SDL's audio thread: asks the source for the buffer.
    void take(uint8_t* stream, int length);

private:
    uint32_t device_ = 0;  // SDL_AudioDeviceID
    SoundSource* source_ = nullptr;
    int buffer_frames_ = 0;
    int64_t latency_ns_ = 0;
};

class SilentSoundBackend : public DeviceSoundBackend {
public:
    // The device backend on SDL's "dummy" driver, whatever SDL_AUDIODRIVER says.
    bool open(int rate, SoundSource& source) override;
};

}  // namespace zorbrix
