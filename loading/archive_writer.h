#pragma once
// Builds resource archives (the intro only reads them; the archive tool writes them whole).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "loading/resource_archive.h"

namespace zorbrix {

enum class PackForm {
    stored,
    lzw,
    zlib,
    best
};

struct ArchiveMember {
    std::string name;  // the name file_load will ask for; non-empty, no NUL
    std::vector<unsigned char> data;
    // The member's own form; when unset the archive's form applies.
    std::optional<PackForm> form;
};

// How a member was written.
struct ArchiveEntryReport {
    std::string name;
    uint32_t flags = 0;
    uint32_t stored_length = 0;
    uint32_t unpacked_size = 0;
};

// The whole archive file for the members, in their order, each in its own form or else the given one (best: the
// smallest of stored, LZW and zlib, stored on a tie). Every date stamp is the given one. False, with a one-line reason,
// for an empty or duplicate name, a name with a NUL, or a member or archive too large for the 32-bit fields.
bool build_archive(const std::vector<ArchiveMember>& members, PackForm form, DateStamp date,
                   std::vector<unsigned char>* archive, std::string* error,
                   std::vector<ArchiveEntryReport>* report = nullptr);

}  // namespace zorbrix
