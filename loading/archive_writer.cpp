#include "loading/archive_writer.h"

#include <zlib.h>

#include <cstring>
#include <set>

#include "loading/lzw.h"

namespace zorbrix {

namespace {

void put_u32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void put_date(std::vector<unsigned char>& out, DateStamp d) {
    out.push_back(static_cast<unsigned char>(d.year));
    out.push_back(static_cast<unsigned char>(d.year >> 8));
    out.push_back(d.month);
    out.push_back(d.day);
}

// resize + memcpy rather than vector::insert, which trips GCC 12's bounds warnings at -O3.
void append(std::vector<unsigned char>& out, const void* data, size_t size) {
    if (size == 0) return;
    const size_t at = out.size();
    out.resize(at + size);
    std::memcpy(out.data() + at, data, size);
}

bool zlib_pack(const std::vector<unsigned char>& data, std::vector<unsigned char>* packed) {
    uLongf length = compressBound(uLong(data.size()));
    packed->resize(length);
    if (compress2(packed->data(), &length, data.data(), uLong(data.size()), Z_BEST_COMPRESSION) != Z_OK) return false;
    packed->resize(length);
    return true;
}

}  // namespace

bool build_archive(const std::vector<ArchiveMember>& members, PackForm archive_form, DateStamp date,
                   std::vector<unsigned char>* archive, std::string* error, std::vector<ArchiveEntryReport>* report) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (members.size() > size_t(INT32_MAX)) return fail("too many files");
    std::set<std::string> names;
    for (const ArchiveMember& m : members) {
        if (m.name.empty()) return fail("a file has an empty name");
        if (m.name.find('\0') != std::string::npos) return fail("the name of " + m.name + " holds a NUL byte");
        if (!names.insert(m.name).second) return fail("two files are named " + m.name);
        if (m.data.size() > size_t(INT32_MAX)) return fail(m.name + " is too large (2 GiB at most)");
    }

    std::vector<unsigned char>& out = *archive;
    out.clear();
    append(out, kArchiveMagic, sizeof kArchiveMagic);
    put_u32(out, kArchiveVersion);
    put_date(out, date);
    put_date(out, date);
    put_u32(out, uint32_t(members.size()));
    out.resize(kArchiveHeaderSize, 0);
    if (report) report->clear();

    std::vector<unsigned char> lzw, zlib;
    for (const ArchiveMember& m : members) {
        const PackForm form = m.form.value_or(archive_form);
        const std::vector<unsigned char>* stored = &m.data;
        uint32_t flags = PACK_STORED;
        if (form == PackForm::lzw || form == PackForm::best) {
            if (!lzw_pack(m.data.data(), m.data.size(), &lzw)) return fail(m.name + " cannot be packed");
            if (form == PackForm::lzw || lzw.size() < stored->size()) {
                stored = &lzw;
                flags = PACK_LZW;
            }
        }
        if (form == PackForm::zlib || form == PackForm::best) {
            if (!zlib_pack(m.data, &zlib)) return fail(m.name + " cannot be compressed");
            if (form == PackForm::zlib || zlib.size() < stored->size()) {
                stored = &zlib;
                flags = PACK_ZLIB;
            }
        }
        // Name area: the name and an empty second string, each NUL-terminated.
        const uint64_t record_length = kRecordHeadSize + m.name.size() + 2 + stored->size();
        if (out.size() + record_length > UINT32_MAX) return fail("the archive would exceed 4 GiB");
        put_u32(out, uint32_t(record_length));
        put_u32(out, uint32_t(m.data.size()));
        put_u32(out, uint32_t(stored->size()));
        put_u32(out, flags);
        put_date(out, date);
        out.resize(out.size() + (kRecordHeadSize - 20), 0);
        append(out, m.name.data(), m.name.size());
        out.push_back(0);
        out.push_back(0);
        append(out, stored->data(), stored->size());
        if (report) report->push_back({m.name, flags, uint32_t(stored->size()), uint32_t(m.data.size())});
    }
    return true;
}

}  // namespace zorbrix
