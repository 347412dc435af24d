#include "engine3d/depth_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace zorbrix {

// Recursion on the left part, a loop on the right one.
void quicksort_by_depth(DepthKey* keys, int lo, int hi) {
    for (;;) {
        const int mid = (lo + hi) / 2;
        const float pivot = keys[mid].depth;
        int i = lo;
        int j = hi;
        do {
            while (keys[i].depth > pivot) ++i;
            while (keys[j].depth < pivot) --j;
            if (i <= j) {
                const DepthKey t = keys[i];
                keys[i] = keys[j];
                keys[j] = t;
                ++i;
                --j;
            }
        } while (i <= j);
        if (lo < j) quicksort_by_depth(keys, lo, j);
        if (i >= hi) return;
        lo = i;
    }
}

namespace {

// Maps a float to an unsigned key whose ascending order is the float's descending order (for numbers;
// NaNs are caught by the check after sorting).
uint32_t descending_key(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    const uint32_t ascending = (u & 0x80000000u) ? ~u : (u | 0x80000000u);
    return ~ascending;
}

}  // namespace

bool sort_distinct_depths(DepthKey* keys, int count, DepthSortScratch& scratch) {
    if (count < 2) return count == 0 || keys[0].depth == keys[0].depth;
    const size_t n = static_cast<size_t>(count);
    scratch.packed.resize(2 * n);
    uint64_t* from = scratch.packed.data();
    uint64_t* to = from + n;

    // Each key once as (unsigned key << 32 | position), so that the passes only shift. Least significant
    // byte first; a byte that is the same in every key needs no pass.
    uint32_t histogram[4][256] = {};
    bool nan = false;
    for (size_t i = 0; i < n; ++i) {
        nan |= keys[i].depth != keys[i].depth;
        const uint32_t k = descending_key(keys[i].depth);
        from[i] = uint64_t(k) << 32 | i;
        for (int b = 0; b < 4; ++b) ++histogram[b][(k >> (8 * b)) & 0xFF];
    }
    if (nan) return false;
    const uint32_t first = static_cast<uint32_t>(from[0] >> 32);
    for (int b = 0; b < 4; ++b) {
        uint32_t* h = histogram[b];
        if (h[(first >> (8 * b)) & 0xFF] == n) continue;
        uint32_t offset = 0;
        for (int v = 0; v < 256; ++v) {
            const uint32_t c = h[v];
            h[v] = offset;
            offset += c;
        }
        const int shift = 32 + 8 * b;
        for (size_t i = 0; i < n; ++i) to[h[(from[i] >> shift) & 0xFF]++] = from[i];
        std::swap(from, to);
    }

    // Distinct numbers have strictly ascending keys, except +0 and -0, which are equal depths with
    // neighbouring keys.
    constexpr uint32_t PLUS_ZERO = 0x7FFFFFFF, MINUS_ZERO = 0x80000000;
    for (size_t i = 1; i < n; ++i) {
        const uint32_t before = static_cast<uint32_t>(from[i - 1] >> 32), after = static_cast<uint32_t>(from[i] >> 32);
        if (before >= after || (before == PLUS_ZERO && after == MINUS_ZERO)) return false;
    }
    scratch.sorted.resize(n);
    for (size_t i = 0; i < n; ++i) scratch.sorted[i] = keys[static_cast<uint32_t>(from[i])];
    std::copy(scratch.sorted.begin(), scratch.sorted.end(), keys);
    return true;
}

void sort_by_depth(DepthKey* keys, int count, DepthSortScratch& scratch) {
    // Distinct numbers have one descending order, hence the quicksort's; otherwise the quicksort decides.
    if (!sort_distinct_depths(keys, count, scratch)) quicksort_by_depth(keys, 0, count - 1);
}

}  // namespace zorbrix
