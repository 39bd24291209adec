#include "image/source_layout.h"

#include <gtest/gtest.h>

namespace globeforge {
namespace {

TEST(FindSourceLayout, BitExactConditions) {
    FloatImage image = *NewFilledImage(2, 1, {5.0f, 0.0f, 0.0f, 5.0f});
    EXPECT_EQ(FindSourceLayout(image), SourceLayout::OnlyR);
    image.At(1, 0).G = -0.0f;  // -0 is not a channel left alone by every blend
    EXPECT_EQ(FindSourceLayout(image), SourceLayout::General);
    image.At(1, 0) = {-2.0f, 0.0f, 0.0f, -2.0f};  // a negative weight
    EXPECT_EQ(FindSourceLayout(image), SourceLayout::General);
    image.At(1, 0) = {0.0f, 3.0f, 0.0f, 3.0f};
    EXPECT_EQ(FindSourceLayout(image), SourceLayout::General);
    image = *NewFilledImage(2, 1, {0.0f, 0.0f, 9.0f, 9.0f});
    EXPECT_EQ(FindSourceLayout(image), SourceLayout::OnlyB);
    image = *NewFilledImage(2, 1, {7.0f, 7.0f, 7.0f, 1.0f});
    EXPECT_EQ(FindSourceLayout(image), SourceLayout::Gray);
    image.At(0, 0).B = 7.5f;
    EXPECT_EQ(FindSourceLayout(image), SourceLayout::General);
}

}  // namespace
}  // namespace globeforge
