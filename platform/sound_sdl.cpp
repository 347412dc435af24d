#include "platform/sound_sdl.h"

#ifndef _WIN32
#include <alsa/asoundlib.h>
#endif
#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace zorbrix {

namespace {

void SDLCALL audio_callback(void* backend, Uint8* stream, int length) {
    static_cast<DeviceSoundBackend*>(backend)->take(stream, length);
}

#ifndef _WIN32
void silent_alsa_error(const char*, int, const char*, int, const char*, ...) {}
#endif

}  // namespace

bool DeviceSoundBackend::open(int rate, SoundSource& source) {
    close();
    // A machine without a sound card is a normal case (the silent backend takes over); ALSA would otherwise print its
    // failed probes on standard error, among the program's own messages.
#ifndef _WIN32
    snd_lib_error_set_handler(silent_alsa_error);
#endif
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    source_ = &source;
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;  // 23 ms at 44100 Hz: callbacks stay close to what is heard
    want.callback = audio_callback;
    want.userdata = this;
    SDL_AudioSpec have;
    // No changes allowed: SDL converts to whatever the hardware wants, so the callback always sees our format.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        source_ = nullptr;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    buffer_frames_ = have.samples;
    const char* driver = SDL_GetCurrentAudioDriver();
    latency_ns_ = driver && std::strcmp(driver, "dummy") == 0
                      ? 0
                      : static_cast<int64_t>(have.samples) * 1000000000LL / std::max(have.freq, 1);
    return true;
}

void DeviceSoundBackend::close() {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);  // waits for the audio thread to finish
    device_ = 0;
    source_ = nullptr;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

const char* DeviceSoundBackend::driver_name() const { return SDL_GetCurrentAudioDriver(); }

void DeviceSoundBackend::set_paused(bool paused) {
    if (device_) SDL_PauseAudioDevice(device_, paused ? 1 : 0);
}

void DeviceSoundBackend::lock() {
    if (device_) SDL_LockAudioDevice(device_);
}

void DeviceSoundBackend::unlock() {
    if (device_) SDL_UnlockAudioDevice(device_);
}

void DeviceSoundBackend::take(uint8_t* stream, int length) {
    source_->fill(reinterpret_cast<int16_t*>(stream), static_cast<size_t>(length) / (2 * sizeof(int16_t)), true);
}

bool SilentSoundBackend::open(int rate, SoundSource& source) {
    // The override beats an SDL_AUDIODRIVER setting (one that failed to open a device, say).
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
    const bool ok = DeviceSoundBackend::open(rate, source);
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    return ok;
}

}  // namespace zorbrix
