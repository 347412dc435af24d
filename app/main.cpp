#include "app/display_only_intro.h"
#include "app/intro.h"

#include <cstdio>
#include <exception>

int main() {
    // Anything other than a display error (those are handled inside) ends the program with a message, not an abort.
    try {
        zorbrix::DisplayOnlyIntro content;
        return zorbrix::run_intro(content);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zorbrix: unexpected error: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "zorbrix: unexpected error\n");
    }
    return 1;
}
