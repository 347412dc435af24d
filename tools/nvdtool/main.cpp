// nvdtool: the .nvd video file tool. Dispatches to the registered subcommands.
#include <cstdio>
#include <cstring>

#include "platform/tool_main.h"
#include "tools/nvdtool/command.h"

namespace nvdtool {
std::vector<Command>& commands() {
    static std::vector<Command> list;
    return list;
}
}  // namespace nvdtool

namespace {
void usage(FILE* to) {
    std::fprintf(to, "usage: nvdtool COMMAND ARGS...\n\ncommands:\n");
    for (const auto& c : nvdtool::commands()) std::fprintf(to, "  nvdtool %s\n      %s\n", c.usage, c.summary);
}

int run(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const auto& c : nvdtool::commands())
        if (!std::strcmp(c.name, argv[1])) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "nvdtool: unknown command '%s'\n\n", argv[1]);
    usage(stderr);
    return 2;
}

}  // namespace

// Whatever escapes a command (a memory shortage, a filesystem error) is one line and status 1, never an abort.
int main(int argc, char** argv) { return zorbrix::run_tool("nvdtool", run, argc, argv); }
