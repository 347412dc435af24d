#include "platform/tool_main.h"

#include <cstdio>
#include <exception>
#include <new>

namespace zorbrix {

int run_tool(const char* program, ToolRun run, int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", program);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected failure\n", program);
    }
    return 1;
}

}  // namespace zorbrix
