// The sound layer's calls and the music position, without a module that plays (the soundtrack's running checks live
// with the soundtrack's tests).
#include "platform/music_position.h"
#include "platform/sound.h"
#include "platform/sound_offline.h"
#include "platform/sound_sdl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using zorbrix::g_music;
using zorbrix::MusicPosition;
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
    FSOUND_Close();  // harmless when not open
    std::vector<unsigned char> junk(64, 0x11);
    EXPECT_EQ(FMUSIC_LoadSongMemory(junk.data(), static_cast<int>(junk.size())), nullptr);  // not initialised

    EXPECT_FALSE(FMUSIC_PlaySong(nullptr));
    EXPECT_FALSE(FMUSIC_StopSong(nullptr));
    EXPECT_FALSE(FMUSIC_FreeSong(nullptr));
    EXPECT_FALSE(FMUSIC_SetOrderCallback(nullptr, on_order, 1));
    EXPECT_FALSE(FMUSIC_SetRowCallback(nullptr, on_row, 1));
    EXPECT_EQ(FMUSIC_GetOrder(nullptr), -1);
    EXPECT_EQ(FMUSIC_GetRow(nullptr), -1);
    auto* stranger = reinterpret_cast<FMUSIC_MODULE*>(junk.data());  // never dereferenced: not a known song
    EXPECT_FALSE(FMUSIC_PlaySong(stranger));
    EXPECT_FALSE(FMUSIC_FreeSong(stranger));

    EXPECT_FALSE(FSOUND_Init(1000, 32, 0));  // no such mixing rate
    EXPECT_EQ(zorbrix::sound_driver_name(), nullptr);
}

// A machine without sound: the driver SDL is told to use does not exist, and the layer carries on with the dummy
// driver, which consumes audio in real time. Bad module data is refused; the layer opens again after closing.
TEST(SoundLayer, FallsBackToTheDummyDriverWhenNoDeviceOpens) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "no-such-driver", 1), 0);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 0));
    ASSERT_NE(zorbrix::sound_driver_name(), nullptr);
    EXPECT_EQ(std::string(zorbrix::sound_driver_name()), "dummy");
    EXPECT_TRUE(FSOUND_Init(44100, 32, 0));  // already open: nothing changes

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

// What the layer asked of a backend.
struct BackendLog {
    int opened_rate = 0;
    zorbrix::SoundSource* source = nullptr;
    int closes = 0;
    int locks = 0;
    int unlocks = 0;
    int pauses = 0;
};

class RecordingBackend : public zorbrix::SoundBackend {
public:
    RecordingBackend(BackendLog& log, bool opens) : log_(log), opens_(opens) {}
    bool open(int rate, zorbrix::SoundSource& source) override {
        log_.opened_rate = rate;
        log_.source = &source;
        return opens_;
    }
    void close() override { ++log_.closes; }
    const char* driver_name() const override { return "recording"; }
    int buffer_frames() const override { return 256; }
    int64_t latency_ns() const override { return 5000000; }
    void set_paused(bool) override { ++log_.pauses; }
    void lock() override { ++log_.locks; }
    void unlock() override { ++log_.unlocks; }

private:
    BackendLog& log_;
    bool opens_;
};

// Whoever starts the layer picks the backend; the layer keeps it until FSOUND_Close and never takes a second one.
TEST(SoundLayer, RunsOnTheBackendItIsStartedOn) {
    BackendLog refused;
    EXPECT_FALSE(zorbrix::sound_init(44100, std::make_unique<RecordingBackend>(refused, false)));
    EXPECT_EQ(refused.opened_rate, 44100);
    EXPECT_EQ(zorbrix::sound_driver_name(), nullptr);
    BackendLog too_fast;
    EXPECT_FALSE(zorbrix::sound_init(96000, std::make_unique<RecordingBackend>(too_fast, true)));
    EXPECT_EQ(too_fast.opened_rate, 0);  // never asked to open
    EXPECT_FALSE(zorbrix::sound_init(44100, nullptr));

    BackendLog log;
    ASSERT_TRUE(zorbrix::sound_init(22050, std::make_unique<RecordingBackend>(log, true)));
    EXPECT_EQ(log.opened_rate, 22050);
    EXPECT_STREQ(zorbrix::sound_driver_name(), "recording");
    EXPECT_DOUBLE_EQ(zorbrix::sound_output_latency(), 0.005);
    BackendLog second;
    EXPECT_FALSE(zorbrix::sound_init(22050, std::make_unique<RecordingBackend>(second, true)));
    EXPECT_EQ(second.opened_rate, 0);
    EXPECT_TRUE(FSOUND_Init(44100, 32, 0));  // already started: nothing changes
    EXPECT_STREQ(zorbrix::sound_driver_name(), "recording");

    // A backend that takes audio on its own renders nothing on request.
    std::vector<int16_t> out(8, 7);
    EXPECT_FALSE(zorbrix::sound_render_offline(out.data(), 4));
    EXPECT_EQ(out, std::vector<int16_t>(8, 7));
    // Without a song the mixer gives silence, asked in real time or not.
    ASSERT_NE(log.source, nullptr);
    log.source->fill(out.data(), 4, true);
    EXPECT_EQ(out, std::vector<int16_t>(8, 0));
    out.assign(8, 7);
    log.source->fill(out.data(), 4, false);
    EXPECT_EQ(out, std::vector<int16_t>(8, 0));

    zorbrix::sound_set_buffer_observer(nullptr, nullptr);  // changed under the backend's lock
    EXPECT_GT(log.locks, 0);
    EXPECT_EQ(log.locks, log.unlocks);
    FSOUND_Close();
    EXPECT_EQ(log.closes, 1);
    EXPECT_EQ(zorbrix::sound_driver_name(), nullptr);
    EXPECT_EQ(refused.closes + too_fast.closes + second.closes, 0);
}

// The offline backend makes audio only when asked, at once: silence while no song plays.
TEST(SoundLayer, OfflineBackendRendersOnRequest) {
    ASSERT_TRUE(zorbrix::sound_init(44100, std::make_unique<zorbrix::OfflineSoundBackend>()));
    EXPECT_STREQ(zorbrix::sound_driver_name(), "offline");
    EXPECT_DOUBLE_EQ(zorbrix::sound_output_latency(), 0.0);
    std::vector<int16_t> out(2 * 5000, 7);  // more than any buffer the mixer was sized for
    ASSERT_TRUE(zorbrix::sound_render_offline(out.data(), 5000));
    EXPECT_EQ(out, std::vector<int16_t>(2 * 5000, 0));
    EXPECT_TRUE(zorbrix::sound_render_offline(out.data(), 0));
    EXPECT_FALSE(zorbrix::sound_render_offline(out.data(), -1));
    EXPECT_FALSE(zorbrix::sound_render_offline(nullptr, 4));
    FSOUND_Close();
    EXPECT_FALSE(zorbrix::sound_render_offline(out.data(), 4));
}

// The silent backend is the dummy driver whatever SDL_AUDIODRIVER asks for, and renders nothing on request.
TEST(SoundLayer, SilentBackendIsTheDummyDriver) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "no-such-driver", 1), 0);
    ASSERT_TRUE(zorbrix::sound_init(44100, std::make_unique<zorbrix::SilentSoundBackend>()));
    EXPECT_STREQ(zorbrix::sound_driver_name(), "dummy");
    EXPECT_DOUBLE_EQ(zorbrix::sound_output_latency(), 0.0);
    std::vector<int16_t> out(4, 7);
    EXPECT_FALSE(zorbrix::sound_render_offline(out.data(), 2));
    EXPECT_EQ(out, std::vector<int16_t>(4, 7));
    FSOUND_Close();
    // A device backend refuses what the silent one takes.
    EXPECT_FALSE(zorbrix::sound_init(44100, std::make_unique<zorbrix::DeviceSoundBackend>()));
    EXPECT_EQ(zorbrix::sound_driver_name(), nullptr);
    unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
