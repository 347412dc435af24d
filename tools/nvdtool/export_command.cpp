// nvdtool export IN.nvd OUT.m4v: the records one after the other, an MPEG-4 visual elementary stream.
#include <cstdio>

#include "platform/output_file.h"
#include "tools/nvdtool/command.h"
#include "tools/nvdtool/nvd_file.h"

namespace {

int run_export(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: nvdtool export IN.nvd OUT.m4v\n");
        return 2;
    }
    std::string error;
    nvdtool::NvdReader reader;
    if (!reader.open(argv[1], error)) {
        std::fprintf(stderr, "nvdtool export: %s\n", error.c_str());
        return 1;
    }
    zorbrix::OutputFile output;
    if (!output.open(argv[2], &error)) {
        std::fprintf(stderr, "nvdtool export: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> record;
    while (reader.next(record, error))
        if (!output.write(record.data(), record.size())) break;
    if (!error.empty() || !output.ok()) {
        std::fprintf(stderr, "nvdtool export: %s\n",
                     error.empty() ? output.error().c_str() : (std::string(argv[1]) + ": " + error).c_str());
        output.abandon();
        return 1;
    }
    if (!output.commit(&error)) {
        std::fprintf(stderr, "nvdtool export: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(export, "export IN.nvd OUT.m4v", "writes the coded frames as an MPEG-4 visual elementary stream",
                run_export);
