#pragma once
// The stream features this decoder does not play, with their names and exit statuses, and the layer and VOP header
// parsers that report them instead of ending the process. The decoder parses its headers with the same functions
// (video/mpeg4/headers.cpp), raises UnsupportedFeature for the features it refuses, and the decoder interface turns
// that into the process exit; tools (an importer, for instance) call the parsers to refuse a stream before
// anything is written.
#include <cstddef>
#include <cstdint>

#include "video/mpeg4/bitreader.h"

namespace zorbrix::mpeg4 {

// Features outside the decoded subset. The values below 1000 are the decoder's exit statuses; the others have
// no status (the decoder reads past them, so a tool must refuse them itself).
enum class StreamFeature : int {
    None = 0,
    // Ending the decoder with a fixed status.
    MissingLayerStartCode = 101,  // a video object start code without a layer start code after it
    DataPartitioning = 102,
    Scalability = 103,
    UserDataAfterLayer = 104,
    ComplexityEstimation = 108,
    Interlace = 109,
    MpegQuantisation = 110,
    // Without a decoder status.
    NoLayer = 1000,  // no video object layer header at all
    NonRectangularShape,
    PictureSize,       // not a multiple of 16, zero, or over 720 x 576
    OverlappedMotion,  // obmc_disable 0
    SpriteGmc,         // sprite_enable in the layer, or an S-VOP
    NotEightBit,       // samples other than 8 bits
    QuarterPel,
    Newpred,
    ReducedResolution,
    BFrames,
    IntraDcAsAc,  // intra_dc_vlc_thr not 0: some intra DCs are coded among the AC coefficients
};

// The exit status the decoder ends with for a feature, 0 when it has none.
int feature_exit_status(StreamFeature feature);
// The human name: "MPEG quantisation", "B-frames", ... ("" for None).
const char* feature_name(StreamFeature feature);

// What the decoding core throws when a stream uses a feature it refuses. Nothing is printed where it is raised:
// decoder_call (video/decoder.cpp) catches it and ends the process through exit_unsupported().
struct UnsupportedFeature {
    StreamFeature feature;
};

// Prints "unsupported video feature: NAME" on standard error, then ends through fatal_exit with the feature's
// status (1 for a feature without one). Called in one place, decoder_call, for an UnsupportedFeature.
[[noreturn]] void exit_unsupported(StreamFeature feature);

// The video object layer's fields, as parsed.
struct LayerInfo {
    int video_object_layer_id = 0;
    int random_accessible_vol = 0;
    int video_object_type_indication = 0;
    int verid = 1;
    int priority = 1;
    int aspect_ratio_info = 0;
    int vol_control_parameters = 0;
    int shape = 0;  // 0 rectangular, 1 binary, 2 binary only, 3 grayscale
    int vop_time_increment_resolution = 0;
    int time_increment_bits = 1;  // width of vop_time_increment
    int fixed_vop_rate = 0;
    int fixed_vop_time_increment = 0;
    int width = 0;
    int height = 0;
    int interlaced = 0;
    int obmc_disable = 1;
    int sprite_enable = 0;
    int quant_precision = 5;
    int bits_per_pixel = 8;
    int quant_type = 0;
    int quarter_sample = 0;
    int complexity_estimation_disable = 1;
    int resync_marker_disable = 1;
    int data_partitioned = 0;
    int reversible_vlc = 0;
    int newpred_enable = 0;
    int reduced_resolution_vop_enable = 0;
    int scalability = 0;
};

// Parsing stops at a feature after which the layer's remaining fields cannot be located (a non-rectangular
// shape, complexity estimation, scalability); fields past that point keep their defaults and complete is false.
struct LayerReport {
    LayerInfo layer;
    StreamFeature first = StreamFeature::None;  // first unsupported feature in syntax order
    uint64_t features = 0;                      // every feature met, bit feature_bit(f)
    bool complete = false;                      // parsed to the end, within the data
    size_t end_bit = 0;                         // reader position after the last layer field
};

// The video object plane header's fields, as parsed.
struct VopInfo {
    int coding_type = 0;       // 0 I, 1 P, 2 B, 3 S
    int modulo_time_base = 0;  // seconds (1 bits) in this header
    int time_increment = 0;
    int coded = 0;
    int rounding_type = 0;
    int intra_dc_vlc_thr = 0;
    int quant = 0;
    int fcode_forward = 1;
    int fcode_backward = 1;
};

struct VopReport {
    VopInfo vop;
    StreamFeature first = StreamFeature::None;
    uint64_t features = 0;
    bool found = false;     // the VOP start code was there
    bool complete = false;  // parsed to the end of the header, within the data
};

constexpr uint64_t feature_bit(StreamFeature f) {
    const int v = static_cast<int>(f);
    return v == 0 ? 0 : uint64_t{1} << (v >= 1000 ? 16 + (v - 1000) : v - 100);
}

// Parses a video object layer header. The reader stands at its start code (0x00000120..0x0000012F); returns
// what it found, the reader left after the last field read. Never ends the process.
LayerReport parse_layer_header(BitReader& br);

// Parses a VOP header for the given layer. The reader stands at the VOP start code (0x000001B6) or at the
// next_start_code() stuffing before it. Never ends the process. The fields start from `previous`, so those the
// header does not carry (the forward fcode of an I-VOP, everything after vop_coded 0, all of them when the start
// code is missing) keep its values; the decoder passes its last VOP's, so values persist from VOP to VOP.
// modulo_time_base always counts this header's seconds only.
VopReport parse_vop_header(BitReader& br, const LayerInfo& layer, const VopInfo& previous = VopInfo{});

}  // namespace zorbrix::mpeg4
