// The player's row and order reports on a module with pattern breaks, a position jump, a pattern loop and a pattern
// delay, built here with the XM writer: the values must come in play order, one per row and one per order change,
// at the frames where their ticks start, however the output is cut into chunks.
#include "assets/music/xm_writer.h"
#include "platform/xm_player.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using zorbrix::MusicEvent;
using zorbrix::XmPlayer;
namespace xm = zorbrix::xm;

constexpr int kSpeed = 3;
constexpr int kTick = 882;  // frames per tick at 125 BPM and 44100 Hz

xm::Instrument beep() {
    xm::Instrument ins;
    ins.name = "beep";
    xm::Sample s;
    s.name = "beep";
    for (int i = 0; i < 64; ++i) s.data.push_back(static_cast<int16_t>(i < 32 ? 8000 : -8000));
    s.loop = xm::Sample::Loop::Forward;
    s.loop_length = 64;
    ins.samples.push_back(s);
    return ins;
}

void fx(xm::Pattern& p, int row, uint8_t effect, uint8_t param) {
    p.at(row, 1).effect = effect;
    p.at(row, 1).param = param;
}

// Orders 0..4 play patterns 0..4. Order 1 breaks at its row 3 into row 5 of order 2; order 2 jumps at its row 6 to
// order 4, so order 3 is never played; order 4 loops rows 1..3 once and holds row 5 for three rows' time.
std::vector<uint8_t> jumpy_module() {
    xm::Module m;
    m.name = "jumpy";
    m.channels = 2;
    m.speed = kSpeed;
    m.bpm = 125;
    for (int i = 0; i < 5; ++i) {
        m.patterns.emplace_back(8, 2);
        m.orders.push_back(static_cast<uint8_t>(i));
        for (int r = 0; r < 8; r += 2) {
            m.patterns.back().at(r, 0).note = xm::note(4, r);
            m.patterns.back().at(r, 0).instrument = 1;
        }
    }
    fx(m.patterns[1], 3, xm::FX_PATTERN_BREAK, 0x05);
    fx(m.patterns[2], 6, xm::FX_POSITION_JUMP, 4);
    fx(m.patterns[4], 1, xm::FX_EXTENDED, 0x60);
    fx(m.patterns[4], 3, xm::FX_EXTENDED, 0x61);
    fx(m.patterns[4], 5, xm::FX_EXTENDED, 0xE2);
    m.instruments.push_back(beep());
    std::string error;
    auto bytes = xm::write_module(m, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

struct Expected {
    char kind;  // 'O' or 'R'
    int value;
    int rows_long;  // how many rows' time the row lasts (order events: 0)
};

// One pass through the song, then the start of the next.
const std::vector<Expected> kPlayOrder = {
    {'O', 0, 0}, {'R', 0, 1}, {'R', 1, 1}, {'R', 2, 1}, {'R', 3, 1}, {'R', 4, 1}, {'R', 5, 1}, {'R', 6, 1},
    {'R', 7, 1}, {'O', 1, 0}, {'R', 0, 1}, {'R', 1, 1}, {'R', 2, 1}, {'R', 3, 1}, {'O', 2, 0}, {'R', 5, 1},
    {'R', 6, 1}, {'O', 4, 0}, {'R', 0, 1}, {'R', 1, 1}, {'R', 2, 1}, {'R', 3, 1}, {'R', 1, 1}, {'R', 2, 1},
    {'R', 3, 1}, {'R', 4, 1}, {'R', 5, 3}, {'R', 6, 1}, {'R', 7, 1}, {'O', 0, 0}, {'R', 0, 1}, {'R', 1, 1},
};

std::vector<MusicEvent> render_events(const std::vector<uint8_t>& module, int64_t frames, std::vector<int16_t>* audio,
                                      const std::vector<size_t>& chunks) {
    XmPlayer player;
    std::string error;
    EXPECT_TRUE(player.load(module.data(), module.size(), 44100, &error)) << error;
    std::vector<MusicEvent> events;
    size_t c = 0;
    while (player.frames_rendered() < frames) {
        const int64_t step = chunks.empty() ? frames : static_cast<int64_t>(chunks[c++ % chunks.size()]);
        player.render_until(std::min(frames, player.frames_rendered() + step), audio, &events);
    }
    return events;
}

TEST(PlayerEvents, FollowBreaksJumpsLoopsAndDelaysInPlayOrderAtTheirFrames) {
    const auto module = jumpy_module();
    const int64_t frames = 32LL * kSpeed * kTick;  // past the end of the first pass
    const auto events = render_events(module, frames, nullptr, {});
    ASSERT_GE(events.size(), kPlayOrder.size());

    int64_t frame = 0;
    for (size_t i = 0; i < kPlayOrder.size(); ++i) {
        const Expected& want = kPlayOrder[i];
        const MusicEvent& got = events[i];
        SCOPED_TRACE("event " + std::to_string(i));
        EXPECT_EQ(got.kind, want.kind == 'O' ? MusicEvent::Kind::Order : MusicEvent::Kind::Row);
        EXPECT_EQ(got.value, want.value);
        EXPECT_EQ(got.frame, frame);  // an order change shares its frame with the row that follows
        frame += static_cast<int64_t>(want.rows_long) * kSpeed * kTick;
    }
}

TEST(PlayerEvents, ASingleOrderSongReportsItsOrderAgainAtEachRepeat) {
    xm::Module m;
    m.channels = 2;
    m.speed = kSpeed;
    m.patterns.emplace_back(4, 2);
    m.orders = {0};
    m.instruments.push_back(beep());
    XmPlayer player;
    {
        const auto module = xm::write_module(m);  // the player keeps no pointer into the caller's bytes
        ASSERT_TRUE(player.load(module.data(), module.size()));
    }
    std::vector<MusicEvent> events;
    player.render_until(12LL * kSpeed * kTick, nullptr, &events);
    std::string seen;
    for (const auto& e : events) {
        seen.push_back(e.kind == MusicEvent::Kind::Order ? 'O' : 'R');
        seen.append(std::to_string(e.value));
    }
    EXPECT_EQ(seen, "O0R0R1R2R3O0R0R1R2R3O0R0R1R2R3");
}

TEST(PlayerEvents, ChunkedRenderingGivesTheSameAudioAndEvents) {
    const auto module = jumpy_module();
    const int64_t frames = 40LL * kSpeed * kTick + 123;
    std::vector<int16_t> whole, pieces;
    const auto expected = render_events(module, frames, &whole, {});
    std::mt19937 rng(7);
    std::vector<size_t> chunks;
    for (int i = 0; i < 64; ++i) chunks.push_back(1 + rng() % 3000);
    chunks.push_back(kTick);
    const auto got = render_events(module, frames, &pieces, chunks);
    ASSERT_EQ(whole.size(), static_cast<size_t>(frames) * 2);
    EXPECT_EQ(pieces, whole);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, expected[i].kind) << i;
        EXPECT_EQ(got[i].value, expected[i].value) << i;
        EXPECT_EQ(got[i].frame, expected[i].frame) << i;
    }
    bool sound = false;
    for (int16_t v : whole) sound = sound || v != 0;
    EXPECT_TRUE(sound);
}

TEST(PlayerEvents, RestartBeginsAgainFromTheTop) {
    const auto module = jumpy_module();
    XmPlayer player;
    ASSERT_TRUE(player.load(module.data(), module.size()));
    std::vector<MusicEvent> events;
    player.render_until(20LL * kSpeed * kTick, nullptr, &events);
    player.restart();
    EXPECT_EQ(player.frames_rendered(), 0);
    events.clear();
    player.render_until(1, nullptr, &events);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, MusicEvent::Kind::Order);
    EXPECT_EQ(events[0].value, 0);
    EXPECT_EQ(events[1].value, 0);
}

// Starting part-way in: the player tells when the order starts in the song played from the top (breaks and jumps
// followed: order 4 comes after 8 + 4 + 2 rows), then plays on from its first row with the frame count at 0.
TEST(PlayerEvents, RestartAtAnOrderPlaysFromItsFirstRowAndTellsWhenItStarts) {
    const auto module = jumpy_module();
    XmPlayer player;
    ASSERT_TRUE(player.load(module.data(), module.size()));
    constexpr double kRowSeconds = kSpeed * kTick / 44100.0;
    EXPECT_NEAR(player.restart_at(1), 8 * kRowSeconds, 0.001);
    EXPECT_EQ(player.frames_rendered(), 0);
    std::vector<MusicEvent> events;
    player.render_until(5LL * kSpeed * kTick, nullptr, &events);
    ASSERT_GE(events.size(), 5u);
    EXPECT_EQ(events[0].kind, MusicEvent::Kind::Order);
    EXPECT_EQ(events[0].value, 1);
    EXPECT_EQ(events[0].frame, 0);
    EXPECT_EQ(events[1].value, 0);
    EXPECT_EQ(events[4].value, 3);
    EXPECT_EQ(events[4].frame, 3LL * kSpeed * kTick);

    EXPECT_NEAR(player.restart_at(4), 14 * kRowSeconds, 0.001);
    events.clear();
    player.render_until(1, nullptr, &events);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].value, 4);
    EXPECT_EQ(events[1].value, 0);

    // No such order: -1, and the player goes on where it was.
    EXPECT_EQ(player.restart_at(5), -1);
    EXPECT_EQ(player.restart_at(-1), -1);
    EXPECT_EQ(player.frames_rendered(), 1);
    EXPECT_EQ(player.restart_at(0), 0.0);
    events.clear();
    player.render_until(1, nullptr, &events);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].value, 0);
}

TEST(PlayerEvents, RejectsDataThatIsNoModuleAndStaysSilent) {
    XmPlayer player;
    std::string error;
    const std::vector<uint8_t> junk(1000, 0x5a);
    EXPECT_FALSE(player.load(junk.data(), junk.size(), 44100, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(player.load(nullptr, 0, 44100, &error));
    auto module = jumpy_module();
    module.resize(200);  // cut inside the first pattern
    EXPECT_FALSE(player.load(module.data(), module.size(), 44100, &error));

    std::vector<int16_t> audio(512, 99);
    std::vector<MusicEvent> events;
    player.render(audio.data(), 256, [&](const MusicEvent& e) { events.push_back(e); });
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(audio, std::vector<int16_t>(512, 0));
}

}  // namespace
