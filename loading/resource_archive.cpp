#include "loading/resource_archive.h"

#include <zlib.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "loading/file_load.h"
#include "loading/lzw.h"

namespace zorbrix {

ResourceArchive g_resource_archive;

namespace {

bool g_archive_open = false;
std::string g_directory;                 // the loose-file directory, prefixed to names as it is
constexpr size_t kMaxPathLength = 1023;  // directory text plus name
LoadDiagnosticSink g_diagnostic_sink = nullptr;

uint32_t u32_at(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put_u32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void put_date(unsigned char* p, DateStamp d) {
    p[0] = static_cast<unsigned char>(d.year);
    p[1] = static_cast<unsigned char>(d.year >> 8);
    p[2] = d.month;
    p[3] = d.day;
}

// zlib never expands a byte into more than about 1032 (a maximal run costs 2 bits per 258 bytes).
constexpr uint64_t kZlibMaxRatio = 1032;

unsigned char* malloc_bytes(uint64_t n) {
    if (n > SIZE_MAX) return nullptr;
    return static_cast<unsigned char*>(std::malloc(n ? size_t(n) : 1));
}

}  // namespace

DateStamp date_stamp_utc(int64_t unix_seconds) {
    const std::time_t t = static_cast<std::time_t>(unix_seconds);
    std::tm calendar{};
    if (!gmtime_r(&t, &calendar)) return {};
    return {uint16_t(calendar.tm_year + 1900), uint8_t(calendar.tm_mon), uint8_t(calendar.tm_mday)};
}

DateStamp date_stamp_now() {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        const long long seconds = std::strtoll(epoch, &end, 10);
        if (end != epoch && *end == '\0') return date_stamp_utc(seconds);
    }
    return date_stamp_utc(std::time(nullptr));
}

ResourceArchive::~ResourceArchive() { close(); }

bool ResourceArchive::open(const char* path) {
    close();
    created_ = false;
    read_only_ = false;
    if (!path) return false;
    file_ = std::fopen(path, "r+b");
    if (!file_) {
        file_ = std::fopen(path, "rb");
        read_only_ = file_ != nullptr;
    }
    if (!file_) {
        // Created only when it does not exist ("x"): a file we merely may not read must not be truncated.
        file_ = std::fopen(path, "w+bx");
        created_ = file_ != nullptr;
    }
    if (!file_) return false;

    directory_.reserve(8);
    path_ = path;

    if (created_) {
        std::memset(header_, 0, sizeof header_);
        std::memcpy(header_, kArchiveMagic, sizeof kArchiveMagic);
        put_u32(header_ + 8, kArchiveVersion);
        const DateStamp today = date_stamp_now();
        put_date(header_ + 12, today);
        put_date(header_ + 16, today);
        put_u32(header_ + 20, 0);
        std::fseek(file_, 0, SEEK_SET);
        std::fwrite(header_, 1, sizeof header_, file_);
        std::fflush(file_);
        file_size_ = sizeof header_;
        return true;
    }

    std::fseek(file_, 0, SEEK_SET);
    if (std::fread(header_, 1, sizeof header_, file_) != sizeof header_ ||
        std::memcmp(header_, kArchiveMagic, sizeof kArchiveMagic) != 0 || u32_at(header_ + 8) != kArchiveVersion) {
        close();
        return false;
    }
    if (std::fseek(file_, 0, SEEK_END) != 0) {
        close();
        return false;
    }
    const long end = std::ftell(file_);
    file_size_ = end < 0 ? 0 : uint64_t(end);
    read_directory();
    return true;
}

// Reads the records the header announces, and stops at the first one that does not hold together: its head or
// data beyond the end of the file, a record length too small for its head and stored data, or a name area that
// is not exactly two NUL-terminated strings.
bool ResourceArchive::read_directory() {
    directory_problem_.clear();
    // The count is signed: 0 or less means no entries. A count the file cannot hold is said, not passed over in
    // silence: a negative one leaves every name to the loose files, a too large one is read as far as it holds.
    const int32_t count = static_cast<int32_t>(u32_at(header_ + 20));
    // Every record takes at least its head and two name terminators.
    const uint64_t room =
        file_size_ > kArchiveHeaderSize ? (file_size_ - kArchiveHeaderSize) / (kRecordHeadSize + 2) : 0;
    if (count < 0 || uint64_t(count) > room) {
        load_diagnostic("archive %s: its header announces %d entries, which its %llu bytes cannot hold", path_.c_str(),
                        count, static_cast<unsigned long long>(file_size_));
    }
    uint64_t offset = kArchiveHeaderSize;
    std::vector<char> area;
    for (int32_t i = 0; i < count; ++i) {
        auto stop = [&](const char* why) {
            directory_problem_ = "record " + std::to_string(i) + " at offset " + std::to_string(offset) + ": " + why;
            return false;
        };
        unsigned char head[kRecordHeadSize];
        if (offset > UINT32_MAX || offset + kRecordHeadSize > file_size_)
            return stop("record beyond the end of the file");
        if (std::fseek(file_, long(offset), SEEK_SET) != 0 || std::fread(head, 1, sizeof head, file_) != sizeof head) {
            return stop("record head cannot be read");
        }
        const uint64_t record_length = u32_at(head);
        const uint32_t unpacked_size = u32_at(head + 4);
        const uint64_t stored_length = u32_at(head + 8);
        const uint32_t flags = u32_at(head + 12);
        if (record_length < kRecordHeadSize + stored_length + 2) {
            return stop("record length too small for its head, name area and data");
        }
        if (offset + record_length > file_size_) return stop("data beyond the end of the file");
        const uint64_t area_length = record_length - stored_length - kRecordHeadSize;
        area.resize(size_t(area_length));
        if (std::fread(area.data(), 1, area.size(), file_) != area.size()) return stop("name area cannot be read");
        const void* first_nul = std::memchr(area.data(), 0, area.size());
        const size_t name_length = first_nul ? size_t(static_cast<const char*>(first_nul) - area.data()) : area.size();
        if (name_length + 1 >= area.size()) return stop("name area without its two strings");
        const char* second = area.data() + name_length + 1;
        const size_t second_length = area.size() - name_length - 1;
        if (std::memchr(second, 0, second_length) != second + second_length - 1) {
            return stop("name area without its two strings");
        }
        entry_t entry;
        entry.name.assign(area.data(), name_length);
        entry.second.assign(second, second_length - 1);
        entry.stored_length = uint32_t(stored_length);
        entry.unpacked_size = unpacked_size;
        entry.record_offset = uint32_t(offset);
        entry.year = uint16_t(head[16] | head[17] << 8);
        entry.month = head[18];
        entry.day = head[19];
        entry.flags = flags;
        offset += record_length;
        // A stored entry claiming more bytes than it stores would hand out the next record's bytes: it counts as
        // missing (the loose file is used instead); the records after it are sound and stay usable.
        if ((flags & PACK_STORED) && unpacked_size > stored_length) {
            load_diagnostic("archive %s: entry \"%s\" ignored: stored with %llu bytes but claims %u", path_.c_str(),
                            entry.name.c_str(), static_cast<unsigned long long>(stored_length), unpacked_size);
            continue;
        }
        directory_.push_back(std::move(entry));
    }
    return true;
}

bool ResourceArchive::close() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    directory_.clear();
    directory_.shrink_to_fit();
    path_.clear();
    path_.shrink_to_fit();
    file_size_ = 0;
    directory_problem_.clear();
    return true;
}

int ResourceArchive::find(const char* name) const {
    if (!name) return -1;
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < directory_.size(); ++i) {
        const std::string& entry_name = directory_[i].name;
        if (entry_name.size() == length && std::memcmp(entry_name.data(), name, length) == 0) return int(i);
    }
    return -1;
}

int ResourceArchive::entry_size(const char* name) const {
    const int index = find(name);
    return index < 0 ? -1 : int(directory_[size_t(index)].unpacked_size);
}

// length bytes at offset as a new buffer; null when they are not all in the file.
unsigned char* ResourceArchive::read_at(uint64_t offset, uint64_t length) {
    if (!file_ || offset > file_size_ || length > file_size_ - offset) return nullptr;
    unsigned char* buffer = malloc_bytes(length);
    if (!buffer) return nullptr;
    if (std::fseek(file_, long(offset), SEEK_SET) != 0 || std::fread(buffer, 1, size_t(length), file_) != length) {
        std::free(buffer);
        return nullptr;
    }
    return buffer;
}

unsigned char* ResourceArchive::extract(const char* name) {
    const int index = find(name);
    if (index < 0) return nullptr;
    const entry_t& entry = directory_[size_t(index)];
    // Sizes are handed on as int; an entry that large cannot be used.
    if (entry.unpacked_size > uint32_t(INT32_MAX)) return nullptr;
    const uint64_t data_offset =
        uint64_t(entry.record_offset) + kRecordHeadSize + entry.name.size() + 1 + entry.second.size() + 1;

    if (entry.flags & PACK_STORED) {
        return read_at(data_offset, entry.unpacked_size);
    }
    if (entry.flags & PACK_LZW) {
        if (entry.unpacked_size > lzw_max_unpacked_length(entry.stored_length)) return nullptr;
        unsigned char* packed = read_at(data_offset, entry.stored_length);
        if (!packed) return nullptr;
        uint32_t length = 0;
        unsigned char* data = LzwUnpack(packed, entry.stored_length, &length);
        std::free(packed);
        // The directory's size is the one reported; when the stream's own header is shorter, the rest is zero
        // rather than bytes the caller would read beyond the buffer.
        if (data && length < entry.unpacked_size) {
            unsigned char* grown = static_cast<unsigned char*>(std::realloc(data, entry.unpacked_size));
            if (!grown) {
                std::free(data);
                return nullptr;
            }
            data = grown;
            std::memset(data + length, 0, entry.unpacked_size - length);
        }
        return data;
    }
    if (entry.flags & PACK_ZLIB) {
        if (entry.unpacked_size > uint64_t(entry.stored_length) * kZlibMaxRatio + 64) return nullptr;
        unsigned char* packed = read_at(data_offset, entry.stored_length);
        if (!packed) return nullptr;
        unsigned char* data = malloc_bytes(entry.unpacked_size);
        uLongf length = entry.unpacked_size;
        const bool ok =
            data && uncompress(data, &length, packed, entry.stored_length) == Z_OK && length == entry.unpacked_size;
        std::free(packed);
        if (!ok) {
            std::free(data);
            return nullptr;
        }
        return data;
    }
    return nullptr;
}

LoadDiagnosticSink set_load_diagnostic_sink(LoadDiagnosticSink sink) {
    const LoadDiagnosticSink previous = g_diagnostic_sink;
    g_diagnostic_sink = sink;
    return previous;
}

void load_diagnostic(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (g_diagnostic_sink) g_diagnostic_sink(text);
}

void file_shutdown() {
    g_resource_archive.close();
    g_archive_open = false;
    g_directory.clear();
}

bool file_init(const char* archive_name, const char* directory) {
    const char* dir = directory ? directory : "";
    if (std::strlen(dir) > kMaxPathLength) return false;
    if (archive_name) {
        if (!g_resource_archive.open(archive_name)) return false;
        g_archive_open = true;
    }
    g_directory = dir;
    return true;
}

unsigned char* file_load(const char* name, int* size) {
    if (!name || !size) return nullptr;
    if (g_archive_open) {
        if (unsigned char* data = g_resource_archive.extract(name)) {
            *size = g_resource_archive.entry_size(name);
            return data;
        }
    }
    load_diagnostic("file_load() - %s not found in archive, loading from %s", name, g_directory.c_str());

    if (g_directory.size() + std::strlen(name) > kMaxPathLength) {
        load_diagnostic("file_load() - %s not found on disk!", name);
        return nullptr;
    }
    const std::string path = g_directory + name;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        load_diagnostic("file_load() - %s not found on disk!", name);
        return nullptr;
    }
    unsigned char* data = nullptr;
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    if (length >= 0 && length <= INT32_MAX && std::fseek(file, 0, SEEK_SET) == 0) {
        data = malloc_bytes(uint64_t(length));
        if (data && std::fread(data, 1, size_t(length), file) != size_t(length)) {
            std::free(data);
            data = nullptr;
        }
    }
    std::fclose(file);
    if (!data) {
        load_diagnostic("file_load() - %s could not be read", name);
        return nullptr;
    }
    *size = int(length);
    return data;
}

}  // namespace zorbrix
