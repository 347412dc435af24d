#include "loading/image_loaders.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <cstdlib>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "loading/file_load.h"
#include "loading/resource_archive.h"
#include "platform/fatal.h"

namespace zorbrix {

RawImage::RawImage(int w, int h) : pixels(nullptr), width(w < 0 ? 0 : w), height(h < 0 ? 0 : h) {
    const uint64_t count = uint64_t(width) * uint64_t(height);
    if (count > 0 && count <= SIZE_MAX / sizeof(uint32_t)) {
        pixels = static_cast<uint32_t*>(std::malloc(size_t(count) * sizeof(uint32_t)));
    }
}

RawImage::~RawImage() { std::free(pixels); }

namespace {

bool ends_with_ignoring_case(const char* name, size_t length, const char* suffix) {
    for (size_t i = 0; i < 4; ++i) {
        char c = name[length - 4 + i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

// A RawImage whose pixels could be allocated, or null.
RawImage* new_raw_image(int width, int height) {
    RawImage* image = new (std::nothrow) RawImage(width, height);
    if (image && !image->pixels && uint64_t(image->width) * uint64_t(image->height) > 0) {
        delete image;
        return nullptr;
    }
    return image;
}

}  // namespace

RawImage* image_load(const char* name) {
    if (!name) return nullptr;
    const size_t length = std::strlen(name);
    if (length <= 4) return nullptr;
    if (ends_with_ignoring_case(name, length, ".jpg")) return LoadJpeg(name);
    if (ends_with_ignoring_case(name, length, ".tga")) return LoadTarga(name);
    return nullptr;
}

// Pixel data is always read from offset 18 as uncompressed rows, the bottom row first, whatever the ID length,
// colour map and image type say: the intro's own files are written that way.
RawImage* LoadTarga(const char* name) {
    load_diagnostic("LoadTarga() - Loading targa image (%s)", name ? name : "");
    int size = 0;
    unsigned char* data = file_load(name, &size);
    if (!data) return nullptr;

    constexpr int kHeader = 18;
    RawImage* image = nullptr;
    if (size >= kHeader && (data[16] == 24 || data[16] == 32)) {
        const int width = data[12] | data[13] << 8;
        const int height = data[14] | data[15] << 8;
        const int bytes_per_pixel = data[16] / 8;
        const uint64_t needed = kHeader + uint64_t(width) * uint64_t(height) * uint64_t(bytes_per_pixel);
        if (uint64_t(size) >= needed) image = new_raw_image(width, height);
        if (image && image->pixels) {  // (a picture with no pixels, 0 x 3 say, has no rows to copy)
            for (int r = 0; r < height; ++r) {
                const unsigned char* src = data + kHeader + size_t(height - 1 - r) * size_t(width) * bytes_per_pixel;
                unsigned char* dst = reinterpret_cast<unsigned char*>(image->pixels + size_t(r) * size_t(width));
                if (bytes_per_pixel == 4) {
                    std::memcpy(dst, src, size_t(width) * 4);
                } else {
                    // No alpha in the file: the fourth byte is 0, as for JPEG pixels, rather than left undefined.
                    for (int x = 0; x < width; ++x) {
                        dst[4 * x + 0] = src[3 * x + 0];
                        dst[4 * x + 1] = src[3 * x + 1];
                        dst[4 * x + 2] = src[3 * x + 2];
                        dst[4 * x + 3] = 0;
                    }
                }
            }
        }
    }
    std::free(data);
    return image;
}

size_t mem_read(void* destination, size_t /*element_size*/, size_t count, MemoryStream* stream) {
    if (stream->position < 0 || stream->position >= stream->size) return 0;
    const size_t remaining = size_t(stream->size - stream->position);
    const size_t n = count < remaining ? count : remaining;
    std::memcpy(destination, stream->data + stream->position, n);
    stream->position += int(n);
    return n;
}

namespace {

constexpr size_t kJpegInputBufferSize = 4096;

// libjpeg's standard file data source, reading from a MemoryStream instead of a FILE.
struct MemorySource {
    jpeg_source_mgr pub;
    MemoryStream* stream;
    JOCTET* buffer;
    boolean start_of_file;
};

void source_init(j_decompress_ptr cinfo) { reinterpret_cast<MemorySource*>(cinfo->src)->start_of_file = TRUE; }

boolean source_fill(j_decompress_ptr cinfo) {
    MemorySource* src = reinterpret_cast<MemorySource*>(cinfo->src);
    size_t n = mem_read(src->buffer, 1, kJpegInputBufferSize, src->stream);
    if (n == 0) {
        if (src->start_of_file) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // Out of data: warn and pretend the image ends here, so a truncated file still shows what it holds.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = JOCTET(0xFF);
        src->buffer[1] = JOCTET(JPEG_EOI);
        n = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    src->start_of_file = FALSE;
    return TRUE;
}

void source_skip(j_decompress_ptr cinfo, long num_bytes) {
    jpeg_source_mgr* src = cinfo->src;
    if (num_bytes <= 0) return;
    while (num_bytes > long(src->bytes_in_buffer)) {
        num_bytes -= long(src->bytes_in_buffer);
        (void)(*src->fill_input_buffer)(cinfo);
    }
    src->next_input_byte += size_t(num_bytes);
    src->bytes_in_buffer -= size_t(num_bytes);
}

void source_term(j_decompress_ptr) {}

void attach_memory_source(j_decompress_ptr cinfo, MemoryStream* stream) {
    auto* src = static_cast<MemorySource*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(MemorySource)));
    src->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kJpegInputBufferSize));
    src->stream = stream;
    src->start_of_file = TRUE;
    src->pub.init_source = source_init;
    src->pub.fill_input_buffer = source_fill;
    src->pub.skip_input_data = source_skip;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = source_term;
    src->pub.bytes_in_buffer = 0;
    src->pub.next_input_byte = nullptr;
    cinfo->src = &src->pub;
}

// Everything a decode owns, in one place, so that an error can release it all after unwinding out of libjpeg.
struct JpegJob {
    jpeg_decompress_struct cinfo;
    struct {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
    } error;
    MemoryStream stream;
    RawImage* image = nullptr;
    unsigned char* row = nullptr;
    bool created = false;
};

// The library's default error handling prints its message and exits; we print the same message, then leave
// libjpeg's frames by longjmp (they hold nothing of their own) and do the release and the exit from our side.
[[noreturn]] void on_jpeg_error(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    auto* error = reinterpret_cast<decltype(JpegJob::error)*>(cinfo->err);
    std::longjmp(error->jump, 1);
}

void release(JpegJob& job) {
    if (job.created) jpeg_destroy_decompress(&job.cinfo);
    job.created = false;
    std::free(job.row);
    job.row = nullptr;
}

// Returns 1 on success (job.image set), 0 when the picture is of a kind we do not turn into pixels, -1 on a
// libjpeg error. No object with a destructor lives in this frame: longjmp lands here.
int decode(JpegJob& job) {
    jpeg_decompress_struct* cinfo = &job.cinfo;
    cinfo->err = jpeg_std_error(&job.error.pub);
    job.error.pub.error_exit = on_jpeg_error;
    if (setjmp(job.error.jump)) return -1;
    jpeg_create_decompress(cinfo);
    job.created = true;
    attach_memory_source(cinfo, &job.stream);
    jpeg_read_header(cinfo, TRUE);
    jpeg_start_decompress(cinfo);

    const int components = cinfo->output_components;
    // Three components are R, G, B; a greyscale picture gives each pixel its one value three times. Others (CMYK)
    // would need colour management we do not have.
    if (components != 3 && components != 1) return 0;
    job.image = new_raw_image(int(cinfo->output_width), int(cinfo->output_height));
    job.row = static_cast<unsigned char*>(std::malloc(size_t(components) * cinfo->output_width + 1));
    if (!job.image || !job.row) return 0;

    const size_t width = cinfo->output_width;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW rows[1] = {job.row};
        const JDIMENSION y = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, rows, 1) != 1) break;
        uint32_t* out = job.image->pixels + size_t(y) * width;
        const unsigned char* in = job.row;
        if (components == 3) {
            for (size_t x = 0; x < width; ++x) {
                out[x] = uint32_t(in[3 * x]) << 16 | uint32_t(in[3 * x + 1]) << 8 | in[3 * x + 2];
            }
        } else {
            for (size_t x = 0; x < width; ++x) out[x] = uint32_t(in[x]) * 0x010101u;
        }
    }
    jpeg_finish_decompress(cinfo);
    return 1;
}

}  // namespace

RawImage* LoadJpeg(const char* name) {
    int size = 0;
    unsigned char* data = file_load(name, &size);
    if (!data) return nullptr;

    JpegJob* job = new (std::nothrow) JpegJob();
    if (!job) {
        std::free(data);
        return nullptr;
    }
    job->stream = MemoryStream{data, size, 0};
    const int result = decode(*job);
    release(*job);
    std::free(data);
    RawImage* image = job->image;
    delete job;
    if (result == 1) return image;
    delete image;
    if (result < 0) zorbrix::fatal_exit(1);
    return nullptr;
}

}  // namespace zorbrix
