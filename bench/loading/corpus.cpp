#include "bench/loading/corpus.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

namespace {

const char* const kWords[] = {
    "the",    "party",    "lan",    "network",  "music",   "demo",   "intro",  "with",    "and",     "of",
    "to",     "a",        "in",     "is",       "you",     "that",   "it",     "for",     "on",      "are",
    "compo",  "scene",    "coder",  "graphics", "tracker", "pixel",  "vector", "cube",    "blob",    "frame",
    "sleep",  "bring",    "your",   "computer", "cable",   "switch", "food",   "drinks",  "tickets", "entrance",
    "friday", "saturday", "sunday", "hall",     "tables",  "chairs", "power",  "sockets", "prizes",  "voting",
};

}  // namespace

std::vector<unsigned char> bench_text(size_t bytes) {
    std::mt19937 rng(7);
    std::string text;
    size_t line = 0;
    while (text.size() < bytes) {
        // A skewed choice, as in real text: the first words are the most frequent.
        const size_t n = sizeof kWords / sizeof kWords[0];
        const size_t i = size_t(std::pow(double(rng() % 10000) / 10000.0, 2.5) * double(n));
        const std::string word = kWords[i < n ? i : n - 1];
        text += word;
        line += word.size() + 1;
        if (rng() % 13 == 0) text += rng() % 2 ? "," : ".";
        if (line > 70) {
            text += "\n";
            line = 0;
        } else {
            text += " ";
        }
    }
    text.resize(bytes);
    return {text.begin(), text.end()};
}

namespace {

// 0x00RRGGBB-like colour of a synthetic picture at (x, y).
uint32_t picture_colour(int x, int y, int width, int height, unsigned seed, std::mt19937& rng) {
    const double fx = double(x) / width, fy = double(y) / height;
    int r = int(255 * fx), g = int(255 * fy), b = int(128 + 127 * std::sin(6.0 * fx + seed));
    // Flat discs with hard edges over the gradient.
    for (int k = 0; k < 5; ++k) {
        const double cx = 0.15 + 0.17 * k, cy = 0.3 + 0.1 * ((k + seed) % 5);
        if ((fx - cx) * (fx - cx) + (fy - cy) * (fy - cy) < 0.004 * (k + 2)) {
            r = 40 * k;
            g = 200 - 30 * k;
            b = 90;
        }
    }
    // A band of soft noise, like a photographed texture.
    if (fy > 0.75) {
        r = (r + int(rng() % 24)) & 255;
        g = (g + int(rng() % 24)) & 255;
    }
    return uint32_t(r & 255) << 16 | uint32_t(g & 255) << 8 | uint32_t(b & 255);
}

}  // namespace

std::vector<unsigned char> bench_picture32(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> out;
    out.reserve(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t c = picture_colour(x, y, width, height, seed, rng);
            const bool inside =
                (x - width / 2) * (x - width / 2) + (y - height / 2) * (y - height / 2) < height * height / 5;
            out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(inside ? 255 : 0)});
        }
    return out;
}

std::vector<unsigned char> bench_picture24(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> out;
    out.reserve(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t c = picture_colour(x, y, width, height, seed, rng);
            out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        }
    return out;
}

std::vector<unsigned char> bench_mixed_corpus() {
    std::vector<unsigned char> all = bench_text(256 * 1024);
    for (unsigned seed = 1; seed <= 2; ++seed) {
        const auto p32 = bench_picture32(512, 384, seed);
        all.insert(all.end(), p32.begin(), p32.end());
    }
    const auto p24 = bench_picture24(256, 192, 3);
    all.insert(all.end(), p24.begin(), p24.end());
    return all;
}
