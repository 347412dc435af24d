#include "tools/nvdtool/ffmpeg_child.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace nvdtool {

FfmpegChild::~FfmpegChild() {
    if (fd_ >= 0) ::close(fd_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::vector<std::string> FfmpegChild::arguments(const std::string& input, int width, int height, bool flip) {
    std::vector<std::string> a = {"-hide_banner", "-loglevel", "error"};
    if (input != "-") a.push_back("-nostdin");  // keep the terminal's keys away from it
    a.push_back("-i");
    // "file:" keeps a name with a colon or a leading dash from being read as a protocol or an option.
    a.push_back(input == "-" ? "pipe:0" : "file:" + input);
    a.insert(a.end(), {"-map", "0:v:0", "-an", "-sn", "-dn"});
    std::string filters;
    if (width > 0 && height > 0) filters = "scale=" + std::to_string(width) + ":" + std::to_string(height);
    if (flip) filters += std::string(filters.empty() ? "" : ",") + "vflip";
    if (!filters.empty()) a.insert(a.end(), {"-vf", filters});
    a.insert(a.end(), {"-pix_fmt", "yuv420p", "-f", "yuv4mpegpipe", "pipe:1"});
    return a;
}

bool FfmpegChild::start(const std::string& input, int width, int height, bool flip, std::string& error,
                        const std::string& program) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe for ffmpeg: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);  // dup2 clears close-on-exec
    std::vector<std::string> args = arguments(input, width, height, flip);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        if (rc == ENOENT)
            error = program +
                    " is not installed (or not on PATH): install it (apt-get install ffmpeg) or give a "
                    "YUV4MPEG2 file (.y4m) or \"-\"";
        else
            error = "cannot start " + program + ": " + std::strerror(rc);
        return false;
    }
    pid_ = pid;
    fd_ = fds[0];
    return true;
}

bool FfmpegChild::abandon(std::string& error) {
    if (pid_ <= 0) return finish(error);
    for (int i = 0; i < 50; ++i) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            if (fd_ >= 0) ::close(fd_);
            fd_ = -1;
            return describe(status, error);
        }
        if (r < 0 && errno != EINTR) break;
        ::usleep(10000);
    }
    ::kill(pid_, SIGTERM);
    std::string ignored;
    finish(ignored);
    return true;
}

bool FfmpegChild::finish(std::string& error) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (pid_ <= 0) return true;
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (r < 0) {
        error = std::string("cannot wait for ffmpeg: ") + std::strerror(errno);
        return false;
    }
    return describe(status, error);
}

bool FfmpegChild::describe(int status, std::string& error) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (WIFEXITED(status))
        error = "ffmpeg failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    else if (WIFSIGNALED(status))
        error = std::string("ffmpeg was ended by signal ") + std::to_string(WTERMSIG(status)) + " (" +
                strsignal(WTERMSIG(status)) + ")";
    else
        error = "ffmpeg ended abnormally";
    return false;
}

}  // namespace nvdtool
