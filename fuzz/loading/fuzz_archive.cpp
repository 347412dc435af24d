// Opens the input as a resource archive and extracts every entry it lists.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/loading/scratch_file.h"
#include "loading/resource_archive.h"

using zorbrix::ResourceArchive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = write_scratch_file("archive.kf", data, size);
    ResourceArchive archive;
    if (!archive.open(path.c_str())) return 0;
    for (const ResourceArchive::entry_t& entry : archive.entries()) {
        unsigned char* bytes = archive.extract(entry.name.c_str());
        if (!bytes) continue;
        // The whole reported size must be readable.
        const int size_reported = archive.entry_size(entry.name.c_str());
        volatile unsigned sum = 0;
        for (int i = 0; i < size_reported; ++i) sum = sum + bytes[i];
        std::free(bytes);
    }
    archive.close();
    return 0;
}
