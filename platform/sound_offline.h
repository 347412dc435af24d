#pragma once
// The sound layer's offline backend: no device and no thread; time stands still until the owner asks for audio
// (sound_render_offline), which is then made at once on the owner's thread, every order and row change reported
// as its first frame is written. The capture tool renders the soundtrack in step with its video frames through it.

#include "platform/sound_backend.h"

namespace zorbrix {

class OfflineSoundBackend : public SoundBackend {
public:
    bool open(int rate, SoundSource& source) override {
        static_cast<void>(rate);
        source_ = &source;
        return true;
    }
    void close() override { source_ = nullptr; }

    const char* driver_name() const override { return "offline"; }
    int buffer_frames() const override { return 0; }
    int64_t latency_ns() const override { return 0; }

    // Nothing runs on its own, so there is nothing to pause or hold off.
    void set_paused(bool) override {}
    void lock() override {}
    void unlock() override {}

    // False (out untouched) when not open or for a negative count or null buffer.
    bool render(int16_t* out, int frames) override {
        if (source_ == nullptr || out == nullptr || frames < 0) return false;
        source_->fill(out, static_cast<size_t>(frames), false);
        return true;
    }

private:
    SoundSource* source_ = nullptr;
};

}  // namespace zorbrix
