// Where the SDL display puts the picture: the window's whole-multiple size for a desktop, and the sharp placement.
#include "platform/ptc_sdl.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowScale, LargestWholeMultipleWithinEightyPercentOfTheDesktop) {
    EXPECT_EQ(ptc::window_scale(1920, 1080, 512, 384), 2);  // 1024 x 768
    EXPECT_EQ(ptc::window_scale(3840, 2160, 512, 384), 4);  // 2048 x 1536 within 3072 x 1728
    EXPECT_EQ(ptc::window_scale(2560, 1440, 512, 384), 3);  // 1536 x 1152 within 2048 x 1152
    EXPECT_EQ(ptc::window_scale(1280, 1024, 512, 384), 2);
    EXPECT_EQ(ptc::window_scale(1024, 768, 512, 384), 1);
    EXPECT_EQ(ptc::window_scale(640, 480, 512, 384), 1);  // never below 1
    EXPECT_EQ(ptc::window_scale(0, 0, 512, 384), 1);
}

TEST(SharpPicture, WholeMultiplesCentredAndFitWhenNoneFits) {
    const ptc::PictureRect full_hd = ptc::sharp_picture(1920, 1080, 512, 384);
    EXPECT_EQ(full_hd.width, 1024);
    EXPECT_EQ(full_hd.height, 768);
    EXPECT_EQ(full_hd.x, 448);
    EXPECT_EQ(full_hd.y, 156);
    const ptc::PictureRect exact = ptc::sharp_picture(1536, 1152, 512, 384);
    EXPECT_EQ(exact.x, 0);
    EXPECT_EQ(exact.width, 1536);
    const ptc::PictureRect small = ptc::sharp_picture(400, 300, 512, 384);  // below 1x: shrunk to fit
    EXPECT_EQ(small.width, 400);
    EXPECT_EQ(small.height, 300);
    const ptc::PictureRect none = ptc::sharp_picture(0, 300, 512, 384);
    EXPECT_EQ(none.width, 0);
}

}  // namespace
