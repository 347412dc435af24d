// zorbrix-assets as its users run it: every file appears whole or not at all, special outputs already in the folder
// are written through rather than replaced, and a failure is one line and status 1.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/test_files.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `prefix` zorbrix-assets OUT in `dir`; standard error lands in dir/err.txt. The shell's status (128 + N when
// the tool was killed by signal N).
int run_assets(const fs::path& dir, const std::string& prefix, const std::string& out) {
    std::string command = "cd '";
    command += dir.string();
    command += "' && { ";
    command += prefix;
    command += " '";
    command += build_dir();
    command += "/bin/zorbrix-assets' ";
    command += out;
    command += " ; } > /dev/null 2> err.txt";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

TEST(AssetsTool, FailuresAreReportedAndLeaveOnlyCompleteFiles) {
    const fs::path dir = test_output_path("assets_tool_failures");
    fs::remove_all(dir);
    fs::create_directories(dir / "ro");
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    // A folder it may not write to, checked as an ordinary user (the superuser writes anywhere).
    EXPECT_EQ(run_assets(dir, "setpriv --reuid=65534 --regid=65534 --clear-groups", "ro"), 1);
    std::string err = read_file(dir / "err.txt");
    EXPECT_NE(err.find("zorbrix-assets: pictures: cannot create ro/"), std::string::npos) << err;
    EXPECT_NE(err.find("Permission denied"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_empty(dir / "ro"));

    // A folder that cannot be made.
    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(run_assets(dir, "", "file/out"), 1);
    EXPECT_NE(read_file(dir / "err.txt").find("cannot create file/out"), std::string::npos)
        << read_file(dir / "err.txt");

    // Out of space through a file-size limit: killed by SIGXFSZ, and the file being written goes with it.
    fs::create_directories(dir / "limited");
    EXPECT_EQ(run_assets(dir, "ulimit -f 16;", "limited"), 128 + SIGXFSZ);
    for (const auto& e : fs::directory_iterator(dir / "limited")) {
        EXPECT_NE(e.path().filename().string()[0], '.') << "a temporary stayed: " << e.path();
        EXPECT_LE(fs::file_size(e.path()), 16u * 512u);
        EXPECT_EQ(read_file(e.path()).size(), fs::file_size(e.path()));
    }

    // A full device where the soundtrack goes: the pictures are written, the soundtrack fails, the device stays.
    fs::create_directories(dir / "full");
    ASSERT_TRUE(make_char_node(dir / "full/ambient3.xm", 7)) << "mknod needs root";
    EXPECT_EQ(run_assets(dir, "", "full"), 1);
    err = read_file(dir / "err.txt");
    EXPECT_NE(err.find("zorbrix-assets: soundtrack: cannot write full/ambient3.xm: No space left on device"),
              std::string::npos)
        << err;
    EXPECT_TRUE(is_char_device(dir / "full/ambient3.xm"));
    EXPECT_TRUE(names_in(dir / "full").count("tekst.tga"));
    for (const std::string& name : names_in(dir / "full")) EXPECT_NE(name[0], '.') << name;
}

// Options are never taken for the output folder: help is printed, anything else is refused, nothing is written.
TEST(AssetsTool, OptionsAreNotFolderNames) {
    const fs::path dir = test_output_path("assets_tool_options");
    fs::remove_all(dir);
    fs::create_directories(dir);
    EXPECT_EQ(run_assets(dir, "", "--help"), 0);
    EXPECT_EQ(run_assets(dir, "", "-o"), 2);
    EXPECT_NE(read_file(dir / "err.txt").find("usage: zorbrix-assets OUTDIR"), std::string::npos);
    EXPECT_EQ(names_in(dir), std::set<std::string>{"err.txt"});
}

TEST(AssetsTool, DevicesAndSymlinksInTheFolderAreWrittenThrough) {
    const fs::path dir = test_output_path("assets_tool_special");
    fs::remove_all(dir);
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "elsewhere");
    ASSERT_TRUE(make_char_node(dir / "out/ambient3.xm", 3));
    fs::create_symlink("../elsewhere/scroller.tga", dir / "out/tekst.tga");
    EXPECT_EQ(run_assets(dir, "", "out"), 0) << read_file(dir / "err.txt");
    EXPECT_TRUE(is_char_device(dir / "out/ambient3.xm"));
    EXPECT_TRUE(fs::is_symlink(dir / "out/tekst.tga"));
    EXPECT_EQ(fs::file_size(dir / "elsewhere/scroller.tga"), 18u + 512u * 2304u * 4u);
    EXPECT_EQ(names_in(dir / "elsewhere"), std::set<std::string>{"scroller.tga"});
    for (const std::string& name : names_in(dir / "out")) EXPECT_NE(name[0], '.') << name;
    EXPECT_TRUE(names_in(dir / "out").count("zorbrix.nvd"));
}

}  // namespace
