#pragma once
// Most-significant-bit-first bit writer for the video elementary stream.
#include <cstdint>
#include <vector>

namespace zorbrix::enc {

class BitWriter {
public:
    // Appends the low n bits of value (n <= 32), most significant first.
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
    void put_bit(bool b) { put_bits(b ? 1u : 0u, 1); }
    bool byte_aligned() const { return fill_ == 0; }
    // Total bits written so far.
    uint64_t bit_count() const { return bytes_.size() * 8ull + fill_; }
    // The stream's stuffing before a start code: a 0 bit then 1 bits up to the byte boundary, a whole 0x7F byte
    // when already aligned.
    void stuff_to_byte() {
        put_bits(0, 1);
        while (fill_ != 0) put_bits(1, 1);
    }
    // Pads with 1 bits up to the boundary only when not aligned (the form the layer header needs).
    void stuff_if_unaligned() {
        if (fill_ != 0) stuff_to_byte();
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Flushes a partial byte (zero padded) and hands the bytes over.
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

}  // namespace zorbrix::enc
