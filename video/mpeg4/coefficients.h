#pragma once
// Texture coefficients of one block: the (last, run, level) events read straight into the block, and the H.263
// inverse quantisation of intra AC coefficients.
//
// The events are looked up in packed tables built once from the code lists of vlc_tables.h: one 16-bit load of
// the entry for the next 12 bits gives the run, code length, last flag and level, so the common event costs a
// peek, a load and one skip of the code and its sign bit. Third-mode escapes are read in the loop; the other
// escapes and invalid codes leave it for a slower path.
#include <cstdint>

#include "video/mpeg4/bitreader.h"

namespace zorbrix::mpeg4 {

// Where a block's coefficients lie: bit r for a coefficient written in row r, bit 8 + c for column c (raster
// positions). A block whose extent is within kExtentDcOnly holds at most its DC coefficient.
constexpr unsigned kExtentDcOnly = 0x0101;
constexpr unsigned extent_of(int raster) { return (1u << (raster >> 3)) | (1u << (8 + (raster & 7))); }

// Escape counters by mode (first, second, third), as the decoder's statistics keep them.
using EscapeCounts = long[3];

// Decodes the AC events of an intra block (scan positions from 1) into `block`, which the caller has cleared, as
// quantised levels at raster position scan[pos]. Stops after the last event, an invalid code, or a run past the
// block's end. Returns the extent of the positions written.
unsigned decode_intra_coefficients(BitReader& br, const uint8_t scan[64], int16_t block[64], EscapeCounts& escapes);

// Decodes the events of an inter block (scan positions from 0) into `block`, which the caller has cleared, as
// dequantised coefficients for quantiser qp. Stops as above. Returns the extent of the positions written.
unsigned decode_inter_coefficients(BitReader& br, const uint8_t scan[64], int qp, int16_t block[64],
                                   EscapeCounts& escapes);

// Inverse quantisation of the AC coefficients (raster 1..63) of an intra block within `extent`: each non-zero
// level becomes its dequantised value, zeros stay zero. The DC coefficient is left as it is.
void dequantise_intra_ac(int16_t block[64], int qp, unsigned extent);

}  // namespace zorbrix::mpeg4
