// The video object layer, VOP and video packet headers: one parser per header, which reports the features it meets
// (tools call it to refuse a stream), and the decoder's steps that take the parsed values and refuse what it does
// not play.
#include <algorithm>
#include <cmath>

#include "video/mpeg4/codec_rules.h"
#include "video/mpeg4/decoder_core.h"
#include "video/mpeg4/decoder_internal.h"
#include "video/mpeg4/stream_features.h"

namespace zorbrix::mpeg4 {
namespace {

// Width of vop_time_increment: ceil(log2(resolution)), at least 1.
int time_increment_bits(int resolution) {
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

// Moves past next_start_code() stuffing. Before a start code the stuffing is a 0 and 1s up to the byte
// boundary, or a whole 0x7F byte when the writer was already aligned; a start code never begins with 0x7F, so
// that byte can be recognised and skipped (otherwise a header ending on a byte boundary would hide the next one).
void skip_stuffing(BitReader& br) {
    if (!br.byte_aligned())
        br.next_start_code();
    else if (br.peek_bits(8) == 0x7F)
        br.advance_bits(8);
}

// Bits of macroblock_number: enough for the highest macroblock index of the VOP (at least 1).
int macroblock_number_bits(int mb_count) {
    int bits = 1;
    while ((1 << bits) < mb_count) ++bits;
    return bits;
}

// The layer features the decoder refuses, in the order the layer's syntax meets them.
constexpr StreamFeature kRefusedAtLayer[] = {
    StreamFeature::Interlace,        StreamFeature::MpegQuantisation, StreamFeature::ComplexityEstimation,
    StreamFeature::DataPartitioning, StreamFeature::Scalability,      StreamFeature::UserDataAfterLayer};

// A layer is decoded only when it is rectangular and of the size the frame store was made for.
bool layer_fits(const DecoderState& d, const LayerInfo& l) {
    return l.shape == 0 && size_supported(l.width, l.height) && l.width == d.width && l.height == d.height;
}

}  // namespace

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
    l.time_increment_bits = time_increment_bits(l.vop_time_increment_resolution);
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
    // next_start_code() stuffing.
    BitReader ahead = br;
    skip_stuffing(ahead);
    if (ahead.peek_bits(32) == 0x1B2) note(r, StreamFeature::UserDataAfterLayer);
    return r;
}

VopReport parse_vop_header(BitReader& br, const LayerInfo& layer, const VopInfo& previous) {
    VopReport r;
    VopInfo& v = r.vop;
    v = previous;
    v.modulo_time_base = 0;
    skip_stuffing(br);
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
        // The layer's fields past its shape are not known, so neither is the rest of this header.
        note(r, StreamFeature::NonRectangularShape);
        return r;
    }
    const bool rounding = v.coding_type == 1 || (v.coding_type == 3 && layer.sprite_enable == 2);
    v.rounding_type = rounding ? static_cast<int>(br.read_bits(1)) : 0;
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

LayerInfo initial_layer() {
    LayerInfo l;
    l.vop_time_increment_resolution = 15;
    l.time_increment_bits = time_increment_bits(15);
    return l;
}

int decode_vol_header(DecoderState& d) {
    BitReader& br = d.reader;
    if (br.peek_bits(27) != 8) return 0;
    br.advance_bits(32);  // video_object_start_code and video_object_id
    if ((br.peek_bits(32) & ~0xFu) != 0x120) throw UnsupportedFeature{StreamFeature::MissingLayerStartCode};
    const LayerReport report = parse_layer_header(br);
    // A refused layer's values are never taken, so the VOP, macroblock and block layers never meet interlace,
    // complexity estimation or MPEG quantisation.
    for (StreamFeature f : kRefusedAtLayer) {
        if (report.features & feature_bit(f)) throw UnsupportedFeature{f};
    }
    d.layer = report.layer;
    d.layer_ok = layer_fits(d, d.layer);
    return 1;
}

int decode_vop_header(DecoderState& d) {
    const VopReport report = parse_vop_header(d.reader, d.layer, d.vop);
    if (!report.found) return 0;
    d.vop = report.vop;
    d.seconds += report.vop.modulo_time_base;
    if (d.vop.coded && d.vop.coding_type != 0) d.stats.max_fcode = std::max(d.stats.max_fcode, d.vop.fcode_forward);
    return 1;
}

int resync_marker_length(const VopInfo& vop) {
    return vop.coding_type == 0 ? 17 : 16 + std::clamp(vop.fcode_forward, 1, 7);
}

bool decode_video_packet_header(DecoderState& d) {
    BitReader& br = d.reader;
    br.advance_bits(static_cast<int>(8 - (br.bit_position() & 7)));
    br.advance_bits(resync_marker_length(d.vop));
    const int number = static_cast<int>(br.read_bits(macroblock_number_bits(d.mb_count)));
    const int quant = static_cast<int>(br.read_bits(std::clamp(d.layer.quant_precision, 0, 31)));
    if (br.read_bits(1)) {  // header_extension_code: the VOP's timing and coding fields repeated
        while (br.read_bits(1) == 1) {
            if (br.bit_position() > br.bit_length()) break;
        }
        br.read_marker();
        br.advance_bits(d.layer.time_increment_bits);
        br.read_marker();
        const int coding_type = static_cast<int>(br.read_bits(2));
        br.advance_bits(3);                        // intra_dc_vlc_thr
        if (coding_type != 0) br.advance_bits(3);  // vop_fcode_forward
        if (coding_type == 2) br.advance_bits(3);  // vop_fcode_backward
    }
    if (number >= d.mb_count || br.bit_position() > br.bit_length()) return false;
    d.mb_x = number % d.mb_width;
    d.mb_y = number / d.mb_width;
    d.qp = std::clamp(quant, 1, 31);
    ++d.packet_id;
    ++d.stats.video_packets;
    return true;
}

}  // namespace zorbrix::mpeg4
