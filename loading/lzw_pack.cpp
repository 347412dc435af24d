// The LZW packer used by the archive tool. It adds a dictionary entry right after each code it writes, one entry
// ahead of the unpacker, which adds the same entry only when it reads the following code. So a data code is
// written with the width of the packer's next free code minus one, while the end code and a clear code sent in
// place of a new entry come at moments when both sides are level, and use the width of the next free code itself.

#include "loading/lzw.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace zorbrix {

namespace {

// Bits go into each byte from the most significant bit down, codes from their least significant bit up.
class CodeWriter {
public:
    explicit CodeWriter(std::vector<unsigned char>* out) : out_(out) {}

    void write(int code, int width) {
        for (int i = 0; i < width; ++i) {
            if ((code >> i) & 1) current_ |= mask_;
            mask_ >>= 1;
            if (mask_ == 0) {
                out_->push_back(current_);
                current_ = 0;
                mask_ = 0x80;
            }
        }
    }

    void flush() {
        if (mask_ != 0x80) out_->push_back(current_);
        current_ = 0;
        mask_ = 0x80;
    }

private:
    std::vector<unsigned char>* out_;
    unsigned char current_ = 0;
    unsigned char mask_ = 0x80;
};

// String -> code, as (code of the string minus its last byte, last byte) -> code, open addressing.
// Entries of older dictionaries are told apart by a generation number, so a clear costs nothing.
class Dictionary {
public:
    void reset() {
        if (++generation_ == 0) {  // after 2^32 clears: old marks could look current again
            std::fill(slots_.begin(), slots_.end(), Slot{0, 0, 0});
            generation_ = 1;
        }
        next_free = kLzwFirstFreeCode;
    }

    // The code of prefix + byte, or -1.
    int find(int prefix, unsigned char byte) const {
        const uint32_t key = key_of(prefix, byte);
        for (uint32_t i = hash(key);; i = (i + 1) & kMask) {
            if (slots_[i].generation != generation_) return -1;
            if (slots_[i].key == key) return slots_[i].code;
        }
    }

    void add(int prefix, unsigned char byte) {
        const uint32_t key = key_of(prefix, byte);
        uint32_t i = hash(key);
        while (slots_[i].generation == generation_) i = (i + 1) & kMask;
        slots_[i] = {key, generation_, uint16_t(next_free)};
        ++next_free;
    }

    int next_free = kLzwFirstFreeCode;

private:
    static constexpr uint32_t kSize = 16384;  // four times the most entries a dictionary holds
    static constexpr uint32_t kMask = kSize - 1;
    struct Slot {
        uint32_t key;
        uint32_t generation;
        uint16_t code;
    };
    static uint32_t key_of(int prefix, unsigned char byte) { return uint32_t(prefix) << 8 | byte; }
    static uint32_t hash(uint32_t key) { return (key * 2654435761u) >> 18; }

    std::vector<Slot> slots_ = std::vector<Slot>(kSize, Slot{0, 0, 0});
    uint32_t generation_ = 0;
};

}  // namespace

bool lzw_pack(const unsigned char* data, size_t size, std::vector<unsigned char>* packed, int max_string,
              LzwPackTrace* trace) {
    if (uint64_t(size) > UINT32_MAX || max_string < 2 || max_string > kLzwMaxString) return false;
    packed->clear();
    packed->reserve(kLzwHeaderSize + size / 2 + 16);
    for (const char c : {'V', 'Y', 'R', 'N'}) packed->push_back(static_cast<unsigned char>(c));
    for (int i = 0; i < 4; ++i) packed->push_back(static_cast<unsigned char>(size >> (8 * i)));

    LzwPackTrace local_trace;
    LzwPackTrace& t = trace ? *trace : local_trace;
    t = LzwPackTrace{};
    CodeWriter writer(packed);
    // Kept from call to call: setting up its table costs more than packing a small file.
    thread_local std::unique_ptr<Dictionary> dictionary;
    if (!dictionary) dictionary = std::make_unique<Dictionary>();
    Dictionary& dict = *dictionary;
    dict.reset();

    writer.write(kLzwClearCode, 9);
    ++t.codes;
    if (size > 0) {
        int current = data[0];
        int current_length = 1;
        for (size_t i = 1; i < size; ++i) {
            const unsigned char byte = data[i];
            const int found = dict.find(current, byte);
            if (found >= 0) {
                current = found;
                ++current_length;
                continue;
            }
            writer.write(current, lzw_width_for(dict.next_free - 1));
            ++t.codes;
            if (dict.next_free < kLzwMaxCodes && current_length + 1 <= max_string) {
                dict.add(current, byte);
            } else {
                writer.write(kLzwClearCode, lzw_width_for(dict.next_free));
                ++t.codes;
                t.clear_next_free.push_back(dict.next_free);
                dict.reset();
            }
            current = byte;
            current_length = 1;
        }
        writer.write(current, lzw_width_for(dict.next_free - 1));
        ++t.codes;
    }
    writer.write(kLzwEndCode, lzw_width_for(dict.next_free));
    ++t.codes;
    t.end_next_free = dict.next_free;
    writer.flush();
    return true;
}

}  // namespace zorbrix
