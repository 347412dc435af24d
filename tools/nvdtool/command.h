#pragma once
// nvdtool's subcommand registry. A subcommand file defines `int run(int argc, char** argv)` (argv[0] is the
// subcommand name) and registers it with one line:
//     NVDTOOL_COMMAND(info, "info FILE.nvd", "frame count, size, rate and per-frame VOP type and size", run_info);
#include <string>
#include <vector>

namespace nvdtool {

using CommandFn = int (*)(int argc, char** argv);

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    CommandFn run;
};

std::vector<Command>& commands();

struct Registrar {
    Registrar(const char* name, const char* usage, const char* summary, CommandFn run) {
        commands().push_back({name, usage, summary, run});
    }
};

}  // namespace nvdtool

#define NVDTOOL_COMMAND(id, usage, summary, fn) \
    static const ::nvdtool::Registrar nvdtool_registrar_##id { #id, usage, summary, fn }
