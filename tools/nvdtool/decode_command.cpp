// nvdtool decode IN.nvd OUT [--format yv12|rgb32] [--postproc 0..100]: every record through the decoder, the
// frames written one after the other in the converter's layout. The file is read record by record, so memory
// holds a few frames whatever the stream's length.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fatal.h"
#include "platform/output_file.h"
#include "tools/nvdtool/command.h"
#include "tools/nvdtool/nvd_file.h"
#include "tools/nvdtool/stream_split.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/decoder_core.h"

namespace {

bool size_supported(int w, int h) { return w > 0 && h > 0 && w % 16 == 0 && h % 16 == 0 && w <= 720 && h <= 576; }

int run_decode(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    int format = zorbrix::FMT_YV12;
    int level = 0;
    bool stats = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--format") && i + 1 < argc) {
            const char* f = argv[++i];
            if (!std::strcmp(f, "yv12"))
                format = zorbrix::FMT_YV12;
            else if (!std::strcmp(f, "rgb32"))
                format = zorbrix::FMT_RGB32;
            else {
                std::fprintf(stderr, "nvdtool decode: unknown format '%s' (yv12 or rgb32)\n", f);
                return 2;
            }
        } else if (!std::strcmp(argv[i], "--postproc") && i + 1 < argc) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (!end || *end || v < 0 || v > 100) {
                std::fprintf(stderr, "nvdtool decode: --postproc wants a level 0..100, not '%s'\n", argv[i]);
                return 2;
            }
            level = static_cast<int>(v);
        } else if (!std::strcmp(argv[i], "--stats")) {
            stats = true;
        } else if (!in) {
            in = argv[i];
        } else if (!out) {
            out = argv[i];
        } else {
            in = nullptr;
            break;
        }
    }
    if (!in || !out) {
        std::fprintf(stderr, "usage: nvdtool decode IN.nvd OUT [--format yv12|rgb32] [--postproc 0..100] [--stats]\n");
        return 2;
    }
    std::string error;
    nvdtool::NvdReader reader;
    if (!reader.open(in, error)) {
        std::fprintf(stderr, "nvdtool decode: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> record;
    const bool have_first = reader.next(record, error);
    if (!have_first && !error.empty()) {
        std::fprintf(stderr, "nvdtool decode: %s: %s\n", in, error.c_str());
        return 1;
    }
    // The stream's own layer decides the picture size; a header that disagrees is reported, not obeyed (the
    // decoder would otherwise ignore every frame and give black pictures).
    int width = reader.width(), height = reader.height();
    if (have_first) {
        int w = 0, h = 0;
        if (!nvdtool::record_layer_size(record.data(), record.size(), w, h)) {
            std::fprintf(stderr,
                         "nvdtool decode: %s: the first frame holds no video object layer header; the decoder "
                         "cannot play this file (make it again with nvdtool import or encode)\n",
                         in);
            return 1;
        }
        if (w != width || h != height) {
            std::fprintf(stderr,
                         "nvdtool decode: %s: warning: the header says %dx%d but the stream is %dx%d; decoding "
                         "at %dx%d\n",
                         in, width, height, w, h, w, h);
            width = w;
            height = h;
        }
    }
    if (!size_supported(width, height)) {
        std::fprintf(stderr,
                     "nvdtool decode: %s: the decoder takes sizes that are multiples of 16 up to 720x576, not "
                     "%dx%d\n",
                     in, width, height);
        return 1;
    }
    zorbrix::OutputFile output;
    if (!output.open(out, &error)) {
        std::fprintf(stderr, "nvdtool decode: %s\n", error.c_str());
        return 1;
    }
    const int frame_bytes = zorbrix::output_frame_bytes(format, width, height);
    std::vector<uint8_t> frame(static_cast<size_t>(frame_bytes));
    zorbrix::InitParams init{width, height, 0, format};
    int handle = 0;
    zorbrix::decoder_call(&handle, zorbrix::OPT_INIT, &init, nullptr);
    zorbrix::PostProcParams pp{level};
    zorbrix::decoder_call(&handle, zorbrix::OPT_POSTPROC, &pp, nullptr);
    bool ok = true;
    std::string failure;
    for (bool have = have_first; have; have = reader.next(record, error)) {
        const int index = reader.index() - 1;
        if (index > 0) {
            int w = 0, h = 0;
            if (nvdtool::record_layer_size(record.data(), record.size(), w, h) && (w != width || h != height)) {
                failure = "frame " + std::to_string(index) + " changes the picture size from " + std::to_string(width) +
                          "x" + std::to_string(height) + " to " + std::to_string(w) + "x" + std::to_string(h) +
                          ", which the decoder cannot follow";
                ok = false;
                break;
            }
        }
        const size_t length = record.size();
        record.resize(length + 4, 0);  // spare bytes for the decoder's look-ahead
        zorbrix::FrameParams fp{frame.data(), record.data(), static_cast<int32_t>(length), 1};
        zorbrix::decoder_call(&handle, zorbrix::OPT_DECODE, &fp, nullptr);
        if (!output.write(frame.data(), frame.size())) {
            ok = false;
            break;
        }
    }
    if (ok && !error.empty()) {
        failure = error;
        ok = false;
    }
    if (stats) {
        const auto& st = zorbrix::decoder_instance(&handle)->stats;
        std::FILE* report = !std::strcmp(out, "-") || !std::strcmp(out, "/dev/stdout") ? stderr : stdout;
        std::fprintf(
            report,
            "vops %ld\ninter %ld\ninter_q %ld\ninter4v %ld\nintra %ld\nintra_q %ld\nstuffing %ld\nskipped %ld\n"
            "ac_predicted %ld\nescape1 %ld\nescape2 %ld\nescape3 %ld\nmax_fcode %d\n",
            st.vops, st.mb_types[0], st.mb_types[1], st.mb_types[2], st.mb_types[3], st.mb_types[4], st.mb_types[7],
            st.skipped, st.ac_predicted, st.escapes[0], st.escapes[1], st.escapes[2], st.max_fcode);
        if (std::fflush(report) != 0) {
            failure = "cannot write the statistics to standard output";
            ok = false;
        }
    }
    zorbrix::decoder_call(&handle, zorbrix::OPT_RELEASE, nullptr, nullptr);
    if (!ok) {
        output.abandon();
        std::fprintf(stderr, "nvdtool decode: %s: %s\n", in,
                     failure.empty() ? output.error().c_str() : failure.c_str());
        return 1;
    }
    if (!output.commit(&error)) {
        std::fprintf(stderr, "nvdtool decode: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(decode, "decode IN.nvd OUT [--format yv12|rgb32] [--postproc 0..100] [--stats]",
                "decodes every frame and writes them one after the other (raw Y, V, U planes or 32-bit BGR0, "
                "bottom row first); default yv12, level 0; --stats prints the macroblock kinds met",
                run_decode);
