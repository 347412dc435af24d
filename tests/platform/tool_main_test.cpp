#include "platform/tool_main.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace {

int returns_status(int argc, char**) { return argc == 3 ? 2 : 0; }
int runs_out_of_memory(int, char**) { throw std::bad_alloc(); }
int meets_a_filesystem_error(int, char**) { throw std::runtime_error("cannot read x: Permission denied"); }
int throws_something_else(int, char**) { throw 42; }

}  // namespace

TEST(ToolMain, TheProgramsOwnStatusPassesThrough) {
    char* argv[] = {nullptr};
    EXPECT_EQ(zorbrix::run_tool("t", returns_status, 1, argv), 0);
    EXPECT_EQ(zorbrix::run_tool("t", returns_status, 3, argv), 2);
}

TEST(ToolMain, WhatEscapesIsOneLineAndStatusOne) {
    char* argv[] = {nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(zorbrix::run_tool("nvdtool", runs_out_of_memory, 1, argv), 1);
    EXPECT_EQ(zorbrix::run_tool("kftool", meets_a_filesystem_error, 1, argv), 1);
    EXPECT_EQ(zorbrix::run_tool("zorbrix-capture", throws_something_else, 1, argv), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "nvdtool: out of memory\n"
              "kftool: cannot read x: Permission denied\n"
              "zorbrix-capture: unexpected failure\n");
}
