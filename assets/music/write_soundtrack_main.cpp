// zorbrix-soundtrack [output.xm]: writes the intro's soundtrack module (default "ambient3.xm").
#include "assets/music/soundtrack.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/tool_main.h"

namespace {

constexpr const char* kUsage = "usage: zorbrix-soundtrack [output.xm]   (- for standard output)\n";

int run(int argc, char** argv) {
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // An option is never taken for the file's name (a file called "-x" is given as "./-x"); "-" is standard output.
    if (argc > 2 || (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0')) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string path = argc == 2 ? argv[1] : "ambient3.xm";
    std::string error;
    if (!zorbrix::music::write_soundtrack(path, &error)) {
        std::fprintf(stderr, "zorbrix-soundtrack: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return zorbrix::run_tool("zorbrix-soundtrack", run, argc, argv); }
