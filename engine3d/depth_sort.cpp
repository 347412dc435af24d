#include "engine3d/depth_sort.h"

#include <cstdint>
#include <cstring>

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

bool sort_distinct_depths(DepthKey* keys, int count, std::vector<DepthKey>& scratch) {
    if (count < 2) return count == 1 ? keys[0].depth == keys[0].depth : true;
    const size_t n = static_cast<size_t>(count);
    scratch.resize(2 * n);
    DepthKey* from = keys;
    DepthKey* to = scratch.data();
    DepthKey* spare = scratch.data() + n;

    // Least significant byte first; a byte that is the same in every key needs no pass.
    uint32_t histogram[4][256] = {};
    for (size_t i = 0; i < n; ++i) {
        const uint32_t k = descending_key(keys[i].depth);
        for (int b = 0; b < 4; ++b) ++histogram[b][(k >> (8 * b)) & 0xFF];
    }
    const uint32_t first = descending_key(keys[0].depth);
    for (int b = 0; b < 4; ++b) {
        uint32_t* h = histogram[b];
        if (h[(first >> (8 * b)) & 0xFF] == n) continue;
        uint32_t offset = 0;
        for (int v = 0; v < 256; ++v) {
            const uint32_t c = h[v];
            h[v] = offset;
            offset += c;
        }
        for (size_t i = 0; i < n; ++i) to[h[(descending_key(from[i].depth) >> (8 * b)) & 0xFF]++] = from[i];
        from = to;
        to = (to == spare) ? scratch.data() : spare;
    }

    // Strictly descending means the depths were distinct numbers. Otherwise leave the input untouched.
    for (size_t i = 1; i < n; ++i)
        if (!(from[i - 1].depth > from[i].depth)) return false;
    if (from != keys) std::memcpy(keys, from, n * sizeof(DepthKey));
    return true;
}

void sort_by_depth(DepthKey* keys, int count, std::vector<DepthKey>& scratch) {
    // Distinct numbers have one descending order, hence the quicksort's; otherwise the quicksort decides.
    if (!sort_distinct_depths(keys, count, scratch)) quicksort_by_depth(keys, 0, count - 1);
}
