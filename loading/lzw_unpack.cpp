// The LZW unpacker. Every dictionary entry holds its whole string (up to 1024 bytes), so the output of a code is a
// single block copy and a new entry is the previous entry's string plus one byte. The dictionary (4 MB) lives in
// static storage: one unpacker at a time.

#include "loading/lzw.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorbrix {

namespace {

// A slot holds up to kLzwMaxString bytes: a 16-byte block copy of a string of length n touches at most n rounded
// up to 16 bytes, which never leaves the slot. The slots are one cache line longer than that, so that their first
// bytes (where most strings end) spread over all cache sets instead of piling into the few a 1024-byte stride
// reaches.
constexpr size_t kSlotStride = kLzwMaxString + 64;
alignas(64) unsigned char g_strings[kLzwMaxCodes][kSlotStride];
uint16_t g_lengths[kLzwMaxCodes];

void set_single_byte_entries() {
    for (int i = 0; i < 256; ++i) {
        g_strings[i][0] = static_cast<unsigned char>(i);
        g_lengths[i] = 1;
    }
    g_lengths[kLzwClearCode] = 0;
    g_lengths[kLzwEndCode] = 0;
}

uint32_t read_u32le(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads codes from the packed bytes. Bits are taken from each byte's most significant bit down and placed from the
// code's least significant bit up, which is an ordinary LSB-first stream once each byte's bits are mirrored. The
// reader keeps a 64-bit buffer refilled eight bytes at a time and never reads beyond the given length.
class CodeReader {
public:
    CodeReader(const unsigned char* data, size_t length)
        : next_(data), end_(data + length), bits_left_(uint64_t(length) * 8) {}

    // The next code of the given width (9..12), or -1 when the data ends before it.
    int read(int width) {
        if (count_ < width) refill();
        if (bits_left_ < uint64_t(width)) return -1;
        const int code = int(buffer_ & ((1u << width) - 1));
        buffer_ >>= width;
        count_ -= width;
        bits_left_ -= uint64_t(width);
        return code;
    }

private:
    void refill() {
        uint64_t word = 0;
        if (end_ - next_ >= 8) {
            std::memcpy(&word, next_, 8);
        } else {
            std::memcpy(&word, next_, size_t(end_ - next_));
        }
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        buffer_ |= mirror_bits_in_bytes(word) << count_;
        const int bytes = (63 - count_) >> 3;
        next_ += bytes < end_ - next_ ? bytes : end_ - next_;
        count_ |= 56;
    }

    static uint64_t mirror_bits_in_bytes(uint64_t x) {
        x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
        x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
        x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
        return x;
    }

    const unsigned char* next_;
    const unsigned char* end_;
    uint64_t bits_left_;  // bits of the data not yet returned as codes
    uint64_t buffer_ = 0;
    int count_ = 0;  // bits in buffer_ (past the end of the data they are zero)
};

// Exact byte copies, as the algorithm reads.
struct ReferenceCopy {
    static void to_output(unsigned char* dst, const unsigned char* src, size_t n, const unsigned char*) {
        for (size_t i = 0; i < n; ++i) dst[i] = src[i];
    }
    static void to_slot(unsigned char* dst, const unsigned char* src, size_t n) {
        for (size_t i = 0; i < n; ++i) dst[i] = src[i];
    }
};

#if defined(__SSE2__)
// 16-byte block copies. Into a slot they may write past the string's end (inside the slot, where nothing is
// read); into the output only while the whole last block fits before the buffer's end.
struct Sse2Copy {
    // Most strings are short: the first block is copied inline, longer strings loop. (GCC would otherwise turn the
    // loop into a memmove call, which costs more than the copy itself at these sizes.)
    static void blocks(unsigned char* dst, const unsigned char* src, size_t n) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
        for (size_t i = 16; i < n; i += 16) {
            __asm__("" : "+r"(i));  // hides the loop's shape from the memmove idiom recogniser
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
        }
    }
    static void to_output(unsigned char* dst, const unsigned char* src, size_t n, const unsigned char* end) {
        if (size_t(end - dst) >= ((n + 15) & ~size_t(15))) {
            blocks(dst, src, n);
        } else {
            std::memcpy(dst, src, n);
        }
    }
    static void to_slot(unsigned char* dst, const unsigned char* src, size_t n) { blocks(dst, src, n); }
};
#endif

template <class Copy>
unsigned char* unpack(const unsigned char* packed, size_t packed_length, uint32_t* unpacked_length) {
    if (!packed || packed_length < kLzwHeaderSize || std::memcmp(packed, "VYRN", 4) != 0) return nullptr;
    const uint32_t length = read_u32le(packed + 4);
    if (length > lzw_max_unpacked_length(packed_length)) return nullptr;

    unsigned char* const output = static_cast<unsigned char*>(std::malloc(length ? length : 1));
    if (!output) return nullptr;
    unsigned char* out = output;
    unsigned char* const out_end = output + length;

    static const bool initialised = (set_single_byte_entries(), true);
    (void)initialised;

    CodeReader reader(packed + kLzwHeaderSize, packed_length - kLzwHeaderSize);

    int code = reader.read(9);
    if (code != kLzwClearCode && code != kLzwEndCode) goto fail;

    while (code == kLzwClearCode) {
        int next_free = kLzwFirstFreeCode;
        int width = 9;
        code = reader.read(width);
        if (code == kLzwEndCode) break;
        if (code < 0 || code > 255 || out == out_end) goto fail;  // after a clear only a single byte can follow
        *out++ = static_cast<unsigned char>(code);
        int prev = code;

        for (;;) {
            code = reader.read(width);
            if (code == kLzwEndCode || code == kLzwClearCode) break;
            if (code < 0 || code > next_free || next_free >= kLzwMaxCodes) goto fail;
            const size_t prev_length = g_lengths[prev];
            if (prev_length >= size_t(kLzwMaxString)) goto fail;
            unsigned char* const slot = g_strings[next_free];
            if (code < next_free) {
                const size_t n = g_lengths[code];
                if (size_t(out_end - out) < n) goto fail;
                Copy::to_output(out, g_strings[code], n, out_end);
                out += n;
                Copy::to_slot(slot, g_strings[prev], prev_length);
                slot[prev_length] = g_strings[code][0];
            } else {
                // The code names the string being defined: the previous string plus its own first byte.
                const size_t n = prev_length + 1;
                if (size_t(out_end - out) < n) goto fail;
                Copy::to_slot(slot, g_strings[prev], prev_length);
                slot[prev_length] = g_strings[prev][0];
                Copy::to_output(out, slot, n, out_end);
                out += n;
            }
            g_lengths[next_free] = static_cast<uint16_t>(prev_length + 1);
            ++next_free;
            if (next_free == 511 || next_free == 1023 || next_free == 2047) ++width;
            prev = code;
        }
    }
    if (code != kLzwEndCode) goto fail;

    std::memset(out, 0, size_t(out_end - out));
    *unpacked_length = length;
    return output;

fail:
    std::free(output);
    return nullptr;
}

void init_scalar(LzwKernels& k) { k.unpack.set(unpack<ReferenceCopy>, zorbrix::CpuLevel::scalar); }
#if defined(__SSE2__)
void init_sse2(LzwKernels& k) { k.unpack.set(unpack<Sse2Copy>, zorbrix::CpuLevel::sse2); }
#else
constexpr zorbrix::KernelInit<LzwKernels> init_sse2 = nullptr;
#endif

}  // namespace

LzwKernels lzw_kernels_for(zorbrix::CpuLevel level) {
    return zorbrix::build_kernel_table<LzwKernels>(level, {init_scalar, init_sse2, nullptr, nullptr});
}

// The program's table: the faster unpacker on a small packed picture (runs, repeats and noise).
const LzwKernels& lzw_kernels() {
    static const LzwKernels kernels = [] {
        std::vector<unsigned char> picture(4096);
        uint32_t seed = 0xBEEFu;
        for (size_t i = 0; i < picture.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            const bool noisy = (i / 64) % 3 == 0;
            picture[i] = static_cast<unsigned char>(noisy ? seed >> 29 : i / 16);
        }
        const auto packed = std::make_shared<std::vector<unsigned char>>();
        if (!lzw_pack(picture.data(), picture.size(), packed.get())) return lzw_kernels_for(zorbrix::cpu_level());
        return zorbrix::choose_kernel_table<LzwKernels>(
            "lzw", lzw_kernels_for,
            {zorbrix::kernel_probe<LzwKernels>(
                "unpack", [](LzwKernels& t) -> zorbrix::Kernel<LzwUnpackFn>& { return t.unpack; },
                [packed](const zorbrix::Kernel<LzwUnpackFn>& k) {
                    uint32_t length = 0;
                    std::free(k(packed->data(), packed->size(), &length));
                })});
    }();
    return kernels;
}

namespace {
const LzwKernels& built_at_start_up = lzw_kernels();
}  // namespace

unsigned char* lzw_unpack_reference(const unsigned char* packed, size_t packed_length, uint32_t* unpacked_length) {
    return unpack<ReferenceCopy>(packed, packed_length, unpacked_length);
}

unsigned char* lzw_unpack_sse2(const unsigned char* packed, size_t packed_length, uint32_t* unpacked_length) {
#if defined(__SSE2__)
    return unpack<Sse2Copy>(packed, packed_length, unpacked_length);
#else
    return unpack<ReferenceCopy>(packed, packed_length, unpacked_length);
#endif
}

const char* lzw_unpack_kernel_name() { return zorbrix::cpu_level_name(lzw_kernels().unpack.level); }

uint64_t lzw_max_unpacked_length(size_t packed_length) {
    if (packed_length < kLzwHeaderSize) return 0;
    const uint64_t codes = uint64_t(packed_length - kLzwHeaderSize) * 8 / 9;
    const uint64_t most_written = codes * kLzwMaxString;
    constexpr uint64_t kUnwrittenAllowance = uint64_t(1) << 20;
    return most_written > kUnwrittenAllowance ? most_written : kUnwrittenAllowance;
}

unsigned char* LzwUnpack(const unsigned char* packed, size_t packed_length, uint32_t* unpacked_length) {
    return lzw_kernels().unpack(packed, packed_length, unpacked_length);
}

}  // namespace zorbrix
