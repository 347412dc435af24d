#pragma once
// A FastTracker 2 extended module (XM, version 0x0104) in memory, and its serialisation: patterns packed the FT2
// way, instruments with volume and panning envelopes and auto-vibrato, samples 8- or 16-bit, delta-coded on disk.
// Used by the soundtrack generator and by tests that need modules with particular pattern effects.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zorbrix::xm {

constexpr uint8_t KEY_OFF = 97;  // the note value that releases the playing note

// Note numbers: 1 is C-0, 49 is C-4, 96 is B-7; 0 is "no note".
constexpr uint8_t note(int octave, int semitone) { return static_cast<uint8_t>(1 + octave * 12 + semitone); }

// Effect numbers used by this project (the standard XM letters).
enum Effect : uint8_t {
    FX_ARPEGGIO = 0x0,
    FX_PORTA_UP = 0x1,
    FX_PORTA_DOWN = 0x2,
    FX_TONE_PORTA = 0x3,
    FX_VIBRATO = 0x4,
    FX_PANNING = 0x8,
    FX_VOLUME_SLIDE = 0xA,
    FX_POSITION_JUMP = 0xB,
    FX_SET_VOLUME = 0xC,
    FX_PATTERN_BREAK = 0xD,  // parameter is the target row in BCD, as FT2 stores it
    FX_EXTENDED = 0xE,       // E6x pattern loop, EEx pattern delay, ...
    FX_SPEED_TEMPO = 0xF,
    FX_GLOBAL_VOLUME = 0x10,  // G
};

struct Cell {
    uint8_t note = 0;        // 0 none, 1..96, KEY_OFF
    uint8_t instrument = 0;  // 0 none, 1..128
    uint8_t volume = 0;      // volume column: 0 none, 0x10..0x50 set volume 0..64, other column effects
    uint8_t effect = 0;
    uint8_t param = 0;
    bool empty() const { return note == 0 && instrument == 0 && volume == 0 && effect == 0 && param == 0; }
};

// Volume column value that sets volume v (0..64).
constexpr uint8_t vol(int v) { return static_cast<uint8_t>(0x10 + (v < 0 ? 0 : v > 64 ? 64 : v)); }

struct Pattern {
    Pattern(int rows, int channels) : rows(rows), channels(channels), cells(static_cast<size_t>(rows * channels)) {}
    Cell& at(int row, int channel) { return cells.at(static_cast<size_t>(row * channels + channel)); }
    const Cell& at(int row, int channel) const { return cells.at(static_cast<size_t>(row * channels + channel)); }
    int rows;
    int channels;
    std::vector<Cell> cells;  // row-major
};

struct Envelope {
    struct Point {
        uint16_t tick;   // ticks from the note's start, rising
        uint16_t value;  // 0..64
    };
    std::vector<Point> points;  // up to 12; an envelope with no points is off
    int sustain = -1;           // index of the sustain point, or -1
    int loop_start = -1;        // loop point indices, or -1
    int loop_end = -1;
};

struct Sample {
    enum class Loop {
        None,
        Forward,
        PingPong
    };
    std::string name;
    bool sixteen_bit = true;
    std::vector<int16_t> data;  // frames; for 8-bit samples every value must lie in -128..127
    Loop loop = Loop::None;
    uint32_t loop_start = 0;   // in frames
    uint32_t loop_length = 0;  // in frames
    uint8_t volume = 64;       // 0..64
    int8_t finetune = 0;       // -128..127, 1/128 semitone
    uint8_t panning = 128;     // 0..255
    int8_t relative_note = 0;  // semitones; 0 plays C-4 at 8363 Hz
};

struct Instrument {
    std::string name;
    std::vector<Sample> samples;
    std::array<uint8_t, 96> keymap{};  // sample index for each note
    Envelope volume_envelope;
    Envelope panning_envelope;
    uint8_t vibrato_type = 0;  // 0 sine, 1 square, 2 ramp down, 3 ramp up
    uint8_t vibrato_sweep = 0;
    uint8_t vibrato_depth = 0;
    uint8_t vibrato_rate = 0;
    uint16_t fadeout = 0;  // volume lost per tick after key-off, out of 32768
};

struct Module {
    std::string name;
    std::string tracker = "Zorbrix";
    int channels = 8;  // 2..32
    int speed = 6;     // ticks per row
    int bpm = 125;
    bool linear_frequencies = true;
    int restart_position = 0;
    std::vector<uint8_t> orders;  // pattern index of each order
    std::vector<Pattern> patterns;
    std::vector<Instrument> instruments;
};

// The module in XM format. Empty, with the reason in *error when given, when the module breaks one of the format's
// limits (no orders, an order naming a missing pattern, rows outside 1..256, a pattern of the wrong channel count,
// an 8-bit sample value out of range, more than 12 envelope points, ...).
std::vector<uint8_t> write_module(const Module& module, std::string* error = nullptr);

}  // namespace zorbrix::xm
