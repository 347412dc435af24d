// nvdtool info FILE.nvd: the header and one line per record, read record by record.
#include <cstdio>

#include "tools/nvdtool/command.h"
#include "tools/nvdtool/nvd_file.h"
#include "tools/nvdtool/stream_split.h"

namespace {

int run_info(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: nvdtool info FILE.nvd\n");
        return 2;
    }
    std::string error;
    nvdtool::NvdReader reader;
    if (!reader.open(argv[1], error)) {
        std::fprintf(stderr, "nvdtool info: %s\n", error.c_str());
        return 1;
    }
    bool written = std::printf("frames: %d\nwidth: %d\nheight: %d\nfps: %g\n", reader.frame_count(), reader.width(),
                               reader.height(), static_cast<double>(reader.fps())) >= 0;
    std::vector<uint8_t> record;
    while (written && reader.next(record, error)) {
        const int i = reader.index() - 1;
        int w = 0, h = 0;
        if (nvdtool::record_layer_size(record.data(), record.size(), w, h) &&
            (w != reader.width() || h != reader.height())) {
            std::fprintf(stderr,
                         "nvdtool info: %s: warning: frame %d's layer header says %dx%d, the file header %dx%d\n",
                         argv[1], i, w, h, reader.width(), reader.height());
        }
        written = std::printf("frame %d: %s %zu bytes\n", i, nvdtool::vop_type_name(record.data(), record.size()),
                              record.size()) >= 0;
    }
    if (written && std::fflush(stdout) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "nvdtool info: cannot write to standard output\n");
        return 1;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "nvdtool info: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(info, "info FILE.nvd", "frame count, width, height, frames per second; per frame its VOP type and size",
                run_info);
