// The entry's order of set-up and shutdown and its one display-error handler, driven through the off-screen display
// with scripted message boxes.

#include "app/intro.h"
#include "platform/ptc_offscreen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// The simplest scene loop: black frames until a key press is waiting (the press stays queued).
void show_black_screen_until_key(zorbrix::Stage& stage) {
    while (!stage.console.key()) {
        void* pixels = stage.screen.lock();
        std::memset(pixels, 0, size_t(stage.screen.pitch()) * size_t(stage.screen.height()));
        stage.screen.unlock();
        stage.screen.copy(stage.console);
        stage.console.update();
    }
}

std::vector<std::string> g_reports;
const ptc::OffscreenBackend* g_display = nullptr;
void record_report(const char* message) {
    g_reports.emplace_back(std::string(message) + (g_display && g_display->is_open() ? " (display open)" : ""));
}

// Records every hook and every box, with what the display looked like at that moment.
struct Recorder : zorbrix::Dialogs, zorbrix::IntroContent {
    std::vector<std::string> log;
    ptc::OffscreenBackend* display = nullptr;
    zorbrix::Answer answer = zorbrix::Answer::No;
    bool sound_starts = true;
    // What run() does; by default black frames until a key press.
    std::function<void(zorbrix::Stage&)> scenes = show_black_screen_until_key;
    std::string throw_in;     // a hook that throws a display error
    double song_start = 0.0;  // what start_time() reports

    void note(const std::string& what) {
        log.push_back(what);
        if (what == throw_in) {
            throw ptc::DynamicError("surface lost in " + what);
        }
    }

    zorbrix::Answer question(const char* caption, const char* text) override {
        note(std::string("question ") + caption + ": " + text);
        return answer;
    }
    void message(const char* caption, const char* text) override {
        note(std::string("message ") + caption + ": " + text + (display->is_open() ? " (display open)" : ""));
    }
    void open_archive() override { note("open_archive"); }
    bool start_sound() override {
        note("start_sound");
        return sound_starts;
    }
    void open_video(const ptc::Format&) override { note("open_video"); }
    void load_images() override { note("load_images"); }
    void build_effects() override { note("build_effects"); }
    double start_time() const override { return song_start; }
    void start_song() override { note("start_song"); }
    void run(zorbrix::Stage& stage) override {
        note(std::string("run ") + (display->windowed() ? "windowed " : "full screen ") + display->title() + " " +
             std::to_string(display->width()) + "x" + std::to_string(display->height()) + " timer " +
             std::to_string(stage.timer.elapsed()));
        scenes(stage);
    }
    void stop_song() override { note(std::string("stop_song") + (display->is_open() ? " (display open)" : "")); }
    void free_images() override { note("free_images"); }
    void close_video() override { note("close_video"); }
    void close_sound() override { note("close_sound"); }
};

class Entry : public testing::Test {
protected:
    void SetUp() override {
        g_reports.clear();
        previous_sink_ = ptc::set_report_sink(record_report);
    }
    void TearDown() override {
        ptc::set_report_sink(previous_sink_);
        g_display = nullptr;
    }

    int run(std::function<void(ptc::OffscreenBackend&)> script = {},
            zorbrix::ScreenChoice screen = zorbrix::ScreenChoice::Ask) {
        zorbrix::IntroEnvironment env;
        env.screen = screen;
        env.dialogs = &recorder;
        env.clock = {[](void*) -> int64_t { return 5000; }, 1000, nullptr};
        env.make_display = [&] {
            auto backend = std::make_unique<ptc::OffscreenBackend>([this](const uint32_t* pixels, int w, int h, long) {
                for (int i = 0; i < w * h; ++i) {
                    lit_pixels += pixels[i] != 0;
                }
                // The user presses a key on the third frame.
                if (++frames == 3) {
                    recorder.display->press(ptc::Key(' '));
                }
            });
            recorder.display = backend.get();
            g_display = backend.get();
            if (script) {
                script(*backend);
            }
            return backend;
        };
        return zorbrix::run_intro(recorder, env);
    }

    Recorder recorder;
    long frames = 0;
    long lit_pixels = 0;
    ptc::ReportSink previous_sink_ = nullptr;
};

const char* const kRun = "run windowed Zorbrix::LAN Invitation Intro 512x384 timer 0.000000";

TEST_F(Entry, NormalRunSetsUpAndShutsDownInOrder) {
    EXPECT_EQ(run(), 1);
    const std::vector<std::string> expected = {
        "open_archive",
        "start_sound",
        "question Question: Fullscreen?",
        "open_video",
        "load_images",
        "build_effects",
        "start_song",
        kRun,
        "stop_song (display open)",
        "message Credits: code & gfx: vyrn / hollowmoor\nmusic: trokk / ellerdahl",  // after the display closed
        "free_images",
        "close_video",
        "close_sound"};
    EXPECT_EQ(recorder.log, expected);
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(lit_pixels, 0);
    EXPECT_TRUE(g_reports.empty());
}

TEST_F(Entry, AnsweringYesRunsFullScreen) {
    recorder.answer = zorbrix::Answer::Yes;
    EXPECT_EQ(run(), 1);
    ASSERT_GE(recorder.log.size(), 8u);
    EXPECT_EQ(recorder.log[7], "run full screen Zorbrix::LAN Invitation Intro 512x384 timer 0.000000");
}

// The command line's choice replaces the question; started part-way into the song, the timer reads the song's time.
TEST_F(Entry, AScreenChosenBeforehandSkipsTheQuestionAndTheTimerStartsAtTheSongsTime) {
    recorder.song_start = 50.04;
    EXPECT_EQ(run({}, zorbrix::ScreenChoice::Fullscreen), 1);
    ASSERT_GE(recorder.log.size(), 7u);
    EXPECT_EQ(recorder.log[2], "open_video");
    EXPECT_EQ(recorder.log[6], "run full screen Zorbrix::LAN Invitation Intro 512x384 timer 50.040000");
    recorder.log.clear();
    frames = 0;
    recorder.song_start = 0.0;
    EXPECT_EQ(run({}, zorbrix::ScreenChoice::Window), 1);
    ASSERT_GE(recorder.log.size(), 7u);
    EXPECT_EQ(recorder.log[6], kRun);
}

TEST_F(Entry, SoundThatDoesNotStartEndsWithZeroBeforeAnyWindow) {
    recorder.sound_starts = false;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(recorder.log, (std::vector<std::string>{"open_archive", "start_sound", "close_sound"}));
    EXPECT_EQ(recorder.display, nullptr);
}

TEST_F(Entry, ClosingTheDisplayEndsSilentlyWithoutCredits) {
    recorder.scenes = [this](zorbrix::Stage& stage) {
        recorder.display->request_close();
        show_black_screen_until_key(stage);
    };
    EXPECT_EQ(run(), 1);
    const std::vector<std::string> expected = {"open_archive",
                                               "start_sound",
                                               "question Question: Fullscreen?",
                                               "open_video",
                                               "load_images",
                                               "build_effects",
                                               "start_song",
                                               kRun,
                                               "free_images",
                                               "close_video",
                                               "stop_song (display open)",
                                               "close_sound"};
    EXPECT_EQ(recorder.log, expected);
    EXPECT_TRUE(g_reports.empty());
}

TEST_F(Entry, OtherDisplayErrorsAreReportedOnceAndSkipTheCredits) {
    recorder.throw_in = "load_images";
    EXPECT_EQ(run(), 1);
    const std::vector<std::string> expected = {"open_archive", "start_sound", "question Question: Fullscreen?",
                                               "open_video",   "load_images", "free_images",
                                               "close_video",  "stop_song",   "close_sound"};
    EXPECT_EQ(recorder.log, expected);
    // Reported once, with the display already gone so a full-screen picture cannot hide the box.
    EXPECT_EQ(g_reports, (std::vector<std::string>{"surface lost in load_images"}));
}

TEST_F(Entry, ADisplayErrorBeforeTheConsoleOpensIsReportedAndReleasesTheSound) {
    zorbrix::IntroEnvironment env;
    env.dialogs = &recorder;
    env.make_display = []() -> std::unique_ptr<ptc::ConsoleBackend> {
        throw ptc::DynamicError("no display available (test)");
    };
    EXPECT_EQ(zorbrix::run_intro(recorder, env), 1);
    EXPECT_EQ(recorder.log, (std::vector<std::string>{"open_archive", "start_sound", "close_sound"}));
    EXPECT_EQ(g_reports, (std::vector<std::string>{"no display available (test)"}));
}

}  // namespace
