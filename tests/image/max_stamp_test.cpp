#include "image/max_stamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>

namespace globeforge {
namespace {

TEST(MaxStamp, RaisesOnlyWhereHigherAndNeverTheBowl) {
    FloatImage image = *NewFilledImage(6, 6, kOpaqueBlack);
    image.At(2, 2) = {-100.0f, -100.0f, -100.0f, -1.0f};  // bowl
    image.At(3, 2) = {250.0f, 1.0f, 2.0f, 255.0f};        // higher than the pattern
    const FloatImage pattern = *NewFilledImage(2, 2, {200.0f, 0.0f, 0.0f, 77.0f});
    MaxStamp(image, pattern, 0.0, 2.0, 2.0, 2.0);  // no amplitude: nothing
    MaxStamp(image, pattern, 1.0, 0.0, 2.0, 2.0);  // no radius: nothing
    EXPECT_EQ(image.At(1, 1), kOpaqueBlack);
    MaxStamp(image, pattern, 0.5, 2.0, 2.0, 2.0);
    EXPECT_EQ(image.At(2, 2), (FloatPixel{-100.0f, -100.0f, -100.0f, -1.0f}));
    EXPECT_EQ(image.At(3, 2), (FloatPixel{250.0f, 250.0f, 250.0f, 255.0f}));
    EXPECT_EQ(image.At(0, 4), (FloatPixel{100.0f, 100.0f, 100.0f, 77.0f}));
    EXPECT_EQ(image.At(5, 5), kOpaqueBlack);       // beyond the square
    MaxStamp(image, pattern, 1.0, 3.0, 0.0, 0.0);  // cut at the border, no crash
    EXPECT_EQ(image.At(0, 0).R, 200.0f);
}

TEST(MaxStamp, OpaqueDomesAsTheExtendedSteps) {
    // An opaque pattern with values of both signs, zeros, ties of the float grid and a huge
    // one, stamped over pixels around the same values (some of them bowls), at amplitudes
    // that are not doubles: every pixel against the extended steps written out.
    std::mt19937 gen(17);
    const float specials[] = {0.0f, -0.0f, 1.0f, 1.0f + 0x1p-23f, 255.0f, -3.0f, 3e30f};
    std::uniform_real_distribution<float> any(-20.0f, 260.0f);
    std::uniform_int_distribution<size_t> pick(0, std::size(specials) - 1);
    const auto value = [&] { return gen() % 4 == 0 ? specials[pick(gen)] : any(gen); };
    FloatImage pattern = *NewImage(7, 5);
    for (size_t i = 0; i < pattern.PixelCount(); ++i) pattern.Data()[i] = {value(), 0, 0, 255};
    for (int round = 0; round < 60; ++round) {
        FloatImage image = *NewImage(19, 13);
        for (size_t i = 0; i < image.PixelCount(); ++i) {
            const float r = value();
            image.Data()[i] = {r, 1.0f, 2.0f, gen() % 9 == 0 ? -1.0f : 255.0f};
        }
        FloatImage expected = *NewImage(0, 0);
        CopyImage(expected, image);
        const Extended amplitude = 0.3L + round / 7.0L;
        const Extended radius = 1.5L + round % 9 + round / 13.0L;
        const Extended cx = round % 19 - 2 + 0.25L, cy = round % 13 - 1 + 0.5L;
        MaxStamp(image, pattern, amplitude, radius, cx, cy);
        const auto lerp = [](float a, float b, double t) {
            return static_cast<float>(static_cast<Extended>(t) * a + (1.0L - t) * b);
        };
        Extended sy = 0;
        for (int64_t y = Round(cy - radius); y <= Round(cy + radius);
             ++y, sy += pattern.Height / (2 * radius)) {
            Extended sx = 0;
            for (int64_t x = Round(cx - radius); x <= Round(cx + radius);
                 ++x, sx += pattern.Width / (2 * radius)) {
                if (x < 0 || y < 0 || x >= image.Width || y >= image.Height) continue;
                const BilinearTap tx = BilinearAxis(static_cast<double>(sx), pattern.Width);
                const BilinearTap ty = BilinearAxis(static_cast<double>(sy), pattern.Height);
                const auto r = [&](int32_t i, int32_t j) { return pattern.At(i, j).R; };
                const float top = lerp(r(tx.i1, ty.i0), r(tx.i0, ty.i0), tx.frac);
                const float bottom = lerp(r(tx.i1, ty.i1), r(tx.i0, ty.i1), tx.frac);
                const double v = static_cast<double>(amplitude * lerp(bottom, top, ty.frac));
                FloatPixel& cur = expected.At(static_cast<int32_t>(x), static_cast<int32_t>(y));
                const float vf = static_cast<float>(v);
                cur = v >= cur.R && cur.A >= 0 ? FloatPixel{vf, vf, vf, 255.0f}
                                               : FloatPixel{cur.R, cur.R, cur.R, cur.A};
            }
        }
        for (size_t i = 0; i < image.PixelCount(); ++i) {
            ASSERT_EQ(std::memcmp(&image.Data()[i], &expected.Data()[i], sizeof(FloatPixel)), 0)
                << "round " << round << " pixel " << i;
        }
    }
}

}  // namespace
}  // namespace globeforge
