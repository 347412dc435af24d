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

bool read_file(const std::string& path, std::vector<unsigned char>* data, std::string* error) {
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        if (file != stdin) std::fclose(file);
        *error = "cannot read " + path + ": it is a directory";
        return false;
    }
    data->clear();
    unsigned char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) data->insert(data->end(), buffer, buffer + n);
    const bool ok = !std::ferror(file);
    if (file != stdin) std::fclose(file);
    if (!ok) *error = "cannot read " + path;
    return ok;
}

// Writes through a temporary file renamed into place, so a failed run leaves no half-written output behind.
bool write_file(const std::string& path, const unsigned char* data, size_t size, std::string* error) {
    if (path == "-") {
        if (std::fwrite(data, 1, size, stdout) != size || std::fflush(stdout) != 0) {
            *error = "cannot write to standard output";
            return false;
        }
        return true;
    }
    const std::string temporary = path + ".kftool-tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

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
    std::string error;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--store") form = PackForm::stored;
        else if (arg == "--lzw") form = PackForm::lzw;
        else if (arg == "--zlib") form = PackForm::zlib;
        else if (arg == "--best") form = PackForm::best;
        else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) return failure("unknown option " + arg);
        else {
            ArchiveMember member;
            member.name = std::filesystem::path(arg).filename().string();
            member.form = form;
            if (!read_file(arg, &member.data, &error)) return failure(error);
            members.push_back(std::move(member));
        }
    }
    std::vector<unsigned char> archive;
    std::vector<ArchiveEntryReport> report;
    if (!build_archive(members, PackForm::best, date_stamp_now(), &archive, &error, &report)) {
        return failure("cannot create " + archive_path + ": " + error);
    }
    if (!write_file(archive_path, archive.data(), archive.size(), &error)) return failure(error);
    uint64_t total = 0;
    for (const ArchiveEntryReport& r : report) total += r.unpacked_size;
    std::printf("%s: %zu entries, %llu bytes of files in %zu bytes\n", archive_path.c_str(), report.size(),
                static_cast<unsigned long long>(total), archive.size());
    return 0;
}

int list(int argc, char** argv) {
    if (argc != 3) return usage();
    ResourceArchive archive;
    std::string error;
    if (!open_existing(archive, argv[2], &error)) return failure(error);
    for (const ResourceArchive::entry_t& e : archive.entries()) {
        std::printf("%s\t%s\t%u\t%u\t%04u-%02u-%02u\n", e.name.c_str(), form_name(e.flags).c_str(), e.stored_length,
                    e.unpacked_size, unsigned(e.year), unsigned(e.month) + 1, unsigned(e.day));
    }
    return 0;
}

int extract(int argc, char** argv) {
    if (argc != 5) return usage();
    ResourceArchive archive;
    std::string error;
    if (!open_existing(archive, argv[2], &error)) return failure(error);
    const char* name = argv[3];
    if (archive.find(name) < 0) return failure(std::string("no entry named ") + name + " in " + argv[2]);
    unsigned char* data = archive.extract(name);
    if (!data) return failure(std::string("entry ") + name + " cannot be extracted: its data is damaged or of an unknown form");
    const bool ok = write_file(argv[4], data, size_t(archive.entry_size(name)), &error);
    std::free(data);
    return ok ? 0 : failure(error);
}

int lzw_pack_file(int argc, char** argv) {
    if (argc != 4) return usage();
    std::vector<unsigned char> data, packed;
    std::string error;
    if (!read_file(argv[2], &data, &error)) return failure(error);
    if (!lzw_pack(data.data(), data.size(), &packed)) return failure(std::string(argv[2]) + " is too large (4 GiB at most)");
    return write_file(argv[3], packed.data(), packed.size(), &error) ? 0 : failure(error);
}

int lzw_unpack_file(int argc, char** argv) {
    if (argc != 4) return usage();
    std::vector<unsigned char> packed;
    std::string error;
    if (!read_file(argv[2], &packed, &error)) return failure(error);
    uint32_t length = 0;
    unsigned char* data = LzwUnpack(packed.data(), packed.size(), &length);
    if (!data) return failure(std::string(argv[2]) + " is not a valid LZW stream");
    const bool ok = write_file(argv[3], data, length, &error);
    std::free(data);
    return ok ? 0 : failure(error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "create") return create(argc, argv);
    if (command == "list") return list(argc, argv);
    if (command == "extract") return extract(argc, argv);
    if (command == "lzw-pack") return lzw_pack_file(argc, argv);
    if (command == "lzw-unpack") return lzw_unpack_file(argc, argv);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fprintf(stderr, "kftool: unknown command %s\n", command.c_str());
    return usage();
}
