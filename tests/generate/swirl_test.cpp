#include "generate/swirl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

#include "generate/warp.h"

namespace globeforge {
namespace {

// Every pixel distinct: x + 3 y in the colour channels.
FloatImage Gradient(int32_t w, int32_t h) {
    FloatImage image = *NewImage(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float v = static_cast<float>(x + 3 * y);
            image.At(x, y) = {v, v, v, 255.0f};
        }
    return image;
}

TEST(SwirlImage, PullsTowardTheCentreTurnedByTheMap) {
    const FloatImage src = Gradient(16, 16);
    FloatImage dst = *NewFilledImage(16, 16, kOpaqueBlack);
    RenderContext ctx;
    // No strength: a copy whose one-pixel border repeats the inner neighbours.
    SwirlImage(src, *NewFilledImage(16, 16, kOpaqueBlack), dst, 0.0, 0.0, ctx);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(dst.At(x, y), src.At(std::clamp(x, 1, 14), std::clamp(y, 1, 14))) << x << y;

    // A two-pixel pull toward the centre, then the same turned by a quarter turn.
    SwirlImage(src, *NewFilledImage(16, 16, {0.0f, 254.0f, 254.0f, 255.0f}), dst, 64.0, 64.0, ctx);
    EXPECT_EQ(dst.At(3, 8), src.At(5, 8));
    EXPECT_EQ(dst.At(8, 12), src.At(8, 10));
    SwirlImage(src, *NewFilledImage(16, 16, {63.75f, 254.0f, 254.0f, 255.0f}), dst, 64.0, 64.0,
               ctx);
    EXPECT_EQ(dst.At(3, 8), src.At(3, 10));

    // Degenerate sizes neither crash nor divide by zero.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 1}, std::pair{1, 3}}) {
        const FloatImage s = Gradient(w, h);
        FloatImage d = *NewFilledImage(w, h, kOpaqueBlack);
        SwirlImage(s, s, d, 5.0, 5.0, ctx);
        EXPECT_EQ(d.At(0, 0), s.At(0, h / 2));  // the clamp settles on the middle
    }
}

TEST(SwirlImage, SameOffsetsAsTheExtendedSteps) {
    // Every pixel of the source distinct, so each copied pixel tells its offset; maps with
    // components at the ends of their range and beyond, and strengths whose pulls are whole
    // or half pixels (ties of the rounding), against the extended steps written out.
    const int32_t w = 24, h = 14;
    FloatImage src = *NewImage(w, h);
    for (int32_t i = 0; i < w * h; ++i) src.Data()[i] = {float(i), 0.0f, 0.0f, 255.0f};
    std::mt19937 gen(31);
    const float specials[] = {-1.0f, -1.0f + 0x1p-24f, 254.0f, 255.0f, 1e20f, 0.5f, 127.5f};
    std::uniform_real_distribution<float> any(-5.0f, 260.0f);
    std::uniform_int_distribution<size_t> pick(0, std::size(specials) - 1);
    RenderContext ctx;
    for (const double strength : {1.0, 2.5 * 512 / w, 3.0 * 512 / w, 0.75 * 512 / h, 7.3}) {
        FloatImage map = *NewImage(w, h);
        for (size_t i = 0; i < map.PixelCount(); ++i) {
            const auto channel = [&] { return gen() % 3 == 0 ? specials[pick(gen)] : any(gen); };
            map.Data()[i] = {gen() % 2 == 0 ? 0.0f : channel(), channel(), channel(), 255.0f};
        }
        FloatImage dst = *NewImage(w, h);
        SwirlImage(src, map, dst, strength, strength, ctx);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const FloatPixel q = map.At(x, y);
                double u = static_cast<double>(static_cast<Extended>(w / 2 - x) / (w / 2) *
                                               ((q.G + 1.0L) / 255.0L));
                double v = static_cast<double>(static_cast<Extended>(h / 2 - y) / (h / 2) *
                                               ((q.B + 1.0L) / 255.0L));
                const double d = static_cast<double>(
                    std::sqrt(static_cast<Extended>(u) * u + static_cast<Extended>(v) * v));
                if (d > 0) {
                    u = static_cast<double>(u / static_cast<Extended>(d) * strength * (w / 512.0L));
                    v = static_cast<double>(v / static_cast<Extended>(d) * strength * (h / 512.0L));
                }
                const Vector2 turned =
                    RotateVector(u, v, static_cast<double>(q.R * 0.00392156862745098L * 360.0L));
                const int64_t nx = std::clamp<int64_t>(x + Round(turned.x), 1, w - 2);
                const int64_t ny = std::clamp<int64_t>(y + Round(turned.y), 1, h - 2);
                ASSERT_EQ(dst.At(x, y).R, float(ny * w + nx)) << strength << " " << x << " " << y;
            }
        }
    }
}

TEST(SwirlReach, WindowedSwirlIsTheWholeSwirl) {
    // Opaque black but for a patch, as a crater stamp: rows and columns far from it are out
    // of reach. Random finite maps; strengths that reach a few pixels and most of the image.
    const int32_t w = 40, h = 30;
    FloatImage src = *NewFilledImage(w, h, kOpaqueBlack);
    for (int32_t y = 12; y < 16; ++y)
        for (int32_t x = 18; x < 23; ++x) src.At(x, y) = {float(x), float(y), 1.0f, 255.0f};
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> any(-300.0f, 300.0f);
    RenderContext ctx;
    for (const double strength : {0.0, 20.0, -90.0, 400.0}) {
        FloatImage map = *NewImage(w, h);
        for (size_t i = 0; i < map.PixelCount(); ++i) {
            const float r = any(gen);
            const float g = any(gen);
            const float b = any(gen);
            map.Data()[i] = {r, g, b, 255.0f};
        }
        const std::vector<ColumnSpan> window = SwirlReach(src, strength, strength, ctx);
        ASSERT_EQ(window.size(), size_t{h});
        if (std::fabs(strength) <= 20.0) {
            EXPECT_GE(window[0].x0, window[0].x1) << strength;
        }
        FloatImage whole = *NewImage(w, h);
        FloatImage windowed = *NewImage(w, h);
        SwirlImage(src, map, whole, strength, strength, ctx);
        SwirlImage(src, map, windowed, strength, strength, ctx, window);
        for (size_t i = 0; i < whole.PixelCount(); ++i) {
            ASSERT_EQ(whole.Data()[i], windowed.Data()[i]) << strength << " pixel " << i;
        }
    }
}

}  // namespace
}  // namespace globeforge
