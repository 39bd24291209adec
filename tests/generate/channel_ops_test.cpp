#include "generate/channel_ops.h"

#include <gtest/gtest.h>

namespace globeforge {
namespace {

TEST(ChannelOps, ColourOperationsLeaveAlpha) {
    auto made = NewFilledImage(2, 1, kOpaqueBlack);
    ASSERT_TRUE(made);
    FloatImage image = std::move(*made);
    image.At(0, 0) = {-3.0f, 10.0f, 300.0f, 17.0f};
    image.At(1, 0) = {0.5f, -0.25f, 255.0f, 0.0f};

    ClipNegative(image);
    EXPECT_EQ(image.At(0, 0), (FloatPixel{0.0f, 10.0f, 300.0f, 17.0f}));
    EXPECT_EQ(image.At(1, 0), (FloatPixel{0.5f, 0.0f, 255.0f, 0.0f}));

    ScaleColor(image, 0.5);
    EXPECT_EQ(image.At(0, 0), (FloatPixel{0.0f, 5.0f, 150.0f, 17.0f}));

    InvertColor(image);
    EXPECT_EQ(image.At(0, 0), (FloatPixel{255.0f, 250.0f, 105.0f, 17.0f}));
    EXPECT_EQ(image.At(1, 0), (FloatPixel{254.75f, 255.0f, 127.5f, 0.0f}));

    FillAlpha(image, 255.0L - 30 / 100.0L * 255.0L);
    EXPECT_FLOAT_EQ(image.At(1, 0).A, 178.5f);
    EXPECT_EQ(image.At(1, 0).R, 254.75f);

    EXPECT_EQ(IntMax(-4, 3), 3);
    EXPECT_EQ(IntMax(7, 7), 7);
}

}  // namespace
}  // namespace globeforge
