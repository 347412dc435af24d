#pragma once
// Most-significant-bit-first bit writer for the video elementary stream: the encoder's output, the header writer's
// and the hand-built chunks of the decoder tests all go through this one class.
#include <cstdint>
#include <vector>

#include "video/mpeg4/vlc_tables.h"

namespace zorbrix::mpeg4 {

class BitWriter {
public:
    // Appends the low n bits of value (0 <= n <= 32), most significant first.
    void put_bits(uint32_t value, int n) {
        if (n < 32) value &= (1u << n) - 1;
        acc_ = (acc_ << n) | value;  // fewer than 32 bits were pending, so at most 63 are now
        fill_ += n;
        if (fill_ >= 32) {
            fill_ -= 32;
            const uint32_t word = static_cast<uint32_t>(acc_ >> fill_);
            const uint8_t out[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                                    static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
            bytes_.insert(bytes_.end(), out, out + 4);
            acc_ &= (uint64_t{1} << fill_) - 1;
        }
    }
    // The short form the hand-built chunks of the tests are written with.
    void put(uint32_t value, int n) { put_bits(value, n); }
    void put_bit(bool b) { put_bits(b ? 1u : 0u, 1); }
    // One code of the decoder's code lists.
    void code(const VlcCode& c) { put_bits(c.code, c.length); }
    // The stuffing in front of a start code: a 0 bit then 1 bits up to the byte boundary, a whole 0x7F byte when
    // already aligned.
    void stuff() {
        put_bits(0, 1);
        const int ones = (8 - (fill_ & 7)) & 7;
        put_bits((1u << ones) - 1, ones);
    }
    bool byte_aligned() const { return (fill_ & 7) == 0; }
    // Total bits written so far.
    uint64_t bit_count() const { return bytes_.size() * 8ull + static_cast<uint64_t>(fill_); }
    // The bytes written so far, a partial last byte filled up with zero bits; the writer is left as it is. No
    // spare bytes are added: a caller that hands the chunk to the decoder appends them itself.
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out = bytes_;
        append_pending(out);
        return out;
    }
    // Flushes a partial byte (zero padded) and hands the bytes over, leaving the writer empty.
    std::vector<uint8_t> take() {
        std::vector<uint8_t> out;
        append_pending(bytes_);
        out.swap(bytes_);
        acc_ = 0;
        fill_ = 0;
        return out;
    }

private:
    // The pending bits as whole bytes, the last one zero padded.
    void append_pending(std::vector<uint8_t>& out) const {
        const int pad = (8 - (fill_ & 7)) & 7;
        const uint64_t bits = acc_ << pad;
        for (int n = fill_ + pad; n > 0; n -= 8) out.push_back(static_cast<uint8_t>(bits >> (n - 8)));
    }

    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;  // pending bits, fewer than 32
    int fill_ = 0;
};

}  // namespace zorbrix::mpeg4
