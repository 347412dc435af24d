#include "platform/music_position.h"

namespace zorbrix {

MusicPosition g_music;

void on_order(FMUSIC_MODULE*, unsigned char param) {
    g_music.order.store(static_cast<int32_t>(param & 0xff), std::memory_order_relaxed);
}

void on_row(FMUSIC_MODULE*, unsigned char param) {
    g_music.row.store(static_cast<int32_t>(param & 0xff), std::memory_order_relaxed);
}

}  // namespace zorbrix
