#pragma once
// The song's position as the scene loops see it: order and row, written by the sound layer's callbacks on the audio
// thread and read on the main thread. Each field is one atomic word; relaxed order is enough, because the timeline
// only needs each value whole, not in step with the other (a new order may be seen with the old pattern's row).

#include <atomic>
#include <cstdint>

struct FMUSIC_MODULE;

namespace zorbrix {

struct MusicPosition {
    std::atomic<int32_t> order{-1};  // -1 until the song's first order callback
    std::atomic<int32_t> row{-1};    // -1 until the song's first row callback

    // Back to "not playing yet" (both -1), for a second run in the same process (tests, the capture tool).
    void reset() {
        order.store(-1, std::memory_order_relaxed);
        row.store(-1, std::memory_order_relaxed);
    }
};

extern MusicPosition g_music;

// The callbacks the program registers: each stores the low 8 bits of its parameter. The module is ignored.
void on_order(FMUSIC_MODULE* module, unsigned char param);
void on_row(FMUSIC_MODULE* module, unsigned char param);

}  // namespace zorbrix
