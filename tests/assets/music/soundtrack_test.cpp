// The intro's soundtrack: a well-formed XM 1.04 module that two unrelated players read alike, with the timing the
// scene timeline depends on, and a level a listener is comfortable with (measured by sox over the first minute).
#include "assets/music/soundtrack.h"
#include "platform/wav_writer.h"
#include "platform/xm_player.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using zorbrix::MusicEvent;
using zorbrix::XmPlayer;
namespace xm = zorbrix::xm;

constexpr int kRate = 44100;

const std::vector<uint8_t>& soundtrack() {
    static const std::vector<uint8_t> bytes = zorbrix::music::compose_soundtrack();
    return bytes;
}

unsigned u16(const std::vector<uint8_t>& b, size_t at) { return b.at(at) | (b.at(at + 1) << 8); }
uint32_t u32(const std::vector<uint8_t>& b, size_t at) { return u16(b, at) | (u16(b, at + 2) << 16); }

std::string run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
    if (!pipe) return {};
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    return out;
}

// The text after `label` and its run of dots, spaces and a colon (openmpt123 --info and sox stats print
// "Orders.....: 10" and "Pk lev dB      -7.98"); empty when the label is missing.
std::string field(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) return {};
    size_t i = at + label.size();
    while (i < text.size() && (text[i] == '.' || text[i] == ':' || text[i] == ' ')) ++i;
    size_t end = i;
    while (end < text.size() && text[end] != ' ' && text[end] != '\n') ++end;
    return text.substr(i, end - i);
}

// Rows of each order: the countdown (97 + 128 = 225 rows, 27.00 s), the two pictures, the four caption orders that
// keep 128 rows (32-row captions, 8-row effect turns), the logo, the outro.
const std::vector<unsigned> kOrderRows = {97, 128, 96, 96, 128, 128, 128, 128, 72, 128};
constexpr double kRowSeconds = 6 * 2.5 / 125;  // speed 6 at 125 BPM: 0.12 s
double song_seconds() {
    unsigned rows = 0;
    for (unsigned r : kOrderRows) rows += r;
    return rows * kRowSeconds;
}

TEST(Soundtrack, IsAnXm104ModuleOfTenOrdersShapedForTheScenesAtSpeed6And125Bpm) {
    const auto& b = soundtrack();
    ASSERT_GT(b.size(), 336u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 17), "Extended Module: ");
    EXPECT_EQ(b[37], 0x1a);
    EXPECT_EQ(u16(b, 58), 0x0104u);
    const uint32_t header_size = u32(b, 60);
    EXPECT_EQ(header_size, 276u);
    const unsigned orders = u16(b, 64), restart = u16(b, 66), channels = u16(b, 68), patterns = u16(b, 70);
    EXPECT_GE(orders, 10u);
    EXPECT_LT(restart, orders);
    EXPECT_GE(channels, 2u);
    EXPECT_LE(channels, 32u);
    EXPECT_GE(u16(b, 72), 1u);      // instruments
    EXPECT_EQ(u16(b, 74) & 1, 1u);  // linear frequency table
    EXPECT_EQ(u16(b, 76), 6u);
    EXPECT_EQ(u16(b, 78), 125u);
    for (unsigned i = 0; i < orders; ++i) EXPECT_LT(b[80 + i], patterns);

    // Walk the pattern headers: each order's pattern holds the rows its scene needs.
    size_t at = 60 + header_size;
    std::vector<unsigned> rows;
    for (unsigned p = 0; p < patterns; ++p) {
        EXPECT_EQ(u32(b, at), 9u);
        rows.push_back(u16(b, at + 5));
        at += 9 + u16(b, at + 7);
    }
    EXPECT_LT(at, b.size());
    ASSERT_EQ(orders, kOrderRows.size());
    for (unsigned i = 0; i < orders; ++i) EXPECT_EQ(rows.at(b[80 + i]), kOrderRows[i]) << "order " << i;
}

TEST(Soundtrack, EveryOrderFromTwoToEightChangesTheMusic) {
    const xm::Module m = zorbrix::music::soundtrack_module();
    // What a pattern plays: the (instrument, note) pairs it starts, and the instruments alone.
    auto notes = [&](int order) {
        std::set<std::pair<int, int>> s;
        for (const xm::Cell& c : m.patterns.at(m.orders.at(static_cast<size_t>(order))).cells)
            if (c.note >= 1 && c.note <= 96) s.insert({c.instrument, c.note});
        return s;
    };
    auto lineup = [&](int order) {
        std::set<int> s;
        for (const auto& n : notes(order)) s.insert(n.first);
        return s;
    };
    for (int order = 2; order <= 8; ++order) {
        // A clear change: an instrument comes in or leaves, or at least a third of the notes are new.
        const auto before = notes(order - 1), now = notes(order);
        size_t shared = 0;
        for (const auto& n : now) shared += before.count(n);
        EXPECT_TRUE(lineup(order) != lineup(order - 1) || shared * 3 < now.size() * 2) << "order " << order;
    }
}

// A drum fill leads into every scene change: in the last 8 rows before orders 2, 3, 4, 8 and the scroller's order 9,
// the brush plays on at least every other row and louder at the end than at the start, and the scene's own pattern
// ends in it (no fill inside a scene, where it would announce a change that does not come).
TEST(Soundtrack, AFillLeadsIntoEverySceneChange) {
    const xm::Module m = zorbrix::music::soundtrack_module();
    constexpr int kBrush = 5;  // the instrument number of the brush
    auto brush_volumes = [&](int order, int from_end, int to_end) {
        const xm::Pattern& p = m.patterns.at(m.orders.at(static_cast<size_t>(order)));
        std::vector<int> volumes;
        for (int row = p.rows - from_end; row < p.rows - to_end; ++row)
            for (int ch = 0; ch < p.channels; ++ch) {
                const xm::Cell& c = p.at(row, ch);
                if (c.instrument == kBrush && c.note >= 1 && c.note <= 96) volumes.push_back(c.volume - 0x10);
            }
        return volumes;
    };
    for (int before : {1, 2, 3, 7, 8}) {
        const std::vector<int> fill = brush_volumes(before, 8, 0);
        EXPECT_GE(fill.size(), 5u) << "order " << before;
        if (fill.size() >= 2) {
            EXPECT_GT(fill.back(), fill.front()) << "order " << before;
        }
    }
    // Inside scene 4 (orders 4 to 6 lead into more captions) the brush keeps its one stroke a bar.
    for (int order : {4, 5, 6}) EXPECT_LE(brush_volumes(order, 8, 0).size(), 1u) << "order " << order;
}

TEST(Soundtrack, TimingAndLengthAgreeBetweenLibxmpAndOpenmpt) {
    const auto& b = soundtrack();
    XmPlayer player;
    std::string error;
    ASSERT_TRUE(player.load(b.data(), b.size(), kRate, &error)) << error;
    EXPECT_GE(player.order_count(), 10);

    // The countdown scene lasts while orders 0 and 1 play: the drop into order 2 comes as the clock reaches zero,
    // 27.00 s, measured by rendering. Every later order starts where the rows before it say.
    std::vector<MusicEvent> events;
    player.render_until(static_cast<int64_t>((song_seconds() - 1) * kRate), nullptr, &events);
    std::vector<double> starts(kOrderRows.size(), -1);
    for (const auto& e : events)
        if (e.kind == MusicEvent::Kind::Order && starts.at(static_cast<size_t>(e.value)) < 0)
            starts[static_cast<size_t>(e.value)] = static_cast<double>(e.frame) / kRate;
    EXPECT_NEAR(starts[2], 27.0, 0.5 / kRate);
    double expected = 0;
    for (size_t i = 0; i < kOrderRows.size(); ++i) {
        EXPECT_NEAR(starts[i], expected, 1.0 / kRate) << "order " << i;
        expected += kOrderRows[i] * kRowSeconds;
    }

    const std::string path = test_output_path("ambient3.xm");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    const std::string info = run("openmpt123 --info '" + path + "' 2>&1");
    const std::string orders = field(info, "Orders"), duration = field(info, "Duration");
    ASSERT_FALSE(orders.empty()) << info;
    EXPECT_EQ(std::atoi(orders.c_str()), player.order_count());
    int minutes = 0;
    double seconds = 0;
    ASSERT_EQ(std::sscanf(duration.c_str(), "%d:%lf", &minutes, &seconds), 2) << info;
    const double openmpt_seconds = minutes * 60 + seconds;
    EXPECT_NEAR(openmpt_seconds, player.duration_ms() / 1000.0, 0.1);
    EXPECT_NEAR(openmpt_seconds, song_seconds(), 0.1);
}

TEST(Soundtrack, RepeatsAtItsEndWithoutFallingSilent) {
    const auto& b = soundtrack();
    XmPlayer player;
    ASSERT_TRUE(player.load(b.data(), b.size(), kRate));
    const auto end = static_cast<int64_t>(std::llround(song_seconds() * kRate));
    player.render_until(end - 2 * kRate, nullptr, nullptr);
    std::vector<int16_t> audio;
    std::vector<MusicEvent> events;
    player.render_until(end + 2 * kRate, &audio, &events);
    int64_t wrap = -1;
    for (const auto& e : events)
        if (e.kind == MusicEvent::Kind::Order && e.value == 0) wrap = e.frame;
    EXPECT_EQ(wrap, end);
    // Loudness on either side of the loop point stays within a few dB: no gap, no jump.
    auto rms = [&](size_t from, size_t frames) {
        double sum = 0;
        for (size_t i = from * 2; i < (from + frames) * 2; ++i) sum += double(audio[i]) * audio[i];
        return 10 * std::log10(sum / (frames * 2) / (32768.0 * 32768.0));
    };
    const double before = rms(0, 2 * kRate), after = rms(2 * kRate, 2 * kRate);
    EXPECT_GT(before, -40);
    EXPECT_GT(after, -40);
    EXPECT_LT(std::abs(before - after), 6.0);
}

// The first minute, measured with sox in 5-second windows: never silent, never clipping, a comfortable level.
// The figures land in build/test-output/ambient3-levels.txt next to the WAV.
TEST(Soundtrack, FirstMinuteIsNeitherSilentNorClipping) {
    const auto& b = soundtrack();
    XmPlayer player;
    ASSERT_TRUE(player.load(b.data(), b.size(), kRate));
    std::vector<int16_t> audio;
    player.render_until(60LL * kRate, &audio, nullptr);
    const std::string wav = test_output_path("ambient3-first-minute.wav");
    ASSERT_TRUE(zorbrix::write_wav_stereo16(wav, audio, kRate));

    std::ofstream report(test_output_path("ambient3-levels.txt"));
    for (int start = 0; start < 60; start += 5) {
        const std::string stats = run("sox '" + wav + "' -n trim " + std::to_string(start) + " 5 stats 2>&1");
        const std::string pk = field(stats, "Pk lev dB"), rms = field(stats, "RMS lev dB");
        ASSERT_FALSE(pk.empty()) << stats;
        ASSERT_FALSE(rms.empty()) << stats;
        ASSERT_NE(pk, "-inf") << "silent at " << start << " s";
        const double peak = std::stod(pk), level = std::stod(rms);
        report << start << "-" << start + 5 << " s: peak " << peak << " dBFS, RMS " << level << " dBFS\n";
        EXPECT_LT(peak, -1.0) << "window at " << start << " s";
        EXPECT_GT(level, -30.0) << "window at " << start << " s";
        EXPECT_LT(level, -12.0) << "window at " << start << " s";
    }
}

}  // namespace
