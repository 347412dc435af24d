#pragma once
// What the sound layer (platform/sound.h) plays through, chosen by whoever starts the layer: the audio device or,
// where none opens, silence that keeps real time (platform/sound_sdl.h), or audio made only when the owner asks for
// it (platform/sound_offline.h: the capture tool and tests).

#include <cstddef>
#include <cstdint>

namespace zorbrix {

// The layer's mixer, which a backend asks for audio.
class SoundSource {
public:
    // Writes `frames` stereo frames (16-bit, left then right) of every playing song. In real time (a backend whose
    // own thread asks, as a device does), the songs' order and row changes are reported when their first sample is
    // heard; otherwise (asked on the owner's thread) they are reported at once, before fill returns.
    virtual void fill(int16_t* out, size_t frames, bool real_time) = 0;

protected:
    ~SoundSource() = default;
};

class SoundBackend {
public:
    virtual ~SoundBackend() = default;

    // Starts taking audio at `rate` frames a second from `source`, paused. False when it cannot; nothing stays open.
    virtual bool open(int rate, SoundSource& source) = 0;
    // Stops taking audio (once this returns the source is asked no more) and releases the output. Harmless when
    // nothing is open.
    virtual void close() = 0;

    // The driver's name: SDL's for a device ("pulseaudio", "alsa", ...), "dummy" for silence, "offline".
    virtual const char* driver_name() const = 0;
    // The most frames one fill asks for on the backend's own initiative (0: only what the owner asks for).
    virtual int buffer_frames() const = 0;
    // The time from a fill to its first frame being heard, in nanoseconds (the backend's estimate).
    virtual int64_t latency_ns() const = 0;

    // Paused, the backend asks for nothing (a device plays silence). The layer pauses while no song plays.
    virtual void set_paused(bool paused) = 0;
    // While locked no fill runs: the layer changes its songs and their callbacks under the lock.
    virtual void lock() = 0;
    virtual void unlock() = 0;

    // Makes `frames` frames from the source now, on the caller's thread. Only a backend that waits to be asked
    // does; the others take audio on their own and return false, leaving out untouched.
    virtual bool render(int16_t* out, int frames) {
        static_cast<void>(out);
        static_cast<void>(frames);
        return false;
    }
};

}  // namespace zorbrix
