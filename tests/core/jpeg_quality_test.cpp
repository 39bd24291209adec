#include "core/jpeg_quality.h"

#include <gtest/gtest.h>

namespace globeforge {
namespace {

TEST(JpegQuality, StartsAt90AndKeepsTheLowByte) {
    EXPECT_EQ(GetJpegQuality(), 90);
    SetJpegQuality(356);
    EXPECT_EQ(GetJpegQuality(), 100);
    SetJpegQuality(-1);
    EXPECT_EQ(GetJpegQuality(), 255);
    SetJpegQuality(90);
}

}  // namespace
}  // namespace globeforge
