#pragma once
// Careful output and bounded input for every tool and writer.
//
// OutputFile writes one output so that nothing is clobbered and nothing half-written stays behind:
// - a regular file (or a path that does not exist yet) is written to a fresh temporary beside it, created exclusively
//   with an unpredictable name and mode 0600, and renamed into place by commit(); an existing file keeps its
//   permission bits (and, where allowed, its owner), a new one gets 0666 less the umask;
// - a symlink is followed to the file it names (however many hops); that file is replaced the same way and the link
//   stays a link;
// - "-" and /dev/stdout are standard output, /dev/stderr standard error, /dev/fd/N and /proc/self/fd/N that
//   descriptor; a character or block device, FIFO or socket is opened and written directly, never replaced;
// - abandon(), a destructor without commit(), a failed write or a fatal signal (SIGINT, SIGTERM, SIGHUP, SIGPIPE,
//   SIGXFSZ, while their disposition is the default one) removes the temporary; the target stays as it was.
// Every write, the final flush and the close are checked; the first failure is kept as a one-line message and every
// later call fails with it.
//
// Output can be written progressively (video frames as they are rendered); it appears under its name only at commit().

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorbrix {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // abandons an uncommitted output
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the output. False (with *error, when given, set to one line naming the path) when it cannot be opened.
    bool open(const std::string& path, std::string* error = nullptr);

    // Buffered writes; false once anything has failed (see error()). What does not fit in the buffer goes to the
    // system at once, together with what is buffered, in one call and without a copy.
    bool write(const void* data, std::size_t size);
    bool write(std::string_view text) { return write(text.data(), text.size()); }

    // Writes pieces in order, exactly as writing each in turn would; pieces too large to buffer leave in a single
    // gathered call with the buffered bytes (a video frame's header and planes: one call per frame, no copy).
    struct Piece {
        const void* data;
        std::size_t size;
    };
    bool write(const Piece* pieces, std::size_t count);

    // Overwrites bytes already written at `offset` (e.g. a header whose sizes are known only at the end). Only outputs
    // that can be repositioned (temporaries, regular files behind a descriptor) allow it; elsewhere it fails.
    bool write_at(std::uint64_t offset, const void* data, std::size_t size);

    // Hands buffered bytes to the system (useful for standard output and FIFOs read as they are written).
    bool flush();

    // Starts writing to the disk, in the background, what a temporary holds so far (nothing for direct outputs or
    // where the system offers no such call). For long outputs written as they are made (video): the disk works while
    // the rest is made, instead of all of it at commit(). Never waits for the disk; false once anything has failed.
    bool start_writeback();

    // Flushes, closes and (for a temporary) renames the output into place. False with *error set on any failure, in
    // which case the temporary is removed and the target left as it was.
    bool commit(std::string* error = nullptr);

    // Drops the output: removes the temporary (a direct output is closed; what was written there stays).
    void abandon();

    bool is_open() const { return fd_ >= 0; }
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    // True when the output is written in place (standard output, a device, a FIFO, ...), not through a temporary.
    bool direct() const { return direct_; }
    std::uint64_t bytes_written() const { return written_; }

private:
    bool fail(const std::string& message);
    bool drain();
    bool write_through(const Piece* pieces, std::size_t count);
    void close_quietly();

    std::string path_;       // as given, for messages
    std::string target_;     // the file the temporary replaces (symlinks resolved)
    std::string temporary_;  // empty for a direct output
    int fd_ = -1;
    bool owns_fd_ = false;  // false for standard output/error and inherited descriptors
    bool direct_ = false;
    bool seekable_ = false;
    int slot_ = -1;  // place in the signal-cleanup registry
    unsigned final_mode_ = 0644;
    bool keep_owner_ = false;
    unsigned owner_uid_ = 0, owner_gid_ = 0;
    std::vector<unsigned char> buffer_;
    std::uint64_t written_ = 0;         // bytes accepted by write()
    std::uint64_t writeback_from_ = 0;  // where the next start_writeback() begins
    std::string error_;
};

// Writes `size` bytes to `path` through an OutputFile. False with *error set on any failure.
bool write_output_file(const std::string& path, const void* data, std::size_t size, std::string* error = nullptr);

// Removes every registered temporary. Async-signal-safe: a program with its own handler for a fatal signal calls it
// before ending.
void remove_output_temporaries() noexcept;

// Reads a whole input ("-" for standard input) of at most `limit` bytes. A file with a size is refused before it is
// read when larger; a stream without one (a pipe, a character device such as /dev/zero) is refused as soon as it grows
// past the limit. False with *error set to one line naming the path (also for a directory or a memory shortage).
bool read_input_file(const std::string& path, std::uint64_t limit, std::vector<unsigned char>* out,
                     std::string* error = nullptr);

}  // namespace zorbrix
