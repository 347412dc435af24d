// Names and exit statuses of the unsupported stream features, and the exit for them.
#include "video/mpeg4/stream_features.h"

#include <cstdio>

#include "platform/fatal.h"

namespace zorbrix::mpeg4 {

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

}  // namespace zorbrix::mpeg4
