#include "video/mpeg4/kernel_choice.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace zorbrix::mpeg4 {

namespace {

// A small pseudo-random sequence, the same in every run.
struct Sequence {
    uint32_t state = 0x6C078965u;
    uint32_t next() { return state = state * 1664525u + 1013904223u; }
    int below(int n) { return static_cast<int>((next() >> 8) % static_cast<uint32_t>(n)); }
};

constexpr int kStride = 288;  // a 256-wide plane with its margins
constexpr int kRows = 64;

// A plane with smooth gradients, noise, flat stretches and steps at the 8x8 block edges, like a decoded picture.
std::vector<uint8_t> picture_plane(Sequence& s) {
    std::vector<uint8_t> plane(size_t(kStride) * kRows);
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kStride; ++x) {
            const int block_step = ((x / 8 + y / 8) % 3) * 6;
            const bool flat = ((x / 16) + (y / 16)) % 2 == 0;
            const int v = 60 + x / 3 + y + block_step + (flat ? 0 : s.below(24));
            plane[size_t(y) * kStride + x] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
    }
    return plane;
}

struct BlockInputs {
    std::vector<int16_t> coefficients;  // 8 blocks of 64
    std::vector<uint8_t> plane;
    std::vector<int16_t> work = std::vector<int16_t>(64);
    BlockInputs() {
        Sequence s;
        plane = picture_plane(s);
        coefficients.assign(8 * 64, 0);
        for (int b = 0; b < 8; ++b) {
            // A DC and a few low-frequency terms, sometimes more: the usual shape of coded blocks.
            int16_t* c = &coefficients[size_t(b) * 64];
            c[0] = static_cast<int16_t>(s.below(2048) - 1024);
            const int terms = 2 + s.below(b % 3 == 0 ? 20 : 6);
            for (int t = 0; t < terms; ++t) {
                c[1 + s.below(b % 3 == 0 ? 63 : 20)] = static_cast<int16_t>(s.below(160) - 80);
            }
        }
    }
};

struct PlaneInputs {
    std::vector<uint8_t> reference, output, pristine;
    std::vector<uint8_t> quant = std::vector<uint8_t>(kStride / 8);
    PlaneInputs() {
        Sequence s;
        reference = picture_plane(s);
        output = reference;
        pristine = reference;
        for (auto& q : quant) q = static_cast<uint8_t>(2 + s.below(10));
    }
};

}  // namespace

IdctKernels idct_kernels_chosen() {
    const auto in = std::make_shared<BlockInputs>();
    std::vector<KernelProbe<IdctKernels>> probes;
    probes.push_back(kernel_probe<IdctKernels>(
        "idct_8x8", [](IdctKernels& t) -> Kernel<IdctFn>& { return t.idct_8x8; },
        [in](const Kernel<IdctFn>& k) {
            for (int b = 0; b < 8; ++b) {
                std::memcpy(in->work.data(), &in->coefficients[size_t(b) * 64], 64 * sizeof(int16_t));
                k(in->work.data());
            }
        },
        8));
    const auto writer = [in](const Kernel<BlockWriterFn>& k) {
        for (int b = 0; b < 8; ++b) {
            k(&in->coefficients[size_t(b) * 64], in->plane.data() + 8 * kStride + 16 + 8 * b, kStride);
        }
    };
    probes.push_back(kernel_probe<IdctKernels>(
        "put_block_clamped", [](IdctKernels& t) -> Kernel<BlockWriterFn>& { return t.put_block_clamped; }, writer, 8));
    probes.push_back(kernel_probe<IdctKernels>(
        "add_block_clamped", [](IdctKernels& t) -> Kernel<BlockWriterFn>& { return t.add_block_clamped; }, writer, 8));
    return choose_kernel_table<IdctKernels>("idct", idct_kernels_for, probes);
}

PredictKernels predict_kernels_chosen() {
    const auto in = std::make_shared<PlaneInputs>();
    std::vector<KernelProbe<PredictKernels>> probes;
    static const char* const kNames[4] = {"copy", "half_h", "half_v", "half_hv"};
    for (int i = 0; i < 16; ++i) {
        const int size = i >= 8 ? 16 : 8;
        const std::string name = "predict" + std::to_string(size) + (i & 4 ? "_round1_" : "_round0_") + kNames[i & 3];
        probes.push_back(kernel_probe<PredictKernels>(
            name, [i](PredictKernels& t) -> Kernel<PredictBlockFn>& { return t.predict[i]; },
            [in](const Kernel<PredictBlockFn>& k) {
                // Four blocks at different alignments of the source.
                for (int b = 0; b < 4; ++b) {
                    k(in->output.data() + 24 * kStride + 16 + 40 * b, in->reference.data() + 8 * kStride + 13 + 37 * b,
                      kStride);
                }
            },
            4));
    }
    return choose_kernel_table<PredictKernels>("predict", predict_kernels_for, probes);
}

DeblockKernels deblock_kernels_chosen() {
    const auto in = std::make_shared<PlaneInputs>();
    constexpr int kWidth = 256;
    std::vector<KernelProbe<DeblockKernels>> probes;
    // Each call starts from the same unfiltered rows, so every version filters the same edges.
    probes.push_back(kernel_probe<DeblockKernels>(
        "filter_vertical_edges", [](DeblockKernels& t) -> Kernel<EdgeFilterFn>& { return t.filter_vertical_edges; },
        [in](const Kernel<EdgeFilterFn>& k) {
            for (int r = 8; r < 40; r += 4) {
                std::memcpy(&in->output[size_t(r) * kStride], &in->pristine[size_t(r) * kStride], 4 * kStride);
                k(in->output.data() + r * kStride + 16, kWidth, kStride, in->quant.data(), true);
            }
        },
        8));
    probes.push_back(kernel_probe<DeblockKernels>(
        "filter_horizontal_edges", [](DeblockKernels& t) -> Kernel<EdgeFilterFn>& { return t.filter_horizontal_edges; },
        [in](const Kernel<EdgeFilterFn>& k) {
            for (int r = 8; r <= 48; r += 8) {
                std::memcpy(&in->output[size_t(r - 5) * kStride], &in->pristine[size_t(r - 5) * kStride], 10 * kStride);
                k(in->output.data() + r * kStride + 16, kWidth, kStride, in->quant.data(), true);
            }
        },
        6));
    return choose_kernel_table<DeblockKernels>("deblock", deblock_kernels_for, probes);
}

}  // namespace zorbrix::mpeg4
