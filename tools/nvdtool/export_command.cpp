// nvdtool export IN.nvd OUT.m4v: the records one after the other, an MPEG-4 visual elementary stream.
#include <cstdio>

#include "tools/nvdtool/command.h"
#include "tools/nvdtool/nvd_file.h"

namespace {

int run_export(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: nvdtool export IN.nvd OUT.m4v\n");
        return 2;
    }
    std::vector<uint8_t> data, out;
    std::string error;
    nvdtool::NvdFile nvd;
    if (!nvdtool::read_file(argv[1], data, error) || !nvdtool::parse_nvd(data, nvd, error)) {
        std::fprintf(stderr, "nvdtool export: %s\n", error.c_str());
        return 1;
    }
    for (const auto& r : nvd.records) out.insert(out.end(), r.begin(), r.end());
    if (!nvdtool::write_file(argv[2], out, error)) {
        std::fprintf(stderr, "nvdtool export: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(export, "export IN.nvd OUT.m4v", "writes the coded frames as an MPEG-4 visual elementary stream",
                run_export);
