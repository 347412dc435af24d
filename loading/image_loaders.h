#pragma once
// Targa and JPEG files, read through file_load, turned into blocks of 32-bit pixels.

#include <cstddef>
#include <cstdint>

namespace zorbrix {

// width x height pixels 0xAARRGGBB (bytes B, G, R, A in memory), top row first, rows without padding.
// The pixel block comes from std::malloc; pixels is null when it could not be allocated (or the size is 0 x 0).
struct RawImage {
    RawImage(int width, int height);  // allocates width * height pixels, not cleared
    ~RawImage();                      // releases the pixels
    RawImage(const RawImage&) = delete;
    RawImage& operator=(const RawImage&) = delete;

    uint32_t* pixels;
    int width;
    int height;
};

// Picks the loader by the name's extension, ".tga" or ".jpg" in any letter case; null for anything else or on
// failure. The caller deletes the result.
RawImage* image_load(const char* name);

// Uncompressed 24- or 32-bit Targa, bottom row stored first. For 24-bit files the alpha byte is left as allocated.
RawImage* LoadTarga(const char* name);

// JPEG through libjpeg; pixels R << 16 | G << 8 | B with alpha 0. A libjpeg error prints the library's message on
// standard error and ends the process with status 1 (through zorbrix::fatal_exit).
RawImage* LoadJpeg(const char* name);

// The in-memory stand-in for the input file of libjpeg's standard data source.
struct MemoryStream {
    const unsigned char* data;
    int size;
    int position;
};

// Reads up to count bytes (element_size is ignored; libjpeg reads single bytes) like fread; returns the number
// delivered, 0 at the end of the data.
size_t mem_read(void* destination, size_t element_size, size_t count, MemoryStream* stream);

}  // namespace zorbrix
