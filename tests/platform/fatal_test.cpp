#include "platform/fatal.h"

#include <gtest/gtest.h>

using zorbrix::FatalExit;
using zorbrix::ScopedFatalTrap;

TEST(FatalExit, TrapTurnsTheExitIntoAnException) {
    ScopedFatalTrap trap;
    try {
        zorbrix::fatal_exit(104);
        FAIL() << "fatal_exit returned";
    } catch (const FatalExit& e) {
        EXPECT_EQ(e.status, 104);
    }
}

TEST(FatalExit, WithoutATrapTheProcessEndsWithTheStatusAndMessage) {
    EXPECT_EXIT(zorbrix::fatal_exit(0, "malloc failed\n"), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(zorbrix::fatal_exit(110), testing::ExitedWithCode(110), "");
}

TEST(FatalExit, TrapsNestAndRestore) {
    {
        ScopedFatalTrap outer;
        { ScopedFatalTrap inner; }
        EXPECT_THROW(zorbrix::fatal_exit(1), FatalExit);
    }
    EXPECT_EQ(zorbrix::set_fatal_handler(nullptr), nullptr);
}
