// The display layer through the off-screen backend: the key queue, the close request, surfaces and the console's
// buffer; and the SDL key mapping.

#include "platform/ptc.h"
#include "platform/ptc_offscreen.h"
#include "platform/ptc_sdl.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace {

const ptc::Format kFormat(32, 0xff0000, 0x00ff00, 0x0000ff, 0);

struct Display {
    ptc::OffscreenBackend* backend = nullptr;
    std::vector<std::vector<uint32_t>> frames;
    ptc::Console console;

    Display()
        : console([this] {
              auto b = std::make_unique<ptc::OffscreenBackend>(
                  [this](const uint32_t* p, int w, int h, long) { frames.emplace_back(p, p + size_t(w) * size_t(h)); });
              backend = b.get();
              return b;
          }()) {}
};

TEST(PtcKeys, TestDoesNotTakeReadTakesInOrder) {
    Display d;
    d.console.open("keys", 4, 3, kFormat);
    EXPECT_FALSE(d.console.key());
    d.backend->press(ptc::Key(ptc::Key::DOWN));
    d.backend->press(ptc::Key('A', false, true, false));
    EXPECT_TRUE(d.console.key());
    EXPECT_TRUE(d.console.key());  // still there: the test does not take it
    EXPECT_EQ(d.console.read(), ptc::Key(ptc::Key::DOWN));
    EXPECT_TRUE(d.console.key());
    const ptc::Key second = d.console.read();
    EXPECT_EQ(second.code(), 'A');
    EXPECT_TRUE(second.shift());
    EXPECT_FALSE(d.console.key());
}

TEST(PtcKeys, EqualityComparesCodeAndEveryModifier) {
    const ptc::Key plain(ptc::Key::PAGEUP);
    EXPECT_EQ(plain, ptc::Key(33, false, false, false));
    EXPECT_NE(plain, ptc::Key(ptc::Key::PAGEDOWN));
    EXPECT_NE(plain, ptc::Key(33, true, false, false));
    EXPECT_NE(plain, ptc::Key(33, false, true, false));
    EXPECT_NE(plain, ptc::Key(33, false, false, true));
    EXPECT_EQ(ptc::Key(), ptc::Key(ptc::Key::UNDEFINED));
}

TEST(PtcKeys, ReadWithNothingScriptedAsksTheScriptThenFailsInsteadOfHanging) {
    Display d;
    d.console.open("keys", 4, 3, kFormat);
    EXPECT_THROW(d.console.read(), ptc::DynamicError);
    d.backend->on_wait([](ptc::OffscreenBackend& b) { b.press(ptc::Key(ptc::Key::ESCAPE)); });
    EXPECT_EQ(d.console.read(), ptc::Key(ptc::Key::ESCAPE));
}

TEST(PtcConsole, CloseRequestThrowsQuitFromTheNextCallAndStaysThrowing) {
    Display d;
    d.console.open("quit", 4, 3, kFormat);
    ptc::Surface screen(4, 3, kFormat);
    d.backend->press(ptc::Key(' '));
    d.backend->request_close();
    auto expect_quit = [](auto&& call) {
        try {
            call();
            ADD_FAILURE() << "no quit";
        } catch (const ptc::DynamicError& e) {
            EXPECT_STREQ(e.message(), "quit");
        }
    };
    expect_quit([&] { d.console.key(); });
    expect_quit([&] { d.console.update(); });
    expect_quit([&] { d.console.read(); });
    expect_quit([&] { screen.copy(d.console); });
    d.console.close();  // closing never throws
    EXPECT_FALSE(d.backend->is_open());
}

TEST(PtcConsole, OptionsSelectWindowedOutputAndUnknownOnesAreIgnored) {
    Display d;
    EXPECT_TRUE(d.console.option("DirectX"));
    EXPECT_FALSE(d.console.option("no such option"));
    d.console.open("full", 8, 6, kFormat, 0);
    EXPECT_FALSE(d.backend->windowed());
    EXPECT_TRUE(d.console.option("windowed output"));
    d.console.open("Zorbrix::LAN Invitation Intro", 512, 384, kFormat, 0);  // reopening closes first
    EXPECT_TRUE(d.backend->windowed());
    EXPECT_EQ(d.backend->title(), "Zorbrix::LAN Invitation Intro");
    EXPECT_EQ(d.backend->width(), 512);
    EXPECT_EQ(d.backend->height(), 384);
}

TEST(PtcConsole, UnopenedConsoleAndBadSizesAreErrorsNotCrashes) {
    Display d;
    EXPECT_THROW(d.console.update(), ptc::DynamicError);
    EXPECT_THROW(d.console.key(), ptc::DynamicError);
    EXPECT_THROW(d.console.open("bad", 0, 384, kFormat), ptc::DynamicError);
    EXPECT_THROW(d.console.open("bad", 512, -1, kFormat), ptc::DynamicError);
    EXPECT_THROW(d.console.open("bad", 1 << 20, 1 << 20, kFormat), ptc::DynamicError);
    EXPECT_THROW(ptc::Surface(-1, 5, kFormat), ptc::DynamicError);
    EXPECT_THROW(ptc::Surface(1 << 20, 1 << 20, kFormat), ptc::DynamicError);
    EXPECT_THROW(ptc::Format(16, 0xf800, 0x07e0, 0x001f), ptc::DynamicError);
    EXPECT_THROW(ptc::Format(32, 0xff, 0xff00, 0xff0000), ptc::DynamicError);
}

TEST(PtcSurface, StartsBlackLocksOnceCopiesWholeAndClears) {
    Display d;
    d.console.open("surface", 3, 2, kFormat);
    ptc::Surface s(3, 2, kFormat);
    auto* p = static_cast<uint32_t*>(s.lock());
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(p[i], 0u);
        p[i] = 0x00102030u + uint32_t(i);
    }
    EXPECT_THROW(s.lock(), ptc::DynamicError);
    EXPECT_THROW(s.copy(d.console), ptc::DynamicError);  // still locked
    s.unlock();
    EXPECT_THROW(s.unlock(), ptc::DynamicError);
    s.copy(d.console);
    d.console.update();
    s.clear();
    s.copy(d.console);
    d.console.update();
    ASSERT_EQ(d.frames.size(), 2u);
    EXPECT_EQ(d.frames[0], (std::vector<uint32_t>{0x102030, 0x102031, 0x102032, 0x102033, 0x102034, 0x102035}));
    EXPECT_EQ(d.frames[1], std::vector<uint32_t>(6, 0u));

    ptc::Surface wrong(4, 2, kFormat);
    EXPECT_THROW(wrong.copy(d.console), ptc::DynamicError);
    ptc::Surface empty(0, 0, kFormat);  // a video that failed to open has no pixels; that is not an error
    EXPECT_EQ(empty.width(), 0);
}

TEST(PtcSdlKeys, OnlyTheirOwnKeysGiveTheFiveNamedCodes) {
    const std::map<int, SDL_Keycode> named = {
        {27, SDLK_ESCAPE}, {33, SDLK_PAGEUP}, {34, SDLK_PAGEDOWN}, {38, SDLK_UP}, {40, SDLK_DOWN}};
    for (const auto& [code, key] : named) {
        EXPECT_EQ(ptc::key_code_from_sdl(key, KMOD_NONE), code);
        EXPECT_EQ(ptc::key_code_from_sdl(key, KMOD_NUM | KMOD_SHIFT), code);
    }
    // Every other keycode SDL can produce, with Num Lock on. (With it off the keypad doubles as cursor keys.)
    std::set<SDL_Keycode> keycodes;
    for (int i = 0; i < 0x80; ++i) {
        keycodes.insert(i);
    }
    for (int scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
        keycodes.insert(SDL_SCANCODE_TO_KEYCODE(scancode));
    }
    for (SDL_Keycode key : keycodes) {
        bool is_named = false;
        for (const auto& entry : named) {
            is_named |= entry.second == key;
        }
        if (is_named) {
            continue;
        }
        const int code = ptc::key_code_from_sdl(key, KMOD_NUM);
        EXPECT_TRUE(code != 27 && code != 33 && code != 34 && code != 38 && code != 40) << "SDL key " << key;
    }
    EXPECT_EQ(ptc::key_code_from_sdl(SDLK_KP_3, KMOD_NONE), ptc::Key::PAGEDOWN);
    EXPECT_EQ(ptc::key_code_from_sdl(SDLK_KP_3, KMOD_NUM), 99);
    EXPECT_EQ(ptc::key_code_from_sdl(SDLK_SPACE, KMOD_NONE), 32);
    EXPECT_EQ(ptc::key_code_from_sdl(SDLK_q, KMOD_NONE), 'Q');
}

}  // namespace

namespace {

TEST(PtcSdlFullScreen, PictureFitsWithoutDistortionOrCroppingAndIsCentred) {
    struct Case {
        int out_w, out_h;
        ptc::PictureRect expected;
    };
    const Case cases[] = {
        {512, 384, {0, 0, 512, 384}},        // the window
        {1024, 768, {0, 0, 1024, 768}},      // same shape, scaled
        {1920, 1080, {240, 0, 1440, 1080}},  // wide screen: bars left and right
        {1280, 1024, {0, 32, 1280, 960}},    // 5:4: bars above and below
        {2560, 1600, {213, 0, 2133, 1600}},  // 16:10, width rounded to the nearest pixel
        {300, 1000, {0, 387, 300, 225}},     // portrait
    };
    for (const Case& c : cases) {
        const ptc::PictureRect r = ptc::fit_picture(c.out_w, c.out_h, 512, 384);
        EXPECT_EQ(r.x, c.expected.x) << c.out_w << "x" << c.out_h;
        EXPECT_EQ(r.y, c.expected.y) << c.out_w << "x" << c.out_h;
        EXPECT_EQ(r.width, c.expected.width) << c.out_w << "x" << c.out_h;
        EXPECT_EQ(r.height, c.expected.height) << c.out_w << "x" << c.out_h;
    }
    // Any screen: inside it, touching two opposite edges, 4:3 within a pixel, centred within a pixel.
    for (int w = 1; w < 2000; w += 37) {
        for (int h = 1; h < 2000; h += 41) {
            const ptc::PictureRect r = ptc::fit_picture(w, h, 512, 384);
            ASSERT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.width <= w && r.y + r.height <= h) << w << "x" << h;
            ASSERT_TRUE((r.x == 0 && r.width == w) || (r.y == 0 && r.height == h)) << w << "x" << h;
            ASSERT_LE(std::abs(r.width * 3 - r.height * 4), 4) << w << "x" << h;
            ASSERT_LE(std::abs((w - r.width) - 2 * r.x), 1) << w << "x" << h;
            ASSERT_LE(std::abs((h - r.height) - 2 * r.y), 1) << w << "x" << h;
        }
    }
    const ptc::PictureRect none = ptc::fit_picture(0, 768, 512, 384);
    EXPECT_EQ(none.width, 0);
}

}  // namespace
