// The soundtrack through the sound layer on SDL's dummy driver (the machine's own device is left alone): the callbacks
// keep real time, about 8 rows a second at speed 6 and 125 BPM, and fall quiet once the song is stopped.
#include "assets/music/soundtrack.h"
#include "platform/music_position.h"
#include "platform/sound.h"
#include "platform/sound_offline.h"
#include "platform/sound_sdl.h"
#include "platform/xm_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

using zorbrix::g_music;
using zorbrix::on_order;
using zorbrix::on_row;

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
    // 0.12 s a row. A sanity check, not a timing test: the bounds allow for a loaded machine starving the audio
    // thread and for the device's buffering, and still catch a song that stands still or races ahead.
    const int advanced = later - first;
    const double expected = seconds / 0.12;
    EXPECT_GE(advanced, static_cast<int>(expected * 0.4)) << "after " << seconds << " s";
    EXPECT_LE(advanced, static_cast<int>(expected) + 5) << "after " << seconds << " s";

    ASSERT_TRUE(FMUSIC_StopSong(song));
    const int stopped_at = g_music.row.load();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g_music.row.load(), stopped_at);
    EXPECT_EQ(FMUSIC_GetRow(song), -1);
    FSOUND_Close();
    unsetenv("SDL_AUDIODRIVER");
}

// The offline backend, as the capture tool uses it: audio rendered one 30 fps video frame at a time, the same samples
// as the player gives directly, and after each frame the music position is exactly the last order and row whose
// ticks started before that frame's end.
TEST(SoundOffline, RenderingVideoFrameByFrameGivesTheExactPositionAndTheSameAudio) {
    const std::vector<uint8_t> module = zorbrix::music::compose_soundtrack();
    zorbrix::XmPlayer reference;
    ASSERT_TRUE(reference.load(module.data(), module.size(), 44100));
    const int64_t total = 33 * 44100;  // across the start of order 2
    std::vector<int16_t> expected_audio;
    std::vector<zorbrix::MusicEvent> events;
    reference.render_until(total, &expected_audio, &events);

    ASSERT_TRUE(zorbrix::sound_init(44100, std::make_unique<zorbrix::OfflineSoundBackend>()));
    EXPECT_STREQ(zorbrix::sound_driver_name(), "offline");
    EXPECT_TRUE(FSOUND_Init(44100, 32, 0));  // already started: stays offline
    EXPECT_STREQ(zorbrix::sound_driver_name(), "offline");
    FMUSIC_MODULE* song = FMUSIC_LoadSongMemory(const_cast<uint8_t*>(module.data()), static_cast<int>(module.size()));
    ASSERT_NE(song, nullptr);
    g_music.reset();
    ASSERT_TRUE(FMUSIC_SetOrderCallback(song, on_order, 1));
    ASSERT_TRUE(FMUSIC_SetRowCallback(song, on_row, 1));
    ASSERT_TRUE(FMUSIC_PlaySong(song));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(g_music.row.load(), -1);  // nothing moves until audio is asked for

    std::vector<int16_t> audio(static_cast<size_t>(total) * 2);
    int64_t done = 0;
    size_t next_event = 0;
    int want_order = -1, want_row = -1;
    for (int frame = 1; done < total; ++frame) {
        const int64_t end = std::min<int64_t>(total, frame * 44100LL / 30);
        ASSERT_TRUE(zorbrix::sound_render_offline(audio.data() + done * 2, static_cast<int>(end - done)));
        done = end;
        for (; next_event < events.size() && events[next_event].frame < end; ++next_event) {
            (events[next_event].kind == zorbrix::MusicEvent::Kind::Order ? want_order : want_row) =
                events[next_event].value;
        }
        ASSERT_EQ(g_music.order.load(), want_order) << "video frame " << frame;
        ASSERT_EQ(g_music.row.load(), want_row) << "video frame " << frame;
    }
    EXPECT_EQ(g_music.order.load(), 2);
    EXPECT_EQ(audio, expected_audio);

    FSOUND_Close();
    std::vector<int16_t> out(4, 7);
    EXPECT_FALSE(zorbrix::sound_render_offline(out.data(), 2));  // closed
    EXPECT_EQ(out, std::vector<int16_t>(4, 7));
}

// The silent backend, the layer's stand-in where no device opens: nothing is heard, but the song and its callbacks
// keep real time as on a device.
TEST(SoundRunning, TheSilentBackendKeepsTheMusicPositionMoving) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "no-such-driver", 1), 0);
    ASSERT_TRUE(zorbrix::sound_init(44100, std::make_unique<zorbrix::SilentSoundBackend>()));
    EXPECT_STREQ(zorbrix::sound_driver_name(), "dummy");
    std::vector<uint8_t> module = zorbrix::music::compose_soundtrack();
    FMUSIC_MODULE* song = FMUSIC_LoadSongMemory(module.data(), static_cast<int>(module.size()));
    ASSERT_NE(song, nullptr);
    g_music.reset();
    ASSERT_TRUE(FMUSIC_SetOrderCallback(song, on_order, 1));
    ASSERT_TRUE(FMUSIC_SetRowCallback(song, on_row, 1));
    ASSERT_TRUE(FMUSIC_PlaySong(song));
    // At 0.12 s a row, row 4 is due after half a second; the bound allows for a loaded machine.
    const auto give_up = std::chrono::steady_clock::now() + 5s;
    while (g_music.row.load() < 4 && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(5ms);
    EXPECT_GE(g_music.row.load(), 4);
    EXPECT_EQ(g_music.order.load(), 0);
    FMUSIC_StopSong(song);
    FSOUND_Close();
    unsetenv("SDL_AUDIODRIVER");
    g_music.reset();
}

// Started part-way in (--start-order), the offline backend gives the samples of the player started at that order,
// however the requests cut them.
TEST(SoundOffline, FromAnOrderInUnevenPiecesGivesThePlayersSamples) {
    const std::vector<uint8_t> module = zorbrix::music::compose_soundtrack();
    zorbrix::XmPlayer reference;
    ASSERT_TRUE(reference.load(module.data(), module.size(), 44100));
    ASSERT_GT(reference.restart_at(4), 0.0);
    const int64_t total = 3 * 44100;
    std::vector<int16_t> expected;
    reference.render_until(total, &expected, nullptr);

    ASSERT_TRUE(zorbrix::sound_init(44100, std::make_unique<zorbrix::OfflineSoundBackend>()));
    FMUSIC_MODULE* song = FMUSIC_LoadSongMemory(const_cast<uint8_t*>(module.data()), static_cast<int>(module.size()));
    ASSERT_NE(song, nullptr);
    ASSERT_GT(zorbrix::sound_play_song_from(song, 4), 0.0);
    std::vector<int16_t> audio(static_cast<size_t>(total) * 2);
    const int pieces[] = {1, 735, 4096, 2, 1470, 9000};
    int64_t done = 0;
    for (size_t k = 0; done < total; ++k) {
        const int n = static_cast<int>(std::min<int64_t>(pieces[k % std::size(pieces)], total - done));
        ASSERT_TRUE(zorbrix::sound_render_offline(audio.data() + done * 2, n));
        done += n;
    }
    EXPECT_EQ(audio, expected);
    FSOUND_Close();
}

}  // namespace
