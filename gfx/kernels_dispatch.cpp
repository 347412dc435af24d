// The row kernel tables: the scalar reference overridden level by level, and the program's table, where each entry
// is the version measured fastest on this processor.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "gfx/blit_kernels.h"

namespace zorbrix {

RowKernels row_kernels_for(CpuLevel level) {
    return zorbrix::build_kernel_table<RowKernels>(
        level, {row_kernels_init_scalar, row_kernels_init_sse2, row_kernels_init_avx2, row_kernels_init_avx512});
}

namespace {

constexpr int kRow = 512;   // one screen row
constexpr int kRows = 384;  // one screen
constexpr int kVideoRows = 192;

// Screens like the ones the intro composes: a 512 x 384 destination, a picture of the same size whose alpha runs
// through opaque, clear and partly covered stretches, and a 256 x 192 video for the enlargement. Each call takes the
// next row, so the kernels stream through memory the way whole-screen blits do, instead of reusing one row that
// sits in the first-level cache (where a plain loop and a vector one compare differently).
struct RowInputs {
    std::vector<uint32_t> dst = std::vector<uint32_t>(size_t(kRow) * (kRows + 1));
    std::vector<uint32_t> src = std::vector<uint32_t>(size_t(kRow) * kRows);
    std::vector<uint32_t> video = std::vector<uint32_t>(size_t(kRow / 2) * kVideoRows);
    int row = 0, video_row = 0;

    RowInputs() {
        uint32_t seed = 0x9E3779B9u;
        auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
        for (int i = 0; i < kRow; ++i) {
            dst[size_t(i)] = next() & 0x00FFFFFFu;
            video[size_t(i)] = next() & 0x00FFFFFFu;
            const uint32_t stretch = (i / 32) % 3;  // opaque, clear, then partly covered
            const uint32_t alpha = stretch == 0 ? 255u : stretch == 1 ? 0u : (next() >> 24);
            const uint32_t c = next();
            // Premultiplied: no colour byte above the alpha.
            auto premul = [alpha](uint32_t byte) { return (byte & 0xFFu) * alpha / 255u; };
            src[size_t(i)] = (alpha << 24) | (premul(c >> 16) << 16) | (premul(c >> 8) << 8) | premul(c);
        }
        // The first row repeated: the same work on every row, with every row its own memory.
        for (auto* plane : {&src, &dst, &video}) {
            for (size_t at = kRow; at < plane->size(); at += kRow) {
                std::copy_n(plane->begin(), kRow, plane->begin() + static_cast<long>(at));
            }
        }
    }
    // The next screen row of the destination and the source.
    size_t next_row() {
        const size_t at = size_t(row) * kRow;
        row = (row + 1) % kRows;
        return at;
    }
    // The next video row pair (row offset of the source, destination row pair in the screen).
    std::pair<size_t, size_t> next_video_rows() {
        const std::pair<size_t, size_t> at{size_t(video_row) * (kRow / 2), size_t(2 * video_row) * kRow};
        video_row = (video_row + 1) % (kVideoRows - 1);
        return at;
    }
};

std::vector<zorbrix::KernelProbe<RowKernels>> row_probes() {
    const auto in = std::make_shared<RowInputs>();
    std::vector<zorbrix::KernelProbe<RowKernels>> probes;
    probes.push_back(zorbrix::kernel_probe<RowKernels>(
        "copy_row", [](RowKernels& t) -> Kernel<CopyRowFn>& { return t.copy_row; },
        [in](const Kernel<CopyRowFn>& k) {
            const size_t at = in->next_row();
            k(in->dst.data() + at, in->src.data() + at, kRow);
        }));
    probes.push_back(zorbrix::kernel_probe<RowKernels>(
        "blend_row", [](RowKernels& t) -> Kernel<BlendRowFn>& { return t.blend_row; },
        [in](const Kernel<BlendRowFn>& k) {
            const size_t at = in->next_row();
            k(in->dst.data() + at, in->src.data() + at, kRow);
        }));
    probes.push_back(zorbrix::kernel_probe<RowKernels>(
        "blend_row_faded", [](RowKernels& t) -> Kernel<BlendRowFadedFn>& { return t.blend_row_faded; },
        [in](const Kernel<BlendRowFadedFn>& k) {
            const size_t at = in->next_row();
            k(in->dst.data() + at, in->src.data() + at, kRow, 170);
        }));
    probes.push_back(zorbrix::kernel_probe<RowKernels>(
        "upscale_row_pair", [](RowKernels& t) -> Kernel<UpscaleRowPairFn>& { return t.upscale_row_pair; },
        [in](const Kernel<UpscaleRowPairFn>& k) {
            const auto [from, to] = in->next_video_rows();
            k(in->dst.data() + to, in->video.data() + from, kRow);
        }));
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

}  // namespace zorbrix
