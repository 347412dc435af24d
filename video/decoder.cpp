// The decoder interface: initialisation (geometry, frame store, prediction borders, output converter), release,
// post-processing level, output format and the per-frame decode.
#include "video/decoder.h"

#include <cstdlib>
#include <initializer_list>
#include <cstddef>

#include "platform/fatal.h"
#include "video/colour_convert.h"
#include "video/mpeg4/decoder_core.h"

namespace zorbrix {
namespace {

using mpeg4::DecoderState;

bool g_first_init = true;

uint8_t* allocate_plane(size_t bytes) {
    void* p = std::malloc(bytes);
    if (!p) fatal_exit(0, "malloc failed\n");
    return static_cast<uint8_t*>(p);
}

void release_frames(DecoderState& d) {
    mpeg4::FrameStore& fs = d.frames;
    std::free(fs.out_y);
    std::free(fs.out_u);
    std::free(fs.out_v);
    for (mpeg4::Frame* f : {&fs.current, &fs.reference}) {
        std::free(f->y_base);
        std::free(f->u_base);
        std::free(f->v_base);
        *f = mpeg4::Frame{};
    }
    fs.out_y = fs.out_u = fs.out_v = nullptr;
}

void choose_output(DecoderState& d, int format) {
    d.converter = converter_for_format(format);
    d.orientation = (format >= FMT_RGB32 && format <= FMT_RGB565) ? -1 : 1;
}

int init(const InitParams& p) {
    DecoderState& d = mpeg4::decoder_state();
    release_frames(d);  // a repeated initialisation does not leak the previous frame store
    d.postproc_enabled = false;
    d.reader.reset(nullptr, 0);
    d.stats = mpeg4::DecodeStats{};

    d.width = p.width;
    d.height = p.height;
    mpeg4::StreamState& s = d.stream;
    s.quant_precision = 5;
    s.bits_per_pixel = 8;
    s.quant_type = 0;
    s.complexity_estimation_disable = 1;
    if (g_first_init) s.vop_time_increment_resolution = 15;
    g_first_init = false;

    d.size_ok = mpeg4::size_supported(p.width, p.height);
    d.layer_ok = true;
    d.mb_width = d.size_ok ? p.width / 16 : 0;
    d.mb_height = d.size_ok ? p.height / 16 : 0;
    d.mb_count = d.mb_width * d.mb_height;
    d.luma_stride = d.width + 64;
    d.luma_rows = d.height + 64;
    d.chroma_stride = (d.width + 64) / 2;
    d.chroma_rows = (d.height + 64) / 2;
    mpeg4::reset_prediction_borders();

    if (d.size_ok) {
        const size_t luma = static_cast<size_t>(d.luma_stride) * d.luma_rows;
        const size_t chroma = static_cast<size_t>(d.chroma_stride) * d.chroma_rows;
        mpeg4::FrameStore& fs = d.frames;
        fs.current.y_base = allocate_plane(luma);
        fs.reference.y_base = allocate_plane(luma);
        fs.current.u_base = allocate_plane(chroma);
        fs.reference.u_base = allocate_plane(chroma);
        fs.current.v_base = allocate_plane(chroma);
        fs.reference.v_base = allocate_plane(chroma);
        fs.out_y = allocate_plane(static_cast<size_t>(d.width) * d.height);
        fs.out_u = allocate_plane(static_cast<size_t>(d.width) * d.height / 4);
        fs.out_v = allocate_plane(static_cast<size_t>(d.width) * d.height / 4);
        for (mpeg4::Frame* f : {&fs.current, &fs.reference}) {
            f->y = f->y_base + static_cast<ptrdiff_t>(mpeg4::kLumaMargin) * d.luma_stride + mpeg4::kLumaMargin;
            f->u = f->u_base + static_cast<ptrdiff_t>(mpeg4::kChromaMargin) * d.chroma_stride + mpeg4::kChromaMargin;
            f->v = f->v_base + static_cast<ptrdiff_t>(mpeg4::kChromaMargin) * d.chroma_stride + mpeg4::kChromaMargin;
        }
    }

    if (p.bits_per_pixel != 0) {
        const int format = p.bits_per_pixel == 16 ? FMT_RGB565 : p.bits_per_pixel == 32 ? FMT_RGB32 : FMT_RGB24;
        d.converter = converter_for_format(format);
        d.orientation = -1;
    } else {
        choose_output(d, p.format);
    }
    return 0;
}

int decode(const FrameParams& p) {
    DecoderState& d = mpeg4::decoder_state();
    const size_t length = p.length > 0 ? static_cast<size_t>(p.length) : 0;
    d.reader.reset(static_cast<const uint8_t*>(p.data), length);
    if (!p.data) return 0;
    mpeg4::decode_vol_header();
    mpeg4::decode_vop_header();
    mpeg4::decode_vop(static_cast<uint8_t*>(p.destination), p.render);
    return 0;
}

}  // namespace

uint32_t postproc_flags_for_level(int level) {
    if (level <= 0) return 0;
    if (level < 10) return 0x01;
    if (level < 20) return 0x03;
    if (level < 30) return 0x13;
    if (level < 40) return 0x17;
    if (level < 50) return 0x1F;
    return 0x3F;
}

int decoder_call(void* /*handle*/, int option, void* param1, void* /*param2*/) {
    DecoderState& d = mpeg4::decoder_state();
    switch (option) {
    case OPT_INIT:
        if (!param1) return 0;
        return init(*static_cast<const InitParams*>(param1));
    case OPT_RELEASE:
        release_frames(d);  // freeing clears the pointers, so a second release does nothing
        return 0;
    case OPT_POSTPROC: {
        if (!param1) return 2;
        const int level = static_cast<const PostProcParams*>(param1)->level;
        if (level < 0 || level > 100) return 2;
        d.postproc_enabled = level != 0;
        if (level != 0) d.postproc_flags = postproc_flags_for_level(level);
        return 0;
    }
    case OPT_OUTPUT: {
        if (!param1) return 0;
        const int format = static_cast<const InitParams*>(param1)->format;
        d.orientation = 1;
        if (format >= 1 && format <= 7) choose_output(d, format);
        return 0;
    }
    default:
        if (!param1) return 0;
        return decode(*static_cast<const FrameParams*>(param1));
    }
}

}  // namespace zorbrix
