// `nvdtool encode IN.y4m OUT.nvd [options]`: codes a YUV4MPEG2 video (4:2:0, as ffmpeg, the asset renderer and
// most video tools write it) into an .nvd file the intro can play.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/encoder/encode_file.h"
#include "tools/nvdtool/command.h"

namespace {

const char kUsage[] =
    "usage: nvdtool encode IN.y4m OUT.nvd [--qp N | --kbps N] [--keyint N] [--fps F] [--search N] [--mv4]\n"
    "                      [--no-acpred]\n"
    "  IN.y4m       YUV4MPEG2 4:2:0 video, \"-\" for standard input\n"
    "  --qp N       constant quantiser 1..31 (default 4; lower is better quality and larger)\n"
    "  --kbps N     target bit rate in kbit/s; the quantiser then adapts per frame\n"
    "  --keyint N   an intra frame at least every N frames (default 250)\n"
    "  --fps F      picture rate to record (default: the input's)\n"
    "  --search N   motion search range in pixels (default 16)\n"
    "  --mv4        allow four motion vectors per macroblock\n"
    "  --no-acpred  never use intra AC prediction\n";

bool parse_int(const char* text, int lo, int hi, int* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}

int run_encode(int argc, char** argv) {
    // argv[0] is "encode".
    zorbrix::enc::EncoderOptions options;
    double fps = 0;
    std::string in, out;
    bool have_qp = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "nvdtool encode: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        const char* v = nullptr;
        if (a == "--qp") {
            if (!(v = value("--qp")) || !parse_int(v, 1, 31, &options.qp)) {
                std::fprintf(stderr, "nvdtool encode: --qp takes a quantiser from 1 to 31\n");
                return 2;
            }
            have_qp = true;
        } else if (a == "--kbps") {
            if (!(v = value("--kbps")) || !parse_int(v, 1, 1000000, &options.kbps)) {
                std::fprintf(stderr, "nvdtool encode: --kbps takes a positive bit rate in kbit/s\n");
                return 2;
            }
        } else if (a == "--keyint") {
            if (!(v = value("--keyint")) || !parse_int(v, 1, 1000000, &options.keyint)) {
                std::fprintf(stderr, "nvdtool encode: --keyint takes a positive frame count\n");
                return 2;
            }
        } else if (a == "--search") {
            if (!(v = value("--search")) || !parse_int(v, 1, 1000, &options.search)) {
                std::fprintf(stderr, "nvdtool encode: --search takes a range in pixels from 1 to 1000\n");
                return 2;
            }
        } else if (a == "--fps") {
            if (!(v = value("--fps"))) return 2;
            char* end = nullptr;
            fps = std::strtod(v, &end);
            if (*end || !(fps > 0 && fps <= 1000)) {
                std::fprintf(stderr, "nvdtool encode: --fps takes a picture rate above 0 and up to 1000\n");
                return 2;
            }
        } else if (a == "--mv4") {
            options.mv4 = true;
        } else if (a == "--no-acpred") {
            options.ac_pred = false;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            std::fprintf(stderr, "nvdtool encode: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else if (in.empty()) {
            in = a;
        } else if (out.empty()) {
            out = a;
        } else {
            std::fprintf(stderr, "nvdtool encode: too many arguments\n%s", kUsage);
            return 2;
        }
    }
    if (in.empty() || out.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (have_qp && options.kbps) {
        std::fprintf(stderr, "nvdtool encode: give either --qp or --kbps, not both\n");
        return 2;
    }
    std::string error, note;
    zorbrix::enc::EncodeSummary s;
    if (!zorbrix::enc::encode_y4m_to_nvd(in, out, options, fps, &error, &s, &note)) {
        std::fprintf(stderr, "nvdtool encode: %s\n", error.c_str());
        return 1;
    }
    if (!note.empty()) std::fprintf(stderr, "nvdtool encode: %s\n", note.c_str());
    const double seconds = s.frames / s.fps;
    std::fprintf(stderr, "nvdtool encode: %s: %d frames of %dx%d (%d intra), %lld bytes, %.0f kbit/s\n", out.c_str(),
                 s.frames, s.width, s.height, s.intra_frames, s.bytes, s.bytes * 8.0 / seconds / 1000.0);
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(encode, "encode IN.y4m OUT.nvd [--qp N | --kbps N] [--keyint N] [--fps F] [--search N] [--mv4] [--no-acpred]",
                "codes a YUV4MPEG2 4:2:0 video (ffmpeg -pix_fmt yuv420p -f yuv4mpegpipe) into an .nvd file", run_encode);
