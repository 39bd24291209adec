#include "image/scalar_image.h"

#include <gtest/gtest.h>

#include <random>

namespace globeforge {
namespace {

TEST(ScalarImage, SamplesAndConvertsAsItsGrayColourImage) {
    std::mt19937 gen(21);
    std::uniform_real_distribution<float> value(-100.0f, 400.0f);
    FloatImage colour = *NewImage(7, 5);
    for (size_t i = 0; i < colour.PixelCount(); ++i) {
        const float v = value(gen);
        colour.Data()[i] = {v, v, v, 255.0f};
    }
    const ScalarImage gray = *ScalarFromGray(colour);
    ASSERT_EQ(gray.Width, 7);
    ASSERT_EQ(gray.Height, 5);
    std::uniform_real_distribution<double> at(-20.0, 20.0);
    for (int i = 0; i < 2000; ++i) {
        const double x = i % 10 == 0 ? std::floor(at(gen)) : at(gen);
        const double y = at(gen);
        const FloatPixel expected = SampleBilinear(colour, x, y);
        ASSERT_EQ(SampleBilinear(gray, x, y), expected.R) << x << " " << y;
        ASSERT_EQ(expected.A, 255.0f);
    }
    ScalarImage scaled = *ScalarFromGray(colour);
    ScaleValues(scaled, 0.37L);
    for (size_t i = 0; i < scaled.PixelCount(); ++i) {
        ASSERT_EQ(scaled.Data()[i], static_cast<float>(colour.Data()[i].R * 0.37L));
    }
}

TEST(ScalarImage, DisplayCopiesAndSizes) {
    ScalarImage image = *NewScalarImage(10, 7);
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 10; ++x) image.At(x, y) = static_cast<float>(x + 100 * y);
    const FloatImage full = *GrayForDisplay(image, 70);
    ASSERT_EQ(full.Width, 10);
    EXPECT_EQ(full.At(9, 6), (FloatPixel{609.0f, 609.0f, 609.0f, 255.0f}));
    // Too many pixels: every k-th row and column, the smallest k that fits.
    const FloatImage shown = *GrayForDisplay(image, 19);
    EXPECT_EQ(shown.Width, 4);  // columns 0, 3, 6, 9
    EXPECT_EQ(shown.Height, 3);
    EXPECT_EQ(shown.At(3, 2).R, 609.0f);
    FillScalarImage(image, 2.5f);
    EXPECT_EQ(image.At(4, 4), 2.5f);
    EXPECT_FALSE(NewScalarImage(-1, 3));
    EXPECT_FALSE(NewScalarImage(2147483647, 2147483647));
    EXPECT_EQ(NewScalarImage(0, 3)->PixelCount(), 0u);
}

}  // namespace
}  // namespace globeforge
