// nvdtool decode IN.nvd OUT [--format yv12|rgb32] [--postproc 0..100]: every record through the decoder, the
// frames written one after the other in the converter's layout.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fatal.h"
#include "tools/nvdtool/command.h"
#include "tools/nvdtool/nvd_file.h"
#include "video/colour_convert.h"
#include "video/decoder.h"
#include "video/mpeg4/decoder_core.h"

namespace {

int run_decode(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    int format = zorbrix::FMT_YV12;
    int level = 0;
    bool stats = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--format") && i + 1 < argc) {
            const char* f = argv[++i];
            if (!std::strcmp(f, "yv12")) format = zorbrix::FMT_YV12;
            else if (!std::strcmp(f, "rgb32")) format = zorbrix::FMT_RGB32;
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
    std::vector<uint8_t> data;
    std::string error;
    nvdtool::NvdFile nvd;
    if (!nvdtool::read_file(in, data, error) || !nvdtool::parse_nvd(data, nvd, error)) {
        std::fprintf(stderr, "nvdtool decode: %s\n", error.c_str());
        return 1;
    }
    if (nvd.width <= 0 || nvd.height <= 0 || nvd.width % 16 || nvd.height % 16 || nvd.width > 720 || nvd.height > 576) {
        std::fprintf(stderr, "nvdtool decode: the decoder takes sizes that are multiples of 16 up to 720x576, not %dx%d\n",
                     nvd.width, nvd.height);
        return 1;
    }
    FILE* f = std::fopen(out, "wb");
    if (!f) {
        std::fprintf(stderr, "nvdtool decode: cannot create %s\n", out);
        return 1;
    }
    const int frame_bytes = zorbrix::output_frame_bytes(format, nvd.width, nvd.height);
    std::vector<uint8_t> frame(static_cast<size_t>(frame_bytes));
    zorbrix::InitParams init{nvd.width, nvd.height, 0, format};
    int handle = 0;
    zorbrix::decoder_call(&handle, zorbrix::OPT_INIT, &init, nullptr);
    zorbrix::PostProcParams pp{level};
    zorbrix::decoder_call(&handle, zorbrix::OPT_POSTPROC, &pp, nullptr);
    bool ok = true;
    for (auto& record : nvd.records) {
        const size_t length = record.size();
        record.resize(length + 4, 0);  // spare bytes after the chunk
        zorbrix::FrameParams fp{frame.data(), record.data(), static_cast<int32_t>(length), 1};
        zorbrix::decoder_call(&handle, zorbrix::OPT_DECODE, &fp, nullptr);
        if (std::fwrite(frame.data(), 1, frame.size(), f) != frame.size()) {
            ok = false;
            break;
        }
    }
    if (stats) {
        const auto& st = zorbrix::mpeg4::decoder_state().stats;
        std::printf("vops %ld\ninter %ld\ninter_q %ld\ninter4v %ld\nintra %ld\nintra_q %ld\nstuffing %ld\nskipped %ld\n"
                    "ac_predicted %ld\nescape1 %ld\nescape2 %ld\nescape3 %ld\nmax_fcode %d\n",
                    st.vops, st.mb_types[0], st.mb_types[1], st.mb_types[2], st.mb_types[3], st.mb_types[4],
                    st.mb_types[7], st.skipped, st.ac_predicted, st.escapes[0], st.escapes[1], st.escapes[2],
                    st.max_fcode);
    }
    zorbrix::decoder_call(&handle, zorbrix::OPT_RELEASE, nullptr, nullptr);
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "nvdtool decode: cannot write %s\n", out);
        return 1;
    }
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(decode, "decode IN.nvd OUT [--format yv12|rgb32] [--postproc 0..100] [--stats]",
                "decodes every frame and writes them one after the other (raw Y, V, U planes or 32-bit BGR0, "
                "bottom row first); default yv12, level 0; --stats prints the macroblock kinds met", run_decode);
