#pragma once
// The one way the process ends on a condition it cannot go on from: an unsupported video stream (statuses 101..110),
// a failed decoder allocation ("malloc failed\n", status 0) or a JPEG error (status 1).
//
// In the program the message (if any) goes to standard output and the process exits with the status. Tests and fuzz
// targets install a handler instead, typically one that throws FatalExit, so they can observe the exit and go on.

namespace zorbrix {

// A handler must not return; if it does, the process exits as it would without one.
using FatalHandler = void (*)(int status, const char* stdout_message);

// Prints stdout_message (may be null) to standard output and ends the process with status, unless a handler is set.
[[noreturn]] void fatal_exit(int status, const char* stdout_message = nullptr);

// Installs a handler (null restores the default) and returns the previous one.
FatalHandler set_fatal_handler(FatalHandler handler);

// What the throwing handler throws.
struct FatalExit {
    int status;
};

// For tests and fuzz targets: while alive, fatal_exit throws FatalExit{status} instead of ending the process.
class ScopedFatalTrap {
public:
    ScopedFatalTrap();
    ~ScopedFatalTrap();
    ScopedFatalTrap(const ScopedFatalTrap&) = delete;
    ScopedFatalTrap& operator=(const ScopedFatalTrap&) = delete;

private:
    FatalHandler previous_;
};

}  // namespace zorbrix
