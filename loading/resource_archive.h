#pragma once
// The resource archive: one file holding many named entries, each stored as is, LZW-packed or zlib-compressed.
//
// Layout (little-endian): a 64-byte header ("[KOFFER]", version 0x00010000, two date stamps, entry count, 40
// reserved bytes), then the entry records back to back. A record is a 64-byte head (record length, unpacked size,
// stored length, flags, date stamp, 44 reserved bytes), a name area holding two NUL-terminated strings (the entry
// name and a second string nobody reads), then the stored data.
//
// Damaged archives are read as far as they are sound: the directory ends at the first record that does not fit
// the file or the layout, and the entries before it stay usable.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zorbrix {

constexpr uint32_t PACK_LZW = 1;
constexpr uint32_t PACK_STORED = 2;
constexpr uint32_t PACK_ZLIB = 4;

constexpr char kArchiveMagic[8] = {'[', 'K', 'O', 'F', 'F', 'E', 'R', ']'};
constexpr uint32_t kArchiveVersion = 0x00010000;
constexpr int kArchiveHeaderSize = 64;
constexpr int kRecordHeadSize = 64;

// Year (full), month (0 = January .. 11), day of month (1..31), from the UTC calendar.
struct DateStamp {
    uint16_t year = 0;
    uint8_t month = 0;
    uint8_t day = 0;
};

// The date stamp of a moment (seconds since 1970) in the UTC calendar.
DateStamp date_stamp_utc(int64_t unix_seconds);
// The date stamp of now; honours SOURCE_DATE_EPOCH when set, so that rebuilt archives are byte-identical.
DateStamp date_stamp_now();

class ResourceArchive {
public:
    struct entry_t {
        std::string name;
        std::string second;  // the second string of the name area; carried, not used
        uint32_t stored_length;
        uint32_t unpacked_size;
        uint32_t record_offset;  // file offset of the record's first byte
        uint16_t year;
        uint8_t month;
        uint8_t day;
        uint32_t flags;
    };

    ResourceArchive() = default;
    ~ResourceArchive();  // closes the archive (the program's clean-up at exit for the global instance)
    ResourceArchive(const ResourceArchive&) = delete;
    ResourceArchive& operator=(const ResourceArchive&) = delete;

    // Opens an existing archive (read-write, else read-only), or creates a new empty one when the file does not
    // exist. False when the file cannot be opened or created, or its header is short, of another kind or version.
    bool open(const char* path);
    // Releases everything; harmless when already closed. Always true.
    bool close();
    // Index of the first entry whose name equals name byte for byte, or -1.
    int find(const char* name) const;
    // The entry's file bytes as a new std::malloc buffer of unpacked_size bytes, or null when the name is not
    // there, the entry has no known form, or its data cannot be read or unpacked whole.
    unsigned char* extract(const char* name);
    // The entry's unpacked size from the directory, or -1.
    int entry_size(const char* name) const;

    bool is_open() const { return file_ != nullptr; }
    bool created() const { return created_; }
    bool read_only() const { return read_only_; }
    const unsigned char* header() const { return header_; }
    const std::vector<entry_t>& entries() const { return directory_; }
    // Why the directory ended before the header's entry count, or empty when every record was read.
    const std::string& directory_problem() const { return directory_problem_; }

private:
    bool read_directory();
    unsigned char* read_at(uint64_t offset, uint64_t length);

    std::vector<entry_t> directory_;
    std::string path_;
    std::FILE* file_ = nullptr;
    bool created_ = false;
    bool read_only_ = false;
    unsigned char header_[kArchiveHeaderSize] = {};
    uint64_t file_size_ = 0;
    std::string directory_problem_;
};

// The archive file_load reads from (closed at process exit).
extern ResourceArchive g_resource_archive;

// Closes the global archive and forgets the loose-file directory (for tools and tests that re-initialise).
void file_shutdown();

// The loading path's diagnostic texts ("file_load() - %s not found on disk!" and the like) go nowhere by default;
// a tool may install a sink that shows them. Returns the previous sink.
using LoadDiagnosticSink = void (*)(const char* text);
LoadDiagnosticSink set_load_diagnostic_sink(LoadDiagnosticSink sink);
// Formats a diagnostic text into a local buffer and hands it to the sink, if one is installed.
void load_diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zorbrix
