// The real program in a real X server: Xvfb started by the test, keys typed with xdotool, windows found, closed and
// photographed through Xlib.

#include "gfx/png_writer.h"
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
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// The environment of this process with some variables replaced (value given) or removed (no value).
std::vector<std::string> environment_with(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
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
          const std::string& err_path, int extra_fd = -1, int extra_fd_as = -1) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
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
    XServer() {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        const std::string log = test_output_path("e2e_xvfb.log");
        server_.emplace(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24",
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
        const auto until = Clock::now() + timeout;
        while (Clock::now() < until && program.running()) {
            XSync(display_, False);
            const auto found = windows_titled(title);
            if (!found.empty()) {
                return found.front();
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

struct Run {
    std::string out_path;
    std::string err_path;
};

class EndToEnd : public testing::Test {
protected:
    std::unique_ptr<Child> start_intro(const std::string& display, const std::string& tag) {
        out_ = test_output_path("e2e_" + tag + ".stdout");
        err_ = test_output_path("e2e_" + tag + ".stderr");
        std::vector<std::pair<std::string, std::optional<std::string>>> changes = {
            {"WAYLAND_DISPLAY", std::nullopt}, {"SDL_VIDEODRIVER", std::nullopt},
            // A test machine has no sound card: play silently on the real-time dummy driver straight away, rather
            // than have the sound libraries probe for one (their plugins leave allocations LeakSanitizer reports
            // under a module it can no longer name).
            {"SDL_AUDIODRIVER", "dummy"},
            // Under LeakSanitizer, leave out the desktop libraries' own leaks (only read by sanitizer builds).
            {"LSAN_OPTIONS", "suppressions=" + source_dir() + "/scripts/lsan-suppressions.txt:print_suppressions=0"}};
        changes.emplace_back("DISPLAY", display.empty() ? std::nullopt : std::optional<std::string>(display));
        auto child = std::make_unique<Child>(std::vector<std::string>{build_dir() + "/bin/zorbrix"},
                                             environment_with(changes), out_, err_);
        return child;
    }
    std::string out_;
    std::string err_;
};

TEST_F(EndToEnd, QuestionWindowKeyAndCreditsThenStatusOne) {
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

    // Let a few frames be presented, then look at the picture.
    std::this_thread::sleep_for(300ms);
    const auto pixels = x.grab(*window, 512, 384);
    ASSERT_EQ(pixels.size(), 512u * 384u);
    ASSERT_TRUE(write_png_rgb(test_output_path("e2e_intro_window.png"), pixels.data(), 512, 384));
    size_t lit = 0;
    for (uint32_t p : pixels) {
        lit += p != 0;
    }
    EXPECT_EQ(lit, 0u) << "the intro without its content shows a black screen";

    ASSERT_TRUE(x.press(*window, "space"));
    const auto credits = x.wait_for_window("Credits", *intro);
    ASSERT_TRUE(credits) << "no \"Credits\" box; stderr: " << read_file(err_);
    // The display is gone before the credits appear.
    EXPECT_TRUE(x.windows_titled(kTitle).empty());
    ASSERT_TRUE(x.press(*credits, "Return"));

    EXPECT_EQ(intro->wait(30s), 1) << read_file(err_);
    EXPECT_EQ(read_file(err_), "");
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

    x.request_close(*window);
    const auto status = intro->wait(30s);
    EXPECT_EQ(status, 1) << read_file(err_);
    EXPECT_TRUE(x.windows_titled("Credits").empty());
    EXPECT_EQ(read_file(err_), "");
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

}  // namespace
