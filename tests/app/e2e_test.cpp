// The real program in a real X server: Xvfb started by the test, keys typed with xdotool, windows found, closed and
// photographed through Xlib.

#include "gfx/clock.h"
#include "gfx/image.h"
#include "gfx/png_writer.h"
#include "loading/file_load.h"
#include "tests/support/test_paths.h"

// GoogleTest before Xlib: Xlib's macros (None, Bool, Status) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using zorbrix::file_init;
using zorbrix::Image;
using zorbrix::IMAGE_ALPHA;
using zorbrix::text_width;
using zorbrix::write_png_rgb;

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kTitle = "Zorbrix::LAN Invitation Intro";

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The program's standard error, less a LeakSanitizer report none of whose stacks reaches our code: every allocation
// in it comes from a desktop library that SDL loads (ICU, D-Bus, ...), often one already unloaded at exit ("<unknown
// module>"). A leak of ours names a file of our source or build tree and stays.
std::string program_errors(const std::string& path) {
    const std::string text = read_file(path);
    const std::string rule = "=================================================================\n";
    const size_t start = text.find(rule);
    if (start == std::string::npos) return text;
    const size_t summary = text.find("SUMMARY: AddressSanitizer:", start);
    if (summary == std::string::npos) return text;
    const size_t end = text.find('\n', summary);
    std::istringstream report(text.substr(start, summary - start));
    std::string line;
    while (std::getline(report, line)) {
        const bool frame = line.find("    #") == 0 && line.find("#0 ") == std::string::npos;
        if (frame && (line.find(source_dir()) != std::string::npos || line.find(build_dir()) != std::string::npos)) {
            return text;
        }
    }
    std::string rest = text.substr(0, start) + (end == std::string::npos ? "" : text.substr(end + 1));
    // The report starts with an empty line of its own.
    if (!rest.empty() && rest.back() == '\n' && start > 0 && text[start - 1] == '\n') rest.pop_back();
    return rest;
}

// The environment of this process with some variables replaced (value given) or removed (no value).
std::vector<std::string> environment_with(
    const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool changed = false;
        for (const auto& [name, value] : changes) {
            changed |= entry.compare(0, name.size() + 1, name + "=") == 0;
        }
        if (!changed) {
            env.push_back(entry);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            env.push_back(name + "=" + *value);
        }
    }
    return env;
}

// A child process; killed on destruction if it is still running.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& out_path,
          const std::string& err_path, int extra_fd = -1, int extra_fd_as = -1, const std::string& cwd = {}) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!cwd.empty()) {
            posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        }
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (extra_fd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, extra_fd, extra_fd_as);
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& e : env) {
            envp.push_back(const_cast<char*>(e.c_str()));
        }
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() {
        poll_exit();
        return pid_ > 0 && !status_;
    }
    // The exit status, or nullopt if it did not end in time (or died from a signal: then -signal).
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        const auto until = Clock::now() + timeout;
        while (!poll_exit() && Clock::now() < until) {
            std::this_thread::sleep_for(20ms);
        }
        return status_;
    }
    void send(int signal_number) {
        if (running()) kill(pid_, signal_number);
    }
    void terminate() {
        if (running()) {
            kill(pid_, SIGTERM);
            if (!wait(3s)) {
                kill(pid_, SIGKILL);
                wait(3s);
            }
        }
    }

private:
    bool poll_exit() {
        if (pid_ <= 0 || status_) {
            return status_.has_value();
        }
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
        }
        return status_.has_value();
    }

    pid_t pid_ = -1;
    std::optional<int> status_;
};

int ignore_x_errors(Display*, XErrorEvent*) { return 0; }

// An Xvfb server of our own on a free display number, and a connection to it.
class XServer {
public:
    explicit XServer(const std::string& screen = "1024x768x24") {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        const std::string log = test_output_path("e2e_xvfb.log");
        server_.emplace(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", screen,
                                                 "-nolisten", "tcp", "-noreset"},
                        environment_with({}), log, log, fds[1], 3);
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        const auto until = Clock::now() + 15s;
        while (Clock::now() < until && number.find('\n') == std::string::npos) {
            if (poll(&p, 1, 200) > 0) {
                char buffer[32];
                const ssize_t n = read(fds[0], buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                number.append(buffer, size_t(n));
            }
        }
        close(fds[0]);
        if (number.find('\n') == std::string::npos) {
            return;
        }
        name_ = number.substr(0, number.find('\n'));
        name_.insert(name_.begin(), ':');
        XSetErrorHandler(ignore_x_errors);
        display_ = XOpenDisplay(name_.c_str());
    }
    ~XServer() {
        if (display_) {
            XCloseDisplay(display_);
        }
        if (server_) {
            server_->terminate();
        }
    }

    bool ok() const { return display_ != nullptr; }
    const std::string& name() const { return name_; }
    Display* display() const { return display_; }

    // Top-level windows (children of the root) that are mapped and carry the title.
    std::vector<Window> windows_titled(const std::string& title) {
        std::vector<Window> found;
        Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, root, &root, &parent, &children, &count)) {
            return found;
        }
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            XTextProperty name{};
            // The raw WM_NAME bytes: the titles are ASCII, whether stored as STRING or UTF8_STRING.
            if (XGetWindowAttributes(display_, children[i], &attributes) && attributes.map_state == IsViewable &&
                XGetWMName(display_, children[i], &name) && name.value) {
                if (title == std::string(reinterpret_cast<const char*>(name.value), name.nitems)) {
                    found.push_back(children[i]);
                }
                XFree(name.value);
            }
        }
        if (children) {
            XFree(children);
        }
        return found;
    }

    std::optional<Window> wait_for_window(const std::string& title, Child& program,
                                          std::chrono::milliseconds timeout = 30s) {
        // Once it has stayed the same for a moment: SDL may make a window, then make it again for its renderer.
        const auto until = Clock::now() + timeout;
        std::optional<Window> seen;
        auto seen_since = Clock::now();
        while (Clock::now() < until && program.running()) {
            XSync(display_, False);
            const auto found = windows_titled(title);
            const std::optional<Window> now = found.empty() ? std::nullopt : std::optional<Window>(found.front());
            if (now != seen) {
                seen = now;
                seen_since = Clock::now();
            } else if (seen && Clock::now() - seen_since >= 300ms) {
                return seen;
            }
            std::this_thread::sleep_for(50ms);
        }
        return std::nullopt;
    }

    // Focuses the window and types a key through the XTEST extension.
    bool press(Window window, const char* key) {
        const std::string id = std::to_string(window);
        const auto env = environment_with({{"DISPLAY", name_}});
        const std::string log = test_output_path("e2e_xdotool.log");
        Child focus({"/usr/bin/xdotool", "windowfocus", "--sync", id}, env, log, log);
        if (focus.wait(10s) != 0) {
            return false;
        }
        Child type({"/usr/bin/xdotool", "key", key}, env, log, log);
        return type.wait(10s) == 0;
    }

    // What a window manager sends when the user clicks the close button.
    void request_close(Window window) {
        Atom protocols = XInternAtom(display_, "WM_PROTOCOLS", False);
        Atom delete_window = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(delete_window);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }

    // The window's pixels as 0x00RRGGBB, or empty if it cannot be read.
    std::vector<uint32_t> grab(Window window, int width, int height) {
        std::vector<uint32_t> pixels;
        XImage* image = XGetImage(display_, window, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
        if (!image) {
            return pixels;
        }
        pixels.resize(size_t(width) * size_t(height));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                pixels[size_t(y) * size_t(width) + size_t(x)] = uint32_t(XGetPixel(image, x, y)) & 0xffffffu;
            }
        }
        XDestroyImage(image);
        return pixels;
    }

private:
    std::optional<Child> server_;
    std::string name_;
    Display* display_ = nullptr;
};

// The clock's pictures, from the intro's archive (the tests run in build/bin), and a reader of the clock in a
// screenshot.
struct Glyphs {
    Image glyph[11];
    Glyphs() {
        file_init("zorbrix.kf", "data/");
        for (int i = 0; i < 10; ++i) glyph[i].load((std::to_string(i) + ".tga").c_str(), IMAGE_ALPHA);
        glyph[10].load("kolon.tga", IMAGE_ALPHA);
    }
    // Whether every opaque pixel of the glyph is on the screen at (x, y).
    bool shown(const std::vector<uint32_t>& screen, const Image& g, int x, int y) const {
        long opaque = 0;
        for (int j = 0; j < g.height(); ++j) {
            for (int i = 0; i < g.width(); ++i) {
                const uint32_t p = g.pixels()[j * g.width() + i];
                if ((p >> 24) != 255) continue;
                ++opaque;
                if (screen[size_t(y + j) * 512 + size_t(x + i)] != (p & 0xffffff)) return false;
            }
        }
        return opaque > 0;
    }
    // The clock's value in seconds ("SS:HH" centred with its top at 344), or -1 when it cannot be read.
    double clock_value(const std::vector<uint32_t>& screen) const {
        // Digits share one width, so the text's width does not depend on the value.
        int x = (512 - text_width("00:00", glyph)) / 2;
        int digits[4];
        int n = 0;
        for (int slot = 0; slot < 5; ++slot) {
            if (slot == 2) {
                if (!shown(screen, glyph[10], x, 344)) return -1;
                x += glyph[10].width();
                continue;
            }
            int found = -1;
            for (int d = 0; d < 10 && found < 0; ++d) {
                if (shown(screen, glyph[d], x, 344)) found = d;
            }
            if (found < 0) return -1;
            digits[n++] = found;
            x += glyph[found].width();
        }
        return digits[0] * 10 + digits[1] + (digits[2] * 10 + digits[3]) / 100.0;
    }
};

struct Run {
    std::string out_path;
    std::string err_path;
};

// Waits (up to 20 s) until the window shows a picture: more than half of its pixels not black.
bool wait_for_picture(XServer& x, Window window) {
    // Under the sanitizers, with other heavy tests running beside it, the intro can take well over 20 s to
    // load and decode its first frame.
#if defined(__SANITIZE_ADDRESS__)
    const auto give_up = Clock::now() + 120s;
#else
    const auto give_up = Clock::now() + 20s;
#endif
    while (Clock::now() < give_up) {
        const std::vector<uint32_t> picture = x.grab(window, 512, 384);
        const auto lit = std::count_if(picture.begin(), picture.end(), [](uint32_t p) { return p != 0; });
        if (static_cast<size_t>(lit) > 512u * 384u / 2) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

class EndToEnd : public testing::Test {
protected:
    // The program with no audio device (SDL's silent driver, which keeps time), run in `cwd` (build/bin when
    // empty).
    std::unique_ptr<Child> start_intro(const std::string& display, const std::string& tag, const std::string& cwd = {},
                                       const std::vector<std::string>& args = {}) {
        out_ = test_output_path("e2e_" + tag + ".stdout");
        err_ = test_output_path("e2e_" + tag + ".stderr");
#if defined(__SANITIZE_ADDRESS__)
        // Leaks are judged from standard error (see program_errors), not from the exit status.
        const std::string leak_exit = ":exitcode=0";
#else
        const std::string leak_exit;
#endif
        std::vector<std::pair<std::string, std::optional<std::string>>> changes = {
            {"WAYLAND_DISPLAY", std::nullopt},
            {"SDL_VIDEODRIVER", std::nullopt},
            {"SDL_AUDIODRIVER", "dummy"},
            // Under LeakSanitizer, leave out the desktop libraries' own leaks (only read by sanitizer builds).
            {"LSAN_OPTIONS",
             "suppressions=" + source_dir() + "/scripts/lsan-suppressions.txt:print_suppressions=0" + leak_exit}};
        changes.emplace_back("DISPLAY", display.empty() ? std::nullopt : std::optional<std::string>(display));
        std::vector<std::string> argv{build_dir() + "/bin/zorbrix"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto child = std::make_unique<Child>(argv, environment_with(changes), out_, err_, -1, -1, cwd);
        return child;
    }
    std::string out_;
    std::string err_;
};

TEST_F(EndToEnd, QuestionCountdownKeyAndCreditsThenStatusOne) {
    XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    auto intro = start_intro(x.name(), "normal");
    ASSERT_TRUE(intro->started());

    const auto question = x.wait_for_window("Question", *intro);
    ASSERT_TRUE(question) << "no \"Question\" box; stderr: " << read_file(err_);
    ASSERT_TRUE(x.press(*question, "Escape"));  // No: windowed

    const auto window = x.wait_for_window(kTitle, *intro);
    ASSERT_TRUE(window) << "no intro window; stderr: " << read_file(err_);
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(x.display(), *window, &attributes));
    EXPECT_EQ(attributes.width, 512);
    EXPECT_EQ(attributes.height, 384);
    EXPECT_TRUE(x.windows_titled("Question").empty());

    // The countdown runs on the clock: two pictures a second apart show different clock values, apart by about
    // the time between them (no sound device: the song keeps time silently).
    // The window appears before the intro has loaded its data (slow in a sanitizer build): wait for the first
    // picture, then take the two.
    ASSERT_TRUE(wait_for_picture(x, *window)) << "the intro never drew; stderr: " << read_file(err_);
    std::this_thread::sleep_for(200ms);
    const auto first_time = Clock::now();
    const auto first = x.grab(*window, 512, 384);
    std::this_thread::sleep_for(1000ms);
    const auto second_time = Clock::now();
    const auto second = x.grab(*window, 512, 384);
    ASSERT_EQ(first.size(), 512u * 384u);
    ASSERT_EQ(second.size(), 512u * 384u);
    ASSERT_TRUE(write_png_rgb(test_output_path("e2e_intro_window_1.png"), first.data(), 512, 384));
    ASSERT_TRUE(write_png_rgb(test_output_path("e2e_intro_window_2.png"), second.data(), 512, 384));
    size_t lit = 0, clock_changed = 0;
    for (size_t i = 0; i < first.size(); ++i) {
        lit += first[i] != 0;
        clock_changed += i / 512 >= 344 && first[i] != second[i] && i % 512 >= 150 && i % 512 < 362;
    }
    EXPECT_GT(lit, 512u * 384u / 2) << "the backdrop is not showing";
    EXPECT_GT(clock_changed, 100u);
    const Glyphs glyphs;
    const double a = glyphs.clock_value(first), b = glyphs.clock_value(second);
    ASSERT_GT(a, 20.0) << "no clock readable in e2e_intro_window_1.png";
    ASSERT_GT(b, 0.0) << "no clock readable in e2e_intro_window_2.png";
    const double apart = std::chrono::duration<double>(second_time - first_time).count();
    EXPECT_NEAR(a - b, apart, 0.4);

    ASSERT_TRUE(x.press(*window, "space"));
    const auto credits = x.wait_for_window("Credits", *intro);
    ASSERT_TRUE(credits) << "no \"Credits\" box; stderr: " << read_file(err_);
    // The display is gone before the credits appear.
    EXPECT_TRUE(x.windows_titled(kTitle).empty());
    ASSERT_TRUE(x.press(*credits, "Return"));

    EXPECT_EQ(intro->wait(30s), 1) << read_file(err_);
    EXPECT_EQ(program_errors(err_), "");
    EXPECT_EQ(read_file(out_), "");
}

TEST_F(EndToEnd, ClosingTheWindowEndsSilentlyWithoutCredits) {
    XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    auto intro = start_intro(x.name(), "close");
    ASSERT_TRUE(intro->started());

    const auto question = x.wait_for_window("Question", *intro);
    ASSERT_TRUE(question) << "no \"Question\" box; stderr: " << read_file(err_);
    ASSERT_TRUE(x.press(*question, "Escape"));
    const auto window = x.wait_for_window(kTitle, *intro);
    ASSERT_TRUE(window) << "no intro window; stderr: " << read_file(err_);

    // Close it mid-scene, once the intro is drawing (a close sent while the window is still being set up could
    // reach it before the display layer listens for it).
    ASSERT_TRUE(wait_for_picture(x, *window)) << "the intro never drew; stderr: " << read_file(err_);
    x.request_close(*window);
    const auto status = intro->wait(30s);
    EXPECT_EQ(status, 1) << read_file(err_);
    EXPECT_TRUE(x.windows_titled("Credits").empty());
    EXPECT_EQ(program_errors(err_), "");
    EXPECT_EQ(read_file(out_), "");
}

TEST_F(EndToEnd, WithoutADisplayOneLineOnStandardErrorAndFailureStatus) {
    auto intro = start_intro("", "nodisplay");
    ASSERT_TRUE(intro->started());
    const auto status = intro->wait(30s);
    ASSERT_TRUE(status) << "the intro did not end without a display";
    EXPECT_EQ(*status, 1);
    const std::string err = read_file(err_);
    EXPECT_EQ(err.rfind("zorbrix: no display available", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    // No question was answered and no credits could be shown: nothing on standard output.
    EXPECT_EQ(read_file(out_), "");
}

TEST_F(EndToEnd, WithoutItsSoundtrackTheProgramEndsWithZeroAndNoWindow) {
    XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    // A folder with the loose files but neither the archive nor the module.
    const std::filesystem::path dir = test_output_path("e2e_no_module");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "data");
    for (const auto& entry : std::filesystem::directory_iterator(build_dir() + "/data")) {
        if (entry.path().filename() != "ambient3.xm") {
            std::filesystem::create_symlink(entry.path(), dir / "data" / entry.path().filename());
        }
    }
    auto intro = start_intro(x.name(), "no_module", dir.string());
    ASSERT_TRUE(intro->started());
    bool window_seen = false;
    const auto until = Clock::now() + 30s;
    while (intro->running() && Clock::now() < until) {
        XSync(x.display(), False);
        window_seen |= !x.windows_titled("Question").empty() || !x.windows_titled(kTitle).empty();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(intro->wait(1s), 0) << read_file(err_);
    EXPECT_FALSE(window_seen);
    EXPECT_EQ(program_errors(err_), "");
    EXPECT_EQ(read_file(out_), "");
}

// Waits (up to 10 s) until no window carries the title; true when none does.
bool wait_until_gone(XServer& x, const std::string& title) {
    const auto until = Clock::now() + 10s;
    for (;;) {
        XSync(x.display(), False);
        if (x.windows_titled(title).empty()) return true;
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(50ms);
    }
}

TEST_F(EndToEnd, SignalsWhileABoxIsUpEndTheProgramAsAWindowCloseDoesAndTakeTheBoxAlong) {
    XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        auto intro = start_intro(x.name(), "signal_question_" + std::to_string(signal_number));
        ASSERT_TRUE(x.wait_for_window("Question", *intro)) << "no \"Question\" box; stderr: " << read_file(err_);
        intro->send(signal_number);
        EXPECT_EQ(intro->wait(10s), 1) << read_file(err_);
        EXPECT_TRUE(wait_until_gone(x, "Question"));
        EXPECT_TRUE(x.windows_titled(kTitle).empty());
        EXPECT_TRUE(x.windows_titled("Credits").empty());
        EXPECT_EQ(program_errors(err_), "");
        EXPECT_EQ(read_file(out_), "");
    }

    // Killed outright: the box goes with the program.
    {
        auto intro = start_intro(x.name(), "signal_question_kill");
        ASSERT_TRUE(x.wait_for_window("Question", *intro)) << read_file(err_);
        intro->send(SIGKILL);
        EXPECT_EQ(intro->wait(10s), -SIGKILL);
        EXPECT_TRUE(wait_until_gone(x, "Question")) << "the box outlived the program";
    }

    // The credits box: taken down by SIGTERM, status 1.
    auto intro = start_intro(x.name(), "signal_credits");
    const auto question = x.wait_for_window("Question", *intro);
    ASSERT_TRUE(question) << read_file(err_);
    ASSERT_TRUE(x.press(*question, "Escape"));
    const auto window = x.wait_for_window(kTitle, *intro);
    ASSERT_TRUE(window) << read_file(err_);
    ASSERT_TRUE(wait_for_picture(x, *window)) << read_file(err_);
    ASSERT_TRUE(x.press(*window, "space"));
    ASSERT_TRUE(x.wait_for_window("Credits", *intro)) << read_file(err_);
    intro->send(SIGTERM);
    EXPECT_EQ(intro->wait(10s), 1) << read_file(err_);
    EXPECT_TRUE(wait_until_gone(x, "Credits"));
    EXPECT_EQ(program_errors(err_), "");
    EXPECT_EQ(read_file(out_), "");
}

// ---------------------------------------------------------------------------------------------------------------
// The window as a desktop user handles it: under a window manager (openbox), resized, switched to full screen and
// back, and the command line that skips the question or starts part-way into the show.

// A window manager on the server, running until destroyed.
class WindowManager {
public:
    explicit WindowManager(XServer& x) {
        const std::string log = test_output_path("e2e_openbox.log");
        wm_.emplace(std::vector<std::string>{"/usr/bin/openbox", "--sm-disable"},
                    environment_with({{"DISPLAY", x.name()}}), log, log);
        // Ready once it has claimed the screen: it names itself on the root window.
        const Atom check = XInternAtom(x.display(), "_NET_SUPPORTING_WM_CHECK", False);
        const auto until = Clock::now() + 15s;
        while (Clock::now() < until && wm_->running()) {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            const bool found = XGetWindowProperty(x.display(), DefaultRootWindow(x.display()), check, 0, 1, False,
                                                  AnyPropertyType, &type, &format, &items, &after, &data) == Success &&
                               items > 0;
            if (data) XFree(data);
            if (found) {
                // It names itself before it has finished starting up; a window mapped in that moment is left
                // unmanaged (never made full screen). Give it a moment more.
                std::this_thread::sleep_for(1500ms);
                ready_ = wm_->running();
                break;
            }
            std::this_thread::sleep_for(50ms);
        }
    }
    bool ready() const { return ready_; }

private:
    std::optional<Child> wm_;
    bool ready_ = false;
};

// A viewable window with the title anywhere in the tree (a window manager puts clients inside its frames).
std::optional<Window> find_client(Display* d, Window w, const std::string& title, int depth = 0) {
    XWindowAttributes attributes{};
    XTextProperty name{};
    if (XGetWindowAttributes(d, w, &attributes) && attributes.map_state == IsViewable && XGetWMName(d, w, &name) &&
        name.value) {
        const bool match = title == std::string(reinterpret_cast<const char*>(name.value), name.nitems);
        XFree(name.value);
        if (match) return w;
    }
    if (depth >= 3) return std::nullopt;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::optional<Window> found;
    if (XQueryTree(d, w, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) found = find_client(d, children[i], title, depth + 1);
        if (children) XFree(children);
    }
    return found;
}

// The window once it has stayed the same for half a second: SDL may make a window, then destroy it and make it
// again as its renderer wants a different kind.
std::optional<Window> wait_for_client(XServer& x, const std::string& title, Child& program,
                                      std::chrono::milliseconds timeout = 30s) {
    const auto until = Clock::now() + timeout;
    std::optional<Window> seen;
    auto seen_since = Clock::now();
    while (Clock::now() < until && program.running()) {
        XSync(x.display(), False);
        const auto w = find_client(x.display(), DefaultRootWindow(x.display()), title);
        if (w != seen) {
            seen = w;
            seen_since = Clock::now();
        } else if (seen && Clock::now() - seen_since >= 500ms) {
            return seen;
        }
        std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
}

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

// The window's place on the screen and its size.
Geometry geometry(XServer& x, Window w) {
    XSync(x.display(), False);
    XWindowAttributes a{};
    Geometry g;
    if (!XGetWindowAttributes(x.display(), w, &a)) return g;
    Window child = 0;
    XTranslateCoordinates(x.display(), w, DefaultRootWindow(x.display()), 0, 0, &g.x, &g.y, &child);
    g.width = a.width;
    g.height = a.height;
    return g;
}

// Waits until the window has the size (the window manager and the program take a moment to agree).
bool wait_for_size(XServer& x, Window w, int width, int height, std::chrono::milliseconds timeout = 10s) {
    const auto until = Clock::now() + timeout;
    while (Clock::now() < until) {
        const Geometry g = geometry(x, w);
        if (g.width == width && g.height == height) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// Where the picture is in a grab: the first and last columns and rows in which more than one pixel in 50 is not
// black (the bars are pure black; the picture's backdrop, dark towards its edges, is not).
Geometry picture_box(const std::vector<uint32_t>& pixels, int width, int height) {
    Geometry box{-1, -1, 0, 0};
    int last_x = -1, last_y = -1;
    for (int x = 0; x < width; ++x) {
        int lit = 0;
        for (int y = 0; y < height; ++y) lit += pixels[size_t(y) * width + x] != 0;
        if (lit * 50 > height) {
            if (box.x < 0) box.x = x;
            last_x = x;
        }
    }
    for (int y = 0; y < height; ++y) {
        int lit = 0;
        for (int x = 0; x < width; ++x) lit += pixels[size_t(y) * width + x] != 0;
        if (lit * 50 > width) {
            if (box.y < 0) box.y = y;
            last_y = y;
        }
    }
    box.width = last_x - box.x + 1;
    box.height = last_y - box.y + 1;
    return box;
}

// How far a measured picture may lie from where it should: the picture's own outermost pixels are black where the
// enlarged video does not reach (up to two picture pixels an edge), so up to three picture pixels at its scale.
int box_slack(const Geometry& want) { return std::max(3, 3 * want.width / 512 + 1); }

bool box_near(const Geometry& box, const Geometry& want) {
    const int slack = box_slack(want);
    return std::abs(box.x - want.x) <= slack && std::abs(box.y - want.y) <= slack &&
           std::abs(box.width - want.width) <= 2 * slack && std::abs(box.height - want.height) <= 2 * slack;
}

// Grabs the window until the picture sits where expected (a frame or two may still show the previous size), and
// leaves the last grab as a PNG. The box it last saw.
Geometry wait_for_picture_at(XServer& x, Window w, const Geometry& want, const std::string& png) {
    Geometry box;
    std::vector<uint32_t> pixels;
    Geometry g = geometry(x, w);
    // The first picture may take long on a loaded machine, far longer under the sanitizers.
#if defined(__SANITIZE_ADDRESS__)
    const auto until = Clock::now() + 120s;
#else
    const auto until = Clock::now() + 30s;
#endif
    while (Clock::now() < until) {
        // A window being switched to or from full screen may be unmapped for a moment: ask again.
        g = geometry(x, w);
        pixels = x.grab(w, g.width, g.height);
        if (pixels.empty()) {
            std::this_thread::sleep_for(100ms);
            continue;
        }
        box = picture_box(pixels, g.width, g.height);
        if (box_near(box, want)) break;
        std::this_thread::sleep_for(100ms);
    }
    if (!pixels.empty()) write_png_rgb(test_output_path(png), pixels.data(), g.width, g.height);
    return box;
}

bool run_xdotool(XServer& x, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string log = test_output_path("e2e_xdotool.log");
    Child tool(argv, environment_with({{"DISPLAY", x.name()}}), log, log);
    return tool.wait(10s) == 0;
}

#define EXPECT_BOX(box, want)                                \
    do {                                                     \
        const int slack = box_slack(want);                   \
        EXPECT_NEAR((box).x, (want).x, slack);               \
        EXPECT_NEAR((box).y, (want).y, slack);               \
        EXPECT_NEAR((box).width, (want).width, 2 * slack);   \
        EXPECT_NEAR((box).height, (want).height, 2 * slack); \
    } while (0)

TEST_F(EndToEnd, AnsweringYesFillsTheScreenHeightAtFourToThreeCentred) {
    XServer x("1920x1080x24");
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    WindowManager wm(x);
    ASSERT_TRUE(wm.ready()) << "openbox did not start; see " << test_output_path("e2e_openbox.log");
    auto intro = start_intro(x.name(), "fullscreen_yes");
    const auto question = wait_for_client(x, "Question", *intro);
    ASSERT_TRUE(question) << "no \"Question\" box; stderr: " << read_file(err_);
    ASSERT_TRUE(x.press(*question, "Return"));  // Yes
    const auto window = wait_for_client(x, kTitle, *intro);
    ASSERT_TRUE(window) << "no intro window; stderr: " << read_file(err_);
    ASSERT_TRUE(wait_for_size(x, *window, 1920, 1080)) << "not full screen";
    // 1080 rows high, 1440 wide, centred: bars of 240 columns either side.
    const Geometry box = wait_for_picture_at(x, *window, {240, 0, 1440, 1080}, "e2e_fullscreen_1080p.png");
    EXPECT_BOX(box, (Geometry{240, 0, 1440, 1080}));
    x.request_close(*window);
    EXPECT_EQ(intro->wait(30s), 1) << read_file(err_);
}

TEST_F(EndToEnd, TheWindowResizesKeepingFourToThreeAndAltEnterOrF11SwitchToFullScreenAndBack) {
    XServer x("1280x1024x24");
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    WindowManager wm(x);
    ASSERT_TRUE(wm.ready()) << "openbox did not start; see " << test_output_path("e2e_openbox.log");
    // --window skips the question; --scale 1 opens it at 512 x 384 (the desktop would take 1024 x 768).
    auto intro = start_intro(x.name(), "resize", {}, {"--window", "--scale", "1"});
    const auto window = wait_for_client(x, kTitle, *intro);
    ASSERT_TRUE(window) << "no intro window; stderr: " << read_file(err_);
    EXPECT_FALSE(find_client(x.display(), DefaultRootWindow(x.display()), "Question")) << "the question was asked";
    ASSERT_TRUE(wait_for_size(x, *window, 512, 384));
    ASSERT_TRUE(wait_for_picture(x, *window)) << "the intro never drew; stderr: " << read_file(err_);
    const std::string id = std::to_string(*window);

    // Resized to 1024 x 768: the picture fills it; to 1024 x 600: 800 x 600 between bars.
    ASSERT_TRUE(run_xdotool(x, {"windowsize", "--sync", id, "1024", "768"}));
    ASSERT_TRUE(wait_for_size(x, *window, 1024, 768));
    EXPECT_BOX(wait_for_picture_at(x, *window, {0, 0, 1024, 768}, "e2e_window_1024x768.png"),
               (Geometry{0, 0, 1024, 768}));
    ASSERT_TRUE(run_xdotool(x, {"windowsize", "--sync", id, "1024", "600"}));
    ASSERT_TRUE(wait_for_size(x, *window, 1024, 600));
    EXPECT_BOX(wait_for_picture_at(x, *window, {112, 0, 800, 600}, "e2e_window_1024x600.png"),
               (Geometry{112, 0, 800, 600}));

    // Alt+Enter: full screen (1280 x 1024: 1280 x 960 between bars above and below), and back to the window.
    // F11 the same. None of these ends the scenes.
    for (const char* key : {"alt+Return", "F11"}) {
        ASSERT_TRUE(x.press(*window, key));
        ASSERT_TRUE(wait_for_size(x, *window, 1280, 1024)) << key << " did not go full screen";
        EXPECT_BOX(wait_for_picture_at(x, *window, {0, 32, 1280, 960}, std::string("e2e_toggled_") + key + ".png"),
                   (Geometry{0, 32, 1280, 960}));
        ASSERT_TRUE(x.press(*window, key));
        ASSERT_TRUE(wait_for_size(x, *window, 1024, 600)) << key << " did not come back to the window";
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(intro->running()) << "a switch ended the intro; stderr: " << read_file(err_);
    EXPECT_FALSE(find_client(x.display(), DefaultRootWindow(x.display()), "Credits"));

    // Escape still ends the intro (the scenes, or the scroller on a slow machine).
    ASSERT_TRUE(x.press(*window, "Escape"));
    const auto credits = wait_for_client(x, "Credits", *intro);
    ASSERT_TRUE(credits) << "no \"Credits\" box; stderr: " << read_file(err_);
    ASSERT_TRUE(x.press(*credits, "Return"));
    EXPECT_EQ(intro->wait(30s), 1) << read_file(err_);
    EXPECT_EQ(program_errors(err_), "");
}

TEST_F(EndToEnd, OnA1080pDesktopTheWindowOpensAt1024By768) {
    XServer x("1920x1080x24");
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    WindowManager wm(x);
    ASSERT_TRUE(wm.ready()) << "openbox did not start; see " << test_output_path("e2e_openbox.log");
    auto intro = start_intro(x.name(), "window_1080p", {}, {"--window"});
    const auto window = wait_for_client(x, kTitle, *intro);
    ASSERT_TRUE(window) << "no intro window; stderr: " << read_file(err_);
    EXPECT_TRUE(wait_for_size(x, *window, 1024, 768));
    // Whole pixels at 2x: the picture fills the window.
    EXPECT_BOX(wait_for_picture_at(x, *window, {0, 0, 1024, 768}, "e2e_window_1080p.png"), (Geometry{0, 0, 1024, 768}));
    x.request_close(*window);
    EXPECT_EQ(intro->wait(30s), 1) << read_file(err_);
}

TEST_F(EndToEnd, FullscreenOptionSkipsTheQuestion) {
    XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    WindowManager wm(x);  // full screen is the window manager's to grant
    ASSERT_TRUE(wm.ready()) << "openbox did not start; see " << test_output_path("e2e_openbox.log");
    auto intro = start_intro(x.name(), "fullscreen_option", {}, {"--fullscreen"});
    const auto window = wait_for_client(x, kTitle, *intro);
    ASSERT_TRUE(window) << "no intro window; stderr: " << read_file(err_);
    EXPECT_FALSE(find_client(x.display(), DefaultRootWindow(x.display()), "Question")) << "the question was asked";
    EXPECT_TRUE(wait_for_size(x, *window, 1024, 768));
    x.request_close(*window);
    EXPECT_EQ(intro->wait(30s), 1) << read_file(err_);
}

TEST_F(EndToEnd, StartOrderFourShowsTheCaptionsSceneAtOnce) {
    XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start; see " << test_output_path("e2e_xvfb.log");
    auto intro = start_intro(x.name(), "start_order", {}, {"--window", "--start-order", "4"});
    const auto window = wait_for_client(x, kTitle, *intro);
    ASSERT_TRUE(window) << "no intro window; stderr: " << read_file(err_);
    ASSERT_TRUE(wait_for_picture(x, *window)) << "the intro never drew; stderr: " << read_file(err_);
    // Within a second of the first picture: a cream 3D object in the middle of the screen, and no clock.
    const auto drawn = Clock::now();
    const Glyphs glyphs;
    bool scene4 = false;
    std::vector<uint32_t> picture;
    while (!scene4 && Clock::now() < drawn + 1s) {
        picture = x.grab(*window, 512, 384);
        if (picture.size() != 512u * 384u) break;
        int cream = 0;
        for (int y = 112; y < 272; ++y)
            for (int x0 = 156; x0 < 356; ++x0) {
                const uint32_t p = picture[size_t(y) * 512 + size_t(x0)];
                const int r = int(p >> 16) & 255, g = int(p >> 8) & 255, b = int(p) & 255;
                cream += r >= 150 && g >= 120 && r >= b + 25;
            }
        scene4 = cream > 1500 && glyphs.clock_value(picture) < 0;
        if (!scene4) std::this_thread::sleep_for(50ms);
    }
    if (!picture.empty()) write_png_rgb(test_output_path("e2e_start_order_4.png"), picture.data(), 512, 384);
    EXPECT_TRUE(scene4) << "scene 4 not seen within a second; see e2e_start_order_4.png";
    x.request_close(*window);
    EXPECT_EQ(intro->wait(30s), 1) << read_file(err_);
}

TEST_F(EndToEnd, BadOptionsGiveOneLineAndStatusTwo) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--bogus"},
                                                 {"--scale"},
                                                 {"--scale", "0"},
                                                 {"--start-order", "x"},
                                                 {"--fullscreen", "--window"},
                                                 {"--start-order", "200"}}) {
        auto intro = start_intro("", "bad_option", {}, args);
        ASSERT_TRUE(intro->started());
        EXPECT_EQ(intro->wait(30s), 2) << args[0];
        const std::string err = read_file(err_);
        EXPECT_EQ(err.rfind("zorbrix: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    auto help = start_intro("", "help", {}, {"--help"});
    EXPECT_EQ(help->wait(30s), 0);
    EXPECT_NE(read_file(out_).find("--start-order"), std::string::npos);
    auto version = start_intro("", "version", {}, {"--version"});
    EXPECT_EQ(version->wait(30s), 0);
    EXPECT_EQ(read_file(out_).rfind("zorbrix ", 0), 0u);
}

}  // namespace
