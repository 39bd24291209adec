#include "generate/channel_ops.h"

#include "generator_fixtures.h"

namespace globeforge {
namespace {

TEST(ChannelOps, ColourOperationsLeaveAlpha) {
    FloatImage image = MakeImage(2, 1);
    image.At(0, 0) = {-3.0f, 10.0f, 300.0f, 17.0f};
    image.At(1, 0) = {0.5f, -0.25f, 255.0f, 0.0f};
    ClipNegative(image);
    EXPECT_EQ(image.At(0, 0), (FloatPixel{0.0f, 10.0f, 300.0f, 17.0f}));
    ScaleColor(image, 0.5);
    InvertColor(image);
    EXPECT_EQ(image.At(0, 0), (FloatPixel{255.0f, 250.0f, 105.0f, 17.0f}));
    EXPECT_EQ(image.At(1, 0), (FloatPixel{254.75f, 255.0f, 127.5f, 0.0f}));
    FillAlpha(image, 255.0L - 30 / 100.0L * 255.0L);
    EXPECT_EQ(image.At(1, 0), (FloatPixel{254.75f, 255.0f, 127.5f, 178.5f}));
    EXPECT_EQ(IntMax(-4, 3), 3);
}

}  // namespace
}  // namespace globeforge
