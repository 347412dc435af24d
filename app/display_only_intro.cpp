#include "app/display_only_intro.h"

#include <cstring>

namespace zorbrix {

void show_black_screen_until_key(Stage& stage) {
    while (!stage.console.key()) {
        void* pixels = stage.screen.lock();
        std::memset(pixels, 0, size_t(stage.screen.pitch()) * size_t(stage.screen.height()));
        stage.screen.unlock();
        stage.screen.copy(stage.console);
        stage.console.update();
    }
}

void DisplayOnlyIntro::run(Stage& stage) { show_black_screen_until_key(stage); }

}  // namespace zorbrix
