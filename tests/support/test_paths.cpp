#include "tests/support/test_paths.h"

#include <cstdlib>
#include <filesystem>

namespace {

std::string from_env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

}  // namespace

std::string source_dir() { return from_env("ZORBRIX_SOURCE_DIR", ZORBRIX_SOURCE_DIR_DEFAULT); }

std::string build_dir() { return from_env("ZORBRIX_BUILD_DIR", ZORBRIX_BUILD_DIR_DEFAULT); }

std::string test_output_path(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(build_dir()) / "test-output";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}
