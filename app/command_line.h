#pragma once
// The program's command line, for party organisers and for working on the intro. Without options the program asks
// "Fullscreen?" as it always has.
//
//   zorbrix [--fullscreen | --window] [--scale N] [--sharp | --smooth] [--start-order N] [--help] [--version]
#include <string>

namespace zorbrix {

inline constexpr const char* kProgramVersion = "1.0";

enum class ScreenChoice {
    Ask,
    Fullscreen,
    Window
};

struct CommandLine {
    ScreenChoice screen = ScreenChoice::Ask;
    int scale = 0;        // the window's size as a multiple of 512 x 384; 0: the largest that fits the desktop
    bool sharp = false;   // whole-multiple nearest-neighbour scaling instead of the smooth default
    int start_order = 0;  // the song and the scenes start at this order
    bool help = false;
    bool version = false;
};

// The usage text --help prints.
extern const char* const kUsageText;

// Reads the arguments (argv[1..argc-1]). False, with a one-line message (no trailing newline) in *error, for an
// unknown option, a missing or bad value, or options that contradict each other.
bool parse_command_line(int argc, const char* const* argv, CommandLine* out, std::string* error);

}  // namespace zorbrix
