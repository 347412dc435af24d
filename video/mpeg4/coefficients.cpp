// Texture event decoding into blocks; see coefficients.h.
#include "video/mpeg4/coefficients.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::mpeg4 {
namespace {

// A packed entry for the next 12 bits: bits 0..3 the code length plus one (the code and the sign bit after it,
// what an event consumes: the field is the shift itself, so the next lookup waits on one mask and one shift),
// 4..9 the run, 10 last, 11..15 the level. An escape has run kSlowRun and length 7; an invalid code is kSlowRun
// with length 0.
constexpr int kLookupBits = 12;
constexpr uint32_t kSlowRun = 63;
constexpr uint32_t kLastBit = 1u << 10;

constexpr uint16_t pack(int run, int length, int last, int level) {
    return static_cast<uint16_t>((length + 1) | run << 4 | last << 10 | level << 11);
}
constexpr int run_of(uint32_t e) { return static_cast<int>((e >> 4) & 63); }
constexpr int length_of(uint32_t e) { return static_cast<int>(e & 15) - 1; }
constexpr int event_bits_of(uint32_t e) { return static_cast<int>(e & 15); }
constexpr int level_of(uint32_t e) { return static_cast<int>(e >> 11); }

struct EventTable {
    uint16_t e[1 << kLookupBits];
};

EventTable build_event_table(const TcoefCode (&codes)[102]) {
    EventTable t;
    for (auto& x : t.e) x = pack(kSlowRun, 0, 0, 0);
    auto fill = [&](uint32_t code, int length, uint16_t entry) {
        const int shift = kLookupBits - length;
        for (uint32_t k = 0; k < (1u << shift); ++k) t.e[(code << shift) + k] = entry;
    };
    for (const TcoefCode& c : codes) fill(c.code, c.length, pack(c.run, c.length, c.last, c.level));
    fill(kTcoefEscapeCode, kTcoefEscapeLength, pack(kSlowRun, kTcoefEscapeLength, 0, 0));
    return t;
}

const EventTable kIntraEvents = build_event_table(kIntraTcoef);
const EventTable kInterEvents = build_event_table(kInterTcoef);

// extent_of() for every raster position.
struct Extents {
    uint16_t of[64];
};
constexpr Extents make_extents() {
    Extents e{};
    for (int k = 0; k < 64; ++k) e.of[k] = static_cast<uint16_t>(extent_of(k));
    return e;
}
constexpr Extents kExtents = make_extents();

struct Event {
    int last;
    int run;
    int level;
};

// tcoef_lmax and tcoef_rmax as tables, by [intra][last][run or level] (a table event's run is at most 40 and its
// level at most 27).
struct EscapeLimits {
    uint8_t lmax[2][2][64];
    uint8_t rmax[2][2][32];
};
EscapeLimits build_escape_limits() {
    EscapeLimits t{};
    for (int intra = 0; intra < 2; ++intra)
        for (int last = 0; last < 2; ++last) {
            for (int run = 0; run < 64; ++run)
                t.lmax[intra][last][run] = static_cast<uint8_t>(tcoef_lmax(intra != 0, last, run));
            for (int level = 0; level < 32; ++level)
                t.rmax[intra][last][level] = static_cast<uint8_t>(tcoef_rmax(intra != 0, last, level));
        }
    return t;
}
const EscapeLimits kEscapeLimits = build_escape_limits();

// The slow path: `entry` is an escape or an invalid code at the reader. False for an invalid code (nothing
// consumed) or an escape whose inner code is invalid or another escape (escape and mode consumed), which ends
// the block. The three escape modes: level + lmax, run + rmax + 1, or last, run and level as plain fields.
[[gnu::noinline]] bool decode_escape(BitReader& br, const EventTable& table, bool intra, uint32_t entry, Event& ev,
                                     EscapeCounts& escapes) {
    if (length_of(entry) == 0) return false;
    br.skip_bits(kTcoefEscapeLength);
    const uint32_t fields = br.peek_32();
    const uint32_t mode = fields >> 30;
    ++escapes[mode < 2 ? 0 : mode - 1];
    if (mode == 3) {
        // Mode bits, last (1), run (6), marker, level (12, two's complement), marker: 23 bits.
        ev.last = static_cast<int>((fields >> 29) & 1);
        ev.run = static_cast<int>((fields >> 23) & 63);
        const int raw = static_cast<int>((fields >> 10) & 0xFFF);
        ev.level = raw >= 2048 ? raw - 4096 : raw;
        br.skip_bits(23);
        return true;
    }
    br.skip_bits(mode < 2 ? 1 : 2);
    const uint32_t s = table.e[br.peek_bits(kLookupBits)];
    if (run_of(s) == static_cast<int>(kSlowRun)) return false;
    const int last = (s & kLastBit) ? 1 : 0;
    int run = run_of(s);
    int level = level_of(s);
    if (mode < 2)
        level += kEscapeLimits.lmax[intra][last][run];
    else
        run += kEscapeLimits.rmax[intra][last][level] + 1;
    ev.last = last;
    ev.run = run;
    ev.level = br.skip_code_and_sign(length_of(s)) ? -level : level;
    return true;
}

// The third escape mode, the most common one in detailed pictures, without leaving the loop: escape code, mode
// bits 11, last, run (6), marker, level (12, two's complement), marker; 30 bits. False for anything else.
inline bool third_mode_escape(BitReader& br, uint32_t entry, Event& ev, EscapeCounts& escapes) {
    if (length_of(entry) != kTcoefEscapeLength) return false;
    const uint32_t w = br.peek_32();
    if (((w >> 23) & 3) != 3) return false;
    ev.last = static_cast<int>((w >> 22) & 1);
    ev.run = static_cast<int>((w >> 16) & 63);
    const int raw = static_cast<int>((w >> 3) & 0xFFF);
    ev.level = raw >= 2048 ? raw - 4096 : raw;
    br.skip_bits(30);
    ++escapes[2];
    return true;
}

}  // namespace

unsigned decode_intra_coefficients(BitReader& reader, const uint8_t scan[64], int16_t block[64],
                                   EscapeCounts& escapes) {
    // A local copy of the reader stays in registers through the loop; the escape path works on the caller's.
    BitReader br = reader;
    unsigned extent = 0;
    int pos = 1;
    for (;;) {
        const uint32_t e = kIntraEvents.e[br.peek_bits(kLookupBits)];
        const int run = run_of(e);
        uint32_t last;
        int level;
        if (run != static_cast<int>(kSlowRun)) [[likely]] {
            const int sign = br.skip_signed_code(event_bits_of(e));
            last = e & kLastBit;
            pos += run;
            level = (level_of(e) ^ sign) - sign;
        } else {
            Event ev;
            if (!third_mode_escape(br, e, ev, escapes)) {
                reader = br;
                const bool ok = decode_escape(reader, kIntraEvents, true, e, ev, escapes);
                br = reader;
                if (!ok) break;
            }
            last = static_cast<uint32_t>(ev.last);
            pos += ev.run;
            level = ev.level;
        }
        if (pos > 63) break;
        const int raster = scan[pos];
        block[raster] = static_cast<int16_t>(level);
        extent |= kExtents.of[raster];
        ++pos;
        if (last) break;
    }
    reader = br;
    return extent;
}

unsigned decode_inter_coefficients(BitReader& reader, const uint8_t scan[64], int qp, int16_t block[64],
                                   EscapeCounts& escapes) {
    BitReader br = reader;
    // The dequantised magnitude of every table level (at most 12 for inter codes, which never reaches the
    // saturation limit: 2 * 31 * 12 + 31 < 2047), looked up instead of computed per event.
    const int step = 2 * qp;
    const int offset = (qp & 1) ? qp : qp - 1;
    int16_t magnitude_of[32];
    for (int level = 0; level < 32; ++level) magnitude_of[level] = static_cast<int16_t>(step * level + offset);
    unsigned extent = 0;
    int pos = 0;
    for (;;) {
        const uint32_t e = kInterEvents.e[br.peek_bits(kLookupBits)];
        const int run = run_of(e);
        uint32_t last;
        int value;
        if (run != static_cast<int>(kSlowRun)) [[likely]] {
            const int sign = br.skip_signed_code(event_bits_of(e));
            last = e & kLastBit;
            pos += run;
            value = (magnitude_of[level_of(e)] ^ sign) - sign;
        } else {
            Event ev;
            if (!third_mode_escape(br, e, ev, escapes)) {
                reader = br;
                const bool ok = decode_escape(reader, kInterEvents, false, e, ev, escapes);
                br = reader;
                if (!ok) break;
            }
            last = static_cast<uint32_t>(ev.last);
            pos += ev.run;
            value = dequant(ev.level, qp);
        }
        if (pos > 63) break;
        const int raster = scan[pos];
        block[raster] = static_cast<int16_t>(value);
        extent |= kExtents.of[raster];
        ++pos;
        if (last) break;
    }
    reader = br;
    return extent;
}

void dequantise_intra_ac(int16_t block[64], int qp, unsigned extent) {
    // Branch-free, eight 16-bit lanes per row: a magnitude of 1024 or more saturates at every quantiser
    // (2 x 1024 + 1 > 2048), so magnitudes are capped there first and 2 qp x magnitude + offset then fits an
    // unsigned 16-bit lane. The DC coefficient is put back afterwards.
    const int16_t dc = block[0];
#if defined(__SSE2__)
    const __m128i step = _mm_set1_epi16(static_cast<int16_t>(2 * qp));
    const __m128i offset = _mm_set1_epi16(static_cast<int16_t>((qp & 1) ? qp : qp - 1));
    const __m128i zero = _mm_setzero_si128();
    for (int r = 0; r < 8; ++r) {
        if (!(extent & (1u << r))) continue;
        __m128i* row = reinterpret_cast<__m128i*>(block + 8 * r);
        const __m128i v = _mm_loadu_si128(row);
        const __m128i negative = _mm_cmplt_epi16(v, zero);
        const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(v, negative), negative);
        const __m128i capped = _mm_sub_epi16(magnitude, _mm_subs_epu16(magnitude, _mm_set1_epi16(1024)));
        const __m128i f = _mm_add_epi16(_mm_mullo_epi16(capped, step), offset);
        const __m128i up = _mm_sub_epi16(f, _mm_subs_epu16(f, _mm_set1_epi16(2047)));
        const __m128i down = _mm_sub_epi16(zero, _mm_sub_epi16(f, _mm_subs_epu16(f, _mm_set1_epi16(2048))));
        const __m128i signed_value = _mm_or_si128(_mm_and_si128(negative, down), _mm_andnot_si128(negative, up));
        _mm_storeu_si128(row, _mm_andnot_si128(_mm_cmpeq_epi16(v, zero), signed_value));
    }
#else
    for (int r = 0; r < 8; ++r) {
        if (!(extent & (1u << r))) continue;
        for (int c = 0; c < 8; ++c) {
            int16_t& x = block[8 * r + c];
            if (x) x = dequant(x, qp);
        }
    }
#endif
    block[0] = dc;
}

}  // namespace zorbrix::mpeg4
