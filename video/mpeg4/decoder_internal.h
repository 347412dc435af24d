#pragma once
// What the decoding core's files share and nobody else uses: the code lookup tables' shape and the video packet
// header that the VOP loop reads between macroblocks.
#include <cstddef>
#include <cstdint>

#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::mpeg4 {

// A code lookup table built once from a canonical code list: indexed by the next Bits bits of the stream, it gives
// the code's value and length.
struct LutEntry {
    int16_t value;   // -1: invalid code
    uint8_t length;  // 0: invalid code
};

template <int Bits>
struct Lut {
    LutEntry e[1 << Bits];
};

template <int Bits, size_t N>
Lut<Bits> build_lut(const VlcCode (&codes)[N]) {
    Lut<Bits> lut;
    for (auto& x : lut.e) x = {-1, 0};
    for (const VlcCode& c : codes) {
        const int shift = Bits - c.length;
        const uint32_t first = c.code << shift;
        for (uint32_t k = 0; k < (1u << shift); ++k) lut.e[first + k] = {c.value, c.length};
    }
    return lut;
}

// The resync marker's length: 17 bits in I-VOPs, 16 + vop_fcode_forward otherwise.
int resync_marker_length(const VopInfo& vop);

// Parses a video packet header (the reader at its stuffing) and moves the macroblock position and quantiser to
// it. A new packet starts: prediction does not reach back into earlier ones. False when the macroblock number
// lies outside the VOP, which ends the VOP.
bool decode_video_packet_header(DecoderState& d);

}  // namespace zorbrix::mpeg4
