// kftool as its users run it: a program with arguments, files in and out, one-line reasons and exit codes.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "loading/archive_writer.h"
#include "loading/resource_archive.h"
#include "tests/support/test_paths.h"

using zorbrix::ArchiveMember;
using zorbrix::build_archive;
using zorbrix::date_stamp_now;
using zorbrix::DateStamp;
using zorbrix::PackForm;

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

class KftoolTest : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(test_output_path("kftool")) / info->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    ToolRun kftool(const std::string& arguments, const std::string& environment = "") const {
        std::string command = "cd '";
        command += dir_.string();
        command += "' && ";
        command += environment;
        command += " '";
        command += build_dir();
        command += "/bin/kftool' ";
        command += arguments;
        command += " > stdout.txt 2> stderr.txt";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read("stdout.txt"), read("stderr.txt")};
    }

    // A shell script run in the test folder, KF standing for the tool; the folder's stdout.txt and stderr.txt get its
    // output. The status is the script's (128 + N when the tool was killed by signal N).
    ToolRun script(const std::string& text) const {
        const std::string tool = build_dir() + "/bin/kftool";
        std::string command = "cd '";
        command += dir_.string();
        command += "' && { ";
        for (size_t from = 0;;) {
            const size_t at = text.find("KF", from);
            command.append(text, from, at == std::string::npos ? std::string::npos : at - from);
            if (at == std::string::npos) break;
            command += '\'';
            command += tool;
            command += '\'';
            from = at + 2;
        }
        command += " ; } > stdout.txt 2> stderr.txt";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read("stdout.txt"), read("stderr.txt")};
    }

    fs::path dir_;
};

std::string random_text(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, ' ');
    for (auto& c : s) c = char(rng());
    return s;
}

TEST_F(KftoolTest, CreatesListsAndExtractsInEveryForm) {
    std::string text;
    for (int i = 0; i < 500; ++i) text += "Compo rules, line " + std::to_string(i % 40) + "\n";
    fs::create_directories(dir_ / "sub");
    write("sub/text.txt", text);
    write("noise.bin", random_text(3000, 1));
    write("empty", "");
    for (const char* form : {"--store", "--lzw", "--zlib", "--best", ""}) {
        SCOPED_TRACE(form);
        const ToolRun create = kftool(std::string("create a.kf ") + form + " sub/text.txt noise.bin empty");
        ASSERT_EQ(create.status, 0) << create.err;
        const ToolRun list = kftool("list a.kf");
        ASSERT_EQ(list.status, 0) << list.err;
        std::istringstream lines(list.out);
        std::string line;
        std::vector<std::vector<std::string>> rows;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream f(line);
            std::string field;
            while (std::getline(f, field, '\t')) fields.push_back(field);
            rows.push_back(fields);
        }
        ASSERT_EQ(rows.size(), 3u) << list.out;
        EXPECT_EQ(rows[0][0], "text.txt") << "entries are named by base name";
        EXPECT_EQ(rows[1][0], "noise.bin");
        for (const auto& row : rows) {
            ASSERT_EQ(row.size(), 5u);
            EXPECT_EQ(row[4].size(), 10u);  // YYYY-MM-DD
        }
        EXPECT_EQ(rows[0][3], std::to_string(text.size()));
        const std::string expected_form = std::string(form) == "--store" ? "stored"
                                          : std::string(form) == "--lzw" ? "lzw"
                                                                         : "zlib";
        EXPECT_EQ(rows[0][1], expected_form);
        if (std::string(form) == "--best" || std::string(form).empty()) {
            EXPECT_EQ(rows[1][1], "stored");
        }

        ASSERT_EQ(kftool("extract a.kf text.txt out.txt").status, 0);
        EXPECT_EQ(read("out.txt"), text);
    }
    const ToolRun to_stdout = kftool("extract a.kf noise.bin -");
    ASSERT_EQ(to_stdout.status, 0);
    EXPECT_EQ(to_stdout.out, read("noise.bin"));
    ASSERT_EQ(kftool("extract a.kf empty out.empty").status, 0);
    EXPECT_EQ(read("out.empty"), "");
}

TEST_F(KftoolTest, AFormAppliesToTheFilesAfterIt) {
    std::string text;
    for (int i = 0; i < 300; ++i) text += "Greetings to everyone at the party\n";
    write("a.txt", text);
    write("b.txt", text);
    write("c.txt", text);
    write("d.txt", text);
    const ToolRun create = kftool("create mixed.kf a.txt --lzw b.txt --zlib c.txt --store d.txt");
    ASSERT_EQ(create.status, 0) << create.err;
    const ToolRun list = kftool("list mixed.kf");
    ASSERT_EQ(list.status, 0) << list.err;
    std::istringstream lines(list.out);
    std::string line, forms;
    while (std::getline(lines, line)) {
        const size_t tab = line.find('\t');
        forms += line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1) + " ";
    }
    // The first file takes the default (the smallest form: zlib for text), then each option its followers.
    EXPECT_EQ(forms, "zlib lzw zlib stored ");
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        ASSERT_EQ(kftool(std::string("extract mixed.kf ") + name + " out.txt").status, 0);
        EXPECT_EQ(read("out.txt"), text) << name;
    }
}

TEST_F(KftoolTest, DatesComeFromTheUtcCalendarAndSourceDateEpoch) {
    write("x", "x");
    ASSERT_EQ(kftool("create a.kf x").status, 0);
    const DateStamp today = date_stamp_now();
    char expected[16];
    std::snprintf(expected, sizeof expected, "%04u-%02u-%02u", today.year, today.month + 1u, today.day);
    EXPECT_NE(kftool("list a.kf").out.find(expected), std::string::npos);

    ASSERT_EQ(kftool("create b.kf x", "SOURCE_DATE_EPOCH=1009152000").status, 0);
    EXPECT_NE(kftool("list b.kf").out.find("2001-12-24"), std::string::npos);
}

TEST_F(KftoolTest, FailuresGiveAOneLineReasonAndNoDamage) {
    write("x", "x");
    write("x2", "y");
    fs::create_directories(dir_ / "other");
    write("other/x", "z");

    ToolRun r = kftool("list missing.kf");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(path("missing.kf"))) << "listing must not create the archive";

    write("not.kf", "this is not an archive, just text that is long enough to hold a header of sixty-four bytes");
    r = kftool("extract not.kf x out");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("not a resource archive"), std::string::npos) << r.err;

    ASSERT_EQ(kftool("create a.kf x").status, 0);
    const std::string before = read("a.kf");
    r = kftool("extract a.kf nothing out");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("no entry named nothing"), std::string::npos);
    EXPECT_FALSE(fs::exists(path("out")));

    r = kftool("create a.kf x other/x");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("two files are named x"), std::string::npos) << r.err;
    r = kftool("create a.kf x missing_file");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("missing_file"), std::string::npos);
    EXPECT_EQ(read("a.kf"), before) << "a failed create leaves the old archive as it was";

    EXPECT_EQ(kftool("").status, 2);
    EXPECT_EQ(kftool("frobnicate").status, 2);
    EXPECT_NE(kftool("create a.kf --fast x").status, 0);
    EXPECT_EQ(kftool("add a.kf x").status, 2) << "archives are rebuilt whole";
}

TEST_F(KftoolTest, DamagedEntriesAreReportedAndTheRestExtracts) {
    const std::string text(4000, 'k');
    write("good.txt", text);
    write("bad.txt", text);
    ASSERT_EQ(kftool("create a.kf --lzw good.txt bad.txt").status, 0);
    std::string archive = read("a.kf");
    // Corrupt the LZW magic of the second entry's data.
    const size_t at = archive.rfind("VYRN");
    ASSERT_NE(at, std::string::npos);
    archive[at] = 'X';
    write("a.kf", archive);
    EXPECT_EQ(kftool("extract a.kf good.txt g").status, 0);
    EXPECT_EQ(read("g"), text);
    const ToolRun r = kftool("extract a.kf bad.txt b");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("cannot be extracted"), std::string::npos);

    // A cut archive: the directory ends early, with a warning, and the first entry still extracts.
    write("cut.kf", archive.substr(0, archive.size() - 10));
    const ToolRun list = kftool("list cut.kf");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.err.find("damaged"), std::string::npos);
    EXPECT_NE(list.out.find("good.txt"), std::string::npos);
    EXPECT_EQ(list.out.find("bad.txt"), std::string::npos);
}

TEST_F(KftoolTest, PacksAndUnpacksRawLzwStreams) {
    std::string data = random_text(20000, 2) + std::string(30000, 'r');
    write("in.bin", data);
    ASSERT_EQ(kftool("lzw-pack in.bin packed.lzw").status, 0);
    EXPECT_EQ(read("packed.lzw").substr(0, 4), "VYRN");
    ASSERT_EQ(kftool("lzw-unpack packed.lzw out.bin").status, 0);
    EXPECT_EQ(read("out.bin"), data);
    const ToolRun r = kftool("lzw-unpack in.bin out2.bin");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("not a valid LZW stream"), std::string::npos);
}

// ---- Outputs that must not be clobbered, failures that must not pass as success ------------------------------------

// The four commands that write a file, each with what it needs in the folder and what its output must hold.
struct Writer {
    const char* name;
    std::string arguments;  // OUT stands for the output
    std::string expected;
};

class KftoolOutputTest : public KftoolTest {
protected:
    void SetUp() override {
        KftoolTest::SetUp();
        data_ = random_text(3000, 7) + std::string(5000, 'z');
        write("in.bin", data_);
        ASSERT_EQ(kftool("lzw-pack in.bin in.lzw").status, 0);
        ASSERT_EQ(kftool("create in.kf --zlib in.bin").status, 0);
        writers_ = {
            {"create", "create OUT in.bin", read("in.kf")},
            {"extract", "extract in.kf in.bin OUT", data_},
            {"lzw-pack", "lzw-pack in.bin OUT", read("in.lzw")},
            {"lzw-unpack", "lzw-unpack in.lzw OUT", data_},
        };
    }

    static std::string with_output(const std::string& arguments, const std::string& out) {
        const size_t at = arguments.find("OUT");
        return arguments.substr(0, at) + out + arguments.substr(at + 3);
    }

    // A device node of our own in the test folder (never the machine's /dev).
    bool node(const std::string& name, unsigned minor_number) const {
        return ::mknod(path(name).c_str(), S_IFCHR | 0666, makedev(1, minor_number)) == 0;
    }

    unsigned mode(const std::string& name) const {
        struct stat info {};
        ::lstat(path(name).c_str(), &info);
        return info.st_mode;
    }

    // The folder's names, without the runner's own stdout.txt and stderr.txt.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string n = e.path().filename().string();
            if (n != "stdout.txt" && n != "stderr.txt") out.push_back(n);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string data_;
    std::vector<Writer> writers_;
};

TEST_F(KftoolOutputTest, DevicesFifosAndSymlinksAreWrittenThroughNeverReplaced) {
    ASSERT_TRUE(node("null", 3) && node("full", 7)) << "mknod needs root";
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    write("real", "old");
    fs::create_symlink("real", dir_ / "link");
    for (const Writer& w : writers_) {
        SCOPED_TRACE(w.name);
        ToolRun r = kftool(with_output(w.arguments, "null"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(S_ISCHR(mode("null")));

        r = kftool(with_output(w.arguments, "full"));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
        EXPECT_TRUE(S_ISCHR(mode("full")));

        // A FIFO with a reader gets the bytes as they are written.
        r = script("cat fifo > from_fifo & KF " + with_output(w.arguments, "fifo") + "; s=$?; wait; exit $s");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read("from_fifo"), w.expected);
        EXPECT_TRUE(S_ISFIFO(mode("fifo")));

        r = kftool(with_output(w.arguments, "link"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
        EXPECT_EQ(read("real"), w.expected);
        write("real", "old");
        fs::remove(path("from_fifo"));
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"fifo", "full", "in.bin", "in.kf", "in.lzw", "link", "null", "real"}));
}

TEST_F(KftoolOutputTest, PlantedSymlinksAtTheOldTemporaryNamesAreLeftAlone) {
    write("victim", "precious");
    for (const Writer& w : writers_) {
        SCOPED_TRACE(w.name);
        for (const char* planted : {"out.kftool-tmp", "out.part"}) fs::create_symlink("victim", dir_ / planted);
        const ToolRun r = kftool(with_output(w.arguments, "out"));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read("out"), w.expected);
        EXPECT_EQ(read("victim"), "precious");
        EXPECT_TRUE(fs::is_symlink(dir_ / "out.kftool-tmp") && fs::is_symlink(dir_ / "out.part"));
        for (const char* planted : {"out", "out.kftool-tmp", "out.part"}) fs::remove(dir_ / planted);
    }
}

TEST_F(KftoolOutputTest, FailedRunsLeaveNeitherAPartialOutputNorATemporary) {
    write("out", "old output");
    ASSERT_TRUE(fs::create_directories(dir_ / "ro"));
    fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    for (const Writer& w : writers_) {
        SCOPED_TRACE(w.name);
        // Out of space through a file-size limit of 1 KiB: the tool dies of SIGXFSZ and takes its temporary along.
        ToolRun r = script("ulimit -f 2; KF " + with_output(w.arguments, "out"));
        EXPECT_EQ(r.status, 128 + SIGXFSZ) << r.err;
        EXPECT_EQ(read("out"), "old output");

        // A folder it may not write to (checked as an ordinary user: the superuser writes anywhere).
        r = script("setpriv --reuid=65534 --regid=65534 --clear-groups KF " + with_output(w.arguments, "ro/out"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot create ro/out: Permission denied"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

        r = kftool(with_output(w.arguments, "missing/out"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "ro"));
    EXPECT_EQ(names(), (std::vector<std::string>{"in.bin", "in.kf", "in.lzw", "out", "ro"}));
}

TEST_F(KftoolOutputTest, InputsBeyondTheFormatsLimitsAreRefusedWithoutExhaustingMemory) {
    // An endless device under a memory limit far below the 2 GiB an entry may hold: a message, not an abort.
    // (The sanitizers' shadow memory cannot live under such a limit, so their build skips this part.)
    ToolRun r;
#ifndef __SANITIZE_ADDRESS__
    ASSERT_TRUE(node("zero", 5));
    r = script("ulimit -v 600000; KF create x.kf zero");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot read zero"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    // A pipe that never ends is cut off as it grows.
    r = script("ulimit -v 600000; cat zero | KF lzw-pack - x.lzw");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot read standard input"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
#endif

    // Sparse files larger than the format holds are refused by their size before a byte is read.
    write("huge", "");
    write("huger", "");
    ASSERT_EQ(::truncate(path("huge").c_str(), 3LL << 30), 0);
    ASSERT_EQ(::truncate(path("huger").c_str(), 5LL << 30), 0);
    r = kftool("create x.kf huge");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("huge is too large"), std::string::npos) << r.err;
    r = kftool("lzw-pack huger x.lzw");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("huger is too large"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("x.kf")) || fs::exists(path("x.lzw")));
}

TEST_F(KftoolOutputTest, ListingEscapesNamesAndChecksStandardOutput) {
    std::vector<ArchiveMember> members;
    for (const std::string& name :
         {std::string("plain.txt"), std::string("two\nlines\tand tab"), std::string("\x1b[31mred"),
          std::string("caf\xc3\xa9 \\ back"), std::string("bad\xff\xc3(utf8\xc2\x9b")}) {
        members.push_back({name, {'x'}, PackForm::stored});
    }
    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_TRUE(build_archive(members, PackForm::stored, DateStamp{2001, 11, 11}, &bytes, &error)) << error;
    write("odd.kf", std::string(bytes.begin(), bytes.end()));
    ToolRun r = kftool("list odd.kf");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "plain.txt\tstored\t1\t1\t2001-12-11\n"
              "two\\x0alines\\x09and tab\tstored\t1\t1\t2001-12-11\n"
              "\\x1b[31mred\tstored\t1\t1\t2001-12-11\n"
              "caf\xc3\xa9 \\x5c back\tstored\t1\t1\t2001-12-11\n"
              "bad\\xff\\xc3(utf8\\xc2\\x9b\tstored\t1\t1\t2001-12-11\n");

    ASSERT_TRUE(node("full", 7));
    for (const char* command : {"list odd.kf", "create new.kf in.bin", "--help", "extract odd.kf plain.txt -"}) {
        SCOPED_TRACE(command);
        r = script("KF " + std::string(command) + " > full");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    }
}

TEST_F(KftoolOutputTest, EntriesWithContradictingSizesAreWarnedAboutAndMissing) {
    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_TRUE(build_archive({{"first", {'1', '1'}, PackForm::stored}, {"second", {'2', '2', '2'}, PackForm::stored}},
                              PackForm::stored, DateStamp{2001, 11, 11}, &bytes, &error));
    std::string archive(bytes.begin(), bytes.end());
    archive[64 + 4] = 40;  // the first entry now claims 40 bytes of its 2
    write("liar.kf", archive);
    ToolRun r = kftool("extract liar.kf first out");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("warning: archive liar.kf: entry \"first\" ignored: stored with 2 bytes but claims 40"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("no entry named first"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("out")));
    r = kftool("extract liar.kf second -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "222");

    // The warning quotes the name escaped, as the listing shows it.
    std::vector<unsigned char> evil_bytes;
    ASSERT_TRUE(build_archive({{"e\x1b[2Jvil", {'1', '1'}, PackForm::stored}}, PackForm::stored,
                              DateStamp{2001, 11, 11}, &evil_bytes, &error));
    std::string evil(evil_bytes.begin(), evil_bytes.end());
    evil[64 + 4] = 40;
    write("evil.kf", evil);
    r = kftool("list evil.kf");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("entry \"e\\x1b[2Jvil\" ignored"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);

    // A header count of 0xFFFFFFFF (-1, so no entries): said, not passed over in silence.
    archive = std::string(bytes.begin(), bytes.end());
    for (int i = 0; i < 4; ++i) archive[20 + i] = '\xff';
    write("count.kf", archive);
    r = kftool("list count.kf");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("warning: archive count.kf: its header announces -1 entries"), std::string::npos) << r.err;
    // A count larger than the file holds: the entries that are there, and where the directory ends.
    archive[20] = 9;
    archive[21] = archive[22] = archive[23] = 0;
    write("count.kf", archive);
    r = kftool("list count.kf");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "first\tstored\t2\t2\t2001-12-11\nsecond\tstored\t3\t3\t2001-12-11\n");
    EXPECT_NE(r.err.find("announces 9 entries"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
}

}  // namespace
