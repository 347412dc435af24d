// nvdtool import IN.m4v OUT.nvd [--fps F]: one record per VOP, the first also holding the video object and
// layer headers. Visual object sequence, visual object, group-of-VOP and user-data headers are dropped, since
// the decoder does not take them. The frame rate comes from the layer's timing fields unless given.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/nvdtool/command.h"
#include "tools/nvdtool/nvd_file.h"
#include "video/mpeg4/bitreader.h"

namespace {

using zorbrix::mpeg4::BitReader;

int increment_bits(int resolution) {
    int bits = 1;
    while (bits < 16 && (1 << bits) < resolution) ++bits;
    return bits;
}

struct LayerInfo {
    bool found = false;
    int width = 0;
    int height = 0;
    int resolution = 0;
    int fixed_increment = 0;  // 0 when the rate is not fixed
};

// Reads the layer fields up to the picture size (unit starts at its 00 00 01 2x start code).
LayerInfo parse_layer(const uint8_t* unit, size_t size) {
    LayerInfo info;
    BitReader br;
    br.reset(unit, size);
    br.advance_bits(32);
    br.advance_bits(1 + 8);  // random_accessible_vol, video_object_type_indication
    int verid = 1;
    if (br.read_bits(1)) {
        verid = static_cast<int>(br.read_bits(4));
        br.advance_bits(3);
    }
    (void)verid;
    if (br.read_bits(4) == 15) br.advance_bits(16);
    if (br.read_bits(1)) {
        br.advance_bits(3);
        if (br.read_bits(1)) br.advance_bits(79);
    }
    const int shape = static_cast<int>(br.read_bits(2));
    br.read_marker();
    info.resolution = static_cast<int>(br.read_bits(16));
    br.read_marker();
    if (br.read_bits(1)) info.fixed_increment = static_cast<int>(br.read_bits(increment_bits(info.resolution)));
    if (shape == 0) {
        br.read_marker();
        info.width = static_cast<int>(br.read_bits(13));
        br.read_marker();
        info.height = static_cast<int>(br.read_bits(13));
    }
    info.found = true;
    return info;
}

// The VOP's time in resolution units (modulo_time_base seconds plus the increment), -1 when unreadable.
long vop_time(const uint8_t* unit, size_t size, int resolution, long& seconds) {
    if (resolution <= 0) return -1;
    BitReader br;
    br.reset(unit, size);
    br.advance_bits(32 + 2);
    while (br.read_bits(1) == 1 && br.bit_position() < br.bit_length()) ++seconds;
    br.read_marker();
    const long inc = br.read_bits(increment_bits(resolution));
    return seconds * resolution + inc;
}

int run_import(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    double fps = 0.0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--fps") && i + 1 < argc) {
            char* end = nullptr;
            fps = std::strtod(argv[++i], &end);
            if (!end || *end || !(fps > 0.0) || !std::isfinite(fps)) {
                std::fprintf(stderr, "nvdtool import: --fps wants a positive number, not '%s'\n", argv[i]);
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
        std::fprintf(stderr, "usage: nvdtool import IN.m4v OUT.nvd [--fps F]\n");
        return 2;
    }
    std::vector<uint8_t> data;
    std::string error;
    if (!nvdtool::read_file(in, data, error)) {
        std::fprintf(stderr, "nvdtool import: %s\n", error.c_str());
        return 1;
    }
    const std::vector<size_t> codes = nvdtool::find_start_codes(data.data(), data.size());
    nvdtool::NvdFile nvd;
    LayerInfo layer;
    std::vector<uint8_t> pending;  // video object and layer headers waiting for their VOP
    long seconds = 0;
    std::vector<long> times;
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t begin = codes[k];
        const size_t end = k + 1 < codes.size() ? codes[k + 1] : data.size();
        const uint8_t* unit = data.data() + begin;
        const size_t size = end - begin;
        const uint8_t code = unit[3];
        if (code <= 0x1F) {
            pending.assign(unit, unit + size);  // a new video object starts its headers afresh
        } else if (code >= 0x20 && code <= 0x2F) {
            pending.insert(pending.end(), unit, unit + size);
            if (!layer.found) layer = parse_layer(unit, size);
        } else if (code == 0xB6) {
            std::vector<uint8_t> record = std::move(pending);
            pending.clear();
            record.insert(record.end(), unit, unit + size);
            nvd.records.push_back(std::move(record));
            if (times.size() < 2) times.push_back(vop_time(unit, size, layer.resolution, seconds));
        }
        // Visual object sequence, visual object, group of VOP, user data and other units are dropped.
    }
    if (!layer.found) {
        std::fprintf(stderr, "nvdtool import: %s holds no video object layer header\n", in);
        return 1;
    }
    if (nvd.records.empty()) {
        std::fprintf(stderr, "nvdtool import: %s holds no VOP\n", in);
        return 1;
    }
    if (layer.width <= 0 || layer.height <= 0 || layer.width % 16 || layer.height % 16) {
        std::fprintf(stderr, "nvdtool import: warning: layer size %dx%d is not a multiple of 16; the decoder will not "
                             "take it\n", layer.width, layer.height);
    }
    if (fps <= 0.0) {
        if (layer.fixed_increment > 0) fps = static_cast<double>(layer.resolution) / layer.fixed_increment;
        else if (times.size() == 2 && times[0] >= 0 && times[1] > times[0])
            fps = static_cast<double>(layer.resolution) / static_cast<double>(times[1] - times[0]);
        else if (layer.resolution > 0) fps = layer.resolution;
        else fps = 25.0;
    }
    nvd.width = layer.width;
    nvd.height = layer.height;
    nvd.fps = static_cast<float>(fps);
    if (!nvdtool::write_file(out, nvdtool::serialise_nvd(nvd), error)) {
        std::fprintf(stderr, "nvdtool import: %s\n", error.c_str());
        return 1;
    }
    std::printf("%zu frames, %dx%d, %g fps\n", nvd.records.size(), nvd.width, nvd.height, fps);
    return 0;
}

}  // namespace

NVDTOOL_COMMAND(import, "import IN.m4v OUT.nvd [--fps F]",
                "turns an MPEG-4 visual elementary stream into an .nvd file, one record per VOP", run_import);
