#include "platform/sound.h"

#include "platform/xm_player.h"

#ifndef _WIN32
#include <alsa/asoundlib.h>
#endif
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

struct FMUSIC_MODULE {
    zorbrix::XmPlayer player;
    FMUSIC_CALLBACK order_callback = nullptr;
    int order_step = 1;
    FMUSIC_CALLBACK row_callback = nullptr;
    int row_step = 1;
    bool playing = false;
    std::atomic<int> order{-1};
    std::atomic<int> row{-1};
};

namespace {

struct SoundState {
    bool initialised = false;
    bool offline_requested = false;
    bool offline = false;
    SDL_AudioDeviceID device = 0;
    int rate = 44100;
    std::vector<std::unique_ptr<FMUSIC_MODULE>> songs;   // guarded by the device lock while the device runs
    std::vector<int16_t> scratch;                         // a second song's frames, mixed into the first's
};

SoundState g_sound;

void fire(FMUSIC_MODULE* song, const zorbrix::MusicEvent& e) {
    if (e.kind == zorbrix::MusicEvent::Kind::Order) {
        song->order.store(e.value, std::memory_order_relaxed);
        if (song->order_callback && e.value % song->order_step == 0) {
            song->order_callback(song, static_cast<unsigned char>(e.value));
        }
    } else {
        song->row.store(e.value, std::memory_order_relaxed);
        if (song->row_callback && e.value % song->row_step == 0) {
            song->row_callback(song, static_cast<unsigned char>(e.value));
        }
    }
}

// Renders each playing song tick by tick into out (on SDL's audio thread, or on the caller's in offline mode); the
// events of a tick fire as its first frame is copied into the buffer. Several playing songs are summed with saturation.
void mix_songs(int16_t* out, size_t frames) {
    bool first = true;
    for (auto& owned : g_sound.songs) {
        FMUSIC_MODULE* song = owned.get();
        if (!song->playing) continue;
        auto sink = [song](const zorbrix::MusicEvent& e) { fire(song, e); };
        if (first) {
            song->player.render(out, frames, sink);
            first = false;
            continue;
        }
        if (g_sound.scratch.size() < frames * 2) continue;   // never allocate on the audio thread
        song->player.render(g_sound.scratch.data(), frames, sink);
        for (size_t i = 0; i < frames * 2; ++i) {
            const int sum = out[i] + g_sound.scratch[i];
            out[i] = static_cast<int16_t>(std::clamp(sum, -32768, 32767));
        }
    }
    if (first) std::memset(out, 0, frames * 2 * sizeof(int16_t));
}

void SDLCALL audio_callback(void*, Uint8* stream, int len) {
    mix_songs(reinterpret_cast<int16_t*>(stream), static_cast<size_t>(len) / (2 * sizeof(int16_t)));
}

bool open_device(int rate) {
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;   // 23 ms at 44100 Hz: callbacks stay close to what is heard
    want.callback = audio_callback;
    SDL_AudioSpec have;
    // No changes allowed: SDL converts to whatever the hardware wants, so the callback always sees our format.
    g_sound.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (g_sound.device == 0) return false;
    g_sound.scratch.assign(static_cast<size_t>(std::max<int>(have.samples, 1024)) * 4, 0);
    return true;
}

bool known(FMUSIC_MODULE* module) {
    if (module == nullptr) return false;
    return std::any_of(g_sound.songs.begin(), g_sound.songs.end(),
                       [module](const auto& s) { return s.get() == module; });
}

class DeviceLock {
public:
    DeviceLock() {
        if (g_sound.device) SDL_LockAudioDevice(g_sound.device);
    }
    ~DeviceLock() {
        if (g_sound.device) SDL_UnlockAudioDevice(g_sound.device);
    }
};

bool set_callback(FMUSIC_MODULE* module, FMUSIC_CALLBACK callback, int step, bool order) {
    if (!known(module) || step < 1) return false;
    DeviceLock lock;
    if (order) {
        module->order_callback = callback;
        module->order_step = step;
    } else {
        module->row_callback = callback;
        module->row_step = step;
    }
    return true;
}

void update_pause() {
    if (!g_sound.device) return;
    const bool any = std::any_of(g_sound.songs.begin(), g_sound.songs.end(), [](const auto& s) { return s->playing; });
    SDL_PauseAudioDevice(g_sound.device, any ? 0 : 1);
}

#ifndef _WIN32
void silent_alsa_error(const char*, int, const char*, int, const char*, ...) {}
#endif

}  // namespace

bool FSOUND_Init(int rate, int /*channels*/, unsigned /*flags*/) {
    if (g_sound.initialised) return true;
    if (rate < 8000 || rate > 48000) return false;
    if (g_sound.offline_requested) {
        g_sound.initialised = true;
        g_sound.offline = true;
        g_sound.rate = rate;
        return true;
    }
    // A machine without a sound card is a normal case here (the dummy driver below takes over); ALSA would otherwise
    // print its failed probes on standard error, among the program's own messages.
#ifndef _WIN32
    snd_lib_error_set_handler(silent_alsa_error);
#endif
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        if (open_device(rate)) {
            g_sound.initialised = true;
            g_sound.rate = rate;
            return true;
        }
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    // No device: SDL's dummy driver takes the audio at the real-time rate and discards it, so the music position
    // advances exactly as it would with sound. The override beats an SDL_AUDIODRIVER setting that failed above.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
    bool ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (ok) {
        ok = open_device(rate);
        if (!ok) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    if (!ok) return false;
    g_sound.initialised = true;
    g_sound.rate = rate;
    return true;
}

void FSOUND_Close() {
    if (!g_sound.initialised) return;
    if (g_sound.device) {
        SDL_CloseAudioDevice(g_sound.device);   // waits for the audio thread to finish
        g_sound.device = 0;
    }
    g_sound.songs.clear();
    g_sound.scratch.clear();
    if (!g_sound.offline) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_sound.initialised = false;
    g_sound.offline = false;
}

FMUSIC_MODULE* FMUSIC_LoadSongMemory(void* data, int length) {
    if (!g_sound.initialised || data == nullptr || length <= 0) return nullptr;
    auto song = std::make_unique<FMUSIC_MODULE>();
    if (!song->player.load(data, static_cast<size_t>(length), g_sound.rate)) return nullptr;
    FMUSIC_MODULE* handle = song.get();
    DeviceLock lock;
    g_sound.songs.push_back(std::move(song));
    return handle;
}

bool FMUSIC_FreeSong(FMUSIC_MODULE* module) {
    if (!known(module)) return false;
    {
        DeviceLock lock;
        auto it = std::find_if(g_sound.songs.begin(), g_sound.songs.end(),
                               [module](const auto& s) { return s.get() == module; });
        g_sound.songs.erase(it);
    }
    update_pause();
    return true;
}

bool FMUSIC_SetOrderCallback(FMUSIC_MODULE* module, FMUSIC_CALLBACK callback, int step) {
    return set_callback(module, callback, step, true);
}

bool FMUSIC_SetRowCallback(FMUSIC_MODULE* module, FMUSIC_CALLBACK callback, int step) {
    return set_callback(module, callback, step, false);
}

bool FMUSIC_PlaySong(FMUSIC_MODULE* module) {
    if (!known(module)) return false;
    {
        DeviceLock lock;
        module->player.restart();
        module->order.store(-1, std::memory_order_relaxed);
        module->row.store(-1, std::memory_order_relaxed);
        module->playing = true;
    }
    update_pause();
    return true;
}

bool FMUSIC_StopSong(FMUSIC_MODULE* module) {
    if (!known(module)) return false;
    {
        DeviceLock lock;
        module->playing = false;
    }
    update_pause();
    return true;
}

int FMUSIC_GetOrder(FMUSIC_MODULE* module) {
    if (!known(module) || !module->playing) return -1;
    return module->order.load(std::memory_order_relaxed);
}

int FMUSIC_GetRow(FMUSIC_MODULE* module) {
    if (!known(module) || !module->playing) return -1;
    return module->row.load(std::memory_order_relaxed);
}

namespace zorbrix {
const char* sound_driver_name() {
    if (!g_sound.initialised) return nullptr;
    if (g_sound.offline) return "offline";
    return SDL_GetCurrentAudioDriver();
}

void sound_set_offline(bool offline) { g_sound.offline_requested = offline; }

bool sound_render_offline(int16_t* out, int frames) {
    if (!g_sound.initialised || !g_sound.offline || out == nullptr || frames < 0) return false;
    const auto n = static_cast<size_t>(frames);
    if (g_sound.scratch.size() < n * 2) g_sound.scratch.resize(n * 2);
    mix_songs(out, n);
    return true;
}
}  // namespace zorbrix
