#include "loading/lzw.h"

#include <gtest/gtest.h>

#include "tests/support/kernel_levels.h"

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using zorbrix::kLzwClearCode;
using zorbrix::kLzwEndCode;
using zorbrix::kLzwFirstFreeCode;
using zorbrix::kLzwHeaderSize;
using zorbrix::kLzwMaxCodes;
using zorbrix::kLzwMaxString;
using zorbrix::lzw_kernels_for;
using zorbrix::lzw_pack;
using zorbrix::lzw_width_for;
using zorbrix::LzwKernels;
using zorbrix::LzwPackTrace;
using zorbrix::LzwUnpackFn;

namespace {

using Bytes = std::vector<unsigned char>;

// Writes codes the way the format lays them out, independently of the packer: bits fill each byte from 0x80 down,
// each code goes out least significant bit first.
struct StreamBuilder {
    explicit StreamBuilder(uint32_t length) {
        bytes = {
            'V', 'Y', 'R', 'N', uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24)};
    }
    StreamBuilder& code(int value, int width) {
        for (int i = 0; i < width; ++i) {
            if (bit == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= uint8_t(0x80 >> bit);
            bit = (bit + 1) % 8;
        }
        return *this;
    }
    Bytes bytes;
    int bit = 0;
};

// Unpacks with the scalar and the SSE2 table (both scalar where ZORBRIX_CPU masks SSE2), demands identical results, and
// returns the bytes (or nullopt-like empty + ok=false).
struct Unpacked {
    bool ok = false;
    Bytes data;
};

Unpacked unpack_both(const Bytes& packed) {
    Unpacked result[2];
    const LzwUnpackFn kernels[2] = {lzw_kernels_for(zorbrix::CpuLevel::scalar).unpack.fn,
                                    lzw_kernels_for(zorbrix::CpuLevel::sse2).unpack.fn};
    for (int k = 0; k < 2; ++k) {
        uint32_t length = 0xDEADBEEF;
        unsigned char* out = kernels[k](packed.data(), packed.size(), &length);
        if (out) {
            result[k].ok = true;
            result[k].data.assign(out, out + length);
            std::free(out);
        } else {
            EXPECT_EQ(length, 0xDEADBEEF) << "the length is written only on success";
        }
    }
    EXPECT_EQ(result[0].ok, result[1].ok);
    EXPECT_EQ(result[0].data, result[1].data) << "the kernels differ";
    return result[1];
}

Bytes pack(const Bytes& data, int max_string = kLzwMaxString, LzwPackTrace* trace = nullptr) {
    Bytes packed;
    EXPECT_TRUE(lzw_pack(data.data(), data.size(), &packed, max_string, trace));
    return packed;
}

Bytes random_bytes(size_t n, unsigned seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = uint8_t(rng() % unsigned(alphabet));
    return out;
}

TEST(Lzw, RoundTripsEmptyOneByteRunsRandomAndMixedInput) {
    std::string text;
    for (int i = 0; i < 400; ++i) text += "Zorbrix LAN party: bring your computer, " + std::to_string(i * 7919) + "\n";
    Bytes mixed(text.begin(), text.end());
    const Bytes noise = random_bytes(20000, 3);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), 5000, 0x42);

    const std::vector<std::pair<const char*, Bytes>> inputs = {
        {"empty", {}},
        {"one byte", {0x7F}},
        {"long run", Bytes(600000, 'a')},
        {"random", random_bytes(60000, 1)},
        {"small alphabet", random_bytes(200000, 2, 3)},
        {"mixed", mixed},
    };
    for (const auto& [name, data] : inputs) {
        SCOPED_TRACE(name);
        LzwPackTrace trace;
        const Bytes packed = pack(data, kLzwMaxString, &trace);
        const Unpacked out = unpack_both(packed);
        ASSERT_TRUE(out.ok);
        EXPECT_EQ(out.data, data);
        if (std::string(name) == "long run") {
            // A run grows strings by one byte per code, so it hits the 1024-byte limit long before 4096 entries.
            ASSERT_FALSE(trace.clear_next_free.empty());
            EXPECT_LT(trace.clear_next_free[0], kLzwMaxCodes);
        }
        if (std::string(name) == "random" || std::string(name) == "mixed") {
            // Full dictionaries: 12-bit codes, then a clear.
            ASSERT_FALSE(trace.clear_next_free.empty());
            EXPECT_EQ(trace.clear_next_free[0], kLzwMaxCodes);
        }
    }
}

// The smallest n in [lo, hi) with f(n) >= target, for f non-decreasing.
template <class F>
size_t first_reaching(size_t lo, size_t hi, int target, F f) {
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (f(mid) >= target)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// A packer must send the end code and a clear code (sent instead of a new entry) with the width the unpacker uses
// at that moment: that of the packer's own next free code, not of the next free code minus one as for data codes.
// It matters exactly when that code falls where the width grows.
TEST(Lzw, EndAndClearCodesAtTheWidthBoundariesReadBack) {
    const Bytes varied = random_bytes(4000, 99);
    for (const int boundary : {511, 1023, 2047}) {
        SCOPED_TRACE(boundary);
        // Varied bytes give about one code each; the end code's next free code grows by 0 or 1 per byte.
        auto end_at = [&](size_t n) {
            LzwPackTrace trace;
            pack(Bytes(varied.begin(), varied.begin() + long(n)), kLzwMaxString, &trace);
            return trace.clear_next_free.empty() ? trace.end_next_free : kLzwMaxCodes;
        };
        const size_t n = first_reaching(1, varied.size(), boundary, end_at);
        ASSERT_EQ(end_at(n), boundary);
        const Bytes data(varied.begin(), varied.begin() + long(n));
        const Unpacked out = unpack_both(pack(data));
        ASSERT_TRUE(out.ok);
        EXPECT_EQ(out.data, data);

        // Varied bytes, then a run long enough to reach the string limit: the first clear comes when the run's
        // string would outgrow it. Lengthen the varied part until that clear falls on the boundary.
        const int max_string = boundary == 2047 ? kLzwMaxString : 40;
        auto with_prefix = [&](size_t prefix) {
            Bytes d(varied.begin(), varied.begin() + long(prefix));
            d.insert(d.end(), size_t(max_string) * size_t(max_string + 1) / 2 + 10, 'z');
            return d;
        };
        auto clear_at = [&](size_t prefix) {
            LzwPackTrace trace;
            pack(with_prefix(prefix), max_string, &trace);
            return trace.clear_next_free.empty() ? kLzwMaxCodes : trace.clear_next_free[0];
        };
        const size_t start = first_reaching(0, varied.size(), boundary, clear_at);
        bool found = false;
        for (size_t prefix = start > 8 ? start - 8 : 0; prefix < start + 8 && !found; ++prefix) {
            if (clear_at(prefix) != boundary) continue;
            found = true;
            const Bytes d = with_prefix(prefix);
            const Unpacked round_trip = unpack_both(pack(d, max_string));
            ASSERT_TRUE(round_trip.ok);
            EXPECT_EQ(round_trip.data, d);
        }
        EXPECT_TRUE(found);
    }
}

TEST(Lzw, OnlyAnEndCodeGivesTheHeadersLengthOfZeros) {
    const Unpacked only_end = unpack_both(StreamBuilder(5).code(kLzwEndCode, 9).bytes);
    ASSERT_TRUE(only_end.ok);
    EXPECT_EQ(only_end.data, Bytes(5, 0));
    const Unpacked clear_end = unpack_both(StreamBuilder(7).code(kLzwClearCode, 9).code(kLzwEndCode, 9).bytes);
    ASSERT_TRUE(clear_end.ok);
    EXPECT_EQ(clear_end.data, Bytes(7, 0));
    // What the codes leave unwritten is zero too.
    const Unpacked short_output = unpack_both(StreamBuilder(4).code(256, 9).code('x', 9).code(257, 9).bytes);
    ASSERT_TRUE(short_output.ok);
    EXPECT_EQ(short_output.data, (Bytes{'x', 0, 0, 0}));
}

TEST(Lzw, CodeEqualToTheNextFreeCodeRepeatsThePreviousStringsFirstByte) {
    // a, b (adds 258 = ab), 258 (ab, adds 259 = ba), 260 = the string being defined: ab + a.
    StreamBuilder s(7);
    s.code(256, 9).code('a', 9).code('b', 9).code(258, 9).code(260, 9).code(257, 9);
    const Unpacked out = unpack_both(s.bytes);
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(std::string(out.data.begin(), out.data.end()), "abababa");
    // One above the next free code is not a string the unpacker can know.
    StreamBuilder bad(7);
    bad.code(256, 9).code('a', 9).code('b', 9).code(258, 9).code(261, 9).code(257, 9);
    EXPECT_FALSE(unpack_both(bad.bytes).ok);
}

// 254 single bytes after the clear add entries 258..510; the entry 510 makes the next free code 511, and from the
// following code on the width is 10 bits. A clear brings it back to 9.
TEST(Lzw, WidthGrowsWhenTheNextFreeCodeReaches511AndAClearResetsIt) {
    auto build = [](int width_of_code_255) {
        StreamBuilder s(256 + 2);
        s.code(256, 9);
        for (int i = 0; i < 254; ++i) s.code(i, 9);
        s.code(254, width_of_code_255).code(256, width_of_code_255);  // then a clear, same width
        s.code('Q', 9).code('R', 9).code(257, 9);
        return s.bytes;
    };
    const Unpacked out = unpack_both(build(10));
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(out.data.size(), 258u);
    for (int i = 0; i < 255; ++i) EXPECT_EQ(out.data[size_t(i)], i);
    EXPECT_EQ(out.data[255], 'Q');
    EXPECT_EQ(out.data[256], 'R');
    EXPECT_EQ(out.data[257], 0);
    // Written one code too early at 9 bits, the stream does not read back.
    const Unpacked early = unpack_both(build(9));
    EXPECT_FALSE(early.ok && early.data == out.data);
}

TEST(Lzw, DamagedStreamsGiveNull) {
    auto expect_null = [](const Bytes& packed, const char* what) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(unpack_both(packed).ok);
    };
    Bytes wrong_magic = StreamBuilder(1).code(256, 9).code('a', 9).code(257, 9).bytes;
    wrong_magic[0] = 'X';
    expect_null(wrong_magic, "wrong magic");
    expect_null(Bytes{'V', 'Y', 'R'}, "shorter than the header");
    expect_null(StreamBuilder(1).code('a', 9).code(257, 9).bytes, "first code neither clear nor end");
    expect_null(StreamBuilder(1).code(256, 9).code(300, 9).code(257, 9).bytes, "unknown code after a clear");
    expect_null(StreamBuilder(1).code(256, 9).code(256, 9).code(257, 9).bytes, "clear right after a clear");
    expect_null(StreamBuilder(2).code(256, 9).code('a', 9).code('b', 9).code('c', 9).code(257, 9).bytes,
                "more output than the header's length");
    expect_null(StreamBuilder((1u << 20) + 1).code(256, 9).code('a', 9).code(257, 9).bytes,
                "a length the stream could never fill");
    EXPECT_TRUE(unpack_both(StreamBuilder(1u << 20).code(257, 9).bytes).ok) << "a megabyte of zeros is allowed";
    Bytes no_end = StreamBuilder(3).code(256, 9).code('a', 9).code('b', 9).code('c', 9).bytes;
    expect_null(no_end, "no end code");
    // The packed length bounds the reading: the same stream cut before its end code.
    const Bytes full = pack(Bytes(1000, 'k'));
    for (size_t cut = kLzwHeaderSize; cut + 1 < full.size(); cut += 7) {
        expect_null(Bytes(full.begin(), full.begin() + long(cut)), "cut short");
    }

    // A string over 1024 bytes: each code names the string being defined, one byte longer each time.
    {
        StreamBuilder s(1u << 20);
        s.code(256, 9).code('a', 9);
        int next_free = kLzwFirstFreeCode;
        for (int i = 0; i < 1023; ++i, ++next_free) s.code(next_free, lzw_width_for(next_free));
        StreamBuilder end = s;
        end.code(257, lzw_width_for(next_free));
        EXPECT_TRUE(unpack_both(end.bytes).ok) << "strings of exactly 1024 bytes are fine";
        s.code(next_free, lzw_width_for(next_free)).code(257, lzw_width_for(next_free + 1));
        expect_null(s.bytes, "a 1025-byte string");
    }
    // More than 4096 entries: single bytes until the dictionary is full, then one more.
    {
        StreamBuilder s(4000);
        s.code(256, 9).code('a', 9);
        int next_free = kLzwFirstFreeCode;
        for (; next_free < kLzwMaxCodes; ++next_free) s.code('a' + next_free % 7, lzw_width_for(next_free));
        StreamBuilder full_dictionary = s;
        full_dictionary.code(257, 12);
        EXPECT_TRUE(unpack_both(full_dictionary.bytes).ok) << "exactly 4096 entries are fine";
        s.code('b', 12).code(257, 12);
        expect_null(s.bytes, "a 4097th entry");
    }
}

// The two kernels must agree byte for byte on anything, sound or damaged.
TEST(Lzw, KernelsAgreeOnRandomAndDamagedStreams) {
    std::mt19937 rng(12345);
    int accepted = 0;
    for (int t = 0; t < 250; ++t) {
        const size_t n = rng() % 6000;
        Bytes data = random_bytes(n, rng(), 2 + int(rng() % 255));
        // Runs, so that long strings occur too.
        if (t % 3 == 0 && n > 0) std::fill(data.begin(), data.begin() + long(rng() % n), uint8_t(rng()));
        Bytes packed = pack(data, 2 + int(rng() % (kLzwMaxString - 1)));
        const Unpacked sound = unpack_both(packed);
        ASSERT_TRUE(sound.ok);
        ASSERT_EQ(sound.data, data);
        // Damage: flip a few bits, cut the end, or change the length.
        for (int d = 0; d < 8; ++d) {
            Bytes damaged = packed;
            const int kind = int(rng() % 3);
            if (kind == 0) {
                for (int f = 0; f < 3; ++f)
                    damaged[kLzwHeaderSize + rng() % (damaged.size() - kLzwHeaderSize)] ^= uint8_t(1u << (rng() % 8));
            } else if (kind == 1) {
                damaged.resize(kLzwHeaderSize + rng() % (damaged.size() - kLzwHeaderSize + 1));
            } else {
                damaged[4 + rng() % 2] ^= uint8_t(rng());
            }
            accepted += unpack_both(damaged).ok;
        }
    }
    EXPECT_GT(accepted, 0);
}

// The unpacker of every level against the reference on packed random and repetitive data, through the tables.
class LzwKernelLevels : public zorbrix::test::KernelLevelTest {};
ZORBRIX_KERNEL_LEVELS(LzwKernelLevels);

TEST_P(LzwKernelLevels, UnpackGivesTheReferenceBytes) {
    const LzwKernels ref = lzw_kernels_for(zorbrix::CpuLevel::scalar), k = lzw_kernels_for(level());
    EXPECT_EQ(k.unpack.level, zorbrix::CpuLevel::sse2);  // one vector version, from SSE2 up
    for (unsigned seed = 0; seed < 40; ++seed) {
        const Bytes data = random_bytes(size_t(seed) * 997 % 30000, seed, seed % 3 == 0 ? 256 : int(2 + seed % 9));
        const Bytes packed = pack(data);
        uint32_t ref_length = 0, length = 0;
        unsigned char* a = ref.unpack(packed.data(), packed.size(), &ref_length);
        unsigned char* b = k.unpack(packed.data(), packed.size(), &length);
        ASSERT_TRUE(a && b) << seed;
        ASSERT_EQ(Bytes(a, a + ref_length), data);
        ASSERT_EQ(Bytes(b, b + length), data) << seed;
        std::free(a);
        std::free(b);
    }
}

}  // namespace
