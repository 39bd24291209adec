#include "generate/stamping.h"

#include <gtest/gtest.h>

#include <vector>

#include "generate/ground_layer.h"
#include "generate/patterns.h"
#include "recording_sink.h"

namespace globeforge {
namespace {

// A pass whose every stamp is size x size, whatever the draws, with an opaque brush of
// value 1; the redraw records the generator state it was called with.
StampPass FixedSizePass(int32_t count, HemisphereRule rule, int32_t size,
                        std::vector<std::pair<int32_t, uint32_t>>* redraws) {
    StampPass pass;
    pass.count = count;
    pass.redrawBrush = [redraws](int32_t i, FloatImage& brush, Lcg32& rng) {
        if (redraws) redraws->emplace_back(i, rng.state);
        FillImage(brush, {1.0f, 1.0f, 1.0f, 255.0f});
        const int32_t unused = rng.Random(3);  // a redraw that draws, like the patterns
        (void)unused;
    };
    pass.pLat = 2;
    pass.hemisphere = rule;
    pass.sMax = size;
    pass.sMin = size;
    pass.pSize = 2;
    pass.wEq = [](int32_t s) { return static_cast<double>(s); };
    pass.wPole = [](int32_t s) { return static_cast<double>(s); };
    pass.pWide = 2;
    pass.width = [](int32_t w0, int32_t) { return w0; };
    pass.height = [](int32_t, int32_t s) { return s; };
    pass.mode = [](int32_t) { return BlendMode::AddDirect; };
    return pass;
}

FloatImage MakeImage(int32_t w, int32_t h, FloatPixel fill = kOpaqueBlack) {
    auto image = NewFilledImage(w, h, fill);
    EXPECT_TRUE(image.has_value());
    return std::move(*image);
}

TEST(StampRectangle, GroundBaseWorkedStamp) {
    RenderParams params;
    params.GroundXWarp = 1;
    params.GroundYWarp = 1;
    const auto passes = GroundStampPasses(params, 1024);
    StampDraws draws;
    draws.cx = 300;
    draws.r1 = 5000;
    draws.r2 = 500;
    // Odd stamps go below the middle row: cy = 256 + 32, size 64, w0 = Round(10.47) = 10.
    const ImageRect odd = StampRectangle(passes[0], 7, 512, draws);
    EXPECT_EQ(odd.X, 295);
    EXPECT_EQ(odd.Y, 256);
    EXPECT_EQ(odd.W, 10);
    EXPECT_EQ(odd.H, 65);
    EXPECT_EQ(passes[0].mode(7), BlendMode::AddDirect);
    // Even ones above it, in the weighted Add mode.
    const ImageRect even = StampRectangle(passes[0], 8, 512, draws);
    EXPECT_EQ(even.Y, 224 - 32);
    EXPECT_EQ(even.H, 65);
    EXPECT_EQ(passes[0].mode(8), BlendMode::Add);

    // In the filter passes the side is the drawn one, whatever the parity of i.
    draws.side = 5;
    EXPECT_EQ(StampRectangle(passes[1], 8, 512, draws).Y, 256 + 64 - 138 / 2);
    draws.side = 4;
    const ImageRect above = StampRectangle(passes[1], 7, 512, draws);
    // pLat 2: yoff = 64; size = Round(12.8 + (512 - 12.8) / 4) = 138; w0 = Round(34.5 +
    // 103.5 / 16) = 41 (40.96875).
    EXPECT_EQ(above.Y, 256 - 64 - 138 / 2);
    EXPECT_EQ(above.W, 41);
    EXPECT_EQ(above.H, 138);
}

TEST(StampRectangle, EmptyLatitudeRangeUsesThePolarWidth) {
    // A one-row target has middle row 0: the latitude curve's interval is empty.
    const StampPass pass = FixedSizePass(1, HemisphereRule::Alternate, 6, nullptr);
    StampDraws draws;
    draws.r1 = 9999;
    const ImageRect r = StampRectangle(pass, 1, 1, draws);
    EXPECT_EQ(r.W, 6);
    EXPECT_EQ(r.H, 6);
}

TEST(RunStampPass, DrawOrderRedrawsAndWrapping) {
    for (const HemisphereRule rule : {HemisphereRule::Alternate, HemisphereRule::Drawn}) {
        const uint32_t perStamp = rule == HemisphereRule::Drawn ? 4 : 3;
        std::vector<std::pair<int32_t, uint32_t>> redraws;
        // Stamps as large as the target: with wrap-around every pixel gets every stamp
        // exactly once, wherever the stamp is centred.
        const StampPass pass = FixedSizePass(25, rule, 8, &redraws);
        // A brush of the stamp's size, so that nearest sampling maps it 1 : 1.
        FloatImage brush = MakeImage(8, 8);
        FloatImage target = MakeImage(8, 8);
        RenderContext ctx;
        ctx.rng = Lcg32(99);
        ASSERT_TRUE(RunStampPass(pass, brush, target, ctx));

        // The redraw comes first and draws before the stamp's own draws.
        ASSERT_EQ(redraws.size(), 3u);
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(redraws[k].first, static_cast<int32_t>(10 * k + 1));
            Lcg32 expected(99);
            expected.Advance(k * (10 * perStamp + 1));
            EXPECT_EQ(redraws[k].second, expected.state) << "redraw " << k;
        }
        Lcg32 end(99);
        end.Advance(25 * perStamp + 3);
        EXPECT_EQ(ctx.rng.state, end.state);
        EXPECT_EQ(ctx.ProgressPercent, 100);
        for (size_t k = 0; k < target.PixelCount(); ++k) {
            ASSERT_EQ(target.Data()[k].R, 25.0f) << k;
        }
    }
}

TEST(RunStampPass, AbortAfterAStampStopsThePass) {
    const StampPass pass = FixedSizePass(40, HemisphereRule::Drawn, 3, nullptr);
    FloatImage brush = MakeImage(2, 2);
    FloatImage target = MakeImage(16, 16);
    RenderContext ctx;
    ctx.rng = Lcg32(5);
    RecordingSink sink(ctx, 12);
    EXPECT_FALSE(RunStampPass(pass, brush, target, ctx));
    EXPECT_EQ(sink.events, 12);
    EXPECT_EQ(sink.percents.back(), 30);  // Round(12 / 40 * 100)
    Lcg32 expected(5);
    expected.Advance(12 * 4 + 2);  // twelve stamps, redraws at 1 and 11
    EXPECT_EQ(ctx.rng.state, expected.state);
}

TEST(RunStampPass, EmptyBrushOrTargetDrawsNothingButStillDraws) {
    StampPass pass = FixedSizePass(11, HemisphereRule::Alternate, 4, nullptr);
    pass.redrawBrush = [](int32_t, FloatImage& brush, Lcg32& rng) {
        DomePattern(brush, true, true, true, 2, 1.0, rng);
    };
    auto emptyBrush = NewImage(0, 0);
    ASSERT_TRUE(emptyBrush);
    FloatImage target = MakeImage(3, 1);
    RenderContext ctx;
    ctx.rng = Lcg32(8);
    EXPECT_TRUE(RunStampPass(pass, *emptyBrush, target, ctx));
    for (size_t k = 0; k < target.PixelCount(); ++k) ASSERT_EQ(target.Data()[k], kOpaqueBlack);
    Lcg32 expected(8);
    expected.Advance(11 * 3 + 2 * 8);
    EXPECT_EQ(ctx.rng.state, expected.state);

    auto emptyTarget = NewImage(0, 0);
    ASSERT_TRUE(emptyTarget);
    FloatImage brush = MakeImage(2, 2);
    EXPECT_TRUE(RunStampPass(pass, brush, *emptyTarget, ctx));
}

}  // namespace
}  // namespace globeforge
