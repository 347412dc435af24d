// nvdtool import IN OUT.nvd [--fps F]: an MPEG-4 visual stream, raw or inside MP4/MOV, AVI or Matroska (told apart
// by content), into an .nvd file with one record per VOP. A stream the decoder would not play right is refused
// with one line naming the feature, the frame and how to avoid it, before anything is written: status 0 means the
// file will play.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/nvdtool/command.h"
#include "tools/nvdtool/containers.h"
#include "tools/nvdtool/nvd_file.h"
#include "tools/nvdtool/stream_split.h"

namespace {

int run_import(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    double fps = 0.0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--fps") && i + 1 < argc) {
            char* end = nullptr;
            fps = std::strtod(argv[++i], &end);
            if (!end || *end || !(fps > 0.0) || !std::isfinite(fps) || fps > 1000.0) {
                std::fprintf(stderr, "nvdtool import: --fps wants a rate above 0 and up to 1000, not '%s'\n", argv[i]);
                return 2;
            }
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
        std::fprintf(stderr, "usage: nvdtool import IN OUT.nvd [--fps F]\n");
        return 2;
    }
    std::vector<uint8_t> data;
    std::string error;
    if (!nvdtool::read_file(in, data, error)) {
        std::fprintf(stderr, "nvdtool import: %s\n", error.c_str());
        return 1;
    }
    if (data.empty()) {
        std::fprintf(stderr, "nvdtool import: %s: the file is empty\n", in);
        return 1;
    }
    nvdtool::Demuxed demuxed;
    if (!nvdtool::demux(data.data(), data.size(), demuxed, error)) {
        std::fprintf(stderr, "nvdtool import: %s: %s\n", in, error.c_str());
        return 1;
    }
    if (demuxed.container != nvdtool::Container::elementary && demuxed.samples.empty()) {
        std::fprintf(stderr, "nvdtool import: %s: the %s file's video track holds no frames\n", in,
                     nvdtool::container_name(demuxed.container));
        return 1;
    }
    // The container's decoder configuration, then every sample: one elementary stream.
    std::vector<uint8_t> stream;
    if (demuxed.container == nvdtool::Container::elementary) {
        stream.swap(data);
    } else {
        size_t total = demuxed.config.size();
        for (const auto& s : demuxed.samples) total += s.size;
        stream.reserve(total);
        stream = demuxed.config;
        for (const auto& s : demuxed.samples)
            stream.insert(stream.end(), data.data() + s.offset, data.data() + s.offset + s.size);
        std::vector<uint8_t>().swap(data);
    }
    nvdtool::SplitResult split;
    if (!nvdtool::split_stream(stream.data(), stream.size(), split, error)) {
        std::fprintf(stderr, "nvdtool import: %s: %s\n", in, error.c_str());
        return 1;
    }
    std::vector<uint8_t>().swap(stream);
    // The rate: --fps, else the layer's fixed rate, else the container's (it covers the whole track), else the
    // spacing of the first two VOPs' time stamps, else 25.
    const char* rate_from = "--fps";
    if (fps <= 0.0) {
        const double own = nvdtool::stream_fps(split);
        if (split.fixed_increment > 0 && own > 0.0) {
            fps = own;
            rate_from = "the stream's fixed rate";
        } else if (demuxed.fps > 0.0) {
            fps = demuxed.fps;
            rate_from = "the container";
        } else if (own > 0.0) {
            fps = own;
            rate_from = "the stream's timing";
        }
        if (!(fps > 0.0) || !std::isfinite(fps) || fps > 1000.0) {
            fps = 25.0;
            rate_from = "no usable rate recorded: default";
        }
    }
    nvdtool::NvdFile nvd;
    nvd.width = split.width;
    nvd.height = split.height;
    nvd.fps = static_cast<float>(fps);
    nvd.records = std::move(split.records);
    if (!nvdtool::write_file(out, nvdtool::serialise_nvd(nvd), error)) {
        std::fprintf(stderr, "nvdtool import: %s\n", error.c_str());
        return 1;
    }
    if (!demuxed.note.empty()) std::fprintf(stderr, "nvdtool import: %s: %s\n", in, demuxed.note.c_str());
    // The summary goes to standard output unless the file itself does.
    const bool file_on_stdout = !std::strcmp(out, "-") || !std::strcmp(out, "/dev/stdout");
    std::FILE* report = file_on_stdout ? stderr : stdout;
    std::fprintf(report, "%s: %zu frames, %dx%d, %g fps (%s)%s\n", nvdtool::container_name(demuxed.container),
                 nvd.records.size(), nvd.width, nvd.height, fps, rate_from,
                 split.resync_markers ? ", with video packets" : "");
    if (std::fflush(report) != 0 || std::ferror(report)) {
        std::fprintf(stderr,
                     "nvdtool import: %s was written, but the summary could not be written to standard output\n", out);
        return 1;
    }
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(import, "import IN OUT.nvd [--fps F]",
                "turns an MPEG-4 visual stream (raw, MP4/MOV, AVI or Matroska) into an .nvd file, one record per "
                "VOP; refuses, before writing, a stream the decoder would not play right",
                run_import);
