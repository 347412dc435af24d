#pragma once
// Bit reader over one coded chunk: bits are taken most significant first. Reads at or past the chunk's end
// deliver zero bits, so a truncated chunk simply ends (the decoder's look-ahead then sees a start code).
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zorbrix::mpeg4 {

class BitReader {
public:
    void reset(const uint8_t* data, size_t length) {
        data_ = data;
        size_ = data ? length : 0;
        pos_ = 0;
    }

    // The next n bits (0..32), right-aligned, without consuming them.
    uint32_t peek_bits(int n) const {
        if (n == 0) return 0;
        return static_cast<uint32_t>((window() << (pos_ & 7)) >> (64 - n));
    }
    void advance_bits(int n) { pos_ += static_cast<size_t>(n); }
    uint32_t read_bits(int n) {
        const uint32_t v = peek_bits(n);
        advance_bits(n);
        return v;
    }
    uint32_t read_bit() { return read_bits(1); }
    // A marker bit: consumed, its value not tested.
    void read_marker() { advance_bits(1); }

    bool byte_aligned() const { return (pos_ & 7) == 0; }
    // The standard's next_start_code(): nothing when aligned, else a zero bit and ones up to the byte boundary.
    void next_start_code() {
        if (!byte_aligned()) pos_ = (pos_ + 7) & ~static_cast<size_t>(7);
    }

    size_t bit_position() const { return pos_; }
    void set_bit_position(size_t pos) { pos_ = pos; }
    size_t bit_length() const { return size_ * 8; }
    int bit_offset() const { return static_cast<int>(pos_ & 7); }

private:
    // Eight bytes from the current byte on, big-endian, zeros past the end.
    uint64_t window() const {
        const size_t byte = pos_ >> 3;
        if (byte < size_ && size_ - byte >= 8) {
            uint64_t w;
            std::memcpy(&w, data_ + byte, 8);
            return __builtin_bswap64(w);
        }
        uint64_t w = 0;
        for (int i = 0; i < 8; ++i) {
            w <<= 8;
            if (byte < size_ && static_cast<size_t>(i) < size_ - byte) w |= data_[byte + i];
        }
        return w;
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
};

}  // namespace zorbrix::mpeg4
