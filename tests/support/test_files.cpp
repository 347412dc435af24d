#include "tests/support/test_files.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cmath>
#include <fstream>
#include <iterator>

std::vector<uint8_t> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}

bool make_char_node(const std::string& path, unsigned minor_number) {
    return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor_number)) == 0;
}

bool is_char_device(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}
