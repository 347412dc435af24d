// Unpacks the input as an LZW stream with both kernels, which must agree byte for byte; and packs the input as
// data, which must unpack to itself.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "loading/lzw.h"

using zorbrix::kLzwMaxString;
using zorbrix::lzw_pack;
using zorbrix::lzw_unpack_reference;
using zorbrix::lzw_unpack_sse2;
using zorbrix::LzwUnpack;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t length_a = 0, length_b = 0;
    unsigned char* a = lzw_unpack_reference(data, size, &length_a);
    unsigned char* b = lzw_unpack_sse2(data, size, &length_b);
    if (!a != !b) std::abort();
    if (a && (length_a != length_b || std::memcmp(a, b, length_a) != 0)) std::abort();
    std::free(a);
    std::free(b);

    std::vector<unsigned char> packed;
    if (!lzw_pack(data, size, &packed, size > 0 ? 2 + data[0] % (kLzwMaxString - 1) : kLzwMaxString)) std::abort();
    uint32_t length = 0;
    unsigned char* round_trip = LzwUnpack(packed.data(), packed.size(), &length);
    if (!round_trip || length != size || (size && std::memcmp(round_trip, data, size) != 0)) std::abort();
    std::free(round_trip);
    return 0;
}
