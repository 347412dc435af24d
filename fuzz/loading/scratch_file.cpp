#include "fuzz/loading/scratch_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

const std::string& scratch_directory() {
    static const std::string dir = [] {
        const std::filesystem::path p =
            std::filesystem::temp_directory_path() / ("zorbrix-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(p);
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
