#include "app/soundtrack.h"

#include "platform/sound.h"

namespace zorbrix {

bool LayerSoundtrack::init() {
    if (make_backend_) return sound_init(44100, make_backend_());
    return FSOUND_Init(44100, 32, 0);
}

bool LayerSoundtrack::load(void* data, int length) {
    song_ = FMUSIC_LoadSongMemory(data, length);
    return song_ != nullptr;
}

double LayerSoundtrack::order_time(int order) { return sound_order_time(song_, order); }

void LayerSoundtrack::play(int order) {
    FMUSIC_SetOrderCallback(song_, on_order, 1);
    FMUSIC_SetRowCallback(song_, on_row, 1);
    sound_play_song_from(song_, order);
}

void LayerSoundtrack::stop() { FMUSIC_StopSong(song_); }

void LayerSoundtrack::close() {
    FSOUND_Close();
    song_ = nullptr;
}

}  // namespace zorbrix
