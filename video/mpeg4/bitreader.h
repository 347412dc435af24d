#pragma once
// Bit reader over one coded chunk: bits are taken most significant first. Reads at or past the chunk's end
// deliver zero bits, so a truncated chunk simply ends (the decoder's look-ahead then sees a start code).
//
// The next bits live in a 64-bit register window, left-aligned, holding at least 32 valid bits between calls; it
// is refilled with one unaligned 8-byte load when it falls below 32, so a peek is a single shift and the memory
// is touched once every few codes. Loads never reach past the chunk: its last 7 bytes are fed byte by byte, and
// positions past the end feed zeros.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zorbrix::mpeg4 {

class BitReader {
public:
    void reset(const uint8_t* data, size_t length) {
        data_ = data;
        size_ = data ? length : 0;
        fast_end_ = size_ >= 8 ? size_ - 7 : 0;
        seek(0);
    }

    // The next n bits (0..32), right-aligned, without consuming them.
    uint32_t peek_bits(int n) const {
        if (n == 0) return 0;
        return static_cast<uint32_t>(window_ >> (64 - n));
    }
    // The next 32 bits.
    uint32_t peek_32() const { return static_cast<uint32_t>(window_ >> 32); }
    // Consumes n bits, 0..32: the hot path of every code.
    void skip_bits(int n) {
        window_ <<= n;
        count_ -= n;
        if (count_ < 32) refill();
    }
    // Consumes a code of n bits (0..31) and the sign bit after it; returns the sign as 0 (positive) or -1.
    int skip_code_and_sign(int n) {
        const uint64_t at_sign = window_ << n;
        window_ = at_sign << 1;
        count_ -= n + 1;
        if (count_ < 32) refill();
        return static_cast<int>(static_cast<int64_t>(at_sign) >> 63);
    }
    // Consumes n bits (1..32) whose last one is a sign; returns it as 0 (positive) or -1. The same as
    // skip_code_and_sign(n - 1), with the window moved by one shift of n.
    int skip_signed_code(int n) {
        const int sign = static_cast<int>(static_cast<int64_t>(window_ << (n - 1)) >> 63);
        window_ <<= n;
        count_ -= n;
        if (count_ < 32) refill();
        return sign;
    }
    void advance_bits(int n) {
        if (n <= 32) [[likely]]
            skip_bits(n);
        else
            seek(bit_position() + static_cast<size_t>(n));
    }
    uint32_t read_bits(int n) {
        const uint32_t v = peek_bits(n);
        advance_bits(n);
        return v;
    }
    uint32_t read_bit() { return read_bits(1); }
    // A marker bit: consumed, its value not tested.
    void read_marker() { skip_bits(1); }

    bool byte_aligned() const { return bit_offset() == 0; }
    // The standard's next_start_code(): nothing when aligned, else a zero bit and ones up to the byte boundary.
    void next_start_code() {
        if (!byte_aligned()) skip_bits(8 - bit_offset());
    }

    size_t bit_position() const { return byte_ * 8 - static_cast<size_t>(count_); }
    void set_bit_position(size_t pos) { seek(pos); }
    size_t bit_length() const { return size_ * 8; }
    int bit_offset() const { return static_cast<int>(bit_position() & 7); }

private:
    // Tops the window up to at least 57 valid bits. The bits below the valid ones are always either zero or the
    // stream's own next bits, so OR-ing whole bytes over them is exact.
    void refill() {
        if (byte_ < fast_end_) [[likely]] {
            uint64_t w;
            std::memcpy(&w, data_ + byte_, 8);
            window_ |= __builtin_bswap64(w) >> count_;
            byte_ += static_cast<size_t>((63 - count_) >> 3);
            count_ |= 56;
            return;
        }
        while (count_ <= 56) {
            const uint64_t b = byte_ < size_ ? data_[byte_] : 0;
            window_ |= b << (56 - count_);
            ++byte_;
            count_ += 8;
        }
    }
    void seek(size_t pos) {
        byte_ = pos >> 3;
        window_ = 0;
        count_ = 0;
        refill();
        const int drop = static_cast<int>(pos & 7);
        window_ <<= drop;
        count_ -= drop;
    }

    // (The fields that change as bits are read are kept apart, so that copies of a reader, which the coefficient
    // loops keep in registers, are not merged into vector moves.)
    uint64_t window_ = 0;  // the next bits, most significant first
    const uint8_t* data_ = nullptr;
    // An unset reader reads as an empty chunk: its window holds the 64 zero bits past the end.
    size_t byte_ = 8;      // the next byte to enter the window
    size_t fast_end_ = 0;  // a whole 8-byte load fits from any byte before this one
    int count_ = 64;       // valid bits in window_, 32..64 between calls
    size_t size_ = 0;
};

}  // namespace zorbrix::mpeg4
