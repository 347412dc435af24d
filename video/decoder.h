#pragma once
// The video decoder's single entry point. Every handle (any address the caller owns; VideoStream passes its own)
// has a decoder of its own: OPT_INIT creates it, or initialises again the one the handle has; OPT_RELEASE frees
// it; the other options act on it and do nothing for a handle without one. A null handle names one default decoder
// that lives as long as the process (OPT_RELEASE frees only its frame store), as there was when the handle was
// not looked at. Calling order for a handle: OPT_INIT once, optionally OPT_POSTPROC and OPT_OUTPUT, OPT_DECODE once
// per coded frame in stream order, OPT_RELEASE once. Calls for different handles may interleave in any order and
// come from different threads; calls for one handle must not overlap.
//
// A stream with a feature the decoder does not play ends the process: "unsupported video feature: NAME" on
// standard error, then fatal_exit with the feature's status 101..110 (video/mpeg4/stream_features.h).
#include <cstdint>

namespace zorbrix {

namespace mpeg4 {
struct DecoderState;
}

constexpr int OPT_INIT = 0x8000;
constexpr int OPT_RELEASE = 0x10000;
constexpr int OPT_POSTPROC = 0x20000;
constexpr int OPT_OUTPUT = 0x40000;
constexpr int OPT_DECODE = 0;  // any other option value decodes too

// OPT_INIT: geometry and output choice; OPT_OUTPUT reads only format. bits_per_pixel 0 selects by format
// (FMT_* of video/colour_convert.h); 16 gives RGB565, 32 RGB32, other non-zero values RGB24.
struct InitParams {
    int32_t width;
    int32_t height;
    int32_t bits_per_pixel;
    int32_t format;
};

// OPT_DECODE: one coded frame. With render 1 the picture is converted into destination.
struct FrameParams {
    void* destination;
    const void* data;
    int32_t length;
    int32_t render;
};

// OPT_POSTPROC: 0 switches deblocking off, 1..100 selects filters (50 and above: all); others give result 2.
struct PostProcParams {
    int32_t level;
};

int decoder_call(void* handle, int option, void* param1, void* param2);

// The decoder behind a handle (null: the default decoder), or null when the handle has none (never initialised,
// or released). For tests and tools that read its counters and state; valid until the handle's OPT_RELEASE.
const mpeg4::DecoderState* decoder_instance(const void* handle);

// The post-processing flags a level selects (0 for level 0).
uint32_t postproc_flags_for_level(int level);

}  // namespace zorbrix
