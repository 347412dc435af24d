#include "assets/music/xm_writer.h"

#include <algorithm>
#include <cstring>

namespace zorbrix::xm {

namespace {

class Out {
public:
    void u8(unsigned v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void u16(unsigned v) {
        u8(v & 0xff);
        u8((v >> 8) & 0xff);
    }
    void u32(uint32_t v) {
        u16(v & 0xffff);
        u16(v >> 16);
    }
    // Fixed-width text field, padded with `pad`, cut when longer.
    void text(const std::string& s, size_t width, char pad = ' ') {
        for (size_t i = 0; i < width; ++i) u8(static_cast<uint8_t>(i < s.size() ? s[i] : pad));
    }
    void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    void patch_u16(size_t at, unsigned v) {
        bytes[at] = static_cast<uint8_t>(v & 0xff);
        bytes[at + 1] = static_cast<uint8_t>((v >> 8) & 0xff);
    }
    std::vector<uint8_t> bytes;
};

bool check_envelope(const Envelope& env, const char* what, std::string* why) {
    if (env.points.size() > 12) {
        *why = std::string(what) + " envelope has more than 12 points";
        return false;
    }
    for (size_t i = 0; i < env.points.size(); ++i) {
        if (env.points[i].value > 64) {
            *why = std::string(what) + " envelope value above 64";
            return false;
        }
        if (i > 0 && env.points[i].tick <= env.points[i - 1].tick) {
            *why = std::string(what) + " envelope ticks must rise";
            return false;
        }
    }
    const auto n = static_cast<int>(env.points.size());
    auto bad_index = [n](int i) { return i >= n || i < -1; };
    if (bad_index(env.sustain) || bad_index(env.loop_start) || bad_index(env.loop_end) ||
        ((env.loop_start < 0) != (env.loop_end < 0)) || (env.loop_start > env.loop_end)) {
        *why = std::string(what) + " envelope sustain or loop point out of range";
        return false;
    }
    return true;
}

bool check(const Module& m, std::string* why) {
    if (m.channels < 1 || m.channels > 32) return *why = "channel count outside 1..32", false;
    if (m.orders.empty() || m.orders.size() > 256) return *why = "order count outside 1..256", false;
    if (m.patterns.empty() || m.patterns.size() > 256) return *why = "pattern count outside 1..256", false;
    if (m.instruments.size() > 128) return *why = "more than 128 instruments", false;
    if (m.speed < 1 || m.speed > 31) return *why = "speed outside 1..31", false;
    if (m.bpm < 32 || m.bpm > 255) return *why = "BPM outside 32..255", false;
    if (m.restart_position < 0 || m.restart_position >= static_cast<int>(m.orders.size()))
        return *why = "restart position beyond the order list", false;
    for (uint8_t o : m.orders)
        if (o >= m.patterns.size()) return *why = "an order names a pattern that does not exist", false;
    for (const Pattern& p : m.patterns) {
        if (p.rows < 1 || p.rows > 256) return *why = "pattern rows outside 1..256", false;
        if (p.channels != m.channels || p.cells.size() != static_cast<size_t>(p.rows * p.channels))
            return *why = "pattern channel count differs from the module's", false;
        for (const Cell& c : p.cells) {
            if (c.note > KEY_OFF) return *why = "note value above key-off", false;
            if (c.instrument > m.instruments.size()) return *why = "cell names a missing instrument", false;
        }
    }
    for (const Instrument& ins : m.instruments) {
        if (ins.samples.size() > 16) return *why = "instrument with more than 16 samples", false;
        for (uint8_t k : ins.keymap)
            if (!ins.samples.empty() && k >= ins.samples.size()) return *why = "keymap names a missing sample", false;
        if (!check_envelope(ins.volume_envelope, "volume", why)) return false;
        if (!check_envelope(ins.panning_envelope, "panning", why)) return false;
        for (const Sample& s : ins.samples) {
            if (s.volume > 64) return *why = "sample volume above 64", false;
            if (!s.sixteen_bit &&
                std::any_of(s.data.begin(), s.data.end(), [](int16_t v) { return v < -128 || v > 127; }))
                return *why = "8-bit sample value out of range", false;
            if (s.data.size() > 0x3fffffff) return *why = "sample too long", false;
            if (s.loop != Sample::Loop::None &&
                (s.loop_length == 0 || s.loop_start > s.data.size() || s.loop_length > s.data.size() - s.loop_start))
                return *why = "sample loop outside the sample", false;
        }
    }
    return true;
}

void write_envelope_points(Out& out, const Envelope& env) {
    for (size_t i = 0; i < 12; ++i) {
        if (i < env.points.size()) {
            out.u16(env.points[i].tick);
            out.u16(env.points[i].value);
        } else {
            out.u32(0);
        }
    }
}

unsigned envelope_type(const Envelope& env) {
    if (env.points.empty()) return 0;
    return 1u | (env.sustain >= 0 ? 2u : 0u) | (env.loop_start >= 0 ? 4u : 0u);
}

void write_pattern(Out& out, const Pattern& p) {
    out.u32(9);  // header length
    out.u8(0);   // packing type
    out.u16(static_cast<unsigned>(p.rows));
    const size_t size_at = out.bytes.size();
    out.u16(0);
    const size_t start = out.bytes.size();
    for (const Cell& c : p.cells) {
        // Packed form: a flag byte (bit 7 set) saying which of the five fields follow.
        unsigned flags = 0x80;
        if (c.note) flags |= 1;
        if (c.instrument) flags |= 2;
        if (c.volume) flags |= 4;
        if (c.effect) flags |= 8;
        if (c.param) flags |= 16;
        out.u8(flags);
        if (c.note) out.u8(c.note);
        if (c.instrument) out.u8(c.instrument);
        if (c.volume) out.u8(c.volume);
        if (c.effect) out.u8(c.effect);
        if (c.param) out.u8(c.param);
    }
    out.patch_u16(size_at, static_cast<unsigned>(out.bytes.size() - start));
}

void write_instrument(Out& out, const Instrument& ins) {
    const bool has_samples = !ins.samples.empty();
    out.u32(has_samples ? 263 : 29);  // instrument header size
    out.text(ins.name, 22, '\0');
    out.u8(0);
    out.u16(static_cast<unsigned>(ins.samples.size()));
    if (!has_samples) return;
    out.u32(40);  // sample header size
    for (uint8_t k : ins.keymap) out.u8(k);
    write_envelope_points(out, ins.volume_envelope);
    write_envelope_points(out, ins.panning_envelope);
    out.u8(static_cast<unsigned>(ins.volume_envelope.points.size()));
    out.u8(static_cast<unsigned>(ins.panning_envelope.points.size()));
    for (const Envelope* env : {&ins.volume_envelope, &ins.panning_envelope}) {
        out.u8(static_cast<unsigned>(std::max(env->sustain, 0)));
        out.u8(static_cast<unsigned>(std::max(env->loop_start, 0)));
        out.u8(static_cast<unsigned>(std::max(env->loop_end, 0)));
    }
    out.u8(envelope_type(ins.volume_envelope));
    out.u8(envelope_type(ins.panning_envelope));
    out.u8(ins.vibrato_type);
    out.u8(ins.vibrato_sweep);
    out.u8(ins.vibrato_depth);
    out.u8(ins.vibrato_rate);
    out.u16(ins.fadeout);
    out.zeros(22);  // reserved

    const auto bytes_per_frame = [](const Sample& s) { return s.sixteen_bit ? 2u : 1u; };
    for (const Sample& s : ins.samples) {
        const uint32_t k = bytes_per_frame(s);
        out.u32(static_cast<uint32_t>(s.data.size()) * k);
        const bool looped = s.loop != Sample::Loop::None;
        out.u32(looped ? s.loop_start * k : 0);
        out.u32(looped ? s.loop_length * k : 0);
        out.u8(s.volume);
        out.u8(static_cast<uint8_t>(s.finetune));
        unsigned type = s.loop == Sample::Loop::Forward ? 1 : s.loop == Sample::Loop::PingPong ? 2 : 0;
        if (s.sixteen_bit) type |= 16;
        out.u8(type);
        out.u8(s.panning);
        out.u8(static_cast<uint8_t>(s.relative_note));
        out.u8(0);
        out.text(s.name, 22, '\0');
    }
    // Sample data follows all the headers, each value stored as the difference from the previous one.
    for (const Sample& s : ins.samples) {
        int16_t previous = 0;
        for (int16_t v : s.data) {
            const auto delta = static_cast<int16_t>(static_cast<uint16_t>(v) - static_cast<uint16_t>(previous));
            if (s.sixteen_bit) {
                out.u16(static_cast<uint16_t>(delta));
            } else {
                out.u8(static_cast<uint8_t>(delta & 0xff));
            }
            previous = v;
        }
    }
}

}  // namespace

std::vector<uint8_t> write_module(const Module& m, std::string* error) {
    std::string why;
    if (!check(m, &why)) {
        if (error) *error = why;
        return {};
    }
    Out out;
    out.text("Extended Module: ", 17);
    out.text(m.name, 20, '\0');
    out.u8(0x1a);
    out.text(m.tracker, 20, ' ');
    out.u16(0x0104);
    out.u32(276);  // header size, counted from this field: 20 bytes of fields and the 256-entry order table
    out.u16(static_cast<unsigned>(m.orders.size()));
    out.u16(static_cast<unsigned>(m.restart_position));
    out.u16(static_cast<unsigned>(m.channels));
    out.u16(static_cast<unsigned>(m.patterns.size()));
    out.u16(static_cast<unsigned>(m.instruments.size()));
    out.u16(m.linear_frequencies ? 1 : 0);
    out.u16(static_cast<unsigned>(m.speed));
    out.u16(static_cast<unsigned>(m.bpm));
    for (size_t i = 0; i < 256; ++i) out.u8(i < m.orders.size() ? m.orders[i] : 0);
    // At most 6 bytes a cell, 256 rows of 32 channels: the packed size always fits its 16-bit field.
    for (const Pattern& p : m.patterns) write_pattern(out, p);
    for (const Instrument& ins : m.instruments) write_instrument(out, ins);
    return std::move(out.bytes);
}

}  // namespace zorbrix::xm
