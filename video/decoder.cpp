// The decoder interface: one decoder state per handle, initialisation (geometry, frame store, prediction borders,
// output converter), release, post-processing level, output format, the per-frame decode, and the one place where
// an unsupported stream ends the process.
#include "video/decoder.h"

#include <cstddef>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/fatal.h"
#include "video/colour_convert.h"
#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/stream_features.h"

namespace zorbrix {
namespace {

using mpeg4::DecoderState;

[[noreturn]] void allocation_failed() { fatal_exit(0, "malloc failed\n"); }

// The decoders by handle. Entries are few (one per open stream), so a list searched front to back serves; the
// lock guards the list only, a decoder itself is used by its handle's caller alone. The registry is never
// destroyed, so a stream closed by a static destructor late at exit still finds it.
class Registry {
public:
    DecoderState* find(const void* handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [h, state] : entries_)
            if (h == handle) return state.get();
        return nullptr;
    }

    // The handle's decoder, made (in its initial state) when it has none.
    DecoderState* find_or_create(const void* handle) {
        if (DecoderState* d = find(handle)) return d;
        // Value-initialised: every table starts zeroed, as a static state would.
        std::unique_ptr<DecoderState> made(new (std::nothrow) DecoderState());
        if (!made) allocation_failed();
        made->layer = mpeg4::initial_layer();
        DecoderState* d = made.get();
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            entries_.emplace_back(handle, std::move(made));
        } catch (const std::bad_alloc&) {
            allocation_failed();
        }
        return d;
    }

    // Takes the handle's decoder out of the list; the caller frees it.
    std::unique_ptr<DecoderState> remove(const void* handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first != handle) continue;
            std::unique_ptr<DecoderState> state = std::move(it->second);
            entries_.erase(it);
            return state;
        }
        return nullptr;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<const void*, std::unique_ptr<DecoderState>>> entries_;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// The decoder an option other than OPT_INIT acts on: the handle's, or for a null handle the default one (made on
// first use, like the single state a process once had).
DecoderState* decoder_for(void* handle) {
    return handle ? registry().find(handle) : registry().find_or_create(nullptr);
}

uint8_t* allocate_plane(size_t bytes) {
    void* p = std::malloc(bytes);
    if (!p) allocation_failed();
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

// (Re)initialises a decoder. Header values persist across initialisations except these few defaults; a new
// decoder starts from mpeg4::initial_layer().
int init(DecoderState& d, const InitParams& p) {
    release_frames(d);  // a repeated initialisation does not leak the previous frame store
    d.postproc_enabled = false;
    d.reader.reset(nullptr, 0);
    d.stats = mpeg4::DecodeStats{};

    d.width = p.width;
    d.height = p.height;
    mpeg4::LayerInfo& l = d.layer;
    l.quant_precision = 5;
    l.bits_per_pixel = 8;
    l.quant_type = 0;
    l.complexity_estimation_disable = 1;

    d.size_ok = mpeg4::size_supported(p.width, p.height);
    d.layer_ok = true;
    d.mb_width = d.size_ok ? p.width / 16 : 0;
    d.mb_height = d.size_ok ? p.height / 16 : 0;
    d.mb_count = d.mb_width * d.mb_height;
    d.luma_stride = d.width + 64;
    d.luma_rows = d.height + 64;
    d.chroma_stride = (d.width + 64) / 2;
    d.chroma_rows = (d.height + 64) / 2;
    mpeg4::reset_prediction_borders(d);

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

int decode(DecoderState& d, const FrameParams& p) {
    const size_t length = p.length > 0 ? static_cast<size_t>(p.length) : 0;
    d.reader.reset(static_cast<const uint8_t*>(p.data), length);
    if (!p.data) return 0;
    mpeg4::decode_vol_header(d);
    mpeg4::decode_vop_header(d);
    mpeg4::decode_vop(d, static_cast<uint8_t*>(p.destination), p.render);
    return 0;
}

int call(void* handle, int option, void* param1) {
    switch (option) {
    case OPT_INIT:
        if (!param1) return 0;
        return init(*registry().find_or_create(handle), *static_cast<const InitParams*>(param1));
    case OPT_RELEASE:
        if (!handle) {
            // The default decoder stays; freeing clears the pointers, so a second release does nothing.
            release_frames(*decoder_for(nullptr));
        } else if (std::unique_ptr<DecoderState> d = registry().remove(handle)) {
            release_frames(*d);
        }
        return 0;
    case OPT_POSTPROC: {
        if (!param1) return 2;
        const int level = static_cast<const PostProcParams*>(param1)->level;
        if (level < 0 || level > 100) return 2;
        DecoderState* d = decoder_for(handle);
        if (!d) return 0;
        d->postproc_enabled = level != 0;
        if (level != 0) d->postproc_flags = postproc_flags_for_level(level);
        return 0;
    }
    case OPT_OUTPUT: {
        if (!param1) return 0;
        DecoderState* d = decoder_for(handle);
        if (!d) return 0;
        const int format = static_cast<const InitParams*>(param1)->format;
        d->orientation = 1;
        if (format >= 1 && format <= 7) choose_output(*d, format);
        return 0;
    }
    default: {
        if (!param1) return 0;
        DecoderState* d = decoder_for(handle);
        if (!d) return 0;
        return decode(*d, *static_cast<const FrameParams*>(param1));
    }
    }
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

int decoder_call(void* handle, int option, void* param1, void* /*param2*/) {
    try {
        return call(handle, option, param1);
    } catch (const mpeg4::UnsupportedFeature& e) {
        // The core raises unsupported features where it meets them; here, and only here, they end the process.
        mpeg4::exit_unsupported(e.feature);
    }
}

const mpeg4::DecoderState* decoder_instance(const void* handle) { return registry().find(handle); }

}  // namespace zorbrix
