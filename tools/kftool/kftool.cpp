// kftool: the resource archive tool.
//   kftool create ARCHIVE [--store|--lzw|--zlib|--best] FILE...
//   kftool list ARCHIVE
//   kftool extract ARCHIVE NAME OUT        (OUT "-" is standard output)
//   kftool lzw-pack IN OUT
//   kftool lzw-unpack IN OUT
// Archives are always written whole; list and extract use the intro's own reader.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "loading/archive_writer.h"
#include "loading/lzw.h"
#include "loading/resource_archive.h"
#include "platform/output_file.h"
#include "platform/tool_main.h"

using zorbrix::ArchiveEntryReport;
using zorbrix::ArchiveMember;
using zorbrix::build_archive;
using zorbrix::date_stamp_now;
using zorbrix::lzw_pack;
using zorbrix::LzwUnpack;
using zorbrix::PACK_LZW;
using zorbrix::PACK_STORED;
using zorbrix::PACK_ZLIB;
using zorbrix::PackForm;
using zorbrix::ResourceArchive;
using zorbrix::set_load_diagnostic_sink;

namespace {

const char kUsage[] =
    "usage: kftool create ARCHIVE [--store|--lzw|--zlib|--best] FILE... (a form applies to the files after it)\n"
    "       kftool list ARCHIVE\n"
    "       kftool extract ARCHIVE NAME OUT   (OUT - for standard output)\n"
    "       kftool lzw-pack IN OUT\n"
    "       kftool lzw-unpack IN OUT\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int failure(const std::string& message) {
    std::fprintf(stderr, "kftool: %s\n", message.c_str());
    return 1;
}

// Inputs are refused before they are read when larger than the format holds; streams without a size (a pipe,
// /dev/zero) are cut off at the same limit as they grow.
constexpr uint64_t kMemberLimit = uint64_t(INT32_MAX);  // an archive entry: 2 GiB less a byte
constexpr uint64_t kStreamLimit = UINT32_MAX;           // an LZW stream and what it packs: 4 GiB less a byte

bool read_file(const std::string& path, uint64_t limit, std::vector<unsigned char>* data, std::string* error) {
    return zorbrix::read_input_file(path, limit, data, error);
}

bool write_file(const std::string& path, const unsigned char* data, size_t size, std::string* error) {
    return zorbrix::write_output_file(path, data, size, error);
}

// Standard output is checked once everything is printed: a full disk or a closed pipe is a failure, not success.
int finish_stdout() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        return failure(std::string("cannot write to standard output: ") + std::strerror(errno));
    }
    return 0;
}

// An entry name as one printable field: valid UTF-8 text stays, control characters (tab and newline included),
// C1 controls, bytes that are not UTF-8 and the backslash itself are written as \xNN, so no name can move the
// cursor, recolour the terminal or forge a line of the listing.
std::string printable_name(const std::string& name) {
    std::string out;
    auto escape = [&out](unsigned char byte) {
        char text[5];
        std::snprintf(text, sizeof text, "\\x%02x", byte);
        out += text;
    };
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const size_t n = name.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7f || c == '\\')
                escape(c);
            else
                out.push_back(char(c));
            ++i;
            continue;
        }
        // The length and smallest code point of a UTF-8 sequence starting with c.
        size_t length = 0;
        uint32_t code = 0, minimum = 0;
        if ((c & 0xe0) == 0xc0)
            length = 2, code = c & 0x1f, minimum = 0x80;
        else if ((c & 0xf0) == 0xe0)
            length = 3, code = c & 0x0f, minimum = 0x800;
        else if ((c & 0xf8) == 0xf0)
            length = 4, code = c & 0x07, minimum = 0x10000;
        bool valid = length > 0 && i + length <= n;
        for (size_t k = 1; valid && k < length; ++k) {
            if ((p[i + k] & 0xc0) != 0x80)
                valid = false;
            else
                code = code << 6 | (p[i + k] & 0x3f);
        }
        valid = valid && code >= minimum && code <= 0x10ffff && !(code >= 0xd800 && code <= 0xdfff) &&
                !(code >= 0x80 && code <= 0x9f);
        if (!valid) {
            escape(c);
            ++i;
            continue;
        }
        out.append(name, i, length);
        i += length;
    }
    return out;
}

// The reader's warnings quote entry names: they are escaped like the listing.
void show_diagnostic(const char* text) { std::fprintf(stderr, "kftool: warning: %s\n", printable_name(text).c_str()); }

std::string form_name(uint32_t flags) {
    switch (flags) {
    case PACK_STORED: return "stored";
    case PACK_LZW: return "lzw";
    case PACK_ZLIB: return "zlib";
    default: return std::to_string(flags);
    }
}

// The reader creates a missing archive; the tool must not, so it first checks the file is there.
bool open_existing(ResourceArchive& archive, const std::string& path, std::string* error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        *error = "cannot open archive " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = "cannot open archive " + path + ": not a regular file";
        return false;
    }
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        *error = "cannot open archive " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!archive.open(path.c_str())) {
        *error = "cannot open archive " + path + ": not a resource archive (bad header, magic or version)";
        return false;
    }
    if (!archive.directory_problem().empty()) {
        std::fprintf(stderr, "kftool: warning: %s is damaged, its directory ends early (%s)\n", path.c_str(),
                     archive.directory_problem().c_str());
    }
    return true;
}

int create(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string archive_path = argv[2];
    // A form option applies to the files that follow it, so one archive can mix forms:
    //   kftool create data.kf --lzw *.tga --zlib music.xm --store video.nvd
    PackForm form = PackForm::best;
    std::vector<ArchiveMember> members;
    uint64_t total = 0;
    std::string error;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--store")
            form = PackForm::stored;
        else if (arg == "--lzw")
            form = PackForm::lzw;
        else if (arg == "--zlib")
            form = PackForm::zlib;
        else if (arg == "--best")
            form = PackForm::best;
        else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0)
            return failure("unknown option " + arg);
        else {
            ArchiveMember member;
            member.name = std::filesystem::path(arg).filename().string();
            member.form = form;
            if (!read_file(arg, kMemberLimit, &member.data, &error)) return failure(error);
            total += member.data.size();
            if (total > UINT32_MAX)
                return failure("cannot create " + archive_path + ": the archive would exceed 4 GiB");
            members.push_back(std::move(member));
        }
    }
    std::vector<unsigned char> archive;
    std::vector<ArchiveEntryReport> report;
    if (!build_archive(members, PackForm::best, date_stamp_now(), &archive, &error, &report)) {
        return failure("cannot create " + archive_path + ": " + error);
    }
    if (!write_file(archive_path, archive.data(), archive.size(), &error)) return failure(error);
    total = 0;
    for (const ArchiveEntryReport& r : report) total += r.unpacked_size;
    std::printf("%s: %zu entries, %llu bytes of files in %zu bytes\n", archive_path.c_str(), report.size(),
                static_cast<unsigned long long>(total), archive.size());
    return finish_stdout();
}

int list(int argc, char** argv) {
    if (argc != 3) return usage();
    ResourceArchive archive;
    std::string error;
    if (!open_existing(archive, argv[2], &error)) return failure(error);
    for (const ResourceArchive::entry_t& e : archive.entries()) {
        std::printf("%s\t%s\t%u\t%u\t%04u-%02u-%02u\n", printable_name(e.name).c_str(), form_name(e.flags).c_str(),
                    e.stored_length, e.unpacked_size, unsigned(e.year), unsigned(e.month) + 1, unsigned(e.day));
    }
    return finish_stdout();
}

int extract(int argc, char** argv) {
    if (argc != 5) return usage();
    ResourceArchive archive;
    std::string error;
    if (!open_existing(archive, argv[2], &error)) return failure(error);
    const char* name = argv[3];
    if (archive.find(name) < 0) {
        return failure("no entry named " + printable_name(name) + " in " + argv[2]);
    }
    unsigned char* data = archive.extract(name);
    if (!data)
        return failure("entry " + printable_name(name) +
                       " cannot be extracted: its data is damaged or of an unknown form");
    const bool ok = write_file(argv[4], data, size_t(archive.entry_size(name)), &error);
    std::free(data);
    return ok ? 0 : failure(error);
}

int lzw_pack_file(int argc, char** argv) {
    if (argc != 4) return usage();
    std::vector<unsigned char> data, packed;
    std::string error;
    if (!read_file(argv[2], kStreamLimit, &data, &error)) return failure(error);
    if (!lzw_pack(data.data(), data.size(), &packed))
        return failure(std::string(argv[2]) + " is too large (4 GiB at most)");
    return write_file(argv[3], packed.data(), packed.size(), &error) ? 0 : failure(error);
}

int lzw_unpack_file(int argc, char** argv) {
    if (argc != 4) return usage();
    std::vector<unsigned char> packed;
    std::string error;
    if (!read_file(argv[2], kStreamLimit, &packed, &error)) return failure(error);
    uint32_t length = 0;
    unsigned char* data = LzwUnpack(packed.data(), packed.size(), &length);
    if (!data) return failure(std::string(argv[2]) + " is not a valid LZW stream");
    const bool ok = write_file(argv[3], data, length, &error);
    std::free(data);
    return ok ? 0 : failure(error);
}

int run(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "create") return create(argc, argv);
    if (command == "list") return list(argc, argv);
    if (command == "extract") return extract(argc, argv);
    if (command == "lzw-pack") return lzw_pack_file(argc, argv);
    if (command == "lzw-unpack") return lzw_unpack_file(argc, argv);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return finish_stdout();
    }
    std::fprintf(stderr, "kftool: unknown command %s\n", printable_name(command).c_str());
    return usage();
}

}  // namespace

int main(int argc, char** argv) {
    // The archive reader's warnings (entries it refuses, counts the file cannot hold) are shown.
    set_load_diagnostic_sink(show_diagnostic);
    return zorbrix::run_tool("kftool", run, argc, argv);
}
