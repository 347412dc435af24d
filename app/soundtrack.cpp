#include "app/soundtrack.h"

#include "platform/sound.h"

namespace zorbrix {

bool DeviceSoundtrack::init() { return FSOUND_Init(44100, 32, 0); }

bool DeviceSoundtrack::load(void* data, int length) {
    song_ = FMUSIC_LoadSongMemory(data, length);
    return song_ != nullptr;
}

double DeviceSoundtrack::order_time(int order) { return sound_order_time(song_, order); }

void DeviceSoundtrack::play(int order) {
    FMUSIC_SetOrderCallback(song_, on_order, 1);
    FMUSIC_SetRowCallback(song_, on_row, 1);
    sound_play_song_from(song_, order);
}

void DeviceSoundtrack::stop() { FMUSIC_StopSong(song_); }

void DeviceSoundtrack::close() {
    FSOUND_Close();
    song_ = nullptr;
}

}  // namespace zorbrix
