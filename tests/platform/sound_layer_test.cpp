// The sound layer's calls and the music position, without a module that plays (the soundtrack's running checks live
// with the soundtrack's tests).
#include "platform/music_position.h"
#include "platform/sound.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using zorbrix::MusicPosition;
using zorbrix::g_music;
using zorbrix::on_order;
using zorbrix::on_row;

namespace {

TEST(MusicPosition, StartsUnsetThenHoldsTheLastCallbackValue) {
    static_assert(std::atomic<int32_t>::is_always_lock_free);
    MusicPosition fresh;
    EXPECT_EQ(fresh.order.load(), -1);
    EXPECT_EQ(fresh.row.load(), -1);

    g_music.reset();
    EXPECT_EQ(g_music.order.load(), -1);
    EXPECT_EQ(g_music.row.load(), -1);
    on_order(nullptr, 255);
    on_row(nullptr, 0);
    EXPECT_EQ(g_music.order.load(), 255);
    EXPECT_EQ(g_music.row.load(), 0);
    on_row(nullptr, 127);
    EXPECT_EQ(g_music.row.load(), 127);
    EXPECT_EQ(g_music.order.load(), 255);
    g_music.reset();
    EXPECT_EQ(g_music.order.load(), -1);
}

TEST(SoundLayer, CallsWithoutASongFailCleanly) {
    FSOUND_Close();   // harmless when not open
    std::vector<unsigned char> junk(64, 0x11);
    EXPECT_EQ(FMUSIC_LoadSongMemory(junk.data(), static_cast<int>(junk.size())), nullptr);   // not initialised

    EXPECT_FALSE(FMUSIC_PlaySong(nullptr));
    EXPECT_FALSE(FMUSIC_StopSong(nullptr));
    EXPECT_FALSE(FMUSIC_FreeSong(nullptr));
    EXPECT_FALSE(FMUSIC_SetOrderCallback(nullptr, on_order, 1));
    EXPECT_FALSE(FMUSIC_SetRowCallback(nullptr, on_row, 1));
    EXPECT_EQ(FMUSIC_GetOrder(nullptr), -1);
    EXPECT_EQ(FMUSIC_GetRow(nullptr), -1);
    auto* stranger = reinterpret_cast<FMUSIC_MODULE*>(junk.data());   // never dereferenced: not a known song
    EXPECT_FALSE(FMUSIC_PlaySong(stranger));
    EXPECT_FALSE(FMUSIC_FreeSong(stranger));

    EXPECT_FALSE(FSOUND_Init(1000, 32, 0));   // no such mixing rate
    EXPECT_EQ(zorbrix::sound_driver_name(), nullptr);
}

// A machine without sound: the driver SDL is told to use does not exist, and the layer carries on with the dummy
// driver, which consumes audio in real time. Bad module data is refused; the layer opens again after closing.
TEST(SoundLayer, FallsBackToTheDummyDriverWhenNoDeviceOpens) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "no-such-driver", 1), 0);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
    ASSERT_NE(zorbrix::sound_driver_name(), nullptr);
    EXPECT_EQ(std::string(zorbrix::sound_driver_name()), "dummy");
    EXPECT_TRUE(FSOUND_Init(44100, 32, 0));   // already open: nothing changes

    std::vector<unsigned char> junk(4096, 0x42);
    EXPECT_EQ(FMUSIC_LoadSongMemory(junk.data(), static_cast<int>(junk.size())), nullptr);
    EXPECT_EQ(FMUSIC_LoadSongMemory(nullptr, 100), nullptr);
    EXPECT_EQ(FMUSIC_LoadSongMemory(junk.data(), -5), nullptr);
    FSOUND_Close();
    EXPECT_EQ(zorbrix::sound_driver_name(), nullptr);

    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
    EXPECT_TRUE(FSOUND_Init(44100, 32, 0));
    FSOUND_Close();
    unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
