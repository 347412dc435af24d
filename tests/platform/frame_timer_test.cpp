#include "platform/frame_timer.h"

#include <gtest/gtest.h>

using zorbrix::FrameTimer;

namespace {

struct DrivenClock {
    int64_t ticks = 0;
    static int64_t now(void* self) { return static_cast<DrivenClock*>(self)->ticks; }
    FrameTimer::Counter counter(int64_t frequency) { return {now, frequency, this}; }
};

}  // namespace

TEST(FrameTimer, HoldsZeroUntilStarted) {
    DrivenClock clock;
    FrameTimer timer(clock.counter(1000));
    clock.ticks = 123456;
    EXPECT_EQ(timer.elapsed(), 0.0);
}

TEST(FrameTimer, ReadsTicksOverFrequencyMinusOffset) {
    DrivenClock clock;
    clock.ticks = 1'000'000;
    FrameTimer timer(clock.counter(1'000'000));
    timer.start(2.0);
    EXPECT_DOUBLE_EQ(timer.elapsed(), -2.0);
    clock.ticks += 5'000'000;  // five seconds later
    EXPECT_DOUBLE_EQ(timer.elapsed(), 3.0);
    clock.ticks += 250'000;
    EXPECT_DOUBLE_EQ(timer.elapsed(), 3.25);
}

TEST(FrameTimer, MonotonicClockAdvances) {
    FrameTimer timer;
    timer.start(0.0);
    const double a = timer.elapsed();
    const double b = timer.elapsed();
    EXPECT_GE(a, 0.0);
    EXPECT_GE(b, a);
    EXPECT_LT(b, 1.0);
}
