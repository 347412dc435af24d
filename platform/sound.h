#pragma once
// The intro's sound layer: the song calls the program makes, in the form of the classic FMOD 3 interface, played by
// libxmp (platform/xm_player.h) into SDL2 audio at the requested rate, 16-bit stereo.
//
// Order and row callbacks run on the sound layer's own reporting thread, once for every row and once for every order
// change, in play order (pattern breaks and jumps included), at the moment the first sample of the tick that starts
// the row reaches the speaker: the audio device's queue and latency are taken into account, so what the scenes show
// lands with what is heard.
// The layer plays through a backend (platform/sound_backend.h) chosen by whoever starts it. FSOUND_Init takes the
// audio device and, without a usable one (a server, CI), falls back to the silent backend: SDL's "dummy" driver,
// which consumes audio in real time, so the song and its callbacks keep time silently. zorbrix::sound_init starts the
// layer on any backend, such as the offline one the capture tool renders through. Songs repeat at their end.
//
// All calls are made from the main thread.

#include "platform/music_position.h"
#include "platform/sound_backend.h"

#include <cstdint>
#include <memory>

struct FMUSIC_MODULE;  // a loaded song; owned by the sound layer, released by FMUSIC_FreeSong or FSOUND_Close
using FMUSIC_CALLBACK = void (*)(FMUSIC_MODULE* module, unsigned char param);

// Opens the audio device (rate in Hz, 8000 to 48000; channels and flags are accepted for the interface's sake: the
// module decides its own channel count). Falls back to the silent backend (the dummy driver) when no device opens;
// false only when even that fails. A second call while open returns true and changes nothing.
bool FSOUND_Init(int rate, int channels, unsigned flags);

// Stops every song, closes the device and releases every loaded song (their handles become invalid).
void FSOUND_Close();

// Loads an XM module from memory (the bytes are copied; the caller keeps its buffer). Null when the layer is not
// initialised or the data is not a module libxmp can play.
FMUSIC_MODULE* FMUSIC_LoadSongMemory(void* data, int length);

// Stops and releases one song. False for a null or unknown handle.
bool FMUSIC_FreeSong(FMUSIC_MODULE* module);

// Registers (or, with a null callback, removes) the function called at every order change whose new order is a
// multiple of step, and at every row that is a multiple of step (step 1: every one). The callback gets the new value.
// False for a null module or a step below 1.
bool FMUSIC_SetOrderCallback(FMUSIC_MODULE* module, FMUSIC_CALLBACK callback, int step);
bool FMUSIC_SetRowCallback(FMUSIC_MODULE* module, FMUSIC_CALLBACK callback, int step);

// Starts the song from its beginning (order 0, row 0). False for a null module.
bool FMUSIC_PlaySong(FMUSIC_MODULE* module);
// Stops the song; once this returns its callbacks fire no more. False for a null module.
bool FMUSIC_StopSong(FMUSIC_MODULE* module);

// The song's order and row as last reported (as heard); -1 for a song not playing or a null module.
int FMUSIC_GetOrder(FMUSIC_MODULE* module);
int FMUSIC_GetRow(FMUSIC_MODULE* module);

namespace zorbrix {
// The mixing rates the layer takes, in Hz.
constexpr int kSoundMinRate = 8000;
constexpr int kSoundMaxRate = 48000;

// Starts the layer on `backend` at `rate` Hz (FSOUND_Init is this with the device backend, then the silent one).
// False, the backend dropped, when the layer is already started, the rate is out of range or the backend does not
// open.
bool sound_init(int rate, std::unique_ptr<SoundBackend> backend);

// The backend's driver: SDL's audio driver ("dummy" for the silent backend), "offline" for the offline one; null
// when the layer is not initialised.
const char* sound_driver_name();

// On the offline backend (platform/sound_offline.h) time stands still until the caller asks for audio:
// sound_render_offline renders the next `frames` stereo frames of every playing song (summed) into out and fires the
// songs' order and row callbacks, in play order, for every tick that starts within those frames, before it returns.
// A capture tool that renders the audio up to each video frame's time thus sees the music position exactly as a
// listener would at that frame. False (out untouched) unless the layer runs on the offline backend.
bool sound_render_offline(int16_t* out, int frames);

// Starts the song at the first row of order `order` (0: FMUSIC_PlaySong). Returns the time in seconds at which that
// order starts when the song plays from its beginning, or -1 (nothing started) for an unknown module or an order the
// song does not have.
double sound_play_song_from(FMUSIC_MODULE* module, int order);
// When order `order` starts in the song played from its beginning, in seconds, without playing anything; -1 for an
// unknown module, an order the song does not have, or a song that is playing.
double sound_order_time(FMUSIC_MODULE* module, int order);

// The time in seconds from an audio callback to its first sample being heard (0 on the dummy driver, one buffer on a
// device), or -1 when not initialised. A value set here (a device of known latency, for tests) replaces the estimate;
// a negative one goes back to the estimate at the next FSOUND_Init.
double sound_output_latency();
void sound_set_output_latency(double seconds);

// Called on the audio thread after every buffer the device takes: when the callback ran and when the buffer's first
// frame is heard (steady clock, nanoseconds), the first song's frame counter at the buffer's start and the buffer's
// length in frames. For measuring the layer's timing; null removes it.
using BufferObserver = void (*)(void* data, int64_t called_ns, int64_t heard_ns, int64_t first_frame, int frames);
void sound_set_buffer_observer(BufferObserver observer, void* data);
}  // namespace zorbrix
