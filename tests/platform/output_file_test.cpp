#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using zorbrix::OutputFile;

namespace {

// A private scratch folder, removed with everything in it.
struct Scratch {
    fs::path dir;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "zorbrix-output-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
    }
    ~Scratch() {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }
    std::string operator/(const std::string& name) const { return (dir / name).string(); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

unsigned mode_of(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode;
}

// Runs body in a child process and returns its wait status.
template <class Body>
int in_child(Body body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

bool make_node(const std::string& path, unsigned major_number, unsigned minor_number) {
    return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(major_number, minor_number)) == 0;
}

}  // namespace

TEST(OutputFile, RegularFilesAppearWholeOnCommitWithTheirModeAndNothingElse) {
    Scratch s;
    const std::string fresh = s / "new.bin";
    OutputFile out;
    ASSERT_TRUE(out.open(fresh));
    EXPECT_FALSE(out.direct());
    ASSERT_TRUE(out.write("hello "));
    EXPECT_FALSE(fs::exists(fresh)) << "visible before commit";
    std::string big(300000, 'x');  // past the buffer, written straight through
    ASSERT_TRUE(out.write(big));
    ASSERT_TRUE(out.write_at(0, "H", 1));
    std::string error;
    ASSERT_TRUE(out.commit(&error)) << error;
    EXPECT_EQ(slurp(fresh), "Hello " + big);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(mode_of(fresh) & 0777, 0666u & ~mask);

    // An existing file keeps its permissions; the old bytes are replaced whole.
    const std::string old = s / "old.bin";
    spit(old, "previous contents, longer than the new");
    ::chmod(old.c_str(), 0640);
    ASSERT_TRUE(zorbrix::write_output_file(old, "short", 5, &error)) << error;
    EXPECT_EQ(slurp(old), "short");
    EXPECT_EQ(mode_of(old) & 07777, 0640u);
    EXPECT_EQ(s.names(), (std::vector<std::string>{"new.bin", "old.bin"}));
}

TEST(OutputFile, AbandonedOrFailedOutputsLeaveTheTargetAsItWas) {
    Scratch s;
    const std::string kept = s / "kept.txt";
    spit(kept, "original");
    {
        OutputFile out;
        ASSERT_TRUE(out.open(kept));
        ASSERT_TRUE(out.write(std::string(200000, 'y')));
    }  // destroyed without commit
    {
        OutputFile out;
        ASSERT_TRUE(out.open(s / "never.txt"));
        ASSERT_TRUE(out.write("partial"));
        out.abandon();
        EXPECT_FALSE(out.commit());
    }
    EXPECT_EQ(slurp(kept), "original");
    EXPECT_EQ(s.names(), std::vector<std::string>{"kept.txt"});

    // Names that cannot be written: a folder, a missing folder, a name inside a file.
    std::string error;
    OutputFile out;
    EXPECT_FALSE(out.open(s.dir.string(), &error));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
    EXPECT_FALSE(out.open(s / "missing/x", &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    EXPECT_FALSE(out.open(kept + "/x", &error));
    EXPECT_FALSE(out.write("x", 1));
    EXPECT_FALSE(out.commit(&error));
    EXPECT_FALSE(out.open("", &error));
    EXPECT_EQ(s.names(), std::vector<std::string>{"kept.txt"});
}

TEST(OutputFile, SymlinksAreFollowedAndStayLinks) {
    Scratch s;
    fs::create_directory(s.dir / "real");
    spit(s / "real/target", "old");
    fs::create_symlink("real/target", s.dir / "hop2");
    fs::create_symlink(s / "hop2", s.dir / "link");
    ASSERT_TRUE(zorbrix::write_output_file(s / "link", "new", 3));
    EXPECT_TRUE(fs::is_symlink(s.dir / "link"));
    EXPECT_TRUE(fs::is_symlink(s.dir / "hop2"));
    EXPECT_EQ(slurp(s / "real/target"), "new");

    // A dangling link creates the file it names.
    fs::create_symlink("real/created", s.dir / "dangling");
    ASSERT_TRUE(zorbrix::write_output_file(s / "dangling", "made", 4));
    EXPECT_EQ(slurp(s / "real/created"), "made");
    EXPECT_TRUE(fs::is_symlink(s.dir / "dangling"));

    // A loop is an error, not a hang.
    fs::create_symlink("loop2", s.dir / "loop1");
    fs::create_symlink("loop1", s.dir / "loop2");
    std::string error;
    EXPECT_FALSE(zorbrix::write_output_file(s / "loop1", "x", 1, &error));
    EXPECT_NE(error.find("symbolic links"), std::string::npos) << error;
    EXPECT_EQ(s.names(), (std::vector<std::string>{"dangling", "hop2", "link", "loop1", "loop2", "real"}));
}

TEST(OutputFile, DevicesAndFifosAreWrittenInPlaceAndNeverReplaced) {
    Scratch s;
    const std::string null_node = s / "null";
    const std::string full_node = s / "full";
    ASSERT_TRUE(make_node(null_node, 1, 3) && make_node(full_node, 1, 7)) << "mknod needs root";
    std::string error;
    OutputFile out;
    ASSERT_TRUE(out.open(null_node, &error)) << error;
    EXPECT_TRUE(out.direct());
    EXPECT_TRUE(out.write(std::string(100000, 'z')));
    EXPECT_FALSE(out.write_at(0, "a", 1)) << "a device cannot be patched";
    EXPECT_FALSE(out.commit());
    ASSERT_TRUE(zorbrix::write_output_file(null_node, "abc", 3, &error)) << error;
    EXPECT_TRUE(S_ISCHR(mode_of(null_node)));

    // A full device: the failure is reported (at the flush, since writes are buffered).
    EXPECT_FALSE(zorbrix::write_output_file(full_node, "abc", 3, &error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    EXPECT_TRUE(S_ISCHR(mode_of(full_node)));

    // A FIFO with a reader gets every byte and stays a FIFO.
    const std::string fifo = s / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = slurp(fifo); });
    const std::string payload(150000, 'f');
    const bool written = zorbrix::write_output_file(fifo, payload.data(), payload.size(), &error);
    reader.join();
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(received, payload);
    EXPECT_TRUE(S_ISFIFO(mode_of(fifo)));
    EXPECT_EQ(s.names(), (std::vector<std::string>{"fifo", "full", "null"}));
}

TEST(OutputFile, StandardOutputNamesWriteTheDescriptor) {
    Scratch s;
    const std::string captured = s / "captured";
    const int status = in_child([&] {
        const int fd = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        bool ok = zorbrix::write_output_file("-", "one ", 4);
        ok = ok && zorbrix::write_output_file("/dev/stdout", "two ", 4);
        ok = ok && zorbrix::write_output_file("/dev/fd/1", "three", 5);
        ::_exit(ok ? 0 : 1);
    });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(slurp(captured), "one two three");
    EXPECT_EQ(s.names(), std::vector<std::string>{"captured"});
    std::string error;
    EXPECT_FALSE(zorbrix::write_output_file("/dev/fd/987", "x", 1, &error)) << "a closed descriptor";
}

TEST(OutputFile, OutOfSpaceAndSignalsLeaveNoTemporary) {
    Scratch s;
    spit(s / "out", "before");
    // A file-size limit with SIGXFSZ at its default: the process dies of it, the temporary goes with it.
    int status = in_child([&] {
        struct rlimit limit {
            4096, 4096
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        OutputFile out;
        if (!out.open(s / "out")) ::_exit(3);
        out.write(std::string(100000, 'q'));
        out.commit();
        ::_exit(4);
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(s.names(), std::vector<std::string>{"out"});

    // The same limit with SIGXFSZ ignored: the write fails and says so.
    status = in_child([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            4096, 4096
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const std::string big(100000, 'q');
        const bool ok = zorbrix::write_output_file(s / "out", big.data(), big.size(), &error);
        ::_exit(!ok && error.find("too large") != std::string::npos ? 0 : 5);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // Killed mid-write by SIGTERM, SIGINT or SIGHUP: the temporaries of every open output are removed.
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        status = in_child([&] {
            OutputFile first, second;
            first.open(s / "out");
            second.open(s / "other");
            first.write("data");
            first.flush();
            ::raise(signal_number);
            ::_exit(6);
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        EXPECT_EQ(s.names(), std::vector<std::string>{"out"});
    }
    EXPECT_EQ(slurp(s / "out"), "before");
}

// Bytes in a pattern that shows any piece out of place, repeated or lost.
std::string pattern(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 31 + seed * 97 + (i >> 8)) & 0xff);
    return out;
}

TEST(OutputFile, PiecesArriveInOrderWhetherBufferedOrGathered) {
    Scratch s;
    // Small pieces stay in the buffer; a large one leaves with them (and an empty one changes nothing).
    const std::string a = pattern(10, 1), b = pattern(70000, 2), c = pattern(5, 3), d = pattern(300000, 4);
    OutputFile out;
    ASSERT_TRUE(out.open(s / "pieces"));
    ASSERT_TRUE(out.write("head "));
    const OutputFile::Piece small[] = {{a.data(), a.size()}, {c.data(), c.size()}};
    ASSERT_TRUE(out.write(small, 2));
    const OutputFile::Piece large[] = {
        {c.data(), c.size()}, {b.data(), b.size()}, {"", 0}, {a.data(), a.size()}, {d.data(), d.size()}};
    ASSERT_TRUE(out.write(large, 5));
    ASSERT_TRUE(out.write(c));
    ASSERT_TRUE(out.write(b));  // past the buffer on its own, after buffered bytes
    ASSERT_TRUE(out.write_at(0, "H", 1));
    const std::string expected = "Head " + a + c + c + b + a + d + c + b;
    EXPECT_EQ(out.bytes_written(), expected.size());
    std::string error;
    ASSERT_TRUE(out.commit(&error)) << error;
    EXPECT_EQ(slurp(s / "pieces"), expected);

    // More pieces than one gathered call takes, each too large to buffer.
    std::vector<std::string> many;
    std::vector<OutputFile::Piece> list;
    for (unsigned i = 0; i < 40; ++i) many.push_back(pattern(70000 + i, i));
    for (const std::string& m : many) list.push_back({m.data(), m.size()});
    ASSERT_TRUE(out.open(s / "many"));
    ASSERT_TRUE(out.write("x"));
    ASSERT_TRUE(out.write(list.data(), list.size()));
    ASSERT_TRUE(out.commit(&error)) << error;
    std::string all = "x";
    for (const std::string& m : many) all += m;
    EXPECT_EQ(slurp(s / "many"), all);

    // A full device fails the gathered write itself, and every later call with the same message.
    const std::string full_node = s / "full";
    ASSERT_TRUE(make_node(full_node, 1, 7)) << "mknod needs root";
    ASSERT_TRUE(out.open(full_node));
    EXPECT_FALSE(out.write(large, 5));
    EXPECT_NE(out.error().find("cannot write " + full_node + ": No space left"), std::string::npos) << out.error();
    EXPECT_FALSE(out.write(small, 2));
    EXPECT_FALSE(out.commit(&error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
}

// Starting the disk early leaves the bytes, the patching and the all-or-nothing commit as they were.
TEST(OutputFile, EarlyWritebackChangesNothingButTiming) {
    Scratch s;
    spit(s / "video", "an earlier file");
    const std::string first = pattern(300000, 5), second = pattern(1000, 6);
    OutputFile out;
    ASSERT_TRUE(out.open(s / "video"));
    ASSERT_TRUE(out.write(first));
    ASSERT_TRUE(out.write(second));  // still in the buffer: handed over first
    ASSERT_TRUE(out.start_writeback());
    ASSERT_TRUE(out.start_writeback());  // nothing new
    EXPECT_EQ(slurp(s / "video"), "an earlier file") << "visible before commit";
    ASSERT_TRUE(out.write(second));
    ASSERT_TRUE(out.write_at(2, "!", 1));
    ASSERT_TRUE(out.start_writeback());
    std::string error;
    ASSERT_TRUE(out.commit(&error)) << error;
    std::string expected = first + second + second;
    expected[2] = '!';
    EXPECT_EQ(slurp(s / "video"), expected);

    // Abandoned after the disk started on it: the target stays, the temporary goes.
    ASSERT_TRUE(out.open(s / "video"));
    ASSERT_TRUE(out.write(first));
    ASSERT_TRUE(out.start_writeback());
    out.abandon();
    EXPECT_EQ(slurp(s / "video"), expected);
    EXPECT_EQ(s.names(), std::vector<std::string>{"video"});

    // A device takes it as a flush; a failure is reported there like anywhere else.
    const std::string null_node = s / "null", full_node = s / "full";
    ASSERT_TRUE(make_node(null_node, 1, 3) && make_node(full_node, 1, 7)) << "mknod needs root";
    ASSERT_TRUE(out.open(null_node));
    ASSERT_TRUE(out.write("abc"));
    EXPECT_TRUE(out.start_writeback());
    EXPECT_TRUE(out.commit());
    ASSERT_TRUE(out.open(full_node));
    ASSERT_TRUE(out.write("abc"));
    EXPECT_FALSE(out.start_writeback());
    EXPECT_NE(out.error().find("No space left"), std::string::npos) << out.error();
    EXPECT_FALSE(out.commit());
}

// A pipe whose writes are cut short by a signal (no restart): the gathered write carries on from the exact byte
// where the system stopped.
TEST(OutputFile, ShortGatheredWritesResumeWhereTheyStopped) {
    const int status = in_child([] {
        int ends[2];
        if (::pipe(ends) != 0) ::_exit(2);
        // The reader runs with the alarm blocked, so the writer is the thread it interrupts.
        sigset_t alarm, previous;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        pthread_sigmask(SIG_BLOCK, &alarm, &previous);
        std::string received;
        std::thread reader([&] {
            char chunk[3000];
            for (;;) {
                const ssize_t n = ::read(ends[0], chunk, sizeof chunk);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                received.append(chunk, static_cast<std::size_t>(n));
                if (received.size() % 7 == 0) std::this_thread::yield();
            }
        });
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // interrupted writes return what they managed
        sigaction(SIGALRM, &action, nullptr);
        const itimerval every{{0, 100}, {0, 100}};
        setitimer(ITIMER_REAL, &every, nullptr);

        std::string expected;
        {
            OutputFile out;
            if (!out.open("/dev/fd/" + std::to_string(ends[1]))) ::_exit(3);
            for (unsigned frame = 0; frame < 40; ++frame) {
                const std::string y = pattern(196608, frame), u = pattern(49152, frame + 1000),
                                  v = pattern(49152, frame + 2000);
                const OutputFile::Piece pieces[] = {
                    {"FRAME\n", 6}, {y.data(), y.size()}, {u.data(), u.size()}, {v.data(), v.size()}};
                if (!out.write(pieces, 4)) ::_exit(4);
                expected += "FRAME\n" + y + u + v;
            }
            if (!out.commit()) ::_exit(5);
        }
        const itimerval stop{};
        setitimer(ITIMER_REAL, &stop, nullptr);
        ::close(ends[1]);
        reader.join();
        ::_exit(received == expected ? 0 : 6);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(OutputFile, ReadOnlyFolderIsReported) {
    Scratch s;
    fs::create_directory(s.dir / "ro");
    ::chmod((s / "ro").c_str(), 0555);
    ::chmod(s.dir.c_str(), 0755);
    // As root the permission bits do not stop writes, so the check runs as an ordinary user.
    const int status = in_child([&] {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(7);
        std::string error;
        const bool ok = zorbrix::write_output_file(s / "ro/x", "x", 1, &error);
        ::_exit(!ok && error.find("Permission denied") != std::string::npos ? 0 : 8);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::is_empty(s.dir / "ro"));
}

TEST(ReadInputFile, RefusesWhatExceedsTheLimitBeforeOrWhileReading) {
    Scratch s;
    std::vector<unsigned char> bytes;
    std::string error;
    spit(s / "ten", "0123456789");
    ASSERT_TRUE(zorbrix::read_input_file(s / "ten", 10, &bytes, &error)) << error;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789");
    EXPECT_FALSE(zorbrix::read_input_file(s / "ten", 9, &bytes, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_TRUE(bytes.empty());

    // A sparse 3 GiB file is refused by its size, without reading it.
    {
        const int fd = ::open((s / "huge").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_EQ(::ftruncate(fd, 3LL << 30), 0);
        ::close(fd);
    }
    EXPECT_FALSE(zorbrix::read_input_file(s / "huge", 2LL << 30, &bytes, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;

    // An endless device is cut off at the limit, under a memory limit that reading it whole would break.
    ASSERT_TRUE(make_node(s / "zero", 1, 5));
    const int status = in_child([&] {
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory needs far more address space
        struct rlimit limit {
            1LL << 30, 1LL << 30
        };
        ::setrlimit(RLIMIT_AS, &limit);
#endif
        std::vector<unsigned char> got;
        std::string message;
        const bool ok = zorbrix::read_input_file(s / "zero", 64 << 20, &got, &message);
        ::_exit(!ok && message.find("too large") != std::string::npos ? 0 : 9);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_FALSE(zorbrix::read_input_file(s.dir.string(), 100, &bytes, &error));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
    EXPECT_FALSE(zorbrix::read_input_file(s / "missing", 100, &bytes, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}
