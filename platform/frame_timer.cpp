#include "platform/frame_timer.h"

#ifndef _WIN32
#include <ctime>
#endif

namespace zorbrix {

#ifndef _WIN32  // Windows reads its performance counter instead (frame_timer_win32.cpp)
namespace {

int64_t monotonic_now(void*) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

FrameTimer::Counter FrameTimer::monotonic_clock() { return Counter{monotonic_now, 1000000000, nullptr}; }
#endif

FrameTimer::FrameTimer() : FrameTimer(monotonic_clock()) {}

FrameTimer::FrameTimer(Counter counter) : frequency_(counter.frequency), counter_(counter) {}

void FrameTimer::start(double offset) {
    offset_ = offset;
    start_count_ = counter_.now(counter_.context);
    running_ = true;
}

double FrameTimer::elapsed() const {
    if (!running_) {
        return held_time_;
    }
    const int64_t ticks = counter_.now(counter_.context) - start_count_;
    return double(ticks) / double(frequency_) - offset_;
}

}  // namespace zorbrix
