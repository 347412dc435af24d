// zorbrix-soundtrack [output.xm]: writes the intro's soundtrack module (default "ambient3.xm").
#include "assets/music/soundtrack.h"

#include <cstdio>
#include <string>

#include "platform/tool_main.h"

namespace {

int run(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: zorbrix-soundtrack [output.xm]\n");
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
