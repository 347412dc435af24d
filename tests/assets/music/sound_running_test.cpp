// The soundtrack through the sound layer on SDL's dummy driver (the machine's own device is left alone): the callbacks
// keep real time, about 8 rows a second at speed 6 and 125 BPM, and fall quiet once the song is stopped.
#include "assets/music/soundtrack.h"
#include "platform/music_position.h"
#include "platform/sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(SoundRunning, RowAdvancesAboutEightRowsInASecondAndStopsWithTheSong) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
    std::vector<uint8_t> module = zorbrix::music::compose_soundtrack();
    FMUSIC_MODULE* song = FMUSIC_LoadSongMemory(module.data(), static_cast<int>(module.size()));
    ASSERT_NE(song, nullptr);
    g_music.reset();
    ASSERT_TRUE(FMUSIC_SetOrderCallback(song, on_order, 1));
    ASSERT_TRUE(FMUSIC_SetRowCallback(song, on_row, 1));
    EXPECT_EQ(g_music.order.load(), -1);
    ASSERT_TRUE(FMUSIC_PlaySong(song));

    const auto give_up = std::chrono::steady_clock::now() + 3s;
    while (g_music.row.load() < 0 && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(5ms);
    const int first = g_music.row.load();
    ASSERT_GE(first, 0) << "no row callback within 3 s";
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    const int later = g_music.row.load();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(g_music.order.load(), 0);
    EXPECT_EQ(FMUSIC_GetOrder(song), 0);
    // 0.12 s a row; generous bounds for a loaded machine and the device's buffering.
    const int advanced = later - first;
    EXPECT_GE(advanced, static_cast<int>(seconds / 0.12) - 4) << "after " << seconds << " s";
    EXPECT_LE(advanced, static_cast<int>(seconds / 0.12) + 5) << "after " << seconds << " s";

    ASSERT_TRUE(FMUSIC_StopSong(song));
    const int stopped_at = g_music.row.load();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g_music.row.load(), stopped_at);
    EXPECT_EQ(FMUSIC_GetRow(song), -1);
    FSOUND_Close();
    unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
