#pragma once
// Small file and picture helpers that many tests share.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The whole file as bytes (empty when it cannot be read).
std::vector<uint8_t> read_all(const std::string& path);

// Peak signal-to-noise ratio of two 8-bit sample runs of length n, in dB; 99 when they are equal.
double psnr(const uint8_t* a, const uint8_t* b, size_t n);

// A character device of the test's own at `path` (major 1: minor 3 behaves as null, 7 as full), so that tests never
// write to the machine's /dev. False when it cannot be made (not root, a file system without device nodes).
bool make_char_node(const std::string& path, unsigned minor_number);
// Whether `path` itself (not what a link points to) is a character device.
bool is_char_device(const std::string& path);
