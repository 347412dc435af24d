// The row kernel tables: the scalar reference overridden level by level, and the program's table, where each entry
// is the version measured fastest on this processor.
#include <cstdint>
#include <memory>
#include <vector>

#include "gfx/blit_kernels.h"

using zorbrix::CpuLevel;
using zorbrix::Kernel;

RowKernels row_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<RowKernels>(
        level, {row_kernels_init_scalar, row_kernels_init_sse2, row_kernels_init_avx2, row_kernels_init_avx512});
}

namespace {

constexpr int kRow = 512;  // one screen row

// Rows like the ones the intro composes: a 512-word destination, a source picture row whose alpha runs through
// opaque, clear and partly covered stretches, and a 256-word video row pair for the enlargement.
struct RowInputs {
    std::vector<uint32_t> dst = std::vector<uint32_t>(2 * kRow);
    std::vector<uint32_t> src = std::vector<uint32_t>(kRow);
    std::vector<uint32_t> video = std::vector<uint32_t>(kRow);

    RowInputs() {
        uint32_t seed = 0x9E3779B9u;
        auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
        for (auto& d : dst) d = next() & 0x00FFFFFFu;
        for (auto& v : video) v = next() & 0x00FFFFFFu;
        for (int i = 0; i < kRow; ++i) {
            const uint32_t stretch = (i / 32) % 3;  // opaque, clear, then partly covered
            const uint32_t alpha = stretch == 0 ? 255u : stretch == 1 ? 0u : (next() >> 24);
            const uint32_t c = next();
            // Premultiplied: no colour byte above the alpha.
            auto premul = [alpha](uint32_t byte) { return (byte & 0xFFu) * alpha / 255u; };
            src[i] = (alpha << 24) | (premul(c >> 16) << 16) | (premul(c >> 8) << 8) | premul(c);
        }
    }
};

std::vector<zorbrix::KernelProbe<RowKernels>> row_probes() {
    const auto in = std::make_shared<RowInputs>();
    std::vector<zorbrix::KernelProbe<RowKernels>> probes;
    probes.push_back(zorbrix::kernel_probe<RowKernels>(
        "copy_row", [](RowKernels& t) -> Kernel<CopyRowFn>& { return t.copy_row; },
        [in](const Kernel<CopyRowFn>& k) { k(in->dst.data(), in->src.data(), kRow); }));
    probes.push_back(zorbrix::kernel_probe<RowKernels>(
        "blend_row", [](RowKernels& t) -> Kernel<BlendRowFn>& { return t.blend_row; },
        [in](const Kernel<BlendRowFn>& k) { k(in->dst.data(), in->src.data(), kRow); }));
    probes.push_back(zorbrix::kernel_probe<RowKernels>(
        "blend_row_faded", [](RowKernels& t) -> Kernel<BlendRowFadedFn>& { return t.blend_row_faded; },
        [in](const Kernel<BlendRowFadedFn>& k) { k(in->dst.data(), in->src.data(), kRow, 170); }));
    probes.push_back(zorbrix::kernel_probe<RowKernels>(
        "upscale_row_pair", [](RowKernels& t) -> Kernel<UpscaleRowPairFn>& { return t.upscale_row_pair; },
        [in](const Kernel<UpscaleRowPairFn>& k) { k(in->dst.data(), in->video.data(), kRow); }));
    return probes;
}

// Built during static initialisation so that no frame pays for it; a use from another static initialiser that runs
// earlier still gets the right table through the function-local static.
const RowKernels& built_at_start_up = row_kernels();

}  // namespace

const RowKernels& row_kernels() {
    static const RowKernels kernels = zorbrix::choose_kernel_table<RowKernels>("row", row_kernels_for, row_probes());
    return kernels;
}
