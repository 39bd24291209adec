#include "image/float_image.h"

#include <gtest/gtest.h>

namespace globeforge {
namespace {

FloatImage MakeImage(int32_t w, int32_t h) {
    auto image = NewImage(w, h);
    EXPECT_TRUE(image.has_value());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            image->At(x, y) = FloatPixel{float(x), float(y), float(x + 10 * y), 255.0f};
    return std::move(*image);
}

constexpr FloatPixel kWhite{255, 255, 255, 255};

}  // namespace

TEST(NewImage, RefusesImpossibleSizes) {
    EXPECT_FALSE(NewImage(-1, 4).has_value());
    EXPECT_FALSE(NewImage(4, -1).has_value());
    EXPECT_FALSE(NewImage(2147483647, 2147483647).has_value());
    auto empty = NewImage(0, 5);
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->PixelCount(), 0u);
    FillImage(*empty, kWhite);  // nothing to fill, nothing to crash
    NormalizeImage(*empty);

    // Large blocks start on a huge page boundary, so a huge page holds no neighbour; a count
    // whose bytes overflow is refused, not wrapped.
    auto large = NewImage(1000, 200);
    ASSERT_TRUE(large.has_value());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(large->Data()) % (size_t{2} << 20), 0u);
    EXPECT_EQ(NewPixelBlock<FloatPixel>(SIZE_MAX / 8), nullptr);
}

TEST(PixelAccess, CoordinateRuleWithAndWithoutWrap) {
    FloatImage image = MakeImage(5, 4);
    EXPECT_EQ(GetPixel(image, -1, 0, Wrap::On), image.At(4, 0));
    EXPECT_EQ(GetPixel(image, -1, 0, Wrap::Off), kTransparentBlack);
    EXPECT_EQ(GetPixel(image, 5, 0, Wrap::On), image.At(0, 0));
    EXPECT_EQ(GetPixel(image, -6, -1, Wrap::On), image.At(4, 3));  // -W-1 maps to W-1
    EXPECT_EQ(GetPixel(image, 2, 9, Wrap::On), image.At(2, 1));

    const FloatPixel p{1, 2, 3, 4};
    const FloatPixel before = image.At(0, 3);
    SetPixel(image, 5, 3, p, Wrap::Off);
    EXPECT_EQ(image.At(0, 3), before);
    SetPixel(image, 5, 3, p, Wrap::On);
    EXPECT_EQ(image.At(0, 3), p);
}

TEST(BlendPixel, FormulasOfEveryMode) {
    const FloatPixel d{100, 50, 10, 128};
    const FloatPixel s{51, 255, 0, 51};  // A = 51 weights by 0.2

    FloatPixel o = BlendPixel(d, s, BlendMode::Add);
    EXPECT_FLOAT_EQ(o.R, 110.2f);
    EXPECT_FLOAT_EQ(o.G, 101.0f);
    EXPECT_FLOAT_EQ(o.B, 10.0f);
    EXPECT_EQ(o.A, 51.0f);

    o = BlendPixel(d, s, BlendMode::Sub);
    EXPECT_FLOAT_EQ(o.R, 89.8f);
    EXPECT_FLOAT_EQ(o.G, -1.0f);  // never clamped
    EXPECT_EQ(o.A, 51.0f);

    o = BlendPixel(d, s, BlendMode::AddDirect);
    EXPECT_EQ(o, (FloatPixel{151, 305, 10, 51}));
    o = BlendPixel(d, s, BlendMode::SubDirect);
    EXPECT_EQ(o, (FloatPixel{49, -205, 10, 51}));

    // Norm divides by 256: opaque white over opaque black is 255 * 255 / 256.
    o = BlendPixel(kOpaqueBlack, kWhite, BlendMode::Norm);
    EXPECT_EQ(o, (FloatPixel{254.00390625f, 254.00390625f, 254.00390625f, 255.0f}));
    o = BlendPixel(FloatPixel{0, 0, 0, 0}, FloatPixel{0, 0, 0, 127.5f}, BlendMode::Norm);
    EXPECT_FLOAT_EQ(o.A, 127.5f);

    // An unknown mode leaves the destination alone; Add with s.A = 0 keeps the colour.
    EXPECT_EQ(BlendPixel(d, s, static_cast<BlendMode>(3)), d);
    o = BlendPixel(d, FloatPixel{200, 200, 200, 0}, BlendMode::Add);
    EXPECT_EQ(o, (FloatPixel{100, 50, 10, 0}));
}

TEST(BlendPixelAt, ZeroSourceAlphaAndOutsideWritesChangeNothing) {
    for (BlendMode mode : {BlendMode::Add, BlendMode::Sub, BlendMode::Norm, BlendMode::AddDirect,
                           BlendMode::SubDirect}) {
        FloatImage image = MakeImage(3, 3);
        const FloatPixel before = image.At(1, 1);
        BlendPixelAt(image, 1, 1, FloatPixel{9, 9, 9, 0}, Wrap::Off, mode);
        EXPECT_EQ(image.At(1, 1), before);
        BlendPixelAt(image, 3, 1, FloatPixel{9, 9, 9, 255}, Wrap::Off, mode);
        EXPECT_EQ(image.At(0, 1), MakeImage(3, 3).At(0, 1));
    }
    FloatImage image = MakeImage(3, 3);
    BlendPixelAt(image, 3, 1, FloatPixel{9, 9, 9, 255}, Wrap::On, BlendMode::AddDirect);
    EXPECT_EQ(image.At(0, 1), (FloatPixel{9, 10, 19, 255}));
}

TEST(SampleBilinear, CentresWrapAndTransparentNeighbours) {
    auto image = NewImage(2, 1);
    ASSERT_TRUE(image);
    image->At(0, 0) = kOpaqueBlack;
    image->At(1, 0) = kWhite;
    EXPECT_EQ(SampleBilinear(*image, 0.5, 0), (FloatPixel{127.5f, 127.5f, 127.5f, 255}));
    EXPECT_EQ(SampleBilinear(*image, 1.5, 0), (FloatPixel{127.5f, 127.5f, 127.5f, 255}));
    EXPECT_EQ(SampleBilinear(*image, -0.5, 0), (FloatPixel{127.5f, 127.5f, 127.5f, 255}));
    EXPECT_EQ(SampleBilinear(*image, 1, 0), kWhite);

    image->At(0, 0) = FloatPixel{255, 0, 0, 255};
    image->At(1, 0) = kTransparentBlack;
    EXPECT_EQ(SampleBilinear(*image, 0.5, 0), (FloatPixel{255, 0, 0, 127.5f}));

    FloatImage grid = MakeImage(4, 6);
    EXPECT_EQ(SampleBilinear(grid, 2, 5), grid.At(2, 5));
    // Far-away and non-finite coordinates wrap or fall back instead of overflowing.
    EXPECT_EQ(SampleBilinear(grid, 4e12, -6e12), grid.At(0, 0));
    (void)SampleBilinear(grid, std::numeric_limits<double>::quiet_NaN(), 1e300);
}

TEST(Stretch, EmptyRectanglesDrawNothing) {
    FloatImage src = MakeImage(4, 4);
    for (const ImageRect dst :
         {ImageRect{0, 0, 0, 4}, ImageRect{0, 0, 4, 0}, ImageRect{0, 0, -3, 2}}) {
        FloatImage target = MakeImage(4, 4);
        StretchBlendNearest(src, {0, 0, 4, 4}, target, dst, Wrap::On, BlendMode::AddDirect);
        StretchBlendBilinear(src, {0, 0, 4, 4}, target, dst, Wrap::On, BlendMode::AddDirect);
        StretchBlendSmooth(src, {0, 0, 4, 4}, target, dst, Wrap::On, BlendMode::AddDirect);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(target.At(x, y), MakeImage(4, 4).At(x, y));
    }
}

TEST(Stretch, NearestScalesAndWrapsOnlyTheDestination) {
    FloatImage src = MakeImage(2, 2);
    auto dst = NewFilledImage(4, 4, kOpaqueBlack);
    ASSERT_TRUE(dst);
    // Doubling: positions 0, 0.5, 1, 1.5 round half to even to 0, 0, 1, 2 (2 is outside).
    StretchBlendNearest(src, {0, 0, 2, 2}, *dst, {2, 2, 4, 4}, Wrap::On, BlendMode::AddDirect);
    EXPECT_EQ(dst->At(2, 2), src.At(0, 0));
    EXPECT_EQ(dst->At(3, 2), src.At(0, 0));
    EXPECT_EQ(dst->At(0, 2), src.At(1, 0));  // x = 4 wrapped to 0
    EXPECT_EQ(dst->At(1, 2), kOpaqueBlack);  // source position 2 is outside: skipped
    EXPECT_EQ(dst->At(2, 0), src.At(0, 1));  // y = 4 wrapped to 0
}

TEST(Stretch, SmoothAveragesNineSamples) {
    auto src = NewFilledImage(3, 3, kOpaqueBlack);
    ASSERT_TRUE(src);
    src->At(1, 1) = FloatPixel{90, 90, 90, 255};
    auto dst = NewFilledImage(1, 1, FloatPixel{0, 0, 0, 255});
    ASSERT_TRUE(dst);
    // One destination pixel over the whole source: samples at 0, 1, 2 on both axes.
    StretchBlendSmooth(*src, {0, 0, 3, 3}, *dst, {0, 0, 1, 1}, Wrap::Off, BlendMode::AddDirect);
    EXPECT_FLOAT_EQ(dst->At(0, 0).R, 10.0f);
    EXPECT_FLOAT_EQ(dst->At(0, 0).A, 255.0f);
}

TEST(NormalizeImage, StretchesJointlyAndLeavesFlatImages) {
    auto flat = NewFilledImage(3, 2, FloatPixel{7, 7, 7, 12});
    ASSERT_TRUE(flat);
    NormalizeImage(*flat);
    EXPECT_EQ(flat->At(2, 1), (FloatPixel{7, 7, 7, 12}));

    auto image = NewFilledImage(2, 1, FloatPixel{10, 20, 30, 5});
    ASSERT_TRUE(image);
    image->At(1, 0) = FloatPixel{42, 50, 26, 5};
    NormalizeImage(*image);
    EXPECT_EQ(image->At(0, 0), (FloatPixel{0, 64, 128, 5}));
    EXPECT_FLOAT_EQ(image->At(1, 0).R, 204.8f);
    EXPECT_EQ(image->At(1, 0).G, 256.0f);
}

TEST(ResizeImage, KeepsTopLeftAndSameSizeIsANoOp) {
    FloatImage image = MakeImage(3, 2);
    const FloatPixel* block = image.Data();
    EXPECT_TRUE(ResizeImage(image, 3, 2));
    EXPECT_EQ(image.Data(), block);
    EXPECT_TRUE(ResizeImage(image, 2, 3));
    EXPECT_EQ(image.At(1, 1), (FloatPixel{1, 1, 11, 255}));
    EXPECT_FALSE(ResizeImage(image, -1, 3));
    EXPECT_EQ(image.Width, 2);

    auto copy = NewImage(1, 1);
    ASSERT_TRUE(copy);
    CopyImage(*copy, image);
    EXPECT_EQ(copy->Width, 2);
    EXPECT_EQ(copy->Height, 3);
    EXPECT_EQ(copy->At(0, 1), image.At(0, 1));
}

}  // namespace globeforge
