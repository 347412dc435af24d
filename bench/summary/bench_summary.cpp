// One table of every speed figure: for each row what is measured, our median, the peer's median, the ratio's
// minimum, median and maximum over interleaved repetitions (ours, peer, ours, peer ...), the target and whether
// the median meets it. Processes are started with posix_spawn and measured with wait4 (CPU time user + sys, peak
// resident memory); in-process figures come from the other bench programs by benchmark name, as JSON.
//
//   bench_summary [--reps N]      N repetitions of each side (at least 5; ZORBRIX_BENCH_REPS sets the default)
//   bench_summary --only NAME     only the parts whose name holds NAME ("capture", "encoder", "decoder", "kernel")
//   bench_summary --kernel-choices    prints this process's kernel choices, one line per entry (used by the table)
//
// Runs from the directory of its own executable (build/bin); test data goes to build/bench-data.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine3d/raster.h"
#include "engine3d/shade_kernels.h"
#include "engine3d/transform_kernels.h"
#include "gfx/blit_kernels.h"
#include "loading/lzw.h"
#include "platform/cpu.h"
#include "tools/capture/rgb_to_yuv.h"
#include "tools/encoder/dsp.h"
#include "video/colour_convert.h"
#include "video/mpeg4/idct.h"
#include "video/mpeg4/motion.h"
#include "video/mpeg4/postprocess.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// ---- Processes ----

struct Usage {
    bool ok = false;
    double cpu_seconds = 0;   // user + sys
    double wall_seconds = 0;  // from the start to the end of the process
    double max_rss_kib = 0;
};

// Runs argv[0] (a path) with the arguments, standard output and error into the given files ("" = /dev/null).
Usage run(const std::vector<std::string>& argv, const std::string& out = "", const std::string& err = "") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.empty() ? "/dev/null" : err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    Usage u;
    const auto started = std::chrono::steady_clock::now();
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return u;
    int status = 0;
    rusage r{};
    if (wait4(pid, &status, 0, &r) != pid) return u;
    u.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    u.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    u.cpu_seconds = double(r.ru_utime.tv_sec) + double(r.ru_utime.tv_usec) * 1e-6 + double(r.ru_stime.tv_sec) +
                    double(r.ru_stime.tv_usec) * 1e-6;
    u.max_rss_kib = double(r.ru_maxrss);
    return u;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The number after `"key": ` in the JSON object of the first run of the benchmark `name` (the name as given, or
// followed by "/" and the options Google Benchmark appends, such as "/min_time:0.100/repeats:3"), or NaN.
double json_field(const std::string& json, const std::string& name, const std::string& key) {
    const std::string tag = "\"name\": \"" + name;
    size_t at = json.find(tag);
    while (at != std::string::npos) {
        const char next = json[at + tag.size()];
        if (next == '"' || next == '/') break;
        at = json.find(tag, at + 1);
    }
    if (at == std::string::npos) return NAN;
    const size_t end = json.find('}', at);
    const size_t k = json.find("\"" + key + "\": ", at);
    if (k == std::string::npos || k > end) return NAN;
    return std::atof(json.c_str() + k + key.size() + 4);
}

// ---- Statistics and the table ----

// The median of the figures that are numbers (NaN marks a failed run).
double median(std::vector<double> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

struct Row {
    std::string what, ours, peer, ratio, target, met;
};
std::vector<Row> g_rows;

std::string format(const char* fmt, double v) {
    if (std::isnan(v)) return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// A row from paired figures (repetition i of ours beside repetition i of the peer): ratio_i is ours_i / peer_i
// (rates, memory) or peer_i / ours_i (times), so that it reads "how many times the peer's"; the median ratio must
// be at least `goal` (at_least) or at most `goal`.
void add_pair_row(const std::string& what, const std::vector<double>& ours, const std::vector<double>& peer,
                  const char* unit_fmt, double goal, bool at_least, bool ratio_is_ours_over_peer) {
    std::vector<double> ratios;
    for (size_t i = 0; i < std::min(ours.size(), peer.size()); ++i) {
        if (std::isnan(ours[i]) || std::isnan(peer[i]) || ours[i] <= 0 || peer[i] <= 0) continue;
        ratios.push_back(ratio_is_ours_over_peer ? ours[i] / peer[i] : peer[i] / ours[i]);
    }
    Row r;
    r.what = what;
    r.ours = format(unit_fmt, median(ours));
    r.peer = format(unit_fmt, median(peer));
    if (ratios.empty()) {
        r.ratio = "no figures";
        r.met = "not measured";
    } else {
        const double m = median(ratios);
        r.ratio = format("%.2f", *std::min_element(ratios.begin(), ratios.end())) + " / " + format("%.2f", m) + " / " +
                  format("%.2f", *std::max_element(ratios.begin(), ratios.end()));
        r.met = (at_least ? m >= goal : m <= goal) ? "met" : "NOT met";
    }
    r.target = std::string(at_least ? ">= " : "<= ") + format("%.1fx", goal);
    g_rows.push_back(r);
}

void print_table(int reps) {
    size_t w[6] = {4, 4, 4, 21, 6, 3};
    const Row head{"what", "ours", "peer", "ratio min / med / max", "target", "met"};
    std::vector<Row> all = {head};
    all.insert(all.end(), g_rows.begin(), g_rows.end());
    for (const Row& r : all) {
        const std::string* f[6] = {&r.what, &r.ours, &r.peer, &r.ratio, &r.target, &r.met};
        for (int i = 0; i < 6; ++i) w[i] = std::max(w[i], f[i]->size());
    }
    std::printf("\n== Summary (%d interleaved repetitions each; ratio = times the peer's, median decides)\n", reps);
    for (size_t k = 0; k < all.size(); ++k) {
        const Row& r = all[k];
        const std::string* f[6] = {&r.what, &r.ours, &r.peer, &r.ratio, &r.target, &r.met};
        for (int i = 0; i < 6; ++i) std::printf("%s%-*s", i ? "  " : "", int(w[i]), f[i]->c_str());
        std::printf("\n");
        if (k == 0) {
            size_t total = 0;
            for (size_t x : w) total += x + 2;
            std::printf("%s\n", std::string(total - 2, '-').c_str());
        }
    }
}

// ---- Test data ----

const std::string kData = "../bench-data";

bool make_stream(const std::string& m4v, int width, int height, int frames) {
    if (fs::exists(m4v)) return true;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return run({"ffmpeg",
                "-nostdin",
                "-v",
                "error",
                "-y",
                "-f",
                "lavfi",
                "-i",
                "testsrc2=size=" + size + ":rate=25" + (width > 256 ? ",scroll=h=0.01:v=0.005" : ""),
                "-frames:v",
                std::to_string(frames),
                "-c:v",
                "mpeg4",
                "-threads",
                "1",
                "-bf",
                "0",
                "-g",
                "50",
                "-flags",
                "+bitexact",
                "-qscale:v",
                "4",
                "-f",
                "m4v",
                m4v})
        .ok;
}

// ---- Rows ----

// In-process decoding (bench_video's BM_Decode, CPU time) against ffmpeg's user time (its BM_Ffmpeg).
void decoder_in_process(int reps) {
    for (int size = 0; size <= 1; ++size) {
        const std::string s = std::to_string(size);
        const std::string label = size ? "720x576" : "256x192";
        std::vector<double> plain, post, post_rgb32, peer;
        for (int i = 0; i < reps; ++i) {
            const std::string json = kData + "/summary_video.json";
            run({"./bench_video", "--benchmark_filter=^BM_Decode/" + s + "/(0/0|100/2|100/1)$",
                 "--benchmark_min_time=0.3", "--benchmark_out=" + json, "--benchmark_out_format=json"});
            const std::string ours = read_text(json);
            plain.push_back(json_field(ours, "BM_Decode/" + s + "/0/0", "fps"));
            post.push_back(json_field(ours, "BM_Decode/" + s + "/100/2", "fps"));
            post_rgb32.push_back(json_field(ours, "BM_Decode/" + s + "/100/1", "fps"));
            run({"./bench_video", "--benchmark_filter=^BM_Ffmpeg/" + s + "/", "--benchmark_out=" + json,
                 "--benchmark_out_format=json"});
            peer.push_back(json_field(read_text(json), "BM_Ffmpeg/" + s + "/iterations:5/manual_time", "fps"));
        }
        add_pair_row("decode in-process, plain, " + label + " (fps)", plain, peer, "%.0f", 1.5, true, true);
        // Post-processed pictures in ffmpeg's layout (planar), and converted to 32-bit pixels as the intro shows
        // them: the second does the colour conversion that ffmpeg's figure leaves out.
        add_pair_row("decode in-process, postproc 100, planar, " + label + " (fps)", post, peer, "%.0f", 1.0, true,
                     true);
        add_pair_row("decode in-process, postproc 100 + rgb32, " + label + " (fps)", post_rgb32, peer, "%.0f", 1.0,
                     true, true);
    }
}

// Whole processes on a long stream: `nvdtool decode X.nvd /dev/null` against `ffmpeg -threads 1 -i X.m4v -f null -`,
// CPU time and peak memory.
void decoder_process(int reps) {
    for (int size = 0; size <= 1; ++size) {
        const int width = size ? 720 : 256, height = size ? 576 : 192, frames = size ? 500 : 3000;
        const std::string label = std::to_string(width) + "x" + std::to_string(height);
        const std::string stem = kData + "/summary_long_" + label;
        const std::string m4v = stem + ".m4v", nvd = stem + ".nvd";
        if (!make_stream(m4v, width, height, frames) ||
            (!fs::exists(nvd) && !run({"./nvdtool", "import", m4v, nvd}).ok)) {
            add_pair_row("decode process, " + label, {}, {}, "%.2f", 1.5, true, false);
            continue;
        }
        std::vector<double> ours_cpu, peer_cpu, ours_rss, peer_rss, post_cpu;
        for (int i = 0; i < reps; ++i) {
            const Usage o = run({"./nvdtool", "decode", nvd, "/dev/null"});
            const Usage p = run({"ffmpeg", "-nostdin", "-threads", "1", "-i", m4v, "-f", "null", "-"});
            const Usage pp = run({"./nvdtool", "decode", nvd, "/dev/null", "--postproc", "100"});
            ours_cpu.push_back(o.ok ? o.cpu_seconds : NAN);
            peer_cpu.push_back(p.ok ? p.cpu_seconds : NAN);
            post_cpu.push_back(pp.ok ? pp.cpu_seconds : NAN);
            ours_rss.push_back(o.ok ? o.max_rss_kib / 1024 : NAN);
            peer_rss.push_back(p.ok ? p.max_rss_kib / 1024 : NAN);
        }
        const std::string what = "decode process " + std::to_string(frames) + " frames, " + label;
        add_pair_row(what + " (CPU s)", ours_cpu, peer_cpu, "%.3f", 1.5, true, false);
        add_pair_row(what + ", postproc 100 (CPU s)", post_cpu, peer_cpu, "%.3f", 1.0, true, false);
        add_pair_row("decode process peak memory, " + label + " (MiB)", ours_rss, peer_rss, "%.1f", 2.0, false, true);
    }
}

// Encoding speed: bench_encoder's BM_EncodeFileOurs (nvdtool encode) and BM_EncodeFileFfmpeg (ffmpeg mpeg4,
// -threads 1 -bf 0, the same quantiser and its default GOP of 12, the same as ours).
void encoder(int reps) {
    for (const char* size : {"256/192", "720/576"}) {
        std::vector<double> ours, peer;
        const std::string json = kData + "/summary_encoder.json";
        for (int i = 0; i < reps; ++i) {
            for (const char* who : {"Ours", "Ffmpeg"}) {
                const std::string name = std::string("BM_EncodeFile") + who + "/" + size;
                run({"./bench_encoder", "--benchmark_filter=^" + name + "/", "--benchmark_min_time=0.1",
                     "--benchmark_out=" + json, "--benchmark_out_format=json"});
                (who[0] == 'O' ? ours : peer).push_back(json_field(read_text(json), name + "/real_time", "fps"));
            }
        }
        std::string label = size;
        std::replace(label.begin(), label.end(), '/', 'x');
        add_pair_row("encode process, " + label + " (fps, wall)", ours, peer, "%.0f", 1.0, true, true);
    }
}

// The capture tool: frames rendered, converted and written per second, over 50 (x real time at 50 fps).
void add_speed_row(const std::string& what, const std::vector<double>& speed, double goal);

// Three rows: the video written to a file, per CPU second (the page cache's copy of every byte is counted, as system
// time) and per wall-clock second (the video is written on its own thread while the next frame renders, so this is
// the figure that overlap improves; the target is judged on it), and to /dev/null per CPU second (what the tool itself
// costs). Each run to the file replaces the previous run's file, as a repeated capture does.
void capture(int reps) {
    constexpr int kSeconds = 20;
    std::vector<double> to_file, to_file_wall, to_null;
    const std::string out = kData + "/summary_capture.y4m", err = kData + "/summary_capture.err";
    for (int i = 0; i < reps; ++i) {
        const Usage f = run({"./zorbrix-capture", out, "--max-seconds", std::to_string(kSeconds)}, "", err);
        to_file.push_back(f.ok && f.cpu_seconds > 0 ? kSeconds / f.cpu_seconds : NAN);
        to_file_wall.push_back(f.ok && f.wall_seconds > 0 ? kSeconds / f.wall_seconds : NAN);
        const Usage n = run({"./zorbrix-capture", "-", "--max-seconds", std::to_string(kSeconds)}, "", err);
        to_null.push_back(n.ok && n.cpu_seconds > 0 ? kSeconds / n.cpu_seconds : NAN);
    }
    std::error_code ec;
    fs::remove(out, ec);
    const std::string what = "capture " + std::to_string(kSeconds) + " s at 50 fps to ";
    add_speed_row(what + "a file (x real time, CPU)", to_file, 60);
    add_speed_row(what + "a file (x real time, wall; the target's figure)", to_file_wall, 60);
    add_speed_row(what + "/dev/null (x real time, CPU)", to_null, 60);
}

// A row without a peer: figures (higher is better) against a target.
void add_speed_row(const std::string& what, const std::vector<double>& speed, double goal) {
    Row r;
    r.what = what;
    r.ours = format("%.1fx", median(speed));
    r.peer = "-";
    std::vector<double> ok;
    for (double s : speed) {
        if (!std::isnan(s)) ok.push_back(s);
    }
    if (ok.empty()) {
        r.ratio = "no figures";
    } else {
        const auto [low, high] = std::minmax_element(ok.begin(), ok.end());
        r.ratio = format("%.1f", *low) + " / " + format("%.1f", median(ok)) + " / " + format("%.1f", *high);
    }
    r.target = ">= " + format("%.0fx", goal);
    r.met = ok.empty() ? "not measured" : median(ok) >= goal ? "met" : "NOT met";
    g_rows.push_back(r);
}

// Builds every family's program table (each choice is recorded as it is made).
void build_every_table() {
    (void)zorbrix::row_kernels();
    (void)zorbrix::shade_kernels();
    (void)zorbrix::transform_kernels();
    (void)zorbrix::raster_kernels();
    (void)zorbrix::mpeg4::idct_kernels();
    (void)zorbrix::mpeg4::predict_kernels();
    (void)zorbrix::mpeg4::deblock_kernels();
    (void)zorbrix::colour_kernels();
    (void)zorbrix::enc::dsp();
    (void)zorbrix::lzw_kernels();
    (void)rgb_to_yuv_kernels();
}

int print_kernel_choices() {
    build_every_table();
    for (const auto& c : zorbrix::kernel_choices()) {
        std::printf("choice %s %s %s %d", c.family.c_str(), c.entry.c_str(), zorbrix::cpu_level_name(c.chosen),
                    c.measured ? 1 : 0);
        for (double ns : c.ns_per_call) std::printf(" %.2f", ns);
        std::printf("\n");
    }
    std::printf("milliseconds %.3f\n", zorbrix::kernel_choice_milliseconds());
    return 0;
}

// The choices of `reps` fresh processes: the matrix of median times per level with the first process's choice
// marked, how many processes agreed, and whether each chosen version was never slower than the scalar one
// (medians over the processes). A difference inside the scalar version's own spread from process to process (or 3 %,
// whichever is larger) is noise, not "slower": memory-bound entries such as copy_row measure alike at every level,
// and which of them a process picks is then a coin toss.
void kernel_choices(int reps) {
    struct Entry {
        std::string family, entry;
        std::vector<double> ns[zorbrix::CPU_LEVEL_COUNT];
        std::vector<std::string> chosen;
        bool measured = false;
    };
    std::vector<Entry> entries;
    std::vector<double> milliseconds;
    const std::string out = kData + "/summary_choices.txt";
    for (int i = 0; i < reps; ++i) {
        if (!run({"./bench_summary", "--kernel-choices"}, out).ok) continue;
        std::istringstream in(read_text(out));
        std::string word;
        while (in >> word) {
            if (word == "milliseconds") {
                double ms = 0;
                in >> ms;
                milliseconds.push_back(ms);
                continue;
            }
            std::string family, entry, chosen;
            int measured = 0;
            double ns[zorbrix::CPU_LEVEL_COUNT];
            in >> family >> entry >> chosen >> measured;
            for (double& v : ns) in >> v;
            auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const Entry& e) { return e.family == family && e.entry == entry; });
            if (it == entries.end()) {
                entries.push_back({family, entry, {}, {}, false});
                it = entries.end() - 1;
            }
            for (int l = 0; l < zorbrix::CPU_LEVEL_COUNT; ++l) {
                if (ns[l] > 0) it->ns[l].push_back(ns[l]);
            }
            it->chosen.push_back(chosen);
            it->measured = it->measured || measured;
        }
    }
    std::printf(
        "\n== Kernel choice (ns per call, median of %d processes; * = chosen in the first; "
        "agree = processes that chose the same)\n",
        reps);
    std::printf("%-12s %-28s", "family", "entry");
    for (const auto level : zorbrix::CPU_LEVELS) std::printf(" %10s", zorbrix::cpu_level_name(level));
    std::printf("  agree  never slower than scalar\n");
    int slower = 0, measured = 0;
    for (const Entry& e : entries) {
        std::printf("%-12s %-28s", e.family.c_str(), e.entry.c_str());
        const std::string first = e.chosen.empty() ? "" : e.chosen[0];
        double chosen_ns = NAN;
        for (const auto level : zorbrix::CPU_LEVELS) {
            const double m = median(e.ns[int(level)]);
            const bool mark = first == zorbrix::cpu_level_name(level);
            if (mark) chosen_ns = m;
            const std::string figure = std::isnan(m) ? (mark ? "only" : "-") : format("%.1f", m);
            std::printf(" %9s%s", figure.c_str(), mark ? "*" : " ");
        }
        const auto agree = std::count(e.chosen.begin(), e.chosen.end(), first);
        const double scalar = median(e.ns[0]);
        std::string verdict = "single version";
        if (e.measured && !std::isnan(scalar) && !std::isnan(chosen_ns)) {
            ++measured;
            const auto [lo, hi] = std::minmax_element(e.ns[0].begin(), e.ns[0].end());
            const double spread = (*hi - *lo) / scalar;
            const bool ok = chosen_ns <= scalar * (1.0 + std::max(0.03, spread));
            if (!ok) ++slower;
            verdict = ok ? "yes" : "NO";
        }
        std::printf("  %d/%zu  %s\n", int(agree), e.chosen.size(), verdict.c_str());
    }
    std::printf("choosing took %.2f ms per process (median)\n", median(milliseconds));
    Row r;
    r.what = "kernel choice: chosen never slower than scalar (" + std::to_string(measured) + " entries)";
    r.ours = format("%.2f ms", median(milliseconds));
    r.peer = "-";
    r.ratio = std::to_string(measured - slower) + " of " + std::to_string(measured) + " ok";
    r.target = "all";
    r.met = entries.empty() ? "not measured" : slower == 0 ? "met" : "NOT met";
    g_rows.push_back(r);
}

// bench_gfx's row kernels through the chosen table against memcpy of the same screen, from its interleaved runs.
void kernels_vs_memcpy(int reps) {
    const std::string json = kData + "/summary_gfx.json";
    std::map<std::string, std::vector<double>> times;
    const char* kernels[] = {"copy_row", "upscale_video_2x", "blend_row"};
    for (int i = 0; i < reps; ++i) {
        run({"./bench_gfx", "--benchmark_filter=^(memcpy_screen|(copy_row|upscale_video_2x|blend_row)/chosen)",
             "--benchmark_repetitions=1", "--benchmark_out=" + json, "--benchmark_out_format=json"});
        const std::string text = read_text(json);
        times["memcpy_screen"].push_back(json_field(text, "memcpy_screen", "cpu_time"));
        for (const char* k : kernels) times[k].push_back(json_field(text, std::string(k) + "/chosen", "cpu_time"));
    }
    for (const char* k : kernels) {
        std::vector<double> ours = times[k], peer = times["memcpy_screen"];
        // Times: the ratio is memcpy's time over ours (1.0 = as fast as memcpy); shown for reference, no target.
        add_pair_row(std::string(k) + " (chosen) vs memcpy, 512x384 screen (us)", ours, peer, "%.1f", 0.0, true, false);
        g_rows.back().target = "-";
        g_rows.back().met = "info";
    }
}

// The machine's load average over the last minute ("?" where the system does not say): speed figures taken while
// other work runs (a load near or above the number of cores) read low, the wall-clock ones most.
std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    return in >> one ? one : "?";
}

constexpr const char* kUsage =
    "usage: bench_summary [--reps N] [--only PART]\n"
    "Runs every speed benchmark against its peer (ffmpeg, memcpy or a target) with N interleaved repetitions\n"
    "(default 5, or ZORBRIX_BENCH_REPS) and prints one table: ours, peer, ratio min / median / max, target, met.\n"
    "PART picks the parts whose name contains it: kernel choice, kernels vs memcpy, decoder in-process,\n"
    "decoder processes, encoder, capture.\n";

struct Options {
    int reps = 5;
    std::string only;
};

// The options, or a status to exit with (0 after --help, 2 for bad use).
std::optional<Options> parse_options(int argc, char** argv, int* status) {
    Options o;
    if (const char* env = std::getenv("ZORBRIX_BENCH_REPS")) o.reps = std::atoi(env);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            *status = 0;
            return std::nullopt;
        }
        const bool takes_value = a == "--reps" || a == "--only";
        if (!takes_value || i + 1 == argc) {
            std::fprintf(stderr, "bench_summary: %s: %s\n%s", a.c_str(),
                         takes_value ? "needs a value" : "unknown option", kUsage);
            *status = 2;
            return std::nullopt;
        }
        if (a == "--reps")
            o.reps = std::atoi(argv[++i]);
        else
            o.only = argv[++i];
    }
    o.reps = std::max(o.reps, 1);
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && !std::strcmp(argv[1], "--kernel-choices")) return print_kernel_choices();
    const fs::path self = fs::read_symlink("/proc/self/exe");
    fs::current_path(self.parent_path());
    fs::create_directories(kData);
    int status = 0;
    const std::optional<Options> options = parse_options(argc, argv, &status);
    if (!options) return status;
    const int reps = options->reps;
    const std::vector<std::pair<const char*, std::function<void(int)>>> parts = {
        {"kernel choice", kernel_choices},
        {"kernels vs memcpy", kernels_vs_memcpy},
        {"decoder in-process", decoder_in_process},
        {"decoder processes", decoder_process},
        {"encoder", encoder},
        {"capture", capture},
    };
    const std::string& only = options->only;
    if (std::none_of(parts.begin(), parts.end(),
                     [&](const auto& p) { return std::string(p.first).find(only) != std::string::npos; })) {
        std::fprintf(stderr, "bench_summary: no part's name contains \"%s\"\n%s", only.c_str(), kUsage);
        return 2;
    }
    const std::string load_before = load_average();
    std::fprintf(stderr, "bench_summary: %d repetitions of each side; this takes a few minutes\n", reps);
    for (const auto& [name, part] : parts) {
        if (std::string(name).find(only) == std::string::npos) continue;
        // What a part printed to standard output comes out before the next progress line, not in the middle of it.
        std::fflush(stdout);
        std::fprintf(stderr, "bench_summary: %s\n", name);
        part(reps);
    }
    const std::string load_after = load_average();
    print_table(reps);
    std::printf("load average (1 min) at the start %s, at the end %s, on %ld cores\n", load_before.c_str(),
                load_after.c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    return 0;
}
