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
        if (n == 0) return;
        if (n < 32) value &= (1u << n) - 1;
        uint64_t acc = (static_cast<uint64_t>(acc_) << n) | value;
        int fill = fill_ + n;
        while (fill >= 8) {
            fill -= 8;
            bytes_.push_back(static_cast<uint8_t>(acc >> fill));
        }
        acc_ = static_cast<uint32_t>(acc & ((1u << fill) - 1));
        fill_ = fill;
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
        if (fill_ != 0) put_bits((1u << (8 - fill_)) - 1, 8 - fill_);
    }
    bool byte_aligned() const { return fill_ == 0; }
    // Total bits written so far.
    uint64_t bit_count() const { return bytes_.size() * 8ull + fill_; }
    // The bytes written so far, a partial last byte filled up with zero bits; the writer is left as it is. No
    // spare bytes are added: a caller that hands the chunk to the decoder appends them itself.
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out = bytes_;
        if (fill_) out.push_back(static_cast<uint8_t>(acc_ << (8 - fill_)));
        return out;
    }
    // Flushes a partial byte (zero padded) and hands the bytes over, leaving the writer empty.
    std::vector<uint8_t> take() {
        if (fill_) put_bits(0, 8 - fill_);
        std::vector<uint8_t> out;
        out.swap(bytes_);
        acc_ = 0;
        fill_ = 0;
        return out;
    }

private:
    std::vector<uint8_t> bytes_;
    uint32_t acc_ = 0;  // pending bits, fewer than 8
    int fill_ = 0;
};

}  // namespace zorbrix::mpeg4
