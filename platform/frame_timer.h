#pragma once
#include <cstdint>

namespace zorbrix {

// Seconds since the intro started, read afresh by every caller. The counter source is replaceable so that a test
// or the offline renderer can drive time itself.
class FrameTimer {
public:
    // A source of monotonic ticks and its rate.
    struct Counter {
        int64_t (*now)(void* context);
        int64_t frequency;
        void* context;
    };

    // The system's monotonic clock: nanoseconds, or on Windows the performance counter at its own frequency.
    static Counter monotonic_clock();

    FrameTimer();
    explicit FrameTimer(Counter counter);

    // Stores offset, takes the start count and sets the timer running.
    void start(double offset);

    // Held time (0.0) before start; afterwards (now - start count) / frequency - offset.
    double elapsed() const;

private:
    double offset_ = 0.0;
    double held_time_ = 0.0;
    int64_t start_count_ = 0;
    int64_t frequency_;
    bool running_ = false;
    Counter counter_;
};

}  // namespace zorbrix
