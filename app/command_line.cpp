#include "app/command_line.h"

#include <cerrno>
#include <cstdlib>

namespace zorbrix {

const char* const kUsageText =
    "usage: zorbrix [options]\n"
    "Plays the Zorbrix LAN party invitation intro. Without options it asks whether to run full screen.\n"
    "\n"
    "  --fullscreen      full screen at the desktop's resolution, without asking\n"
    "  --window          in a window, without asking (Alt+Enter or F11 switch at any time)\n"
    "  --scale N         the window at N times 512 x 384 (default: the largest that fits the desktop)\n"
    "  --sharp           enlarge by whole multiples only, every pixel square (wider black bars)\n"
    "  --smooth          enlarge to fill the screen, whole pixels first, then smoothly (the default)\n"
    "  --start-order N   start the song and the scenes at the song's order N (2: the first picture, 4: the\n"
    "                    captions, 8: the logo)\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Any key ends the scenes; in the end scroller Up, Down, Page Up and Page Down move the text and Escape leaves.\n";

namespace {

// A whole number from lo to hi, the whole text and nothing else.
bool whole_number(const char* text, int lo, int hi, int* out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

bool parse_command_line(int argc, const char* const* argv, CommandLine* out, std::string* error) {
    CommandLine c;
    bool sharp_given = false, smooth_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // "--scale=3" reads as "--scale 3".
        std::string name = arg, inline_value;
        bool has_inline = false;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            name = arg.substr(0, arg.find('='));
            inline_value = arg.substr(arg.find('=') + 1);
            has_inline = true;
        }
        auto number = [&](int lo, int hi, int* target) {
            const char* value = nullptr;
            if (has_inline) {
                value = inline_value.c_str();
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                *error = name + " needs a number";
                return false;
            }
            if (!whole_number(value, lo, hi, target)) {
                *error = name + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                         ", not \"" + value + "\"";
                return false;
            }
            return true;
        };
        if (name == "--scale") {
            if (!number(1, 16, &c.scale)) return false;
            continue;
        }
        if (name == "--start-order") {
            if (!number(0, 255, &c.start_order)) return false;
            continue;
        }
        if (has_inline) {
            *error = name + " takes no value";
            return false;
        }
        if (name == "--fullscreen" || name == "--window") {
            const ScreenChoice choice = name == "--fullscreen" ? ScreenChoice::Fullscreen : ScreenChoice::Window;
            if (c.screen != ScreenChoice::Ask && c.screen != choice) {
                *error = "--fullscreen and --window cannot both be given";
                return false;
            }
            c.screen = choice;
        } else if (name == "--sharp") {
            sharp_given = true;
        } else if (name == "--smooth") {
            smooth_given = true;
        } else if (name == "--help" || name == "-h") {
            c.help = true;
        } else if (name == "--version") {
            c.version = true;
        } else {
            *error = (name.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") + name;
            return false;
        }
    }
    if (sharp_given && smooth_given) {
        *error = "--sharp and --smooth cannot both be given";
        return false;
    }
    c.sharp = sharp_given;
    *out = c;
    return true;
}

}  // namespace zorbrix
