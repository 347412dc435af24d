#pragma once
// Where the intro's music comes from. The sound layer plays the song and its callbacks move the music position: on
// the desktop on the audio device, in the offline capture on the layer's offline backend, in step with the frames.
#include "platform/music_position.h"
#include "platform/sound_backend.h"

#include <functional>
#include <memory>

namespace zorbrix {

class Soundtrack {
public:
    virtual ~Soundtrack() = default;
    // Starts the sound output. False ends the program before any window.
    virtual bool init() = 0;
    // Loads the module from memory (the bytes stay the caller's and stay alive until close). False when it cannot.
    virtual bool load(void* data, int length) = 0;
    // When order `order` starts in the song played from its beginning, in seconds; -1 for an order the song does
    // not have. Asked after load, before play.
    virtual double order_time(int order) = 0;
    // Registers on_order and on_row for every order and row change, then starts the song at the first row of
    // `order` (0: its beginning).
    virtual void play(int order) = 0;
    virtual void stop() = 0;
    virtual void close() = 0;
};

// The song on the sound layer.
class LayerSoundtrack : public Soundtrack {
public:
    // The layer on the audio device, or its silent stand-in where there is none (FSOUND_Init).
    LayerSoundtrack() = default;
    // The layer on a backend the function makes at every init (the capture tool's offline one).
    using BackendMaker = std::function<std::unique_ptr<SoundBackend>()>;
    explicit LayerSoundtrack(BackendMaker make_backend) : make_backend_(std::move(make_backend)) {}

    bool init() override;
    bool load(void* data, int length) override;
    double order_time(int order) override;
    void play(int order) override;
    void stop() override;
    void close() override;

private:
    BackendMaker make_backend_;
    struct FMUSIC_MODULE* song_ = nullptr;
};

}  // namespace zorbrix
