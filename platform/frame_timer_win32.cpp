#include "platform/frame_timer.h"

#include <windows.h>

namespace zorbrix {

// Windows' monotonic clock is the high-resolution performance counter; its rate is fixed at boot, so it is read once.
namespace {

int64_t performance_counter(void*) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t performance_frequency() {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return 1;  // never divide by zero
    return frequency.QuadPart;
}

}  // namespace

FrameTimer::Counter FrameTimer::monotonic_clock() {
    static const int64_t frequency = performance_frequency();
    return Counter{performance_counter, frequency, nullptr};
}

}  // namespace zorbrix
