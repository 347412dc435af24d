#include "platform/fatal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zorbrix {
namespace {

std::atomic<FatalHandler> g_handler{nullptr};

[[noreturn]] void throw_fatal(int status, const char*) { throw FatalExit{status}; }

}  // namespace

void fatal_exit(int status, const char* stdout_message) {
    if (FatalHandler handler = g_handler.load()) {
        handler(status, stdout_message);
    }
    if (stdout_message) {
        std::fputs(stdout_message, stdout);
    }
    std::fflush(stdout);
    std::exit(status);
}

FatalHandler set_fatal_handler(FatalHandler handler) { return g_handler.exchange(handler); }

ScopedFatalTrap::ScopedFatalTrap() : previous_(set_fatal_handler(throw_fatal)) {}

ScopedFatalTrap::~ScopedFatalTrap() { set_fatal_handler(previous_); }

}  // namespace zorbrix
