#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "loading/file_load.h"
#include "loading/lzw.h"
#include "loading/resource_archive.h"
#include "tests/support/test_paths.h"

using zorbrix::date_stamp_now;
using zorbrix::DateStamp;
using zorbrix::file_init;
using zorbrix::file_load;
using zorbrix::file_shutdown;
using zorbrix::g_resource_archive;
using zorbrix::kArchiveVersion;
using zorbrix::LoadDiagnosticSink;
using zorbrix::lzw_pack;
using zorbrix::PACK_LZW;
using zorbrix::PACK_STORED;
using zorbrix::PACK_ZLIB;
using zorbrix::ResourceArchive;
using zorbrix::set_load_diagnostic_sink;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

void put32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// One record as laid out in the file; the fields default to a sound record.
struct Record {
    std::string name;
    Bytes data;  // as stored
    uint32_t flags = PACK_STORED;
    int64_t unpacked_size = -1;  // default: data.size()
    std::string second;
    int64_t record_length = -1;  // default: the true length
};

// An archive written byte by byte from the layout, independently of the archive writer.
Bytes archive_bytes(const std::vector<Record>& records, int64_t count = -1, uint32_t version = kArchiveVersion) {
    Bytes out = bytes_of("[KOFFER]");
    put32(out, version);
    put32(out, 0x0B0107D1);  // 2001-12-11
    put32(out, 0x0B0107D1);
    put32(out, uint32_t(count < 0 ? int64_t(records.size()) : count));
    out.resize(64, 0);
    for (const Record& r : records) {
        const uint32_t length = uint32_t(64 + r.name.size() + 1 + r.second.size() + 1 + r.data.size());
        put32(out, r.record_length < 0 ? length : uint32_t(r.record_length));
        put32(out, uint32_t(r.unpacked_size < 0 ? int64_t(r.data.size()) : r.unpacked_size));
        put32(out, uint32_t(r.data.size()));
        put32(out, r.flags);
        put32(out, 0x0B0107D1);
        out.resize(out.size() + 44, 0);
        out.insert(out.end(), r.name.begin(), r.name.end());
        out.push_back(0);
        out.insert(out.end(), r.second.begin(), r.second.end());
        out.push_back(0);
        out.insert(out.end(), r.data.begin(), r.data.end());
    }
    return out;
}

Bytes lzw(const Bytes& data) {
    Bytes packed;
    lzw_pack(data.data(), data.size(), &packed);
    return packed;
}

Bytes zlib(const Bytes& data) {
    uLongf length = compressBound(uLong(data.size()));
    Bytes packed(length);
    compress2(packed.data(), &length, data.data(), uLong(data.size()), 9);
    packed.resize(length);
    return packed;
}

class ArchiveTest : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(test_output_path("loading")) / (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "data");
        loose_ = (dir_ / "data").string() + "/";
    }
    void TearDown() override { file_shutdown(); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    void write(const std::string& file, const Bytes& bytes) const {
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }

    // file_load, its result copied out and released; ok is false for null.
    struct Loaded {
        bool ok = false;
        Bytes data;
        int size = -7;
    };
    static Loaded load(const char* name) {
        Loaded result;
        unsigned char* data = file_load(name, &result.size);
        if (data) {
            result.ok = true;
            result.data.assign(data, data + result.size);
            std::free(data);
        }
        return result;
    }

    fs::path dir_;
    std::string loose_;
};

TEST_F(ArchiveTest, ReadsEveryFormAndFlagsThreeAsStored) {
    const Bytes text = bytes_of(std::string(3000, 'x') + "the end");
    write(path("a.kf"), archive_bytes({
                            {"stored.txt", text, PACK_STORED},
                            {"packed.txt", lzw(text), PACK_LZW, int64_t(text.size())},
                            {"deflated.txt", zlib(text), PACK_ZLIB, int64_t(text.size())},
                            {"both.txt", text, PACK_STORED | PACK_LZW},
                            {"empty.txt", {}, PACK_STORED},
                        }));
    ASSERT_TRUE(file_init(path("a.kf").c_str(), loose_.c_str()));
    for (const char* name : {"stored.txt", "packed.txt", "deflated.txt", "both.txt"}) {
        SCOPED_TRACE(name);
        const Loaded l = load(name);
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(l.size, int(text.size()));
        EXPECT_EQ(l.data, text);
    }
    const Loaded empty = load("empty.txt");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.size, 0);
}

TEST_F(ArchiveTest, LooksUpCaseSensitivelyAndTakesTheFirstOfTwoEqualNames) {
    write(path("a.kf"), archive_bytes({{"intro_1.tga", bytes_of("first")}, {"intro_1.tga", bytes_of("second")}}));
    ResourceArchive archive;
    ASSERT_TRUE(archive.open(path("a.kf").c_str()));
    EXPECT_EQ(archive.find("intro_1.tga"), 0);
    EXPECT_EQ(archive.find("Intro_1.tga"), -1);
    EXPECT_EQ(archive.find("intro_1.tg"), -1);
    EXPECT_EQ(archive.entry_size("Intro_1.tga"), -1);
    unsigned char* data = archive.extract("intro_1.tga");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 5), "first");
    std::free(data);
    EXPECT_EQ(archive.extract("Intro_1.tga"), nullptr);
    EXPECT_TRUE(archive.close());
    EXPECT_TRUE(archive.close()) << "closing twice is harmless";
    EXPECT_EQ(archive.find("intro_1.tga"), -1);
}

TEST_F(ArchiveTest, FallsBackToTheLooseFileDirectory) {
    write(loose_ + "only_loose.txt", bytes_of("loose"));
    write(loose_ + "both.txt", bytes_of("loose copy"));
    write(path("a.kf"), archive_bytes({{"both.txt", bytes_of("archived")}, {"broken.txt", bytes_of("??"), 0}}));
    write(loose_ + "broken.txt", bytes_of("loose broken"));
    ASSERT_TRUE(file_init(path("a.kf").c_str(), loose_.c_str()));
    EXPECT_EQ(load("both.txt").data, bytes_of("archived"));
    EXPECT_EQ(load("only_loose.txt").data, bytes_of("loose"));
    EXPECT_EQ(load("broken.txt").data, bytes_of("loose broken")) << "an entry of no known form falls back";
    const Loaded missing = load("missing.txt");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.size, -7) << "the size is not written on failure";

    // Count 0: everything comes from the directory.
    file_shutdown();
    write(path("empty.kf"), archive_bytes({}));
    ASSERT_TRUE(file_init(path("empty.kf").c_str(), loose_.c_str()));
    EXPECT_EQ(load("both.txt").data, bytes_of("loose copy"));

    // No archive at all.
    file_shutdown();
    ASSERT_TRUE(file_init(nullptr, loose_.c_str()));
    EXPECT_EQ(load("both.txt").data, bytes_of("loose copy"));
    EXPECT_FALSE(load("").ok) << "the directory itself is not a file";
}

TEST_F(ArchiveTest, AMissingArchiveIsCreatedEmptyAndABadOneFailsTheInit) {
    const std::string created = path("new.kf");
    ASSERT_TRUE(file_init(created.c_str(), loose_.c_str()));
    EXPECT_TRUE(g_resource_archive.created());
    std::ifstream in(created, std::ios::binary);
    const Bytes header((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(header.size(), 64u);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 8), "[KOFFER]");
    EXPECT_EQ(header[8] | header[9] << 8 | header[10] << 16 | header[11] << 24, 0x00010000);
    EXPECT_EQ(header[20] | header[21] | header[22] | header[23], 0);
    const DateStamp today = date_stamp_now();
    EXPECT_EQ(header[12] | header[13] << 8, today.year);
    EXPECT_EQ(header[14], today.month);
    EXPECT_EQ(header[15], today.day);
    file_shutdown();
    // Reopened, it is an ordinary empty archive.
    ASSERT_TRUE(file_init(created.c_str(), loose_.c_str()));
    EXPECT_FALSE(g_resource_archive.created());
    EXPECT_TRUE(g_resource_archive.entries().empty());
    file_shutdown();

    Bytes wrong_magic = archive_bytes({});
    wrong_magic[1] = 'C';
    write(path("magic.kf"), wrong_magic);
    write(path("version.kf"), archive_bytes({}, -1, 0x00020000));
    Bytes short_header = archive_bytes({});
    short_header.resize(63);
    write(path("short.kf"), short_header);
    write("loose_in_cwd.txt", bytes_of("cwd"));
    for (const char* bad : {"magic.kf", "version.kf", "short.kf"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(file_init(path(bad).c_str(), loose_.c_str()));
        // The directory is not recorded: names are then looked up as they are, relative to the working directory.
        EXPECT_EQ(load("loose_in_cwd.txt").data, bytes_of("cwd"));
        file_shutdown();
    }
    fs::remove("loose_in_cwd.txt");
}

TEST_F(ArchiveTest, ReportsTheDirectorysUnpackedSizeEvenWhenTheLzwHeaderDiffers) {
    const Bytes data = bytes_of("abcdefghij");
    // The stream's own header says 10 bytes; the directory says 6 (the caller gets 6) or 14 (the rest is zero).
    write(path("a.kf"), archive_bytes({{"smaller", lzw(data), PACK_LZW, 6}, {"larger", lzw(data), PACK_LZW, 14}}));
    ASSERT_TRUE(file_init(path("a.kf").c_str(), loose_.c_str()));
    const Loaded smaller = load("smaller");
    ASSERT_TRUE(smaller.ok);
    EXPECT_EQ(smaller.data, bytes_of("abcdef"));
    const Loaded larger = load("larger");
    ASSERT_TRUE(larger.ok);
    Bytes expected = data;
    expected.resize(14, 0);
    EXPECT_EQ(larger.data, expected);
}

// Damage ends the directory at the last sound record; the records before it stay usable, and damaged data gives
// null (so file_load falls back to the loose file).
TEST_F(ArchiveTest, DamagedArchivesKeepTheirSoundRecords) {
    const Record good{"good.txt", bytes_of("good")};
    const Record tail{"tail.txt", bytes_of("tail")};
    struct Case {
        const char* what;
        Bytes bytes;
    };
    std::vector<Case> cases;
    {
        Record r{"bad.txt", bytes_of("xxxx")};
        r.record_length = 64 + 4;  // no room for the name area
        cases.push_back({"record length too small", archive_bytes({good, r, tail})});
    }
    {
        Record r{"bad.txt", bytes_of("xxxx")};
        r.record_length = 64 + 8 + 4 + 3;  // name area with bytes after the second string
        Bytes b = archive_bytes({good, r, tail});
        cases.push_back({"name area not exactly two strings", b});
    }
    {
        Bytes b = archive_bytes({good, Record{"bad.txt", bytes_of("xxxxxxxx")}});
        b.resize(b.size() - 3);
        cases.push_back({"data beyond the end of the file", b});
    }
    cases.push_back({"entry count the file cannot hold", archive_bytes({good}, 0x7FFFFFFF)});
    {
        Bytes b = archive_bytes({good, tail});
        // Remove the NULs of the second record's name area.
        const size_t at = 64 + 64 + 8 + 1 + 1 + 4 + 64;
        std::memset(b.data() + at, 'n', 10);
        cases.push_back({"name area without NULs", b});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write(path("a.kf"), c.bytes);
        ResourceArchive archive;
        ASSERT_TRUE(archive.open(path("a.kf").c_str()));
        ASSERT_EQ(archive.entries().size(), 1u);
        EXPECT_FALSE(archive.directory_problem().empty());
        unsigned char* data = archive.extract("good.txt");
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::memcmp(data, "good", 4), 0);
        std::free(data);
        EXPECT_EQ(archive.find("tail.txt"), -1);
    }

    // Entries whose data cannot be read or unpacked whole.
    const Bytes text = bytes_of(std::string(500, 'q'));
    Bytes bad_lzw = lzw(text);
    bad_lzw[0] = 'X';
    Bytes bad_zlib = zlib(text);
    bad_zlib[bad_zlib.size() / 2] ^= 0x55;
    write(path("b.kf"), archive_bytes({
                            {"stored_too_long", bytes_of("short"), PACK_STORED, 1 << 20},
                            {"lzw_bad_magic", bad_lzw, PACK_LZW, 500},
                            {"zlib_damaged", bad_zlib, PACK_ZLIB, 500},
                            {"zlib_short", zlib(text), PACK_ZLIB, 600},
                            {"zlib_long", zlib(text), PACK_ZLIB, 400},
                            {"lzw_huge_size", lzw(text), PACK_LZW, 0xFFFFFFF0u},
                            {"zlib_huge_size", zlib(text), PACK_ZLIB, 0x7FFFFFF0u},
                        }));
    ASSERT_TRUE(file_init(path("b.kf").c_str(), loose_.c_str()));
    for (const auto& e : g_resource_archive.entries()) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(g_resource_archive.extract(e.name.c_str()), nullptr);
        write(loose_ + e.name, bytes_of("loose"));
        EXPECT_EQ(load(e.name.c_str()).data, bytes_of("loose"));
    }
}

TEST_F(ArchiveTest, EntriesWhoseSizesContradictEachOtherCountAsMissingWithAWarning) {
    static std::vector<std::string> seen;
    seen.clear();
    const LoadDiagnosticSink previous = set_load_diagnostic_sink([](const char* text) { seen.push_back(text); });
    // A stored entry claiming 10 more bytes than it stores: the bytes would come from the next record.
    write(path("a.kf"), archive_bytes({
                            {"good.txt", bytes_of("good")},
                            {"liar.txt", bytes_of("short"), PACK_STORED, 15},
                            {"tail.txt", bytes_of("tail and more bytes")},
                        }));
    write(loose_ + "liar.txt", bytes_of("loose liar"));
    ASSERT_TRUE(file_init(path("a.kf").c_str(), loose_.c_str()));
    EXPECT_EQ(g_resource_archive.find("liar.txt"), -1);
    EXPECT_TRUE(g_resource_archive.directory_problem().empty());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].find("\"liar.txt\" ignored"), std::string::npos) << seen[0];
    EXPECT_EQ(load("liar.txt").data, bytes_of("loose liar"));
    EXPECT_EQ(load("tail.txt").data, bytes_of("tail and more bytes"));
    EXPECT_EQ(load("good.txt").data, bytes_of("good"));
    file_shutdown();

    // Counts the file cannot hold: a warning. A negative count (0xFFFFFFFF is -1) still means no entries; a too
    // large one gives the sound records and the problem where the directory ends.
    for (const uint32_t count : {0xFFFFFFFFu, 0x80000000u, 3u, 2u}) {
        SCOPED_TRACE(count);
        seen.clear();
        write(path("b.kf"), archive_bytes({{"one.txt", bytes_of("1")}, {"two.txt", bytes_of("2")}}, count));
        ResourceArchive archive;
        ASSERT_TRUE(archive.open(path("b.kf").c_str()));
        EXPECT_EQ(archive.entries().size(), count >= 0x80000000u ? 0u : 2u);
        EXPECT_EQ(archive.directory_problem().find("beyond the end") != std::string::npos, count == 3u);
        ASSERT_EQ(seen.size(), count == 2u ? 0u : 1u);
        if (!seen.empty()) {
            EXPECT_NE(seen[0].find("announces " + std::to_string(int32_t(count)) + " entries, which its"),
                      std::string::npos)
                << seen[0];
        }
    }
    set_load_diagnostic_sink(previous);
}

TEST_F(ArchiveTest, DiagnosticsGoOnlyToAnInstalledSink) {
    static std::vector<std::string> seen;
    seen.clear();
    ASSERT_TRUE(file_init(nullptr, loose_.c_str()));
    load("nowhere.txt");
    EXPECT_TRUE(seen.empty());
    const LoadDiagnosticSink previous = set_load_diagnostic_sink([](const char* text) { seen.push_back(text); });
    load("nowhere.txt");
    set_load_diagnostic_sink(previous);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "file_load() - nowhere.txt not found in archive, loading from " + loose_);
    EXPECT_EQ(seen[1], "file_load() - nowhere.txt not found on disk!");
}

}  // namespace
