#include "platform/message_box.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#endif

namespace zorbrix {
namespace {

std::atomic<bool> g_interrupted{false};

// SDL has no question icon; its information icon is the closest. X11 shows no icons at all.
Uint32 sdl_flags(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error: return SDL_MESSAGEBOX_ERROR;
    case MessageIcon::Question:
    case MessageIcon::Information: return SDL_MESSAGEBOX_INFORMATION;
    case MessageIcon::None: break;
    }
    return 0;
}

#ifndef _WIN32
// The box runs in a child process, the leader of a process group of its own (SDL may show it from a further child,
// which stays in that group). The program waits for the answer on a pipe and for signals on a second pipe its
// handlers write to, so a signal is never lost between checks, whichever thread receives it. A signal takes the
// whole group down with SIGKILL. If the program dies first (even of SIGKILL), the kernel sends the child SIGTERM
// (PR_SET_PDEATHSIG), whose handler there kills the group, box included.

constexpr int kBoxSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t g_box_signal = 0;
int g_wake_fd = -1;

extern "C" void on_signal_while_box_up(int signal_number) {
    const int saved_errno = errno;
    g_box_signal = signal_number;
    if (g_wake_fd >= 0) {
        const ssize_t ignored = write(g_wake_fd, "s", 1);
        (void)ignored;
    }
    errno = saved_errno;
}

// In the box's group: end everything in it.
extern "C" void end_box_group(int) { kill(0, SIGKILL); }

void close_pair(int fds[2]) {
    close(fds[0]);
    close(fds[1]);
}

// SDL_ShowMessageBox's status (0 when the box was shown and answered, the button in *pressed), or -1; *interrupted
// when a signal took the box down.
int show_guarded(const SDL_MessageBoxData& box, int* pressed, bool* interrupted) {
    *interrupted = false;
    int answer_pipe[2], wake_pipe[2];
    if (pipe2(answer_pipe, O_CLOEXEC) != 0) return SDL_ShowMessageBox(&box, pressed);
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        close_pair(answer_pipe);
        return SDL_ShowMessageBox(&box, pressed);
    }
    // Our handlers while the box is up (without SA_RESTART, so nothing waits on through a signal); the program's
    // own (SDL's, which turn the signal into a quit event) come back afterwards.
    struct sigaction ours {};
    ours.sa_handler = on_signal_while_box_up;
    sigemptyset(&ours.sa_mask);
    struct sigaction previous[3];
    g_box_signal = 0;
    g_wake_fd = wake_pipe[1];
    for (int i = 0; i < 3; ++i) sigaction(kBoxSignals[i], &ours, &previous[i]);
    auto restore = [&] {
        for (int i = 0; i < 3; ++i) sigaction(kBoxSignals[i], &previous[i], nullptr);
        g_wake_fd = -1;
        close_pair(wake_pipe);
    };

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        struct sigaction plain {};
        plain.sa_handler = SIG_DFL;
        sigemptyset(&plain.sa_mask);
        sigaction(SIGINT, &plain, nullptr);
        sigaction(SIGHUP, &plain, nullptr);
        struct sigaction end {};
        end.sa_handler = end_box_group;
        sigemptyset(&end.sa_mask);
        sigaction(SIGTERM, &end, nullptr);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) kill(0, SIGKILL);  // the program ended before the line above took effect
        close(answer_pipe[0]);
        int reply[2] = {-1, -1};
        reply[0] = SDL_ShowMessageBox(&box, &reply[1]);
        const ssize_t ignored = write(answer_pipe[1], reply, sizeof reply);
        (void)ignored;
        _exit(0);
    }
    if (child < 0) {
        restore();
        close_pair(answer_pipe);
        return SDL_ShowMessageBox(&box, pressed);
    }
    setpgid(child, child);  // also from here, so the group exists whichever process runs first
    close(answer_pipe[1]);

    int reply[2] = {-1, -1};
    size_t got = 0;
    while (!g_box_signal && got < sizeof reply) {
        pollfd fds[2] = {{answer_pipe[0], POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents) {
            const ssize_t n = read(answer_pipe[0], reinterpret_cast<char*>(reply) + got, sizeof reply - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // the child ended without an answer
            got += size_t(n);
        }
    }
    // Whatever remains of the group goes (the child, while unreaped, keeps the group's number from being reused).
    kill(-child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    close(answer_pipe[0]);
    *interrupted = g_box_signal != 0;
    restore();
    if (*interrupted) {
        g_interrupted = true;
        return -1;
    }
    if (got < sizeof reply) return -1;
    *pressed = reply[1];
    return reply[0];
}
#else
int show_guarded(const SDL_MessageBoxData& box, int* pressed, bool* interrupted) {
    *interrupted = false;
    return SDL_ShowMessageBox(&box, pressed);
}
#endif

}  // namespace

bool message_box_interrupted() { return g_interrupted; }

Answer ask_yes_no(const char* caption, const char* text, MessageIcon icon) {
    enum {
        kYes = 1,
        kNo = 0
    };
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kNo, "No"},
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kYes, "Yes"},
    };
    SDL_MessageBoxData box{};
    box.flags = sdl_flags(icon);
    box.title = caption;
    box.message = text;
    box.numbuttons = 2;
    box.buttons = buttons;
    int pressed = -1;
    bool interrupted = false;
    if (show_guarded(box, &pressed, &interrupted) != 0) {
        return interrupted ? Answer::Interrupted : Answer::Unavailable;
    }
    return pressed == kYes ? Answer::Yes : Answer::No;
}

bool show_message_box(const char* caption, const char* text, MessageIcon icon, bool print_if_unavailable) {
    const SDL_MessageBoxButtonData ok = {
        SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
    SDL_MessageBoxData box{};
    box.flags = sdl_flags(icon);
    box.title = caption;
    box.message = text;
    box.numbuttons = 1;
    box.buttons = &ok;
    int pressed = -1;
    bool interrupted = false;
    if (show_guarded(box, &pressed, &interrupted) == 0) {
        return true;
    }
    if (print_if_unavailable && !interrupted) {
        std::printf("%s\n", text);
        std::fflush(stdout);
    }
    return false;
}

}  // namespace zorbrix
