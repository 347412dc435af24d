#pragma once
// The archive's LZW format: "VYRN", the unpacked length (u32, little-endian), then codes of 9 to 12 bits taken
// from each byte's most significant bit down and assembled least significant bit first. Codes 0..255 are bytes,
// 256 clears the dictionary, 257 ends the stream, new strings get 258 upward; the width grows when the next free
// code reaches 511, 1023 and 2047. The dictionary holds at most 4096 strings of at most 1024 bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/cpu.h"

namespace zorbrix {

constexpr int kLzwClearCode = 256;
constexpr int kLzwEndCode = 257;
constexpr int kLzwFirstFreeCode = 258;
constexpr int kLzwMaxCodes = 4096;
constexpr int kLzwMaxString = 1024;
constexpr size_t kLzwHeaderSize = 8;

// The code width both sides use while the unpacker's next free code is next_free.
constexpr int lzw_width_for(int next_free) {
    return next_free >= 2047 ? 12 : next_free >= 1023 ? 11 : next_free >= 511 ? 10 : 9;
}

// Unpacks a stream of packed_length bytes. On success returns a new std::malloc buffer holding the header's
// length of bytes (what the codes leave unwritten is zero) and stores that length through *unpacked_length.
// Null, with *unpacked_length untouched, for a wrong magic or any damage: a first code other than clear or end,
// a code above the next free code, too many strings, a string over 1024 bytes, output beyond the header's length,
// a header length beyond lzw_max_unpacked_length, or no end code within packed_length.
// Not re-entrant: the dictionary is static storage shared by all calls.
unsigned char* LzwUnpack(const unsigned char* packed, size_t packed_length, uint32_t* unpacked_length);

// The longest unpacked length LzwUnpack accepts from a stream of packed_length bytes: what its codes could write at
// most (each takes 9 bits or more and writes 1024 bytes or fewer), or 1 MiB, whichever is more. A header asking for
// more cannot be honest, and would let a few bytes claim gigabytes.
uint64_t lzw_max_unpacked_length(size_t packed_length);

// The two implementations behind LzwUnpack, byte-identical in every result: a plain reference and one that copies
// strings in 16-byte blocks (SSE2); the copy is a policy inlined into the decoding loop, so each is a whole unpacker.
// LzwUnpack calls the program's table, `lzw_kernels()`.
unsigned char* lzw_unpack_reference(const unsigned char* packed, size_t packed_length, uint32_t* unpacked_length);
unsigned char* lzw_unpack_sse2(const unsigned char* packed, size_t packed_length, uint32_t* unpacked_length);

using LzwUnpackFn = unsigned char* (*)(const unsigned char* packed, size_t packed_length, uint32_t* unpacked_length);
struct LzwKernels {
    zorbrix::CpuLevel level;
    zorbrix::Kernel<LzwUnpackFn> unpack;
};
// The table for a level (clamped to zorbrix::cpu_level()), for tests and benchmarks.
LzwKernels lzw_kernels_for(zorbrix::CpuLevel level);
// The table LzwUnpack uses, for zorbrix::cpu_level(); built once.
const LzwKernels& lzw_kernels();
// The level of the unpacker LzwUnpack runs ("scalar", "sse2").
const char* lzw_unpack_kernel_name();

// Where a packer sent its clear and end codes, as the next free code at that moment (for tests at the width
// boundaries).
struct LzwPackTrace {
    std::vector<int> clear_next_free;  // every clear code after the first
    int end_next_free = 0;
    size_t codes = 0;  // every code written, clear and end included
};

// Packs data into the format above. max_string (2..1024) lowers the string length at which the dictionary is
// cleared; only tests use anything but the default. Returns false when the input is too long for the header's
// 32-bit length.
bool lzw_pack(const unsigned char* data, size_t size, std::vector<unsigned char>* packed,
              int max_string = kLzwMaxString, LzwPackTrace* trace = nullptr);

}  // namespace zorbrix
