#pragma once
// ffmpeg as a child process that turns any video it can read into YUV4MPEG2 4:2:0 on a pipe, so that the encoder
// takes MP4, MKV, GIF, ... as well as raw YUV4MPEG2. Started with an argument vector (never a shell string), its
// standard error left to the user's terminal, and its failure reported as ours.
#include <sys/types.h>
#include <string>
#include <vector>

namespace nvdtool {

class FfmpegChild {
public:
    FfmpegChild() = default;
    ~FfmpegChild();  // ends and reaps a child still running
    FfmpegChild(const FfmpegChild&) = delete;
    FfmpegChild& operator=(const FfmpegChild&) = delete;

    // The arguments after the program name: input ("-" is standard input), scaled to width x height when both are
    // above 0, flipped upside down when asked.
    static std::vector<std::string> arguments(const std::string& input, int width, int height, bool flip);

    // Starts `program` (looked up on PATH) with those arguments. False with a one-line message when it cannot be
    // started, naming a missing ffmpeg as such.
    bool start(const std::string& input, int width, int height, bool flip, std::string& error,
               const std::string& program = "ffmpeg");
    // The read end of the pipe carrying the YUV4MPEG2 stream.
    int read_fd() const { return fd_; }
    // Closes the pipe, waits for the child and reports how it ended: false with a message unless it exited with 0.
    bool finish(std::string& error);
    // For a reader that gave up: a child that has ended (or ends within half a second) reports as finish() does,
    // since its own failure is then the cause; one still running is stopped and reports nothing (true).
    bool abandon(std::string& error);

private:
    static bool describe(int status, std::string& error);
    pid_t pid_ = -1;
    int fd_ = -1;
};

}  // namespace nvdtool
