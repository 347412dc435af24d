#include "fuzz/loading/scratch_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {
// A copy for the clean-up at exit, which may run after the std::string below is destroyed.
char g_directory_at_exit[4096];
}  // namespace

const std::string& scratch_directory() {
    static const std::string dir = [] {
        // Memory-backed when the system has it: millions of small writes should not go to a disk.
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        const std::filesystem::path p = base / ("zorbrix-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(p);
        std::snprintf(g_directory_at_exit, sizeof g_directory_at_exit, "%s", p.c_str());
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(g_directory_at_exit, ignored);
        });
        return p.string() + "/";
    }();
    return dir;
}

std::string write_scratch_file(const char* name, const uint8_t* data, size_t size) {
    const std::string path = scratch_directory() + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    return path;
}
