#include "app/command_line.h"
#include "app/intro.h"
#include "app/intro_content.h"
#include "app/soundtrack.h"
#include "platform/ptc_sdl.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    zorbrix::CommandLine options;
    std::string error;
    if (!zorbrix::parse_command_line(argc, argv, &options, &error)) {
        std::fprintf(stderr, "zorbrix: %s (try --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(zorbrix::kUsageText, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("zorbrix %s\n", zorbrix::kProgramVersion);
        return 0;
    }
    // Anything other than a display error (those are handled inside) ends the program with a message, not an abort.
    try {
        zorbrix::LayerSoundtrack soundtrack;
        zorbrix::ZorbrixContent content(soundtrack, options.start_order);
        zorbrix::IntroEnvironment environment;
        environment.screen = options.screen;
        const ptc::DisplaySettings display{options.scale, options.sharp ? ptc::Scaling::Sharp : ptc::Scaling::Smooth};
        environment.make_display = [display]() -> std::unique_ptr<ptc::ConsoleBackend> {
            return std::make_unique<ptc::SdlBackend>(display);
        };
        const int status = zorbrix::run_intro(content, environment);
        if (status == 0 && content.start_order_missing()) {
            std::fprintf(stderr, "zorbrix: --start-order %d: the song has no such order\n", options.start_order);
            return 2;
        }
        return status;
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "zorbrix: unexpected error: %s\n", exception.what());
    } catch (...) {
        std::fprintf(stderr, "zorbrix: unexpected error\n");
    }
    return 1;
}
