#include "image/color_pack.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "image/bitmap24.h"

namespace globeforge {
namespace {

TEST(FloatToByte, ClampsThenRoundsHalvesToEven) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, int> cases[] = {
        {0.5f, 0},     {1.5f, 2},    {2.5f, 2},     {254.5f, 254}, {255.0f, 255},
        {255.4f, 255}, {256.f, 255}, {inf, 255},    {-3.0f, 0},    {-0.4f, 0},
        {-inf, 0},     {nan, 0},     {127.5f, 128}, {0.49f, 0},    {99.51f, 100}};
    for (const auto& [in, out] : cases) EXPECT_EQ(FloatToByte(in), out) << in;
    // A bitmap row, four pixels at a time where it can be, gives the same bytes.
    auto image = NewFilledImage(std::size(cases) + 2, 1, kOpaqueBlack);
    for (int32_t x = 0; x < image->Width; ++x) {
        const auto at = [&](int32_t k) { return cases[k % std::size(cases)].first; };
        image->At(x, 0) = {at(x), at(x + 5), at(x + 11), 255.0f};
    }
    std::vector<uint8_t> row(3 * image->Width);
    ImageRowToBgr(*image, 0, row.data());
    for (int32_t x = 0; x < image->Width; ++x) {
        const BgrPixel p = PixelToBgr(image->At(x, 0));
        EXPECT_EQ((BgrPixel{row[3 * x], row[3 * x + 1], row[3 * x + 2]}), p) << x;
    }
}

TEST(ColorPacking, ByteOrdersOfColourValueWordAndBitmapPixel) {
    EXPECT_EQ(PixelToBgr({255.4f, -3.0f, 127.5f, 0.0f}), (BgrPixel{128, 0, 255}));
    EXPECT_EQ(PixelToBgr({256.0f, 10.0f, 20.0f, 255.0f}), (BgrPixel{20, 10, 255}));
    EXPECT_EQ(BgrToPixel({1, 2, 3}), (FloatPixel{3, 2, 1, 255}));
    EXPECT_EQ(ColorToPixel(0x00FF8000u), (FloatPixel{0, 128, 255, 255}));
    EXPECT_EQ(ColorToPixel(0xAB000000u), kOpaqueBlack);  // the top byte is not alpha
    EXPECT_EQ(ColorWordToPixel(0x80FF4020u), (FloatPixel{0x20, 0x40, 0xFF, 0x80}));
    EXPECT_EQ(PixelToColorWord({0x20, 0x40, 0xFF, 0x80}), 0x80FF4020u);
    EXPECT_EQ(PixelToColorWord({300.0f, -5.0f, 127.5f, 0}), 0x008000FFu);
    // Alpha is rounded but not clamped: only its low 8 bits survive.
    EXPECT_EQ(PixelToColorWord({0, 0, 0, 256.0f}) >> 24, 0u);
    EXPECT_EQ(PixelToColorWord({0, 0, 0, -1.0f}) >> 24, 255u);
    EXPECT_EQ(PixelToColorWord({0, 0, 0, 126.5f}) >> 24, 126u);
}

TEST(BitmapConversion, EachSideTakesTheOthersSizeAndRowsAreContiguous) {
    auto image = NewFilledImage(3, 2, {10, 101, 200, 7});
    image->At(2, 1) = {256.0f, -1.0f, 0.5f, 0.0f};
    Bitmap24 bitmap;
    SetBitmapSize(bitmap, 9, 9);
    ASSERT_TRUE(ImageToBitmap(bitmap, *image));
    ASSERT_EQ(bitmap.Width, 3);
    ASSERT_EQ(bitmap.Bytes.size(), 18u);
    EXPECT_EQ(bitmap.Row(1)[0], 200);
    EXPECT_EQ(bitmap.Row(1)[6], 0);  // 0.5 rounds to the even 0
    auto back = NewFilledImage(5, 7, kOpaqueBlack);
    ASSERT_TRUE(BitmapToImage(*back, bitmap));
    ASSERT_EQ(back->Width, 3);
    ASSERT_EQ(back->Height, 2);
    EXPECT_EQ(back->At(1, 0), (FloatPixel{10, 101, 200, 255}));
    EXPECT_EQ(back->At(2, 1), (FloatPixel{255, 0, 0, 255}));
}

}  // namespace
}  // namespace globeforge
