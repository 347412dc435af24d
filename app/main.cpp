#include "app/intro.h"
#include "app/intro_content.h"
#include "app/soundtrack.h"

#include <cstdio>
#include <exception>

int main() {
    // Anything other than a display error (those are handled inside) ends the program with a message, not an abort.
    try {
        zorbrix::DeviceSoundtrack soundtrack;
        zorbrix::ZorbrixContent content(soundtrack);
        return zorbrix::run_intro(content);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zorbrix: unexpected error: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "zorbrix: unexpected error\n");
    }
    return 1;
}
