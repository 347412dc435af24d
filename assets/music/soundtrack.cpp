#include "assets/music/soundtrack.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/output_file.h"

namespace zorbrix::music {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kC4 = 261.6255653;  // Hz; XM note C-4 sounds as middle C
constexpr int kRows = 128;           // a full order: the countdown's second, the captions', the outro's
// The countdown's first order: 96 rows after a silent lead-in row, so that orders 0 and 1 last 225 rows, 27.00 s:
// the drop into order 2 comes exactly as the clock reaches zero.
constexpr int kCountdownFirstRows = 96;
// The intro pictures fade out over 100 rows; they make way for the next scene after 96, at 4 % strength.
constexpr int kPictureRows = 96;
// The logo is gone by row 66; the scroller follows after 72.
constexpr int kLogoRows = 72;

// ---------------------------------------------------------------------------------------------------------------
// Synthesis

// A small deterministic generator, so the module's bytes are the same on every build.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed ? seed : 1) {}
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    double uniform() { return (next() >> 8) * (1.0 / 16777216.0); }  // [0, 1)
    double signed_unit() { return uniform() * 2.0 - 1.0; }           // [-1, 1)

private:
    uint32_t state_;
};

// The relative note and finetune that make a sample play at `rate` samples per second on C-4, and the exact rate
// those two values give (samples are synthesised at the exact rate so every note is in tune).
struct Tuning {
    int8_t relative_note;
    int8_t finetune;
    double rate;
};

Tuning tuning_for(double rate) {
    const double semitones = 12.0 * std::log2(rate / 8363.0);
    int relative = static_cast<int>(std::lround(semitones));
    int fine = static_cast<int>(std::lround((semitones - relative) * 128.0));
    fine = std::clamp(fine, -128, 127);
    const double exact = 8363.0 * std::pow(2.0, (relative + fine / 128.0) / 12.0);
    return {static_cast<int8_t>(relative), static_cast<int8_t>(fine), exact};
}

// Scales to a peak of `peak` of full scale and converts to 16 bits.
std::vector<int16_t> to_pcm(const std::vector<double>& x, double peak = 0.92) {
    double max = 0.0;
    for (double v : x) max = std::max(max, std::abs(v));
    const double gain = max > 0.0 ? peak * 32767.0 / max : 0.0;
    std::vector<int16_t> out(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        out[i] = static_cast<int16_t>(std::clamp(std::lround(x[i] * gain), -32767L, 32767L));
    }
    return out;
}

xm::Sample make_sample(const char* name, std::vector<int16_t> data, const Tuning& t, bool looped) {
    xm::Sample s;
    s.name = name;
    s.sixteen_bit = true;
    s.data = std::move(data);
    s.relative_note = t.relative_note;
    s.finetune = t.finetune;
    if (looped) {
        s.loop = xm::Sample::Loop::Forward;
        s.loop_start = 0;
        s.loop_length = static_cast<uint32_t>(s.data.size());
    }
    return s;
}

// A looped tone made of sine partials. One cycle of the fundamental is `cycle` samples; the loop holds `cycles`
// cycles, and each voice runs `cycles + detune` cycles through it, so detuned voices beat slowly against each other
// (a chorus) and every partial still completes whole periods in the loop: the loop point has no seam.
xm::Sample additive_loop(const char* name, int cycle, int cycles, const std::vector<std::pair<int, double>>& voices,
                         const std::vector<double>& partials, uint32_t seed) {
    const int n = cycle * cycles;
    std::vector<double> x(static_cast<size_t>(n), 0.0);
    Random rng(seed);
    for (const auto& [detune, voice_gain] : voices) {
        const int c = cycles + detune;
        for (size_t h = 1; h <= partials.size(); ++h) {
            const double a = partials[h - 1] * voice_gain;
            if (a == 0.0 || 2.0 * static_cast<double>(h) * c >= n) continue;  // keep below the sample's Nyquist
            const double phase = rng.uniform() * 2.0 * kPi;
            const double w = 2.0 * kPi * static_cast<double>(h) * c / n;
            for (int i = 0; i < n; ++i) x[static_cast<size_t>(i)] += a * std::sin(w * i + phase);
        }
    }
    return make_sample(name, to_pcm(x), tuning_for(kC4 * cycle), true);
}

// One-shot pitched sound with partials that each decay at their own rate (a soft bell or mallet).
xm::Sample mallet(const char* name) {
    const int cycle = 64;
    const Tuning t = tuning_for(kC4 * cycle);
    const double f0 = t.rate / cycle;
    const size_t n = static_cast<size_t>(1.6 * t.rate);
    struct Partial {
        double ratio, gain, decay;
    };
    const Partial partials[] = {
        {1.0, 1.0, 0.55}, {2.0, 0.22, 0.30}, {3.0, 0.07, 0.18}, {4.0, 0.10, 0.09}, {6.0, 0.03, 0.05}};
    std::vector<double> x(n, 0.0);
    for (size_t i = 0; i < n; ++i) {
        const double s = static_cast<double>(i) / t.rate;
        double v = 0.0;
        for (const Partial& p : partials) v += p.gain * std::exp(-s / p.decay) * std::sin(2.0 * kPi * f0 * p.ratio * s);
        const double attack = std::min(1.0, s / 0.004);
        const double tail = std::min(1.0, static_cast<double>(n - i) / (0.05 * t.rate));  // ends at exactly zero
        x[i] = v * attack * tail;
    }
    return make_sample(name, to_pcm(x, 0.9), t, false);
}

// Soft kick: a sine falling from about 110 Hz to 45 Hz under a short decay.
xm::Sample kick() {
    const Tuning t = tuning_for(22050.0);
    const size_t n = static_cast<size_t>(0.45 * t.rate);
    std::vector<double> x(n);
    double phase = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double s = static_cast<double>(i) / t.rate;
        const double f = 45.0 + 65.0 * std::exp(-s / 0.035);
        phase += 2.0 * kPi * f / t.rate;
        const double env = std::min(1.0, s / 0.003) * std::exp(-s / 0.14);
        const double tail = std::min(1.0, static_cast<double>(n - i) / (0.03 * t.rate));
        x[i] = std::sin(phase) * env * tail;
    }
    return make_sample("soft kick", to_pcm(x, 0.95), t, false);
}

// Shaker: high-passed, gently low-passed noise with a quick decay.
xm::Sample shaker() {
    const Tuning t = tuning_for(44100.0);
    const size_t n = static_cast<size_t>(0.11 * t.rate);
    std::vector<double> x(n);
    Random rng(0x5eed01);
    double prev = 0.0, low = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double s = static_cast<double>(i) / t.rate;
        const double white = rng.signed_unit();
        const double high = white - prev;  // first difference: removes the lows
        prev = white;
        low += 0.45 * (high - low);  // takes the edge off the highs
        const double env = std::min(1.0, s / 0.006) * std::exp(-s / 0.028);
        const double tail = std::min(1.0, static_cast<double>(n - i) / (0.01 * t.rate));
        x[i] = low * env * tail;
    }
    return make_sample("shaker", to_pcm(x, 0.8), t, false);
}

// Brushed snare: low-passed noise over a short 185 Hz body.
xm::Sample brush() {
    const Tuning t = tuning_for(22050.0);
    const size_t n = static_cast<size_t>(0.3 * t.rate);
    std::vector<double> x(n);
    Random rng(0xb2a5);
    double low = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double s = static_cast<double>(i) / t.rate;
        low += 0.35 * (rng.signed_unit() - low);
        const double noise = low * std::min(1.0, s / 0.008) * std::exp(-s / 0.07);
        const double body = 0.6 * std::sin(2.0 * kPi * 185.0 * s) * std::min(1.0, s / 0.002) * std::exp(-s / 0.04);
        const double tail = std::min(1.0, static_cast<double>(n - i) / (0.02 * t.rate));
        x[i] = (noise + body) * tail;
    }
    return make_sample("brush", to_pcm(x, 0.85), t, false);
}

// Wind: band-limited noise with a slow swell, looped; the last stretch is cross-faded into the noise that follows
// the loop's start, so the loop point is seamless.
xm::Sample wind() {
    const Tuning t = tuning_for(22050.0);
    const size_t n = static_cast<size_t>(2.0 * t.rate);
    const size_t fade = static_cast<size_t>(0.25 * t.rate);
    std::vector<double> y(n + fade);
    Random rng(0x3a1d);
    double a = 0.0, b = 0.0, hp = 0.0;
    for (double& v : y) {
        const double white = rng.signed_unit();
        a += 0.08 * (white - a);
        b += 0.08 * (a - b);    // two one-pole low-passes: a soft, breathy band
        hp += 0.01 * (b - hp);  // minus the rumble
        v = b - hp;
    }
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i) {
        const double motion = 0.75 + 0.25 * std::sin(2.0 * kPi * 2.0 * static_cast<double>(i) / n);
        double v = y[i];
        if (i < fade) {
            const double w = 0.5 * kPi * static_cast<double>(i) / fade;
            v = y[i] * std::sin(w) + y[i + n] * std::cos(w);
        }
        x[i] = v * motion;
    }
    return make_sample("wind", to_pcm(x, 0.85), t, true);
}

xm::Instrument instrument(const char* name, xm::Sample sample, std::vector<xm::Envelope::Point> env, int sustain,
                          uint16_t fadeout) {
    xm::Instrument ins;
    ins.name = name;
    ins.samples.push_back(std::move(sample));
    ins.volume_envelope.points = std::move(env);
    ins.volume_envelope.sustain = sustain;
    ins.fadeout = fadeout;
    return ins;
}

enum InstrumentId : uint8_t {
    I_PAD = 1,
    I_BASS,
    I_KICK,
    I_SHAKER,
    I_BRUSH,
    I_MALLET,
    I_FLUTE,
    I_WIND,
    I_GLASS
};

std::vector<xm::Instrument> instruments() {
    std::vector<xm::Instrument> list;
    // Warm pad: three detuned voices of a soft, darkened saw spectrum; slow attack, long release.
    {
        std::vector<double> partials;
        for (int h = 1; h <= 40; ++h) partials.push_back(std::exp(-h / 7.0) / std::pow(h, 0.8));
        list.push_back(instrument("warm pad",
                                  additive_loop("warm pad", 128, 128, {{-1, 0.8}, {0, 1.0}, {1, 0.8}}, partials, 11),
                                  {{0, 0}, {60, 64}, {150, 0}}, 1, 300));
    }
    // Bass: round fundamental with a few low harmonics; short release so repeated notes do not smear.
    list.push_back(instrument("bass", additive_loop("bass", 256, 1, {{0, 1.0}}, {1.0, 0.45, 0.2, 0.09, 0.04, 0.02}, 23),
                              {{0, 0}, {2, 64}, {40, 48}, {48, 0}}, 2, 2000));
    list.push_back(instrument("soft kick", kick(), {}, -1, 0));
    list.push_back(instrument("shaker", shaker(), {}, -1, 0));
    list.push_back(instrument("brush", brush(), {}, -1, 0));
    list.push_back(instrument("mallet", mallet("mallet"), {}, -1, 0));
    // Flute-like lead: nearly a sine with a breath of upper harmonics, and a vibrato that sets in after the attack.
    {
        xm::Instrument flute = instrument(
            "flute", additive_loop("flute", 128, 2, {{0, 1.0}}, {1.0, 0.16, 0.09, 0.03, 0.02, 0.0, 0.01}, 37),
            {{0, 0}, {6, 64}, {24, 54}, {44, 0}}, 2, 900);
        flute.vibrato_type = 0;
        flute.vibrato_sweep = 40;
        flute.vibrato_depth = 3;
        flute.vibrato_rate = 10;
        list.push_back(std::move(flute));
    }
    list.push_back(instrument("wind", wind(), {{0, 0}, {180, 64}, {260, 0}}, 1, 120));
    // Glass: sine and octave with a touch of the fourth partial, two voices a hair apart.
    list.push_back(instrument("glass", additive_loop("glass", 64, 64, {{0, 1.0}, {1, 0.7}}, {1.0, 0.3, 0.06, 0.12}, 41),
                              {{0, 0}, {40, 64}, {200, 0}}, 1, 200));
    return list;
}

// ---------------------------------------------------------------------------------------------------------------
// Composition

enum Channel : int {
    PAD_A = 0,  // 0..3: one chord
    PAD_B = 4,  // 4..7: the next chord, so each chord's release overlaps the next one's attack
    BASS = 8,
    KICK = 9,
    SHAKER = 10,
    BRUSH = 11,
    ARP = 12,       // 12, 13: the arpeggio, alternating so each note rings out
    ARP_ECHO = 14,  // 14, 15: its echo, three rows later, on the other side
    LEAD = 16,      // 16, 17: the melody, alternating for clean legato
    LEAD_ECHO = 18,
    WIND = 19,
    GLASS = 20,
    CHANNELS = 22,  // an even count; the last one is free
};

struct Chord {
    int bass;    // MIDI note
    int pad[4];  // MIDI notes, low to high
};

struct Note {
    int row, midi, length;
};

using Progression = std::array<Chord, 4>;  // one chord every 32 rows

// Am9 - Fmaj9 - Cadd9 - G6sus: the home progression.
const Progression kHome = {
    {{45, {60, 64, 67, 71}}, {41, {57, 60, 64, 67}}, {48, {55, 59, 62, 64}}, {43, {59, 62, 64, 69}}}};
// Dm9 - Am7 - Bbmaj7 - E: the lift.
const Progression kLift = {
    {{50, {53, 57, 60, 64}}, {45, {55, 60, 64, 69}}, {46, {57, 62, 65, 69}}, {40, {56, 59, 64, 68}}}};
// Fmaj7 - Em7 - Dm9 - Cmaj7: the breakdown, stepping down.
const Progression kFall = {
    {{41, {57, 60, 64, 67}}, {40, {55, 59, 62, 67}}, {38, {53, 57, 60, 64}}, {36, {55, 59, 64, 67}}}};
// Fmaj9 - G6 - Em7 - Am9: the climax, resolving home.
const Progression kRise = {
    {{41, {57, 60, 64, 67}}, {43, {59, 62, 64, 67}}, {40, {55, 59, 62, 67}}, {45, {60, 64, 67, 71}}}};

const std::vector<Note> kMelodyHome = {{0, 76, 12}, {12, 74, 4},  {16, 72, 8},  {24, 71, 8}, {32, 69, 12},
                                       {44, 72, 4}, {48, 76, 14}, {64, 67, 8},  {72, 72, 8}, {80, 76, 8},
                                       {88, 74, 6}, {96, 74, 14}, {112, 71, 14}};
const std::vector<Note> kMelodyLift = {{0, 77, 8},   {8, 76, 4},   {12, 74, 4},  {16, 69, 14}, {32, 72, 8},
                                       {40, 76, 8},  {48, 79, 12}, {60, 76, 4},  {64, 77, 12}, {76, 74, 4},
                                       {80, 81, 14}, {96, 68, 8},  {104, 71, 8}, {112, 76, 14}};
const std::vector<Note> kMelodyRise = {{0, 84, 8},  {8, 81, 8},  {16, 79, 8},  {24, 76, 8},  {32, 74, 8},
                                       {40, 76, 4}, {44, 79, 4}, {48, 83, 14}, {64, 79, 8},  {72, 76, 8},
                                       {80, 74, 8}, {88, 71, 8}, {96, 72, 8},  {104, 71, 8}, {112, 69, 14}};

uint8_t xm_note(int midi) { return static_cast<uint8_t>(std::clamp(midi - 11, 1, 96)); }  // MIDI 60 = C-4

class Writer {
public:
    // Writes into p; `offset` rows are added to every row given (a pattern that starts with a lead-in).
    explicit Writer(xm::Pattern& p, int offset = 0) : p_(p), offset_(offset) {}

    // The rows the composition functions lay out, after the lead-in.
    int rows() const { return p_.rows - offset_; }

    // A note with its volume (0..64) and panning (0 left .. 255 right).
    void note(int row, int channel, int midi, uint8_t instrument, int volume, int pan) {
        row += offset_;
        if (row < 0 || row >= p_.rows) return;
        xm::Cell& c = p_.at(row, channel);
        c.note = xm_note(midi);
        c.instrument = instrument;
        c.volume = xm::vol(std::clamp(volume, 0, 64));
        c.effect = xm::FX_PANNING;
        c.param = static_cast<uint8_t>(std::clamp(pan, 0, 255));
    }
    // Releases the channel's note, unless a new note starts there anyway. A release that would fall beyond the
    // pattern lands on its last row, so a note cut short by a short pattern never hangs on into the next one.
    void off(int row, int channel) {
        row += offset_;
        if (row < 0) return;
        if (row >= p_.rows) row = p_.rows - 1;
        xm::Cell& c = p_.at(row, channel);
        if (c.note == 0) c.note = xm::KEY_OFF;
    }

private:
    xm::Pattern& p_;
    int offset_;
};

constexpr int kPadPan[4] = {88, 168, 120, 200};

// One chord every 32 rows, as many as the pattern holds (the last one possibly cut short).
void pads(Writer& w, const Progression& prog, int volume) {
    for (int i = 0; i * 32 < w.rows() && i < 4; ++i) {
        const int row = i * 32;
        const int set = (i % 2) ? PAD_B : PAD_A;
        const int other = (i % 2) ? PAD_A : PAD_B;
        for (int v = 0; v < 4; ++v) {
            w.note(row, set + v, prog[static_cast<size_t>(i)].pad[v], I_PAD, volume, kPadPan[v]);
            w.off(row, other + v);
        }
    }
}

// style 0: one long note a chord; style 1: root, root again, a fifth leading on.
void bass(Writer& w, const Progression& prog, int volume, int style, int from_row = 0, int to_row = kRows) {
    for (int i = 0; i < 4; ++i) {
        const int row = i * 32;
        if (row < from_row || row >= to_row || row >= w.rows()) continue;
        const int root = prog[static_cast<size_t>(i)].bass;
        if (style == 0) {
            w.note(row, BASS, root, I_BASS, volume, 128);
            w.off(row + 30, BASS);
        } else {
            w.note(row, BASS, root, I_BASS, volume, 128);
            w.off(row + 14, BASS);
            w.note(row + 16, BASS, root, I_BASS, volume - 4, 128);
            w.off(row + 26, BASS);
            w.note(row + 28, BASS, root + 7, I_BASS, volume - 10, 128);
            w.off(row + 31, BASS);
        }
    }
}

struct Drums {
    int kick = 0;        // volume, 0 = none
    int shaker = 0;      // off-beat eighths
    int sixteenths = 0;  // the quiet in-between shakes
    int brush = 0;       // on the third beat of each bar
    int from_row = 0;
    int to_row = kRows;
};

void drums(Writer& w, const Drums& d) {
    for (int bar = 0; bar * 16 < w.rows(); ++bar) {
        const int r = bar * 16;
        if (r < d.from_row || r >= d.to_row) continue;
        if (d.kick) {
            w.note(r, KICK, 60, I_KICK, d.kick, 128);
            w.note(r + 10, KICK, 60, I_KICK, d.kick - 10, 128);
        }
        if (d.shaker) {
            for (int k = 2; k < 16; k += 4) w.note(r + k, SHAKER, 60, I_SHAKER, d.shaker, 164);
        }
        if (d.sixteenths) {
            for (int k = 1; k < 16; k += 2) {
                if (k % 4 == 3) w.note(r + k, SHAKER, 60, I_SHAKER, d.sixteenths, 172);
            }
        }
        if (d.brush) w.note(r + 8, BRUSH, 60, I_BRUSH, d.brush, 100);
    }
}

// The fill that carries the music into the next scene: over the pattern's last `length` rows a brush roll that
// goes from eighths to sixteenths and swells into the downbeat, tossed from side to side, with two kicks pushing
// into the change. It replaces whatever the drums play there.
void fill(Writer& w, int length, int volume, bool kicks = true) {
    const int end = w.rows();
    for (int r = end - length; r < end; ++r) {
        const int left = end - r;
        const bool dense = left <= length / 2;
        if (!dense && r % 2 != 0) continue;
        const int v = volume - (left * 14) / length;
        w.note(r, BRUSH, 60, I_BRUSH, v, (r % 2) ? 176 : 80);
        if (dense) w.note(r, SHAKER, 60, I_SHAKER, v / 2, 164);
    }
    if (kicks) {
        w.note(end - 4, KICK, 60, I_KICK, volume + 6, 128);
        w.note(end - 2, KICK, 60, I_KICK, volume + 8, 128);
    }
}

// Chord tones an octave up, walked in a figure of eight notes, a note every two rows, with an echo three rows later
// on the other side. `volume_at(row)` shapes the entrance and the exit.
template <typename VolumeAt>
void arpeggio(Writer& w, const Progression& prog, int step_rows, VolumeAt volume_at) {
    static constexpr int kFigure[8] = {0, 2, 1, 3, 2, 4, 3, 1};
    int k = 0;
    for (int row = 0; row < w.rows() && row < kRows; row += step_rows, ++k) {
        const Chord& c = prog[static_cast<size_t>(row / 32)];
        const int idx = kFigure[k % 8];
        const int midi = (idx == 4 ? c.pad[0] + 12 : c.pad[idx]) + 12;
        const int volume = volume_at(row);
        if (volume <= 0) continue;
        w.note(row, ARP + (k % 2), midi, I_MALLET, volume, 76);
        w.note(row + 3, ARP_ECHO + (k % 2), midi, I_MALLET, volume * 2 / 5, 196);
    }
}

void melody(Writer& w, const std::vector<Note>& notes, int volume) {
    for (size_t i = 0; i < notes.size(); ++i) {
        const Note& n = notes[i];
        if (n.row >= w.rows()) continue;
        const int channel = LEAD + static_cast<int>(i % 2);
        w.note(n.row, channel, n.midi, I_FLUTE, volume, 118);
        w.off(std::min(n.row + n.length, w.rows() - 1), channel);
        w.note(n.row + 3, LEAD_ECHO, n.midi, I_FLUTE, volume * 3 / 10, 176);
        w.off(std::min(n.row + n.length + 1, w.rows() - 1), LEAD_ECHO);
    }
}

void glass(Writer& w, const Progression& prog, int volume) {
    for (int i = 0; i < 4 && i * 32 < w.rows(); ++i) {
        const Chord& c = prog[static_cast<size_t>(i)];
        w.note(i * 32, GLASS, c.pad[3] + 12, I_GLASS, volume, 150);
        w.note(i * 32 + 16, GLASS, c.pad[2] + 12, I_GLASS, volume - 6, 110);
        w.off(i * 32 + 30, GLASS);
    }
}

// The bell that marks a new scene on its first row, over the chord's top note.
void accent(Writer& w, const Chord& chord, int volume) {
    w.note(0, GLASS, chord.pad[3] + 24, I_GLASS, volume, 140);
    w.off(24, GLASS);
}

void wind_swell(Writer& w, int row, int volume, int off_row) {
    w.note(row, WIND, 60, I_WIND, volume, 128);
    w.off(off_row, WIND);
}

// The home chords for the 96-row first picture, ending on G to lead into the lift.
const Progression kHomeShort = {kHome[0], kHome[1], kHome[3], kHome[3]};
// The lift for the 96-row second picture: Dm9 - Am7 - E, the dominant that leads home into the captions.
const Progression kLiftShort = {kLift[0], kLift[1], kLift[3], kLift[3]};
// The logo's 72 rows: Fmaj9 - G6 - E for half a bar, resolving to A minor as the scroller starts.
const Progression kRiseShort = {kRise[0], kRise[1], kLift[3], kLift[3]};
const std::vector<Note> kMelodyRiseShort = {{0, 84, 8},  {8, 81, 8},  {16, 79, 8},  {24, 76, 8}, {32, 74, 8},
                                            {40, 76, 4}, {44, 79, 4}, {48, 83, 14}, {64, 80, 7}};

std::vector<xm::Pattern> compose() {
    std::vector<xm::Pattern> patterns;
    auto next = [&patterns](int rows, int lead_in = 0) -> Writer {
        patterns.emplace_back(rows + lead_in, CHANNELS);
        return Writer(patterns.back(), lead_in);
    };
    const auto flat = [](int v) { return [v](int) { return v; }; };

    {  // 0: the countdown begins: a row of silence, then three chords of pads alone and a breath of wind.
        Writer w = next(kCountdownFirstRows, 1);
        pads(w, kHomeShort, 30);
        wind_swell(w, 0, 14, 88);
    }
    {  // 1: bass joins, the shaker creeps in, the wind swells, and a brush roll drives into the drop.
        Writer w = next(kRows);
        pads(w, kHome, 30);
        bass(w, kHome, 40, 0);
        drums(w, {.shaker = 10, .from_row = 64});
        wind_swell(w, 84, 34, kRows);
        fill(w, 16, 40);
    }
    {  // 2: first picture, on the drop: the beat and the arpeggio arrive under a bell.
        Writer w = next(kPictureRows);
        w.off(0, WIND);
        pads(w, kHomeShort, 28);
        bass(w, kHomeShort, 44, 1);
        drums(w, {.kick = 48, .shaker = 24});
        arpeggio(w, kHomeShort, 2, flat(30));
        accent(w, kHomeShort[0], 34);
        fill(w, 8, 38);
    }
    {  // 3: second picture: new chords, the brush on three, ending on the dominant.
        Writer w = next(kPictureRows);
        pads(w, kLiftShort, 28);
        bass(w, kLiftShort, 44, 1);
        drums(w, {.kick = 48, .shaker = 24, .sixteenths = 11, .brush = 34});
        arpeggio(w, kLiftShort, 2, flat(30));
        accent(w, kLiftShort[0], 30);
        fill(w, 8, 40);
    }
    {  // 4: first captions: the melody enters, the arpeggio leaves.
        Writer w = next(kRows);
        pads(w, kHome, 26);
        bass(w, kHome, 44, 1);
        drums(w, {.kick = 48, .shaker = 24, .brush = 34});
        melody(w, kMelodyHome, 34);
        arpeggio(w, kHome, 2, [](int row) { return row < 16 ? 24 - row : 0; });
        accent(w, kHome[0], 30);
    }
    {  // 5: second captions: the lift, melody and arpeggio together.
        Writer w = next(kRows);
        pads(w, kLift, 26);
        bass(w, kLift, 44, 1);
        drums(w, {.kick = 48, .shaker = 24, .sixteenths = 11, .brush = 34});
        melody(w, kMelodyLift, 34);
        arpeggio(w, kLift, 2, flat(22));
    }
    {  // 6: third captions: the breakdown: no beat, glass, a slower arpeggio, the wind.
        Writer w = next(kRows);
        pads(w, kFall, 30);
        bass(w, kFall, 40, 0);
        glass(w, kFall, 28);
        arpeggio(w, kFall, 4, flat(26));
        drums(w, {.shaker = 9, .from_row = 64});
        wind_swell(w, 84, 30, kRows);
    }
    {  // 7: fourth captions: everything back, the home melody again, a roll into the logo.
        Writer w = next(kRows);
        w.off(0, WIND);
        w.off(0, GLASS);
        pads(w, kHome, 26);
        bass(w, kHome, 44, 1);
        drums(w, {.kick = 48, .shaker = 24, .sixteenths = 11, .brush = 34});
        melody(w, kMelodyHome, 34);
        arpeggio(w, kHome, 2, flat(22));
        fill(w, 8, 42);
    }
    {  // 8: the logo: the climax, the melody high over the rising chords, a last roll into the scroller.
        Writer w = next(kLogoRows);
        pads(w, kRiseShort, 28);
        bass(w, kRiseShort, 46, 1);
        drums(w, {.kick = 50, .shaker = 26, .sixteenths = 12, .brush = 36});
        melody(w, kMelodyRiseShort, 36);
        arpeggio(w, kRiseShort, 2, flat(22));
        glass(w, kRiseShort, 18);
        accent(w, kRiseShort[0], 32);
        fill(w, 8, 42);
    }
    {  // 9: the outro: the beat stops halfway, the arpeggio fades, the pads carry on into the top of the song.
        Writer w = next(kRows);
        w.off(0, GLASS);
        pads(w, kHome, 28);
        bass(w, kHome, 40, 0, 0, 96);
        drums(w, {.kick = 44, .shaker = 16, .to_row = 64});
        arpeggio(w, kHome, 2, [](int row) { return 28 - row * 28 / kRows; });
        wind_swell(w, 64, 16, 120);
    }
    return patterns;
}

}  // namespace

xm::Module soundtrack_module() {
    xm::Module m;
    m.name = "ambient3";
    m.tracker = "Zorbrix soundtrack";
    m.channels = CHANNELS;
    m.speed = 6;
    m.bpm = 125;
    m.linear_frequencies = true;
    m.restart_position = 0;
    m.patterns = compose();
    for (size_t i = 0; i < m.patterns.size(); ++i) m.orders.push_back(static_cast<uint8_t>(i));
    m.instruments = instruments();
    return m;
}

std::vector<uint8_t> compose_soundtrack() { return xm::write_module(soundtrack_module()); }

bool write_soundtrack(const std::string& path, std::string* error) {
    const std::vector<uint8_t> bytes = compose_soundtrack();
    if (bytes.empty()) {
        if (error) *error = "the module could not be composed";
        return false;
    }
    return write_output_file(path, bytes.data(), bytes.size(), error);
}

}  // namespace zorbrix::music
