#include "generate/patterns.h"

#include <gtest/gtest.h>

#include <cmath>

#include "generate/curves.h"

namespace globeforge {
namespace {

FloatImage MakeImage(int32_t w, int32_t h, FloatPixel fill = kOpaqueBlack) {
    auto image = NewFilledImage(w, h, fill);
    EXPECT_TRUE(image.has_value());
    return std::move(*image);
}

bool SamePixels(const FloatImage& a, const FloatImage& b) {
    if (a.Width != b.Width || a.Height != b.Height) return false;
    for (size_t i = 0; i < a.PixelCount(); ++i) {
        if (!(a.Data()[i] == b.Data()[i])) return false;
    }
    return true;
}

// The stored colour of the centred disc is the Norm blend of v over opaque black.
float DiscColour(double v) {
    const float f = static_cast<float>(v);
    return static_cast<float>(static_cast<Extended>(f) * f / 256.0L);
}

TEST(BiasCurve, MatchesCurveBiasExactly) {
    for (const double bias : {-4.0, -2.0, -0.37, 0.0, 0.61, 4.0}) {
        for (const int32_t r : {0, 1, 2, 7, 32, 1000}) {
            const BiasCurve curve(255, 0, 0, r, bias);
            for (int32_t n = 0; n <= r * r + 3; n += 1 + r * r / 97) {
                const double d = std::sqrt(static_cast<double>(n));
                ASSERT_EQ(curve(d), CurveBias(255, 0, 0, r, d, bias))
                    << "bias " << bias << " r " << r << " d " << d;
            }
        }
    }
    const BiasCurve general(-3.5, 12.25, 10, -6, 1.5);
    for (double x = -20; x < 20; x += 0.37) {
        ASSERT_EQ(general(x), CurveBias(-3.5, 12.25, 10, -6, x, 1.5)) << x;
    }
}

TEST(DomePattern, ProfileAndCoverage) {
    FloatImage image = MakeImage(64, 64);
    Lcg32 rng(1);
    DomePattern(image, true, true, true, 0, 4.0, rng);
    EXPECT_EQ(rng.state, 1u) << "a dome count of 0 draws nothing";
    // Exponent 5 of CurveOut at d = 16, r = 32: 255 / 32.
    EXPECT_EQ(image.At(48, 32).R, DiscColour(7.96875));
    EXPECT_EQ(image.At(32, 16).G, DiscColour(7.96875));
    EXPECT_EQ(image.At(32, 32).B, DiscColour(255.0));
    for (size_t i = 0; i < image.PixelCount(); ++i) ASSERT_EQ(image.Data()[i].A, 255.0f);
    // Outside the disc and on its rim (v = 0) the pixel stays opaque black.
    EXPECT_EQ(image.At(0, 0), kOpaqueBlack);
    EXPECT_EQ(image.At(0, 32), kOpaqueBlack);

    DomePattern(image, false, true, false, 0, -4.0, rng);
    EXPECT_EQ(image.At(48, 32), (FloatPixel{0.0f, DiscColour(247.03125), 0.0f, 255.0f}));
}

TEST(DomePattern, DrawsFourTimesPerDomeAndIsRepeatable) {
    FloatImage a = MakeImage(64, 64);
    FloatImage b = MakeImage(64, 64);
    Lcg32 rngA(12345);
    Lcg32 rngB(12345);
    DomePattern(a, true, true, true, 8, 4.0, rngA);
    DomePattern(b, true, true, true, 8, 4.0, rngB);
    EXPECT_TRUE(SamePixels(a, b));
    Lcg32 expected(12345);
    expected.Advance(32);  // 8 domes x (cx, cy, r, e)
    EXPECT_EQ(rngA.state, expected.state);
    EXPECT_EQ(rngA.state, 545062809u);
    // A carries the last chosen channel everywhere.
    for (size_t i = 0; i < a.PixelCount(); ++i) ASSERT_EQ(a.Data()[i].A, a.Data()[i].B);
}

TEST(RingPattern, BandsMeetAndMidpointsAverage) {
    // r = 10: d = 1 is the middle of the first band, d = 2 its outer bound.
    FloatImage image = MakeImage(20, 20);
    Lcg32 rng(3);
    RingPattern(image, true, false, false, 0, 2.0, rng);
    EXPECT_EQ(image.At(11, 10).R, DiscColour(191.5));
    EXPECT_EQ(image.At(10, 10).R, DiscColour(255.0));
    EXPECT_EQ(image.At(12, 10).R, DiscColour(128.0));  // second band starts at 128
    EXPECT_EQ(image.At(14, 10).R, DiscColour(192.0));
    EXPECT_EQ(image.At(16, 10).R, DiscColour(64.0));
    EXPECT_EQ(image.At(18, 10).R, DiscColour(128.0));
    EXPECT_EQ(image.At(20 - 1, 10).R, DiscColour(64.0));  // middle of the last band, d = 9
    EXPECT_EQ(image.At(10, 0), kOpaqueBlack);             // d = 10: rim, value 0
    EXPECT_EQ(image.At(11, 10).G, 0.0f);
    EXPECT_EQ(image.At(11, 10).A, 255.0f);
}

TEST(CarveRandomDomes, CountsAndChannels) {
    const FloatPixel grey{100.0f, 100.0f, 100.0f, 7.0f};

    FloatImage image = MakeImage(16, 16, grey);
    Lcg32 rng(9);
    CarveRandomDomes(image, true, true, true, 0, 1.0, rng);
    EXPECT_EQ(rng.state, 9u);
    EXPECT_EQ(image.At(5, 5), grey) << "count 0 must not even touch A";

    // A negative count carves nothing but still clips and copies the channel into A.
    image.At(1, 1) = {-5.0f, 30.0f, -1.0f, 7.0f};
    CarveRandomDomes(image, true, true, false, -3, 1.0, rng);
    EXPECT_EQ(rng.state, 9u);
    EXPECT_EQ(image.At(1, 1), (FloatPixel{0.0f, 30.0f, 0.0f, 30.0f}));
    EXPECT_EQ(image.At(5, 5), (FloatPixel{100.0f, 100.0f, 100.0f, 100.0f}));

    // No channel chosen: colours stay, only the discs become opaque.
    FloatImage plain = MakeImage(16, 16, grey);
    Lcg32 carve(77);
    CarveRandomDomes(plain, false, false, false, 5, 2.0, carve);
    Lcg32 expected(77);
    expected.Advance(20);
    EXPECT_EQ(carve.state, expected.state);
    int opaque = 0;
    for (size_t i = 0; i < plain.PixelCount(); ++i) {
        const FloatPixel p = plain.Data()[i];
        ASSERT_EQ(p.R, 100.0f);
        ASSERT_TRUE(p.A == 7.0f || p.A == 255.0f);
        opaque += p.A == 255.0f;
    }
    EXPECT_GT(opaque, 0);

    // Only the chosen channel loses value, and never below 0.
    FloatImage green = MakeImage(16, 16, grey);
    Lcg32 carveG(77);
    CarveRandomDomes(green, false, true, false, 5, 2.0, carveG);
    bool carved = false;
    for (size_t i = 0; i < green.PixelCount(); ++i) {
        const FloatPixel p = green.Data()[i];
        ASSERT_EQ(p.R, 100.0f);
        ASSERT_GE(p.G, 0.0f);
        ASSERT_EQ(p.A, p.G);
        carved |= p.G < 100.0f;
    }
    EXPECT_TRUE(carved);
}

TEST(Patterns, DegenerateSizes) {
    // One pixel wide: the disc has radius 0 and the pattern is flat black; the radius draw
    // is Random(0), which still advances the generator.
    FloatImage thin = MakeImage(1, 5);
    Lcg32 rng(4);
    DomePattern(thin, true, true, true, 2, 3.0, rng);
    Lcg32 expected(4);
    expected.Advance(8);
    EXPECT_EQ(rng.state, expected.state);
    for (size_t i = 0; i < thin.PixelCount(); ++i) {
        ASSERT_EQ(thin.Data()[i].R, 0.0f);
        ASSERT_EQ(thin.Data()[i].A, 0.0f);
    }
    RingPattern(thin, true, false, false, 0, 2.0, rng);
    for (size_t i = 0; i < thin.PixelCount(); ++i) ASSERT_EQ(thin.Data()[i], kOpaqueBlack);

    // No pixels at all: the draws happen, nothing is written.
    auto empty = NewImage(0, 0);
    ASSERT_TRUE(empty);
    Lcg32 rngEmpty(4);
    RingPattern(*empty, true, true, true, 3, 2.0, rngEmpty);
    DomePattern(*empty, true, true, true, 3, 2.0, rngEmpty);
    Lcg32 expectedEmpty(4);
    expectedEmpty.Advance(24);
    EXPECT_EQ(rngEmpty.state, expectedEmpty.state);
}

}  // namespace
}  // namespace globeforge
