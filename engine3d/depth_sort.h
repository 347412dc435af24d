#pragma once
// Back-to-front ordering of triangles by depth, descending (the farthest, largest depth first).
//
// The order is defined by the engine's own quicksort (Hoare partition around the middle element),
// which is not stable: triangles of equal depth end in whatever order its exchanges leave them, and the
// picture depends on that order. When all depths are distinct (and numbers), every correct sort gives
// the same order, so `sort_by_depth` first tries a branch-free radix sort and falls back to the
// quicksort only when it meets equal depths or a NaN. The result is always that of the quicksort.

#include <cstdint>
#include <vector>

namespace zorbrix {

struct DepthKey {
    float depth;
    int index;
};

// Working storage of the sorts below, reused from call to call.
struct DepthSortScratch {
    std::vector<uint64_t> packed;
    std::vector<DepthKey> sorted;
};

// The defining quicksort on keys[lo..hi], descending by depth.
void quicksort_by_depth(DepthKey* keys, int lo, int hi);

// Sorts keys[0..count-1] descending by depth and returns true when the depths are distinct numbers (no
// NaN, no two equal; +0 and -0 are equal). Otherwise returns false and leaves keys untouched. A
// branch-free radix sort.
bool sort_distinct_depths(DepthKey* keys, int count, DepthSortScratch& scratch);

// Sorts keys[0..count-1] descending by depth with exactly the quicksort's result.
void sort_by_depth(DepthKey* keys, int count, DepthSortScratch& scratch);

}  // namespace zorbrix
