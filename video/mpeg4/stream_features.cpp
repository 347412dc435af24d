// Names and statuses of the unsupported stream features, and the layer and VOP header parsers that report them.
#include "video/mpeg4/stream_features.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/fatal.h"
#include "video/mpeg4/codec_rules.h"

namespace zorbrix::mpeg4 {
namespace {

int increment_bits(int resolution) {
    if (resolution <= 1) return 1;
    const int bits = static_cast<int>(std::ceil(std::log(static_cast<double>(resolution)) / std::log(2.0)));
    return std::max(bits, 1);
}

// Records a feature; the first one met stays the first.
template <typename Report>
void note(Report& r, StreamFeature f) {
    if (r.first == StreamFeature::None) r.first = f;
    r.features |= feature_bit(f);
}

// load_*_quant_mat: up to 64 eight-bit values, a 0 ending the list early.
void skip_quant_matrix(BitReader& br) {
    if (!br.read_bits(1)) return;
    for (int i = 0; i < 64; ++i) {
        if (br.read_bits(8) == 0) break;
        if (br.bit_position() > br.bit_length()) break;
    }
}

}  // namespace

int feature_exit_status(StreamFeature feature) {
    const int v = static_cast<int>(feature);
    return v >= 101 && v <= 110 ? v : 0;
}

const char* feature_name(StreamFeature feature) {
    switch (feature) {
    case StreamFeature::None: return "";
    case StreamFeature::MissingLayerStartCode: return "video object without a layer";
    case StreamFeature::DataPartitioning: return "data partitioning";
    case StreamFeature::Scalability: return "scalability";
    case StreamFeature::UserDataAfterLayer: return "user data after the VOL";
    case StreamFeature::ComplexityEstimation: return "complexity estimation";
    case StreamFeature::Interlace: return "interlace";
    case StreamFeature::MpegQuantisation: return "MPEG quantisation";
    case StreamFeature::NoLayer: return "no VOL";
    case StreamFeature::NonRectangularShape: return "non-rectangular shape";
    case StreamFeature::PictureSize: return "picture size";
    case StreamFeature::OverlappedMotion: return "overlapped motion compensation";
    case StreamFeature::SpriteGmc: return "sprite/GMC VOPs";
    case StreamFeature::NotEightBit: return "samples other than 8 bits";
    case StreamFeature::QuarterPel: return "quarter-pel motion";
    case StreamFeature::Newpred: return "NEWPRED";
    case StreamFeature::ReducedResolution: return "reduced-resolution VOPs";
    case StreamFeature::BFrames: return "B-frames";
    case StreamFeature::IntraDcAsAc: return "intra DC coded with the AC codes (intra_dc_vlc_thr)";
    }
    return "unknown feature";
}

void exit_unsupported(StreamFeature feature) {
    std::fprintf(stderr, "unsupported video feature: %s\n", feature_name(feature));
    std::fflush(stderr);
    const int status = feature_exit_status(feature);
    fatal_exit(status ? status : 1);
}

LayerReport parse_layer_header(BitReader& br) {
    LayerReport r;
    LayerInfo& l = r.layer;
    const uint32_t start = br.read_bits(32);
    if ((start & ~0xFu) != 0x120) {
        note(r, StreamFeature::NoLayer);
        return r;
    }
    l.video_object_layer_id = static_cast<int>(start & 0xF);
    l.random_accessible_vol = static_cast<int>(br.read_bits(1));
    l.video_object_type_indication = static_cast<int>(br.read_bits(8));
    if (br.read_bits(1)) {
        l.verid = static_cast<int>(br.read_bits(4));
        l.priority = static_cast<int>(br.read_bits(3));
    }
    l.aspect_ratio_info = static_cast<int>(br.read_bits(4));
    if (l.aspect_ratio_info == 15) br.advance_bits(16);  // par_width, par_height
    l.vol_control_parameters = static_cast<int>(br.read_bits(1));
    if (l.vol_control_parameters) {
        br.advance_bits(2 + 1);                    // chroma_format, low_delay
        if (br.read_bits(1)) br.advance_bits(79);  // vbv_parameters
    }
    l.shape = static_cast<int>(br.read_bits(2));
    if (l.shape == 3 && l.verid != 1) br.advance_bits(4);  // video_object_layer_shape_extension
    br.read_marker();
    l.vop_time_increment_resolution = static_cast<int>(br.read_bits(16));
    l.time_increment_bits = increment_bits(l.vop_time_increment_resolution);
    br.read_marker();
    l.fixed_vop_rate = static_cast<int>(br.read_bits(1));
    if (l.fixed_vop_rate) l.fixed_vop_time_increment = static_cast<int>(br.read_bits(l.time_increment_bits));
    if (l.shape != 0) {
        // Shape fields follow that this decoder does not take; the rest of the layer is not located.
        note(r, StreamFeature::NonRectangularShape);
        r.end_bit = br.bit_position();
        return r;
    }
    br.read_marker();
    l.width = static_cast<int>(br.read_bits(13));
    br.read_marker();
    l.height = static_cast<int>(br.read_bits(13));
    br.read_marker();
    if (!size_supported(l.width, l.height)) note(r, StreamFeature::PictureSize);
    l.interlaced = static_cast<int>(br.read_bits(1));
    if (l.interlaced) note(r, StreamFeature::Interlace);
    l.obmc_disable = static_cast<int>(br.read_bits(1));
    if (!l.obmc_disable) note(r, StreamFeature::OverlappedMotion);
    l.sprite_enable = static_cast<int>(br.read_bits(l.verid == 1 ? 1 : 2));
    if (l.sprite_enable) {
        note(r, StreamFeature::SpriteGmc);
        if (l.sprite_enable != 2) br.advance_bits(13 + 1 + 13 + 1 + 13 + 1 + 13 + 1);  // static sprite geometry
        br.advance_bits(6 + 2 + 1);  // no_of_sprite_warping_points, sprite_warping_accuracy, brightness_change
        if (l.sprite_enable != 2) br.advance_bits(1);  // low_latency_sprite_enable
    }
    if (br.read_bits(1)) {  // not_8_bit
        l.quant_precision = static_cast<int>(br.read_bits(4));
        l.bits_per_pixel = static_cast<int>(br.read_bits(4));
        if (l.bits_per_pixel != 8) note(r, StreamFeature::NotEightBit);
    }
    l.quant_type = static_cast<int>(br.read_bits(1));
    if (l.quant_type) {
        note(r, StreamFeature::MpegQuantisation);
        skip_quant_matrix(br);  // intra
        skip_quant_matrix(br);  // non-intra
    }
    if (l.verid != 1) {
        l.quarter_sample = static_cast<int>(br.read_bits(1));
        if (l.quarter_sample) note(r, StreamFeature::QuarterPel);
    }
    l.complexity_estimation_disable = static_cast<int>(br.read_bits(1));
    if (!l.complexity_estimation_disable) {
        // Its estimation header follows; the rest of the layer is not located.
        note(r, StreamFeature::ComplexityEstimation);
        r.end_bit = br.bit_position();
        return r;
    }
    l.resync_marker_disable = static_cast<int>(br.read_bits(1));
    l.data_partitioned = static_cast<int>(br.read_bits(1));
    if (l.data_partitioned) {
        note(r, StreamFeature::DataPartitioning);
        l.reversible_vlc = static_cast<int>(br.read_bits(1));
    }
    if (l.verid != 1) {
        l.newpred_enable = static_cast<int>(br.read_bits(1));
        if (l.newpred_enable) {
            note(r, StreamFeature::Newpred);
            br.advance_bits(2 + 1);  // requested_upstream_message_type, newpred_segment_type
        }
        l.reduced_resolution_vop_enable = static_cast<int>(br.read_bits(1));
        if (l.reduced_resolution_vop_enable) note(r, StreamFeature::ReducedResolution);
    }
    l.scalability = static_cast<int>(br.read_bits(1));
    if (l.scalability) {
        note(r, StreamFeature::Scalability);
        r.end_bit = br.bit_position();
        return r;
    }
    r.end_bit = br.bit_position();
    r.complete = r.end_bit <= br.bit_length();
    // User data is not taken after the layer header. Its start code is byte-aligned, so look past the
    // next_start_code() stuffing (a 0 and 1s, or a whole 0x7F byte on a boundary).
    BitReader ahead = br;
    if (!ahead.byte_aligned()) ahead.next_start_code();
    else if (ahead.peek_bits(8) == 0x7F) ahead.advance_bits(8);
    if (ahead.peek_bits(32) == 0x1B2) note(r, StreamFeature::UserDataAfterLayer);
    return r;
}

VopReport parse_vop_header(BitReader& br, const LayerInfo& layer) {
    VopReport r;
    VopInfo& v = r.vop;
    if (!br.byte_aligned()) br.next_start_code();
    else if (br.peek_bits(8) == 0x7F) br.advance_bits(8);
    if (br.read_bits(32) != 0x1B6) return r;
    r.found = true;
    v.coding_type = static_cast<int>(br.read_bits(2));
    if (v.coding_type == 2) note(r, StreamFeature::BFrames);
    if (v.coding_type == 3) note(r, StreamFeature::SpriteGmc);
    while (br.read_bits(1) == 1) {
        ++v.modulo_time_base;
        if (br.bit_position() > br.bit_length()) break;  // past the data only zero bits follow
    }
    br.read_marker();
    v.time_increment = static_cast<int>(br.read_bits(layer.time_increment_bits));
    br.read_marker();
    v.coded = static_cast<int>(br.read_bits(1));
    if (!v.coded) {
        r.complete = br.bit_position() <= br.bit_length();
        return r;
    }
    if (layer.shape != 0) {
        note(r, StreamFeature::NonRectangularShape);
        return r;
    }
    if (v.coding_type == 1 || (v.coding_type == 3 && layer.sprite_enable == 2))
        v.rounding_type = static_cast<int>(br.read_bits(1));
    if (layer.reduced_resolution_vop_enable && (v.coding_type == 0 || v.coding_type == 1))
        br.advance_bits(1);  // vop_reduced_resolution
    if (!layer.complexity_estimation_disable) {
        note(r, StreamFeature::ComplexityEstimation);
        return r;
    }
    v.intra_dc_vlc_thr = static_cast<int>(br.read_bits(3));
    // The decoder always reads an intra DC on its own; a threshold other than 0 switches that off at some
    // quantisers, and such intra blocks would decode wrong.
    if (v.intra_dc_vlc_thr != 0) note(r, StreamFeature::IntraDcAsAc);
    if (layer.interlaced) {
        note(r, StreamFeature::Interlace);
        return r;
    }
    if (v.coding_type == 3 && (layer.sprite_enable == 1 || layer.sprite_enable == 2)) {
        // Warping points follow; the rest of the header is not located.
        return r;
    }
    v.quant = static_cast<int>(br.read_bits(std::clamp(layer.quant_precision, 0, 31)));
    if (v.coding_type != 0) v.fcode_forward = static_cast<int>(br.read_bits(3));
    if (v.coding_type == 2) v.fcode_backward = static_cast<int>(br.read_bits(3));
    r.complete = br.bit_position() <= br.bit_length();
    return r;
}

}  // namespace zorbrix::mpeg4
