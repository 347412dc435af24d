// The cost of one frame of each scene, composited off screen with the intro's own data (video, pictures, effects)
// and not presented, beside a memcpy of one 512 x 384 screen measured in the same run. The clock moves on by 20 ms a
// frame, as at 50 frames per second, so the backdrop decodes a new video frame every second frame as it does in the
// intro. Target: every scene's frame within 15x the memcpy. Run it in build/bin, where zorbrix.kf is.
#include "app/scenes.h"
#include "engine3d/effects.h"
#include "engine3d/vector3d.h"
#include "loading/file_load.h"
#include "platform/ptc_offscreen.h"
#include "tools/capture/rgb_to_yuv.h"
#include "video/video_stream.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

using zorbrix::FrameTimer;
using zorbrix::IMAGE_ALPHA;
using zorbrix::MusicPosition;
using zorbrix::Vector3D;

namespace {

constexpr size_t kScreenBytes = 512 * 384 * 4;

// Everything the scenes draw with, set up once as the intro does.
struct Stage {
    ptc::Format format{32, 0xff0000, 0x00ff00, 0x0000ff, 0};
    ptc::Console console{std::make_unique<ptc::OffscreenBackend>()};
    ptc::Surface screen{512, 384, format};
    zorbrix::VideoStream video;
    std::unique_ptr<ptc::Surface> video_surface;
    int64_t ticks = 0;  // milliseconds
    FrameTimer timer{FrameTimer::Counter{[](void* self) { return static_cast<Stage*>(self)->ticks; }, 1000, this}};
    MusicPosition music;
    zorbrix::IntroImages images;
    zorbrix::FrameNote note;
    zorbrix::EffectPhase phase;
    std::unique_ptr<zorbrix::SceneContext> context;
    std::vector<uint32_t> a = std::vector<uint32_t>(512 * 384, 0x123456), b = std::vector<uint32_t>(512 * 384);

    Stage() {
        if (!zorbrix::file_init("zorbrix.kf", "data/")) zorbrix::file_init(nullptr, "data/");
        console.open("bench", 512, 384, format);
        video.open("zorbrix.nvd", 100);
        if (video.width() == 0) std::fprintf(stderr, "bench_app: no video (run in build/bin)\n");
        video_surface = std::make_unique<ptc::Surface>(video.width() ? video.width() : 256,
                                                       video.height() ? video.height() : 192, format);
        images.text.load("tekst.tga", IMAGE_ALPHA);
        const char* corners[4] = {"corner_upper_left.tga", "corner_upper_right.tga", "corner_lower_right.tga",
                                  "corner_lower_left.tga"};
        for (int i = 0; i < 4; ++i) images.corners[i].load(corners[i], IMAGE_ALPHA);
        images.logo.load("zorbrixlogo_stor.tga", IMAGE_ALPHA);
        images.intro[0].load("intro_1.tga", IMAGE_ALPHA);
        images.intro[1].load("intro_2.tga", IMAGE_ALPHA);
        for (int i = 0; i < zorbrix::kCaptionCount; ++i)
            images.captions[i].load(zorbrix::kCaptionFiles[i], IMAGE_ALPHA);
        for (int i = 0; i < 10; ++i) images.glyphs[i].load((std::to_string(i) + ".tga").c_str(), IMAGE_ALPHA);
        images.glyphs[10].load("kolon.tga", IMAGE_ALPHA);
        zorbrix::effect_b_init();
        zorbrix::effect_a_init();
        timer.start(0.0);
        context = std::make_unique<zorbrix::SceneContext>(
            zorbrix::SceneContext{console, screen, *video_surface, video, timer, music, images, note});
    }
};

Stage& stage() {
    static Stage s;
    return s;
}

template <typename Draw>
void run_frames(benchmark::State& state, Draw draw) {
    Stage& s = stage();
    for (auto _ : state) {
        s.ticks += 20;
        draw(s);
        benchmark::ClobberMemory();
    }
}

void bench_memcpy(benchmark::State& state) {
    Stage& s = stage();
    for (auto _ : state) {
        std::memcpy(s.b.data(), s.a.data(), kScreenBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kScreenBytes));
}

void scene1(benchmark::State& st) {
    run_frames(st, [](Stage& s) { zorbrix::countdown_frame(*s.context); });
}
void scene2(benchmark::State& st) {
    run_frames(st, [](Stage& s) { zorbrix::intro_frame(*s.context, s.images.intro[0], 20); });
}
void scene3(benchmark::State& st) {
    run_frames(st, [](Stage& s) { zorbrix::intro_frame(*s.context, s.images.intro[1], 20); });
}
void scene4_cube(benchmark::State& st) {
    run_frames(st, [](Stage& s) { zorbrix::effects_frame(*s.context, s.phase, 5, 2); });
}
void scene4_blob(benchmark::State& st) {
    run_frames(st, [](Stage& s) { zorbrix::effects_frame(*s.context, s.phase, 5, 40); });
}
void scene5(benchmark::State& st) {
    run_frames(st, [](Stage& s) { zorbrix::logo_frame(*s.context, s.phase, 30); });
}
void scroller(benchmark::State& st) {
    run_frames(st, [](Stage& s) { zorbrix::scroller_frame(*s.context, s.phase, 140.0, 384); });
}

// The parts, for the breakdown: the two effects alone into a screen, and the video decode alone (a new frame every
// iteration, 25 frames per second of video).
void effect_blob(benchmark::State& st) {
    run_frames(
        st, [](Stage& s) { zorbrix::effect_a_render(s.b.data(), 0, float(s.ticks) * 0.004f, Vector3D(0, 0, 0, 1)); });
}
void effect_cube(benchmark::State& st) {
    run_frames(st, [](Stage& s) {
        zorbrix::effect_b_render(s.b.data(), float(s.ticks) * 0.0025f, 2, 1.5f, Vector3D(0, 0, 0, 1));
    });
}
void video_decode(benchmark::State& st) {
    run_frames(st, [](Stage& s) {
        s.ticks += 20;  // 40 ms a step: one video frame each
        auto* pixels = static_cast<uint32_t*>(s.video_surface->lock());
        s.video.frame_at(pixels, float(s.ticks) / 1000.0f);
        s.video_surface->unlock();
    });
}

// Prints as usual and keeps the fastest repetition of every benchmark for the table at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const std::string name = r.run_name.function_name;
            for (auto [table, t] : {std::pair{&cpu_, r.GetAdjustedCPUTime()}, {&wall_, r.GetAdjustedRealTime()}}) {
                auto it = table->find(name);
                if (it == table->end() || t < it->second) (*table)[name] = t;
            }
        }
    }
    void print_table(const std::vector<std::string>& names) const {
        const double mc = cpu_.count("memcpy_screen") ? cpu_.at("memcpy_screen") : 0;
        const double mc_wall = wall_.count("memcpy_screen") ? wall_.at("memcpy_screen") : 0;
        if (mc <= 0 || mc_wall <= 0) return;
        std::printf(
            "\nOne frame as a multiple of a memcpy of one screen (%zu bytes), fastest repetition each;"
            " target 15x:\n",
            kScreenBytes);
        std::printf("%-14s %10s %10s %12s\n", "scene", "us/frame", "x memcpy", "wall x mc");
        for (const std::string& n : names) {
            if (!cpu_.count(n)) continue;
            std::printf("%-14s %10.1f %9.2fx %11.2fx%s\n", n.c_str(), cpu_.at(n), cpu_.at(n) / mc,
                        wall_.at(n) / mc_wall, n.rfind("part_", 0) != 0 && cpu_.at(n) / mc > 15 ? "  over target" : "");
        }
    }

private:
    std::map<std::string, double> cpu_, wall_;
};

// The capture tool's conversion of one screen to 4:2:0 YCbCr through a table (each level's, and the chosen one),
// with "x real time" the conversion alone would allow at 50 frames per second.
void rgb_to_yuv_screen(benchmark::State& state, const RgbToYuvKernels* k) {
    Stage& s = stage();
    zorbrix::enc::YuvFrame out;
    for (auto _ : state) {
        rgb_to_yuv420_with(*k, s.a.data(), 512, 384, &out);
        benchmark::DoNotOptimize(out.y.data());
    }
    state.counters["x_real_time"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / 50.0, benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::pair<std::string, void (*)(benchmark::State&)>> scenes = {
        {"scene1_clock", scene1},     {"scene2_intro1", scene2},    {"scene3_intro2", scene3},
        {"scene4_cube", scene4_cube}, {"scene4_blob", scene4_blob}, {"scene5_logo", scene5},
        {"scroller", scroller},       {"part_blob", effect_blob},   {"part_cube", effect_cube},
        {"part_video", video_decode}};
    const auto tune = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMicrosecond)->MinTime(0.2)->Repetitions(3);
    };
    // memcpy between the scenes, so the ratios do not all rest on one moment of a noisy machine.
    std::vector<std::string> names;
    tune(benchmark::RegisterBenchmark("memcpy_screen", bench_memcpy));
    for (const auto& [name, fn] : scenes) {
        tune(benchmark::RegisterBenchmark(name.c_str(), fn));
        tune(benchmark::RegisterBenchmark("memcpy_screen", bench_memcpy));
        names.push_back(name);
    }
    static std::vector<RgbToYuvKernels> conversions;
    for (const zorbrix::CpuLevel level : zorbrix::CPU_LEVELS) {
        if (zorbrix::cpu_allows(level)) conversions.push_back(rgb_to_yuv_kernels_for(level));
    }
    for (const RgbToYuvKernels& k : conversions) {
        const std::string name = std::string("rgb_to_yuv/") + zorbrix::cpu_level_name(k.level);
        tune(benchmark::RegisterBenchmark(name.c_str(), rgb_to_yuv_screen, &k));
        names.push_back(name);
    }
    tune(benchmark::RegisterBenchmark("rgb_to_yuv/chosen", rgb_to_yuv_screen, &rgb_to_yuv_kernels()));
    names.push_back("rgb_to_yuv/chosen");
    tune(benchmark::RegisterBenchmark("memcpy_screen", bench_memcpy));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_table(names);
    benchmark::Shutdown();
    return 0;
}
