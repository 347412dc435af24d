#include "platform/output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <sys/random.h>
#include <sys/uio.h>
#include <unistd.h>
#include <csignal>
#endif

namespace zorbrix {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

std::string describe(int error_number) { return std::strerror(error_number); }

// ---- Names -------------------------------------------------------------------------------------------------------

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const std::size_t slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// 64 bits nobody can guess in advance, for temporary names.
std::uint64_t random_bits() {
    std::uint64_t value = 0;
#ifndef _WIN32
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
#endif
    static std::atomic<std::uint64_t> counter{0};
    value = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    value ^= static_cast<std::uint64_t>(getpid()) << 32;
    value ^= (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull;
    value ^= value >> 31;
    value *= 0xBF58476D1CE4E5B9ull;
    return value ^ (value >> 29);
}

std::string temporary_name(const std::string& target) {
    std::string base = base_of(target);
    if (base.size() > 200) base.resize(200);  // room for the suffix within a name's length limit
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random_bits()));
    std::string dir = directory_of(target);
    if (dir.back() != '/') dir += '/';
    return dir + "." + base + suffix;
}

// ---- Temporaries removed by fatal signals --------------------------------------------------------------------------

constexpr int kSlots = 64;
constexpr std::size_t kSlotPath = 4096;

struct Slot {
    std::atomic<int> state{0};  // 0 free, 1 being filled, 2 active
    int owner_pid = 0;          // a forked child never removes its parent's temporaries
    char path[kSlotPath] = {};
};

Slot g_slots[kSlots];

#ifndef _WIN32
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

extern "C" void on_fatal_signal(int signal_number) {
    const int saved_errno = errno;
    remove_output_temporaries();
    // Ends the process the way the signal would have: the default action, delivered once this handler returns.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    raise(signal_number);
    errno = saved_errno;
}

void install_signal_cleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal_number : kCleanupSignals) {
            struct sigaction current {};
            if (sigaction(signal_number, nullptr, &current) != 0) continue;
            // A signal the program ignores or handles itself stays as it is.
            if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = on_fatal_signal;
            sigemptyset(&action.sa_mask);
            for (int other : kCleanupSignals) sigaddset(&action.sa_mask, other);
            sigaction(signal_number, &action, nullptr);
        }
    });
}
#else
void install_signal_cleanup() {}
#endif

int register_temporary(const std::string& path) {
    if (path.size() >= kSlotPath) return -1;
    install_signal_cleanup();
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
            g_slots[i].owner_pid = static_cast<int>(getpid());
            g_slots[i].state.store(2);
            return i;
        }
    }
    return -1;  // more simultaneous outputs than slots: still written safely, only not removed on a signal
}

void release_temporary(int slot) {
    if (slot >= 0) g_slots[slot].state.store(0);
}

// ---- The system layer ----------------------------------------------------------------------------------------------

#ifdef _WIN32
int sys_write(int fd, const void* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
}
#else
ssize_t sys_write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
#endif

// Writes everything, retrying short writes and interruptions. 0 or the errno of the failure.
int write_all(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const auto n = sys_write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

#ifndef _WIN32
// Writes every byte of the list, retrying short writes and interruptions. 0 or the errno of the failure.
int writev_all(int fd, struct iovec* list, int count) {
    while (count > 0) {
        const ssize_t n = ::writev(fd, list, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        auto left = static_cast<std::size_t>(n);
        while (count > 0 && left >= list->iov_len) {
            left -= list->iov_len;
            ++list;
            --count;
        }
        if (count > 0) {
            list->iov_base = static_cast<unsigned char*>(list->iov_base) + left;
            list->iov_len -= left;
        }
    }
    return 0;
}

// The mode a new file gets: 0666 less the process's umask (read without changing it where the system allows).
unsigned new_file_mode() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                found = true;
                break;
            }
        }
        std::fclose(status);
        if (found) return 0666u & ~mask;
    }
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

// The descriptor a name stands for ("-", /dev/stdout, /dev/fd/N, ...), or -1.
int standard_descriptor(const std::string& path) {
    if (path == "-" || path == "/dev/stdout" || path == "/proc/self/fd/1") return 1;
    if (path == "/dev/stderr") return 2;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::size_t length = std::strlen(prefix);
        if (path.size() > length && path.compare(0, length, prefix) == 0) {
            int fd = 0;
            for (std::size_t i = length; i < path.size(); ++i) {
                if (path[i] < '0' || path[i] > '9' || fd > 100000) return -1;
                fd = fd * 10 + (path[i] - '0');
            }
            return fd;
        }
    }
    return -1;
}
#endif

}  // namespace

void remove_output_temporaries() noexcept {
    const int pid = static_cast<int>(getpid());
    for (Slot& slot : g_slots) {
        if (slot.state.load() == 2 && slot.owner_pid == pid) {
#ifdef _WIN32
            _unlink(slot.path);
#else
            ::unlink(slot.path);
#endif
        }
    }
}

// ---- OutputFile ----------------------------------------------------------------------------------------------------

OutputFile::~OutputFile() { abandon(); }

bool OutputFile::fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return false;
}

void OutputFile::close_quietly() {
    if (fd_ >= 0 && owns_fd_) {
#ifdef _WIN32
        _close(fd_);
#else
        ::close(fd_);
#endif
    }
    fd_ = -1;
    owns_fd_ = false;
}

void OutputFile::abandon() {
    if (fd_ < 0) return;
    close_quietly();
    if (!temporary_.empty()) {
#ifdef _WIN32
        _unlink(temporary_.c_str());
#else
        ::unlink(temporary_.c_str());
#endif
        release_temporary(slot_);
        slot_ = -1;
        temporary_.clear();
    }
    buffer_.clear();
}

bool OutputFile::open(const std::string& path, std::string* error) {
    abandon();
    path_ = path;
    target_.clear();
    temporary_.clear();
    direct_ = seekable_ = keep_owner_ = false;
    written_ = writeback_from_ = 0;
    error_.clear();
    buffer_.clear();
    auto refuse = [&](const std::string& message) {
        fail(message);
        if (error) *error = error_;
        return false;
    };
    if (path.empty()) return refuse("no output file name given");

#ifdef _WIN32
    if (path == "-") {
        _setmode(1, _O_BINARY);
        fd_ = 1;
        direct_ = true;
        return true;
    }
    target_ = path;
    final_mode_ = 0666;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        std::string name = temporary_name(target_);
        std::replace(name.begin(), name.end(), '\\', '/');
        fd_ = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd_ >= 0)
            temporary_ = name;
        else if (errno != EEXIST)
            return refuse("cannot create " + path + ": " + describe(errno));
    }
    if (fd_ < 0) return refuse("cannot create " + path + ": no free temporary name");
    owns_fd_ = true;
    seekable_ = true;
    slot_ = register_temporary(temporary_);
    buffer_.reserve(kBufferSize);
    return true;
#else
    // Follow symlinks to the file they name, stopping at a name that stands for an open descriptor.
    std::string target = path;
    int hops = 0;
    struct stat info {};
    bool exists = false;
    for (;;) {
        const int descriptor = standard_descriptor(target);
        if (descriptor >= 0) {
            if (fcntl(descriptor, F_GETFL) < 0) return refuse("cannot write " + path + ": " + describe(errno));
            fd_ = descriptor;
            owns_fd_ = false;
            direct_ = true;
            return true;
        }
        if (::lstat(target.c_str(), &info) != 0) {
            if (errno != ENOENT) return refuse("cannot write " + path + ": " + describe(errno));
            break;
        }
        if (!S_ISLNK(info.st_mode)) {
            exists = true;
            break;
        }
        if (++hops > 40) return refuse("cannot write " + path + ": " + describe(ELOOP));
        std::vector<char> link(static_cast<std::size_t>(std::max<off_t>(info.st_size, 255)) + 2);
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size() - 1);
        if (n < 0) return refuse("cannot write " + path + ": " + describe(errno));
        std::string next(link.data(), static_cast<std::size_t>(n));
        if (next.empty()) return refuse("cannot write " + path + ": " + describe(ENOENT));
        if (next[0] == '/') {
            target = next;
        } else {
            std::string dir = directory_of(target);
            target = (dir == "/" ? "/" : dir + "/") + next;
        }
    }
    target_ = target;

    if (exists && S_ISDIR(info.st_mode)) return refuse("cannot write " + path + ": " + describe(EISDIR));
    if (exists && !S_ISREG(info.st_mode)) {
        // A device, FIFO or socket: written in place, never replaced.
        do {
            fd_ = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) return refuse("cannot write " + path + ": " + describe(errno));
        owns_fd_ = true;
        direct_ = true;
        buffer_.reserve(kBufferSize);
        return true;
    }

    if (exists) {
        final_mode_ = static_cast<unsigned>(info.st_mode) & 07777u;
        if (info.st_uid != ::geteuid() || info.st_gid != ::getegid()) {
            keep_owner_ = true;
            owner_uid_ = info.st_uid;
            owner_gid_ = info.st_gid;
        }
    } else {
        final_mode_ = new_file_mode();
    }
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const std::string name = temporary_name(target);
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd_ >= 0) {
            temporary_ = name;
            slot_ = register_temporary(temporary_);
        } else if (errno != EEXIST && errno != EINTR) {
            return refuse("cannot create " + path + ": " + describe(errno));
        }
    }
    if (fd_ < 0) return refuse("cannot create " + path + ": no free temporary name");
    owns_fd_ = true;
    seekable_ = true;
    buffer_.reserve(kBufferSize);
    return true;
#endif
}

bool OutputFile::drain() {
    if (buffer_.empty()) return true;
    const int failure = write_all(fd_, buffer_.data(), buffer_.size());
    buffer_.clear();
    if (failure != 0) return fail("cannot write " + path_ + ": " + describe(failure));
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const Piece piece{data, size};
    return write(&piece, 1);
}

bool OutputFile::write(const Piece* pieces, std::size_t count) {
    if (!error_.empty()) return false;
    if (fd_ < 0) return fail("cannot write " + path_ + ": not open");
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) total += pieces[i].size;
    written_ += total;
    if (total <= kBufferSize - buffer_.size()) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto* bytes = static_cast<const unsigned char*>(pieces[i].data);
            buffer_.insert(buffer_.end(), bytes, bytes + pieces[i].size);
        }
        return true;
    }
    return write_through(pieces, count);
}

// Hands the buffered bytes and then the pieces to the system, in as few calls as it takes, and empties the buffer.
bool OutputFile::write_through(const Piece* pieces, std::size_t count) {
#ifndef _WIN32
    constexpr std::size_t kGather = 16;
    if (count < kGather) {
        struct iovec list[kGather];
        int used = 0;
        if (!buffer_.empty()) list[used++] = {buffer_.data(), buffer_.size()};
        for (std::size_t i = 0; i < count; ++i) {
            if (pieces[i].size > 0) list[used++] = {const_cast<void*>(pieces[i].data), pieces[i].size};
        }
        const int failure = writev_all(fd_, list, used);
        buffer_.clear();
        if (failure != 0) return fail("cannot write " + path_ + ": " + describe(failure));
        return true;
    }
#endif
    if (!drain()) return false;
    for (std::size_t i = 0; i < count; ++i) {
        const int failure = write_all(fd_, static_cast<const unsigned char*>(pieces[i].data), pieces[i].size);
        if (failure != 0) return fail("cannot write " + path_ + ": " + describe(failure));
    }
    return true;
}

bool OutputFile::write_at(std::uint64_t offset, const void* data, std::size_t size) {
    if (!error_.empty()) return false;
    if (fd_ < 0) return fail("cannot write " + path_ + ": not open");
    if (!seekable_) return fail("cannot write " + path_ + ": the output cannot be rewritten in place");
    if (offset > written_ || size > written_ - offset) return fail("cannot write " + path_ + ": beyond its end");
    if (!drain()) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
#ifdef _WIN32
        if (_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0)
            return fail("cannot write " + path_ + ": " + describe(errno));
        const int n = _write(fd_, bytes, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
        const ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
#endif
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("cannot write " + path_ + ": " + describe(errno));
        }
        if (n == 0) return fail("cannot write " + path_ + ": " + describe(EIO));
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
#ifdef _WIN32
    if (_lseeki64(fd_, 0, SEEK_END) < 0) return fail("cannot write " + path_ + ": " + describe(errno));
#endif
    return true;
}

bool OutputFile::flush() {
    if (!error_.empty()) return false;
    if (fd_ < 0) return fail("cannot write " + path_ + ": not open");
    return drain();
}

bool OutputFile::start_writeback() {
    if (!flush()) return false;
#ifdef __linux__
    if (!temporary_.empty() && written_ > writeback_from_) {
        // Advice only: a failure here changes nothing about the output, and commit() still checks every byte.
        ::sync_file_range(fd_, static_cast<off_t>(writeback_from_), static_cast<off_t>(written_ - writeback_from_),
                          SYNC_FILE_RANGE_WRITE);
        writeback_from_ = written_;
    }
#endif
    return true;
}

bool OutputFile::commit(std::string* error) {
    auto finish = [&](bool success) {
        if (!success) {
            abandon();
            if (error) *error = error_;
        }
        return success;
    };
    if (!error_.empty()) return finish(false);
    if (fd_ < 0) {
        fail("cannot write " + path_ + ": not open");
        return finish(false);
    }
    if (!drain()) return finish(false);
    if (direct_) {
        if (owns_fd_) {
#ifdef _WIN32
            const int closed = _close(fd_);
#else
            const int closed = ::close(fd_);
#endif
            fd_ = -1;
            owns_fd_ = false;
            // EINTR leaves the descriptor closed on Linux; nothing is left to retry.
            if (closed != 0 && errno != EINTR) {
                fail("cannot write " + path_ + ": " + describe(errno));
                return finish(false);
            }
        }
        fd_ = -1;
        return finish(true);
    }
#ifdef _WIN32
    if (_close(fd_) != 0) {
        fd_ = -1;
        owns_fd_ = false;
        fail("cannot write " + path_ + ": " + describe(errno));
        _unlink(temporary_.c_str());
        release_temporary(slot_);
        slot_ = -1;
        temporary_.clear();
        return finish(false);
    }
    fd_ = -1;
    owns_fd_ = false;
    if (!MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        fail("cannot write " + path_ + ": cannot replace it (error " + std::to_string(GetLastError()) + ")");
        _unlink(temporary_.c_str());
        release_temporary(slot_);
        slot_ = -1;
        temporary_.clear();
        return finish(false);
    }
#else
    if (keep_owner_) {
        // Only the superuser may give a file away; elsewhere the new file is ours, as with any rewriting tool.
        if (::fchown(fd_, owner_uid_, owner_gid_) != 0) { /* kept as ours */
        }
    }
    int failure = 0;
    if (::fchmod(fd_, static_cast<mode_t>(final_mode_)) != 0) failure = errno;
    const int closed = ::close(fd_);
    if (failure == 0 && closed != 0 && errno != EINTR) failure = errno;
    fd_ = -1;
    owns_fd_ = false;
    if (failure == 0 && ::rename(temporary_.c_str(), target_.c_str()) != 0) failure = errno;
    if (failure != 0) {
        fail("cannot write " + path_ + ": " + describe(failure));
        ::unlink(temporary_.c_str());
        release_temporary(slot_);
        slot_ = -1;
        temporary_.clear();
        return finish(false);
    }
#endif
    release_temporary(slot_);
    slot_ = -1;
    temporary_.clear();
    buffer_.clear();
    return finish(true);
}

bool write_output_file(const std::string& path, const void* data, std::size_t size, std::string* error) {
    OutputFile out;
    if (!out.open(path, error)) return false;
    if (!out.write(data, size)) {
        if (error) *error = out.error();
        return false;
    }
    return out.commit(error);
}

// ---- Bounded input -------------------------------------------------------------------------------------------------

bool read_input_file(const std::string& path, std::uint64_t limit, std::vector<unsigned char>* out,
                     std::string* error) {
    const bool standard_input = path == "-";
    const std::string name = standard_input ? std::string("standard input") : path;
    auto refuse = [&](const std::string& message) {
        if (error) *error = message;
        out->clear();
        return false;
    };
    auto too_large = [&] { return refuse(name + " is too large (more than " + std::to_string(limit) + " bytes)"); };
    out->clear();
    int fd = 0;
    if (!standard_input) {
#ifdef _WIN32
        fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
#else
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        } while (fd < 0 && errno == EINTR);
#endif
        if (fd < 0) return refuse("cannot open " + path + ": " + describe(errno));
    }
    struct Closer {
        int fd;
        bool owned;
        ~Closer() {
#ifdef _WIN32
            if (owned) _close(fd);
#else
            if (owned) ::close(fd);
#endif
        }
    } closer{fd, !standard_input};

    struct stat info {};
    if (::fstat(fd, &info) != 0) return refuse("cannot read " + name + ": " + describe(errno));
    if (S_ISDIR(info.st_mode)) return refuse("cannot read " + name + ": " + describe(EISDIR));
    try {
        if (S_ISREG(info.st_mode)) {
            if (static_cast<std::uint64_t>(info.st_size) > limit) return too_large();
            out->reserve(static_cast<std::size_t>(info.st_size));
        }
        std::vector<unsigned char> chunk(kBufferSize);
        for (;;) {
#ifdef _WIN32
            const int n = _read(fd, chunk.data(), static_cast<unsigned>(chunk.size()));
#else
            const ssize_t n = ::read(fd, chunk.data(), chunk.size());
#endif
            if (n < 0) {
                if (errno == EINTR) continue;
                return refuse("cannot read " + name + ": " + describe(errno));
            }
            if (n == 0) break;
            if (static_cast<std::uint64_t>(n) > limit - out->size()) return too_large();
            out->insert(out->end(), chunk.data(), chunk.data() + n);
        }
    } catch (const std::bad_alloc&) {
        std::vector<unsigned char>().swap(*out);
        return refuse("cannot read " + name + ": not enough memory");
    }
    return true;
}

}  // namespace zorbrix
