// `nvdtool encode IN OUT.nvd [options]`: codes a video into an .nvd file the intro can play. A YUV4MPEG2 file (or
// "-", standard input) is read directly; anything else goes through ffmpeg, which also scales (--size) and flips
// (--for-intro) when asked. The result is written through a careful output: nothing is left behind on failure.
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/encoder/encode_file.h"
#include "tools/nvdtool/command.h"
#include "tools/nvdtool/ffmpeg_child.h"

namespace {

const char kUsage[] =
    "usage: nvdtool encode IN OUT.nvd [--size WxH] [--for-intro] [--qp N | --kbps N] [--keyint N] [--fps F]\n"
    "                      [--search N] [--mv4] [--no-acpred]\n"
    "  IN           YUV4MPEG2 4:2:0 video (\"-\" for standard input), or any video ffmpeg reads\n"
    "  --size WxH   scale to this size through ffmpeg (even sides, up to 720x576)\n"
    "  --for-intro  flip the picture upside down as the intro shows it, and scale to 256x192 unless --size says\n"
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

bool parse_size(const char* text, int* w, int* h) {
    char x = 0, extra = 0;
    if (std::sscanf(text, "%d%c%d%c", w, &x, h, &extra) != 3 || (x != 'x' && x != 'X')) return false;
    return *w >= 16 && *h >= 16 && *w <= 720 && *h <= 576 && *w % 2 == 0 && *h % 2 == 0;
}

// Whether the file starts like a YUV4MPEG2 stream (the encoder then reads it itself); false with a message when it
// cannot be opened at all, which is said before ffmpeg is bothered with it.
bool sniff_y4m(const std::string& path, bool* y4m, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    char head[9] = {};
    *y4m = std::fread(head, 1, 9, f) == 9 && std::memcmp(head, "YUV4MPEG2", 9) == 0;
    std::fclose(f);
    return true;
}

// Replaces every occurrence of `from` in a message.
std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

int run_encode(int argc, char** argv) {
    // argv[0] is "encode".
    zorbrix::enc::EncoderOptions options;
    double fps = 0;
    std::string in, out;
    bool have_qp = false;
    int width = 0, height = 0;
    bool for_intro = false;
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
        } else if (a == "--size") {
            if (!(v = value("--size")) || !parse_size(v, &width, &height)) {
                std::fprintf(stderr, "nvdtool encode: --size takes WxH with even sides from 16x16 up to 720x576\n");
                return 2;
            }
        } else if (a == "--for-intro") {
            for_intro = true;
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
    if (for_intro && width == 0) width = 256, height = 192;  // the intro's backdrop size
    std::string error, note;
    // The encoder writes OUT through a careful output: it appears only when everything succeeded.
    const std::string& coded = out;
    bool y4m = in == "-";
    if (in != "-" && !sniff_y4m(in, &y4m, error)) {
        std::fprintf(stderr, "nvdtool encode: %s\n", error.c_str());
        return 1;
    }
    const bool through_ffmpeg = width > 0 || for_intro || !y4m;
    zorbrix::enc::EncodeSummary s;
    bool ok;
    if (through_ffmpeg) {
        nvdtool::FfmpegChild ffmpeg;
        if (!ffmpeg.start(in, width, height, for_intro, error)) {
            std::fprintf(stderr, "nvdtool encode: %s\n", error.c_str());
            return 1;
        }
        const std::string pipe = "/dev/fd/" + std::to_string(ffmpeg.read_fd());
        ok = zorbrix::enc::encode_y4m_to_nvd(pipe, coded, options, fps, &error, &s, &note);
        error = replace_all(error, pipe, in + " (through ffmpeg)");
        note = replace_all(note, pipe, in + " (through ffmpeg)");
        // The child's failure is ours, even when the frames it gave before failing were coded. When the encoder
        // gave up while the child still ran, the child's end is only a consequence and the encoder's message stands.
        std::string child_error;
        if (!(ok ? ffmpeg.finish(child_error) : ffmpeg.abandon(child_error))) {
            std::fprintf(stderr, "nvdtool encode: %s: %s\n", in.c_str(), child_error.c_str());
            return 1;
        }
    } else {
        ok = zorbrix::enc::encode_y4m_to_nvd(in, coded, options, fps, &error, &s, &note);
    }
    if (!ok) {
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

NVDTOOL_COMMAND(encode,
                "encode IN OUT.nvd [--size WxH] [--for-intro] [--qp N | --kbps N] [--keyint N] [--fps F] [--search N] "
                "[--mv4] [--no-acpred]",
                "codes a video into an .nvd file: YUV4MPEG2 4:2:0 (or \"-\") directly, anything else through ffmpeg, "
                "which also scales (--size) and flips for the intro (--for-intro)",
                run_encode);
