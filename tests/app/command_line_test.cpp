// The program's command line: what each option sets, and the one-line refusals of bad ones.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using zorbrix::CommandLine;
using zorbrix::ScreenChoice;

bool parse(std::vector<const char*> args, CommandLine* out, std::string* error) {
    args.insert(args.begin(), "zorbrix");
    return zorbrix::parse_command_line(int(args.size()), args.data(), out, error);
}

TEST(CommandLine, NoOptionsAsksTheQuestionAsBefore) {
    CommandLine c;
    std::string error;
    ASSERT_TRUE(parse({}, &c, &error));
    EXPECT_EQ(c.screen, ScreenChoice::Ask);
    EXPECT_EQ(c.scale, 0);
    EXPECT_FALSE(c.sharp);
    EXPECT_EQ(c.start_order, 0);
    EXPECT_FALSE(c.help);
    EXPECT_FALSE(c.version);
}

TEST(CommandLine, EachOptionSetsItsChoice) {
    CommandLine c;
    std::string error;
    ASSERT_TRUE(parse({"--window", "--scale", "3", "--sharp", "--start-order", "4"}, &c, &error)) << error;
    EXPECT_EQ(c.screen, ScreenChoice::Window);
    EXPECT_EQ(c.scale, 3);
    EXPECT_TRUE(c.sharp);
    EXPECT_EQ(c.start_order, 4);
    ASSERT_TRUE(parse({"--fullscreen", "--scale=2", "--start-order=8", "--smooth"}, &c, &error)) << error;
    EXPECT_EQ(c.screen, ScreenChoice::Fullscreen);
    EXPECT_EQ(c.scale, 2);
    EXPECT_FALSE(c.sharp);
    EXPECT_EQ(c.start_order, 8);
    ASSERT_TRUE(parse({"--help"}, &c, &error));
    EXPECT_TRUE(c.help);
    ASSERT_TRUE(parse({"--version", "--window", "--window"}, &c, &error));  // saying it twice is no contradiction
    EXPECT_TRUE(c.version);
}

TEST(CommandLine, BadOptionsAreRefusedInOneLine) {
    const std::vector<std::vector<const char*>> bad = {
        {"--bogus"},
        {"-x"},
        {"stray"},
        {"--scale"},
        {"--scale", "0"},
        {"--scale", "17"},
        {"--scale", "2x"},
        {"--scale", ""},
        {"--scale=-1"},
        {"--start-order"},
        {"--start-order", "256"},
        {"--start-order", "-1"},
        {"--start-order", "99999999999999999999"},
        {"--fullscreen", "--window"},
        {"--sharp", "--smooth"},
        {"--window=1"},
    };
    for (const auto& args : bad) {
        CommandLine c;
        c.scale = 7;
        std::string error;
        EXPECT_FALSE(parse(args, &c, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(c.scale, 7) << "a refused command line changed the result";
    }
}

}  // namespace
