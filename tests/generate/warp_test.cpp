#include "generate/warp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace globeforge {
namespace {

FloatImage MakeImage(int32_t w, int32_t h, FloatPixel fill = kOpaqueBlack) {
    auto image = NewFilledImage(w, h, fill);
    EXPECT_TRUE(image.has_value());
    return std::move(*image);
}

// Records the percentages it sees and requests an abort after a number of event rounds.
class AbortingSink : public ProgressSink {
  public:
    AbortingSink(RenderContext& c, int abortAfter) : ctx(c), remaining(abortAfter) {}
    void DrawProgressImage(const FloatImage&) override {}
    void SetMessage(std::string_view) override {}
    void ProcessPendingEvents() override {
        percents.push_back(ctx.ProgressPercent);
        if (--remaining == 0) ctx.AbortRequested = true;
    }
    RenderContext& ctx;
    int remaining;
    std::vector<int32_t> percents;
};

TEST(RotateVector, TurnsCounterclockwise) {
    const Vector2 v = RotateVector(1, 0, 90);
    EXPECT_NEAR(static_cast<double>(v.x), 0.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(v.y), 1.0, 1e-15);
    const Vector2 w = RotateVector(3, 4, -180);
    EXPECT_NEAR(static_cast<double>(w.x), -3.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(w.y), -4.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(DegToRad(180)), M_PI, 1e-15);
}

TEST(WarpOffset, WorkedValuesAndWrapping) {
    // q = 0: latitude factor 1 on the equator row, exponent 2, a double turn; the vector is
    // (-0.5, -0.5) and the draw is made although q.B = 0 cancels it.
    Lcg32 rng(5);
    const Vector2 a = WarpOffset({0, 0, 0, 255}, 512, 512, 1, 1, 10, 256, rng);
    EXPECT_NEAR(static_cast<double>(a.x), 9.5, 1e-12);
    EXPECT_NEAR(static_cast<double>(a.y), 255.5, 1e-12);
    Lcg32 once(5);
    once.Advance(1);
    EXPECT_EQ(rng.state, once.state);

    // Column 0 moves half a pixel left and wraps to the right edge.
    const Vector2 left = WarpOffset({0, 0, 0, 255}, 512, 512, 1, 1, 0, 256, rng);
    EXPECT_NEAR(static_cast<double>(left.x), 511.5, 1e-12);

    // G = B = 256 is the neutral value: no displacement at all, whatever R and the draw.
    for (float r : {0.0f, 77.0f, 300.0f}) {
        const Vector2 n = WarpOffset({r, 256, 256, 255}, 64, 32, 100, 100, 17, 3, rng);
        EXPECT_EQ(n.x, 17);
        EXPECT_EQ(n.y, 3);
    }

    // Toward the top row the horizontal part is stretched up to 20 times; with R = 512 the
    // angle is 720 degrees whatever the exponent, so the vector keeps its direction.
    const Vector2 top = WarpOffset({512, 0, 256, 255}, 512, 512, 4, 1, 100, 0, rng);
    EXPECT_NEAR(static_cast<double>(top.x), 100 - 2.0 * 20, 1e-9);
    EXPECT_NEAR(static_cast<double>(top.y), 0.0, 1e-9);

    // A displacement of more than a width lands where the reduced one does.
    const Vector2 far = WarpOffset({512, 0, 256, 255}, 16, 16, 500, 1, 3, 8, rng);
    // -0.5 * 500 * 16 / 512 = -7.8125 on the equator row.
    const double expected = 3 - 7.8125 + 16;
    EXPECT_NEAR(static_cast<double>(far.x), expected, 1e-9);
    const Vector2 farther = WarpOffset({512, 0, 256, 255}, 4, 16, 500 * 4, 1, 3, 8, rng);
    // -0.5 * 2000 * 4 / 512 = -7.8125 again, now almost two widths: lands at 3.1875.
    EXPECT_NEAR(static_cast<double>(farther.x), 3 - 7.8125 + 8, 1e-9);
}

TEST(WarpImage, ZeroStrengthCopiesAndDrawsOncePerPixel) {
    FloatImage src = MakeImage(7, 5);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 7; ++x) {
            src.At(x, y) = {float(x * 10 + y), float(y), float(x), 255.0f};
        }
    }
    FloatImage map = MakeImage(7, 5, {90.0f, 13.0f, 200.0f, 255.0f});
    FloatImage dst = MakeImage(7, 5, kTransparentBlack);
    RenderContext ctx;
    ctx.rng = Lcg32(2024);
    WarpImage(src, map, dst, 0.0, 0.0, ctx);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 7; ++x) ASSERT_EQ(dst.At(x, y), src.At(x, y)) << x << "," << y;
    }
    Lcg32 expected(2024);
    expected.Advance(35);
    EXPECT_EQ(ctx.rng.state, expected.state);
    EXPECT_EQ(ctx.ProgressPercent, 80);  // Round(4 / 5 * 100): the last row reported

    // Real displacements still draw exactly W x H times.
    FloatImage moved = MakeImage(7, 5);
    WarpImage(src, map, moved, 3.0, 2.0, ctx);
    expected.Advance(35);
    EXPECT_EQ(ctx.rng.state, expected.state);
}

TEST(WarpImage, AbortStopsAfterTheRowAndKeepsTheRest) {
    FloatImage src = MakeImage(4, 10, {50.0f, 50.0f, 50.0f, 255.0f});
    FloatImage map = MakeImage(4, 10, {0.0f, 256.0f, 256.0f, 255.0f});
    FloatImage dst = MakeImage(4, 10, kTransparentBlack);
    RenderContext ctx;
    ctx.rng = Lcg32(1);
    AbortingSink sink(ctx, 3);
    ctx.SetProgressTargets(&sink);
    WarpImage(src, map, dst, 1.0, 1.0, ctx);
    EXPECT_EQ(sink.percents, (std::vector<int32_t>{0, 10, 20}));
    EXPECT_EQ(dst.At(3, 2), src.At(3, 2));
    EXPECT_EQ(dst.At(0, 3), kTransparentBlack);
    Lcg32 expected(1);
    expected.Advance(12);
    EXPECT_EQ(ctx.rng.state, expected.state);

    // Empty images are a no-op, not a crash.
    auto empty = NewImage(0, 0);
    ASSERT_TRUE(empty);
    FloatImage none = std::move(*empty);
    ctx.AbortRequested = false;
    WarpImage(none, none, none, 1.0, 1.0, ctx);
    EXPECT_EQ(ctx.rng.state, expected.state);
}

}  // namespace
}  // namespace globeforge
