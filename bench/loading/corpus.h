#pragma once
// A deterministic mixed corpus for the unpacking benchmarks: pseudo-English text and synthetic 32- and 24-bit
// pictures (smooth gradients, flat shapes with hard edges, soft noise), the kinds of files the intro's archive holds.

#include <cstddef>
#include <vector>

std::vector<unsigned char> bench_text(size_t bytes);
std::vector<unsigned char> bench_picture32(int width, int height, unsigned seed);
std::vector<unsigned char> bench_picture24(int width, int height, unsigned seed);
std::vector<unsigned char> bench_mixed_corpus();
