// zorbrix-capture: renders the whole intro offline and deterministically at a fixed frame rate, through the same
// entry and scene code as the desktop program: time advances by exactly 1/fps per presented frame, the soundtrack
// is rendered in step so every order and row change lands on the right frame, no key is pressed during the scenes,
// and in the end scroller Page Down is pressed every 2 seconds until the end of the text, then Escape.
//
//   zorbrix-capture OUT.y4m [--wav OUT.wav] [--fps N] [--png DIR --every SECONDS] [--log FILE] [--max-seconds S]
//                   [--start-order N]   (the song and the scenes start at order N)
//
// Run it where the intro's data is (build/bin): it reads "zorbrix.kf" and "data/" like the intro.
#include "app/intro.h"
#include "app/intro_content.h"
#include "app/soundtrack.h"
#include "gfx/png_writer.h"
#include "platform/output_file.h"
#include "platform/ptc_offscreen.h"
#include "platform/sound.h"
#include "platform/sound_offline.h"
#include "platform/tool_main.h"
#include "platform/wav_writer.h"
#include "platform/xm_player.h"
#include "tools/capture/rgb_to_yuv.h"
#include "tools/encoder/y4m.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kAudioRate = 44100;

struct Options {
    std::string y4m;
    std::string wav;
    std::string png_dir;
    std::string log;
    int fps = 50;
    double every = 0;
    double max_seconds = 900;
    int start_order = 0;
};

const char kUsage[] =
    "usage: zorbrix-capture OUT.y4m [--wav OUT.wav] [--fps N] [--png DIR --every SECONDS] [--log FILE]\n"
    "                       [--max-seconds S] [--start-order N]\n"
    "Renders the intro offline (run it in the folder that holds zorbrix.kf, normally build/bin).\n";

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zorbrix-capture: %s needs %s\n", arg.c_str(), what);
                return nullptr;
            }
            return argv[++i];
        };
        const char* v = nullptr;
        if (arg == "--wav") {
            if (!(v = value("a file name"))) return false;
            o->wav = v;
        } else if (arg == "--fps") {
            if (!(v = value("a number"))) return false;
            o->fps = std::atoi(v);
            if (o->fps < 1 || o->fps > 1000) {
                std::fprintf(stderr, "zorbrix-capture: --fps must be 1..1000\n");
                return false;
            }
        } else if (arg == "--png") {
            if (!(v = value("a folder"))) return false;
            o->png_dir = v;
        } else if (arg == "--every") {
            if (!(v = value("seconds"))) return false;
            o->every = std::atof(v);
        } else if (arg == "--log") {
            if (!(v = value("a file name"))) return false;
            o->log = v;
        } else if (arg == "--max-seconds") {
            if (!(v = value("seconds"))) return false;
            o->max_seconds = std::atof(v);
        } else if (arg == "--start-order") {
            if (!(v = value("an order number"))) return false;
            char* end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (*v == '\0' || *end != '\0' || n < 0 || n > 255) {
                std::fprintf(stderr, "zorbrix-capture: --start-order must be 0..255\n");
                return false;
            }
            o->start_order = int(n);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            std::fprintf(stderr, "zorbrix-capture: unknown option %s\n", arg.c_str());
            return false;
        } else if (o->y4m.empty()) {
            o->y4m = arg;
        } else {
            std::fprintf(stderr, "zorbrix-capture: more than one output file given\n");
            return false;
        }
    }
    if (o->y4m.empty()) return false;
    if (!o->png_dir.empty() && !(o->every > 0)) {
        std::fprintf(stderr, "zorbrix-capture: --png needs --every SECONDS (above 0)\n");
        return false;
    }
    return true;
}

// The intro's soundtrack on the sound layer's offline backend: the song moves only as the capture renders it, after
// every frame, and its callbacks move the music position as they would for a listener.
class OfflineSoundtrack : public zorbrix::LayerSoundtrack {
public:
    OfflineSoundtrack() : LayerSoundtrack([] { return std::make_unique<zorbrix::OfflineSoundBackend>(); }) {}

    bool load(void* data, int length) override {
        if (LayerSoundtrack::load(data, length)) return true;
        std::string error = "no module data";
        if (data != nullptr && length > 0) {
            zorbrix::XmPlayer().load(data, static_cast<size_t>(length), kAudioRate, &error);
        }
        std::fprintf(stderr, "zorbrix-capture: the soundtrack does not load: %s\n", error.c_str());
        return false;
    }
    void play(int order) override {
        LayerSoundtrack::play(order);
        playing_ = true;
        rendered_ = 0;
        // The song's first row starts at time 0, so the first frame already sees it.
        advance_to(1);
    }
    void stop() override {
        LayerSoundtrack::stop();
        playing_ = false;
    }

    // Renders the song up to (not including) the output frame `end`; the song's callbacks move the music position.
    void advance_to(int64_t end) {
        if (!playing_ || end <= rendered_) return;
        const size_t old = audio_.size();
        audio_.resize(old + size_t(end - rendered_) * 2);
        zorbrix::sound_render_offline(audio_.data() + old, static_cast<int>(end - rendered_));
        rendered_ = end;
    }
    const std::vector<int16_t>& audio() const { return audio_; }

private:
    std::vector<int16_t> audio_;
    int64_t rendered_ = 0;
    bool playing_ = false;
};

// Nobody answers: the question counts as No (a window-sized picture), the credits go to standard error. Credits that
// cannot be written there make the run fail.
class CaptureDialogs : public zorbrix::Dialogs {
public:
    zorbrix::Answer question(const char*, const char*) override { return zorbrix::Answer::No; }
    void message(const char* caption, const char* text) override {
        if (failure && !failure->empty()) return;  // a failed run ends without them
        if (std::fprintf(stderr, "\n%s: %s\n", caption, text) < 0 || std::fflush(stderr) != 0) {
            error = std::string("cannot write the credits to standard error: ") + std::strerror(errno);
        }
    }
    std::string error;
    const std::string* failure = nullptr;
};

const char* phase_name(zorbrix::ScenePhase phase) {
    switch (phase) {
    case zorbrix::ScenePhase::Countdown: return "scene 1 (countdown)";
    case zorbrix::ScenePhase::FirstIntro: return "scene 2 (intro 1)";
    case zorbrix::ScenePhase::SecondIntro: return "scene 3 (intro 2)";
    case zorbrix::ScenePhase::Effects: return "scene 4 (effects)";
    case zorbrix::ScenePhase::Logo: return "scene 5 (logo)";
    case zorbrix::ScenePhase::Scroller: return "end scroller";
    case zorbrix::ScenePhase::Done: return "done";
    }
    return "?";
}

int phase_number(zorbrix::ScenePhase phase) { return static_cast<int>(phase) + 1; }

// Writes the video on a thread of its own, one frame behind the rendering: while frame N goes to the system, the
// main thread renders and converts frame N+1. At most one converted frame waits, so memory stays at three frames.
// The first failed write is kept; every frame after it is dropped and the run fails with that message.
class FrameWriter {
public:
    explicit FrameWriter(zorbrix::enc::Y4mWriter& out) : out_(out) {}
    ~FrameWriter() { stop(); }
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // The frame the main thread converts into next.
    zorbrix::enc::YuvFrame& next() { return filling_; }

    // Queues the converted frame, waiting while the one before it has not been taken yet. False once a write failed.
    bool submit() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        changed_.wait(lock, [this] { return !queued_full_; });
        std::swap(filling_, queued_);
        queued_full_ = true;
        changed_.notify_all();
        return !failed_;
    }

    // Writes what is queued and ends the thread. False when any write failed.
    bool stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            changed_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
        return !failed_;
    }

    // The first failure (valid once submit() or stop() returned false).
    const std::string& error() const { return error_; }

private:
    void run() {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return queued_full_ || stopping_; });
                if (!queued_full_) return;
                std::swap(queued_, writing_);
                queued_full_ = false;
                changed_.notify_all();
                if (failed_) continue;
            }
            // Every few megabytes the disk starts on what is written, so that commit() finds little left to do.
            if (!out_.write_frame(writing_) || (++written_ % kWritebackFrames == 0 && !out_.start_writeback())) {
                std::lock_guard<std::mutex> lock(mutex_);
                error_ = out_.error();
                failed_ = true;
            }
        }
    }

    static constexpr int kWritebackFrames = 16;

    zorbrix::enc::Y4mWriter& out_;
    int64_t written_ = 0;  // frames written, by the thread
    std::mutex mutex_;
    std::condition_variable changed_;
    zorbrix::enc::YuvFrame filling_, queued_, writing_;
    bool queued_full_ = false;
    bool stopping_ = false;
    bool failed_ = false;
    std::string error_;
    std::thread thread_;  // last: started after, and joined before, everything it uses
};

// Everything that happens between two frames: write the frame out, advance time and music, script the keys.
class Capture {
public:
    Capture(const Options& options, OfflineSoundtrack& soundtrack, zorbrix::ZorbrixContent& content)
        : o_(options), soundtrack_(soundtrack), content_(content), started_(std::chrono::steady_clock::now()) {}

    bool open(std::string* error) {
        zorbrix::enc::Y4mHeader header;
        header.width = zorbrix::kScreenWidth;
        header.height = zorbrix::kScreenHeight;
        header.fps_num = o_.fps;
        header.fps_den = 1;
        // Every output is opened before the long rendering starts, so a name that cannot be written is refused at
        // once; files appear only when the run succeeds.
        if (!y4m_.open(o_.y4m, header, error)) return false;
        if (!o_.wav.empty() && !wav_.open(o_.wav, error)) return false;
        if (!o_.png_dir.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(o_.png_dir, ec);
            if (ec) {
                *error = "cannot create the folder " + o_.png_dir + ": " + ec.message();
                return false;
            }
            // A folder that exists but takes no files (read-only, full of names that are folders) fails here.
            zorbrix::OutputFile probe;
            if (!probe.open(still_path(0), error)) return false;
        }
        if (!o_.log.empty()) {
            if (!log_.open(o_.log, error)) return false;
            log_.write(
                "# frame seconds order row scene scroll_offset clock caption fade effect\n"
                "# scene: 1-5 the scenes, 6 the end scroller; clock, caption, fade: -1 where the scene has "
                "none; effect: A blob, B cube, - none\n");
        }
        return true;
    }

    std::string still_path(long still) const {
        char name[64];
        std::snprintf(name, sizeof name, "still_%04ld.png", still);
        return (std::filesystem::path(o_.png_dir) / name).string();
    }

    // The first failure while rendering (empty when none).
    const std::string& failure() const { return failure_; }

    int64_t frames() const { return frames_; }

    void on_frame(const uint32_t* pixels, int width, int height, ptc::OffscreenBackend& display) {
        const double t = double(frames_) / o_.fps;
        if (log_.is_open()) {
            const zorbrix::FrameNote& note = content_.frame_note();
            char line[160];
            std::snprintf(line, sizeof line, "%lld %.4f %d %d %d %d %.2f %d %.5f %c\n", static_cast<long long>(frames_),
                          t, note.order, note.row, phase_number(note.scene), note.scroll_offset, note.clock,
                          note.caption, note.fade, note.effect);
            if (!log_.write(std::string_view(line))) fail(log_.error());
        }
        rgb_to_yuv420(pixels, width, height, &video_.next());
        if (!video_.submit()) fail(video_.error());
        if (!o_.png_dir.empty()) {
            const long still = std::lround(std::floor(t / o_.every + 1e-9));
            if (still != last_still_) {
                last_still_ = still;
                std::string error;
                if (!zorbrix::write_png_rgb(still_path(still), pixels, width, height, &error)) fail(error);
            }
        }
        ++frames_;
        // A failed output ends the run at once (Escape), rather than rendering minutes for nothing.
        if (!failure_.empty() && !gave_up_) {
            gave_up_ = true;
            display.press(ptc::Key(ptc::Key::ESCAPE));
        }
        // The next frame sees every row and order that starts at or before its time.
        soundtrack_.advance_to(frames_ * kAudioRate / o_.fps + 1);
        script_keys(display);
        progress(false);
    }

    void progress(bool final) {
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        if (!final && wall - last_progress_ < 0.5) return;
        last_progress_ = wall;
        std::fprintf(stderr, "\r%-22s %7.2f s  %6lld frames  %6.1f frames/s ", phase_name(content_.phase()),
                     double(frames_) / o_.fps, static_cast<long long>(frames_), wall > 0 ? frames_ / wall : 0.0);
        if (final) std::fputc('\n', stderr);
    }

    bool finish(std::string* error) {
        if (!video_.stop()) fail(video_.error());
        if (!failure_.empty()) {
            *error = failure_;
            return false;
        }
        // Everything is written and flushed before anything is put in place, so a failure in one output (a full
        // device, a full disk) leaves none of them behind.
        if (wav_.is_open()) {
            // Exactly as long as the video (the music runs one sample ahead of the last frame).
            std::vector<int16_t> audio = soundtrack_.audio();
            audio.resize(size_t(frames_ * kAudioRate / o_.fps) * 2, 0);
            if (!zorbrix::write_wav_stereo16(wav_, audio, kAudioRate, error)) return false;
        }
        if (log_.is_open() && !log_.flush()) {
            *error = log_.error();
            return false;
        }
        if (!y4m_.flush() || !y4m_.close()) {
            *error = y4m_.error();
            return false;
        }
        if (wav_.is_open() && !wav_.commit(error)) return false;
        if (log_.is_open() && !log_.commit(error)) return false;
        return true;
    }

private:
    void fail(const std::string& message) {
        if (failure_.empty()) failure_ = message;
    }

    void script_keys(ptc::OffscreenBackend& display) {
        const double t = double(frames_) / o_.fps;
        if (t >= o_.max_seconds && !gave_up_) {
            gave_up_ = true;
            std::fprintf(stderr, "\nzorbrix-capture: stopping after %.0f s\n", o_.max_seconds);
            display.press(ptc::Key(ptc::Key::ESCAPE));
            return;
        }
        if (content_.phase() != zorbrix::ScenePhase::Scroller || escaped_) return;
        if (scroller_start_ < 0) {
            scroller_start_ = t;
            next_press_ = t + 2.0;
        }
        if (t + 1e-9 < next_press_) return;
        next_press_ += 2.0;
        const int last = content_.images().text.height() - zorbrix::kScreenHeight;
        if (content_.frame_note().scroll_offset >= last) {
            display.press(ptc::Key(ptc::Key::ESCAPE));
            escaped_ = true;
        } else {
            display.press(ptc::Key(ptc::Key::PAGEDOWN));
        }
    }

    const Options& o_;
    OfflineSoundtrack& soundtrack_;
    zorbrix::ZorbrixContent& content_;
    zorbrix::enc::Y4mWriter y4m_;
    FrameWriter video_{y4m_};  // after y4m_: its thread ends before the output goes
    zorbrix::OutputFile wav_;
    zorbrix::OutputFile log_;
    std::string failure_;
    int64_t frames_ = 0;
    long last_still_ = -1;
    double scroller_start_ = -1;
    double next_press_ = 0;
    bool escaped_ = false;
    bool gave_up_ = false;
    std::chrono::steady_clock::time_point started_;
    double last_progress_ = -1;
};

int64_t presented_frames(void* capture) { return static_cast<Capture*>(capture)->frames(); }

int run(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    Options options;
    if (!parse(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    OfflineSoundtrack soundtrack;
    zorbrix::ZorbrixContent content(soundtrack, options.start_order);
    Capture capture(options, soundtrack, content);
    std::string error;
    if (!capture.open(&error)) {
        std::fprintf(stderr, "zorbrix-capture: %s\n", error.c_str());
        return 1;
    }

    CaptureDialogs dialogs;
    dialogs.failure = &capture.failure();
    zorbrix::IntroEnvironment environment;
    environment.dialogs = &dialogs;
    // The intro's clock counts presented frames: exactly 1/fps per frame.
    environment.clock = zorbrix::FrameTimer::Counter{presented_frames, options.fps, &capture};
    environment.make_display = [&capture]() {
        // The sink scripts keys through the display it belongs to, known only once the display exists.
        auto self = std::make_shared<ptc::OffscreenBackend*>(nullptr);
        auto display = std::make_unique<ptc::OffscreenBackend>(
            [&capture, self](const uint32_t* pixels, int width, int height, long) {
                capture.on_frame(pixels, width, height, **self);
            });
        *self = display.get();
        return std::unique_ptr<ptc::ConsoleBackend>(std::move(display));
    };

    const int result = zorbrix::run_intro(content, environment);
    capture.progress(true);
    if (result == 0 && content.start_order_missing()) {
        std::fprintf(stderr, "zorbrix-capture: --start-order %d: the song has no such order\n", options.start_order);
        return 2;
    }
    if (result == 0) {
        std::fprintf(stderr, "zorbrix-capture: the soundtrack \"ambient3.xm\" is missing or does not load\n");
        return 1;
    }
    // Credits that could not be shown fail the run like any other output: nothing is put in place.
    if (!dialogs.error.empty()) {
        std::fprintf(stderr, "zorbrix-capture: %s\n", dialogs.error.c_str());
        return 1;
    }
    if (!capture.finish(&error)) {
        std::fprintf(stderr, "zorbrix-capture: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

// The outputs being written are dropped as the capture unwinds from a failure.
int main(int argc, char** argv) { return zorbrix::run_tool("zorbrix-capture", run, argc, argv); }
