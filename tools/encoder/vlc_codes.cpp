#include "tools/encoder/vlc_codes.h"

#include <cstdlib>

#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::enc {
namespace {

using mpeg4::TcoefCode;
using mpeg4::VlcCode;

struct Code {
    uint32_t bits = 0;
    uint8_t length = 0;  // 0: no code
};

constexpr int kMaxTableLevel = 32;

// Direct texture codes indexed by [intra][last][run][level] (level 1..31; the tables stop at 27).
struct TcoefMap {
    Code code[2][2][64][kMaxTableLevel];
    TcoefMap() {
        add(true, mpeg4::kIntraTcoef);
        add(false, mpeg4::kInterTcoef);
    }
    void add(bool intra, const TcoefCode (&list)[102]) {
        for (const TcoefCode& c : list) code[intra][c.last][c.run][c.level] = Code{c.code, c.length};
    }
    const Code* find(bool intra, int last, int run, int level) const {
        if (run < 0 || run > 63 || level < 1 || level >= kMaxTableLevel) return nullptr;
        const Code& c = code[intra][last][run][level];
        return c.length ? &c : nullptr;
    }
};

const TcoefMap& tcoef_map() {
    static const TcoefMap map;
    return map;
}

template <size_t N>
Code find_value(const VlcCode (&list)[N], int value) {
    for (const VlcCode& c : list) {
        if (c.value == value) return Code{c.code, c.length};
    }
    return Code{};
}

// The escape forms, in the order an encoder tries them: 0 direct, 1 level offset, 2 run offset, 3 fixed length.
struct EscapePlan {
    int mode;
    int run;    // run actually coded by the VLC (modes 0..2)
    int level;  // magnitude actually coded by the VLC (modes 0..2)
    const Code* code;
};

EscapePlan plan_tcoef(bool intra, bool last, int run, int level) {
    const TcoefMap& map = tcoef_map();
    const int mag = std::abs(level);
    if (const Code* c = map.find(intra, last, run, mag)) return {0, run, mag, c};
    const int lmax = mpeg4::tcoef_lmax(intra, last, run);
    if (lmax > 0 && mag > lmax) {
        if (const Code* c = map.find(intra, last, run, mag - lmax)) return {1, run, mag - lmax, c};
    }
    const int rmax = mpeg4::tcoef_rmax(intra, last, mag);
    if (rmax > 0 && run > rmax) {
        if (const Code* c = map.find(intra, last, run - rmax - 1, mag)) return {2, run - rmax - 1, mag, c};
    }
    return {3, run, mag, nullptr};
}

}  // namespace

const TcoefDirect& tcoef_direct() {
    static const TcoefDirect table = [] {
        TcoefDirect t{};
        const TcoefMap& map = tcoef_map();
        for (int intra = 0; intra < 2; ++intra)
            for (int last = 0; last < 2; ++last)
                for (int run = 0; run < 64; ++run)
                    for (int mag = 1; mag < TcoefDirect::kLevels; ++mag) {
                        if (const Code* c = map.find(intra, last, run, mag)) {
                            t.code[intra][last][run][mag] = (c->bits << 1) << 5 | (c->length + 1u);
                        }
                    }
        return t;
    }();
    return table;
}

void put_tcoef(BitWriter& bw, bool intra, bool last, int run, int level) {
    // Most events have a code of their own: code and sign in one go.
    const int mag = std::abs(level);
    if (mag < kMaxTableLevel && run >= 0 && run < 64) {
        const Code& c = tcoef_map().code[intra][last][run][mag];
        if (c.length) {
            bw.put_bits(c.bits << 1 | (level < 0 ? 1u : 0u), c.length + 1);
            return;
        }
    }
    const EscapePlan p = plan_tcoef(intra, last, run, level);
    const uint32_t sign = level < 0 ? 1u : 0u;
    switch (p.mode) {
    case 0: bw.put_bits(p.code->bits << 1 | sign, p.code->length + 1); break;
    case 1:
        bw.put_bits(mpeg4::kTcoefEscapeCode, mpeg4::kTcoefEscapeLength);
        bw.put_bits(0, 1);
        bw.put_bits(p.code->bits, p.code->length);
        bw.put_bits(sign, 1);
        break;
    case 2:
        bw.put_bits(mpeg4::kTcoefEscapeCode, mpeg4::kTcoefEscapeLength);
        bw.put_bits(2, 2);
        bw.put_bits(p.code->bits, p.code->length);
        bw.put_bits(sign, 1);
        break;
    default:
        bw.put_bits(mpeg4::kTcoefEscapeCode, mpeg4::kTcoefEscapeLength);
        bw.put_bits(3, 2);
        bw.put_bits(last ? 1u : 0u, 1);
        bw.put_bits(static_cast<uint32_t>(run), 6);
        bw.put_bits(1, 1);
        bw.put_bits(static_cast<uint32_t>(level) & 0xFFFu, 12);
        bw.put_bits(1, 1);
        break;
    }
}

int tcoef_bits(bool intra, bool last, int run, int level) {
    const EscapePlan p = plan_tcoef(intra, last, run, level);
    switch (p.mode) {
    case 0: return p.code->length + 1;
    case 1: return mpeg4::kTcoefEscapeLength + 1 + p.code->length + 1;
    case 2: return mpeg4::kTcoefEscapeLength + 2 + p.code->length + 1;
    default: return mpeg4::kTcoefEscapeLength + 2 + 1 + 6 + 1 + 12 + 1;
    }
}

namespace {
struct SmallMaps {
    Code mcbpc_i[8][4];
    Code mcbpc_p[8][4];
    Code cbpy[16];
    Code mv[33];
    Code dc_luma[13];
    Code dc_chroma[13];
    SmallMaps() {
        for (int t = 0; t < 8; ++t) {
            for (int c = 0; c < 4; ++c) {
                mcbpc_i[t][c] = find_value(mpeg4::kMcbpcI, c << 4 | t);
                mcbpc_p[t][c] = find_value(mpeg4::kMcbpcP, c << 4 | t);
            }
        }
        for (int i = 0; i < 16; ++i) cbpy[i] = find_value(mpeg4::kCbpy, i);
        for (int i = 0; i < 33; ++i) mv[i] = find_value(mpeg4::kMotionVector, i);
        for (int i = 0; i < 13; ++i) {
            dc_luma[i] = find_value(mpeg4::kDcSizeLuma, i);
            dc_chroma[i] = find_value(mpeg4::kDcSizeChroma, i);
        }
    }
};
const SmallMaps& maps() {
    static const SmallMaps m;
    return m;
}

int dc_size(int diff) {
    int mag = std::abs(diff), size = 0;
    while (mag) {
        ++size;
        mag >>= 1;
    }
    return size;
}
}  // namespace

void put_mcbpc(BitWriter& bw, bool p_vop, int mb_type, int cbpc) {
    const Code& c = p_vop ? maps().mcbpc_p[mb_type][cbpc] : maps().mcbpc_i[mb_type][cbpc];
    bw.put_bits(c.bits, c.length);
}

int mcbpc_bits(bool p_vop, int mb_type, int cbpc) {
    return p_vop ? maps().mcbpc_p[mb_type][cbpc].length : maps().mcbpc_i[mb_type][cbpc].length;
}

void put_cbpy(BitWriter& bw, int cbpy) { bw.put_bits(maps().cbpy[cbpy].bits, maps().cbpy[cbpy].length); }
int cbpy_bits(int cbpy) { return maps().cbpy[cbpy].length; }

void put_mvd(BitWriter& bw, int mvd, int fcode) {
    if (mvd == 0) {
        bw.put_bits(maps().mv[0].bits, maps().mv[0].length);
        return;
    }
    const int r_size = fcode - 1;
    const int f = 1 << r_size;
    const int mag = std::abs(mvd) - 1;
    const int motion_code = mag / f + 1;  // 1..32
    const Code& c = maps().mv[motion_code];
    bw.put_bits(c.bits, c.length);
    bw.put_bits(mvd < 0 ? 1u : 0u, 1);
    if (r_size) bw.put_bits(static_cast<uint32_t>(mag % f), r_size);
}

int mvd_bits(int mvd, int fcode) {
    if (mvd == 0) return maps().mv[0].length;
    const int r_size = fcode - 1;
    int motion_code = (std::abs(mvd) - 1) / (1 << r_size) + 1;
    if (motion_code > 32) motion_code = 32;
    return maps().mv[motion_code].length + 1 + r_size;
}

void put_intra_dc(BitWriter& bw, bool luma, int diff) {
    const int size = dc_size(diff);
    const Code& c = luma ? maps().dc_luma[size] : maps().dc_chroma[size];
    bw.put_bits(c.bits, c.length);
    if (size == 0) return;
    // Negative differentials are sent as their ones' complement in `size` bits (leading bit 0).
    const uint32_t value = diff > 0 ? static_cast<uint32_t>(diff) : static_cast<uint32_t>(diff + (1 << size) - 1);
    bw.put_bits(value, size);
    if (size > 8) bw.put_bits(1, 1);
}

int intra_dc_bits(bool luma, int diff) {
    const int size = dc_size(diff);
    const Code& c = luma ? maps().dc_luma[size] : maps().dc_chroma[size];
    return c.length + size + (size > 8 ? 1 : 0);
}

}  // namespace zorbrix::enc
