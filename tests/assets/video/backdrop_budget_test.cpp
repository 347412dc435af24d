// The whole backdrop loop as the data generator writes it: frame count, size, rate and the size budget.
#include <gtest/gtest.h>

#include <cstdio>

#include "assets/video/backdrop.h"
#include "tests/support/test_paths.h"

namespace {

using namespace zorbrix::assets;

// Renders and codes all 300 frames; the data generator does the same at build time.
TEST(Backdrop, WholeLoopFitsTheBudget) {
    const std::string path = test_output_path("zorbrix.nvd");
    std::string error;
    int qp = 0;
    ASSERT_TRUE(write_backdrop(path, &error, &qp)) << error;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    int32_t header[3];
    float fps = 0;
    ASSERT_EQ(std::fread(header, 4, 3, f), 3u);
    ASSERT_EQ(std::fread(&fps, 4, 1, f), 1u);
    std::fclose(f);
    EXPECT_LT(size, kBackdropMaxBytes);
    EXPECT_EQ(header[0], kBackdropFrames);
    EXPECT_EQ(header[1], kBackdropWidth);
    EXPECT_EQ(header[2], kBackdropHeight);
    EXPECT_EQ(fps, 25.0f);
    RecordProperty("qp", qp);
}

}  // namespace
