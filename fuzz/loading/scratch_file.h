#pragma once
// The loaders read files by name; fuzz targets hand them their input through one scratch file per process.

#include <cstddef>
#include <cstdint>
#include <string>

// The folder of this process's scratch files (with a trailing slash), created on first use.
const std::string& scratch_directory();
// Writes the bytes to scratch_directory() + name and returns the full path.
std::string write_scratch_file(const char* name, const uint8_t* data, size_t size);
