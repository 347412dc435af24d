// nvdtool's .nvd reader, record by record, on a file with a size (lengths checked against it) and on a stream
// without one (buffers grow only as data arrives), with the per-record layer-size and VOP-type probes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/loading/scratch_file.h"
#include "tools/nvdtool/nvd_file.h"
#include "tools/nvdtool/stream_split.h"

namespace {

void read_all(nvdtool::NvdReader& reader) {
    std::vector<uint8_t> record;
    std::string error;
    while (reader.next(record, error)) {
        int w = 0, h = 0;
        (void)nvdtool::record_layer_size(record.data(), record.size(), w, h);
        (void)nvdtool::vop_type_name(record.data(), record.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    {
        nvdtool::NvdReader reader;
        if (reader.open(write_scratch_file("in.nvd", data, size), error)) read_all(reader);
    }
    std::vector<uint8_t> copy(data, data + size);
    std::FILE* f = fmemopen(copy.empty() ? nullptr : copy.data(), copy.size(), "rb");
    if (f) {
        nvdtool::NvdReader reader;
        if (reader.open(f, error)) read_all(reader);
        std::fclose(f);
    }
    // The whole-image parser too.
    nvdtool::NvdFile nvd;
    (void)nvdtool::parse_nvd(copy, nvd, error);
    return 0;
}
