// nvdtool info FILE.nvd
#include <cstdio>

#include "tools/nvdtool/command.h"
#include "tools/nvdtool/nvd_file.h"

namespace {

int run_info(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: nvdtool info FILE.nvd\n");
        return 2;
    }
    std::vector<uint8_t> data;
    std::string error;
    nvdtool::NvdFile nvd;
    if (!nvdtool::read_file(argv[1], data, error) || !nvdtool::parse_nvd(data, nvd, error)) {
        std::fprintf(stderr, "nvdtool info: %s\n", error.c_str());
        return 1;
    }
    std::printf("frames: %zu\nwidth: %d\nheight: %d\nfps: %g\n", nvd.records.size(), nvd.width, nvd.height,
                static_cast<double>(nvd.fps));
    for (size_t i = 0; i < nvd.records.size(); ++i)
        std::printf("frame %zu: %s %zu bytes\n", i, nvdtool::vop_type_name(nvd.records[i].data(), nvd.records[i].size()),
                    nvd.records[i].size());
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(info, "info FILE.nvd", "frame count, width, height, frames per second; per frame its VOP type and size",
                run_info);
