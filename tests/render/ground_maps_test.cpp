#include "render/ground_maps.h"

#include <gtest/gtest.h>

#include <cmath>

#include "output/map_test_support.h"

namespace globeforge {
namespace {

using testing::AllFinite;
using testing::ExpectColor;
using testing::MakeLayer;
using testing::RecordingSink;
using testing::SmallParams;
using testing::UniformLayer;

FloatPixel Mix(const FloatPixel& a, const FloatPixel& b, double t) {
    return MakeColor(static_cast<float>(a.R + (b.R - a.R) * t),
                     static_cast<float>(a.G + (b.G - a.G) * t),
                     static_cast<float>(a.B + (b.B - a.B) * t));
}

// Heights per column: deep sea, mid sea, exactly sea level, mid land, top, just below sea.
constexpr float kColumnHeights[6] = {0.0f, 63.75f, 127.5f, 191.25f, 255.0f, 127.4f};

TEST(GroundMaps, LandSeaAndCoastWithoutIceOrClouds) {
    RenderParams p = SmallParams(6, 4);
    p.CoastLevel = 50;  // sea level 127.5
    const FloatImage ground = MakeLayer(6, 4, [](int x, int) { return kColumnHeights[x]; });
    RenderContext ctx;
    BuildGroundColorMap(p, ground, nullptr, true, ctx);
    BuildGroundBumpMap(p, ground, nullptr, true, ctx);
    BuildGroundSpecularMap(p, ground, nullptr, true, ctx);
    ASSERT_TRUE(p.ColorMapImage && p.BumpMapImage && p.SpecularMapImage);
    EXPECT_TRUE(ctx.failure.empty());

    for (int y = 0; y < 4; ++y) {
        const FloatImage& c = *p.ColorMapImage;
        ExpectColor(c.At(0, y), p.SeaColorDeep);
        ExpectColor(c.At(1, y), Mix(p.SeaColorDeep, p.SeaColorShallow, 0.5));
        ExpectColor(c.At(2, y), p.GroundColorLow);  // a height at sea level is land
        ExpectColor(c.At(3, y), Mix(p.GroundColorHigh, p.GroundColorLow, 0.125));
        ExpectColor(c.At(4, y), p.GroundColorHigh);
        EXPECT_NEAR(c.At(5, y).B, p.SeaColorShallow.B, 0.2);
        EXPECT_EQ(c.At(3, y).A, 255.0f);

        // The sea is a flat floor at sea level; levels are stretched to 0..256.
        const FloatImage& b = *p.BumpMapImage;
        for (int x : {0, 1, 2, 5}) EXPECT_EQ(b.At(x, y).R, 0.0f) << x;
        EXPECT_FLOAT_EQ(b.At(3, y).G, 128.0f);
        EXPECT_FLOAT_EQ(b.At(4, y).B, 256.0f);  // a copy at oversampling 1: not capped

        const FloatImage& s = *p.SpecularMapImage;
        for (int x : {0, 1, 5}) ExpectColor(s.At(x, y), MakeColor(255, 255, 255));
        for (int x : {2, 3, 4}) ExpectColor(s.At(x, y), MakeColor(0, 0, 0));
    }
}

TEST(GroundMaps, IceQuantityDrivesSnowLineAndSeaIce) {
    // Five rows: distances 2, 1, 0, 1, 2 from the middle row.
    const float heights[4] = {0.0f, 127.5f, 255.0f, 180.0f};
    const FloatImage ground = MakeLayer(4, 5, [&](int x, int) { return heights[x]; });
    const auto build = [&](int32_t ice) {
        RenderParams p = SmallParams(4, 5);
        p.CoastLevel = 50;
        p.IceQuantity = ice;
        RenderContext ctx;
        BuildGroundColorMap(p, ground, nullptr, false, ctx);
        return std::move(*p.ColorMapImage);
    };
    const RenderParams ref = SmallParams(4, 5);
    const FloatPixel& ice = ref.IceColor;

    const FloatImage none = build(0);
    for (int y = 0; y < 5; ++y) {
        ExpectColor(none.At(0, y), ref.SeaColorDeep);
        ExpectColor(none.At(1, y), ref.GroundColorLow);
        ExpectColor(none.At(2, y), ref.GroundColorHigh);
    }

    // All ice: snow line at sea level everywhere, sea ice on every row but the middle.
    const FloatImage full = build(100);
    ExpectColor(full.At(0, 0), ice);
    ExpectColor(full.At(0, 4), ice);
    ExpectColor(full.At(0, 2), ref.SeaColorDeep);
    ExpectColor(full.At(0, 1), Mix(ice, ref.SeaColorDeep, 0.25));
    for (int y = 0; y < 5; ++y) {
        ExpectColor(full.At(1, y), ref.GroundColorLow);  // still bare right at the coast
        ExpectColor(full.At(2, y), ice);
        ExpectColor(full.At(3, y), full.At(3, 2));  // the same snow line on every row
    }
    EXPECT_GT(full.At(3, 2).B, none.At(3, 2).B);

    // Half the ice: the snow line falls from the middle row towards the poles, and the sea
    // freezes only beyond one row from the middle.
    const FloatImage half = build(50);
    ExpectColor(half.At(3, 2), none.At(3, 2));  // below the middle row's snow line
    EXPECT_GT(half.At(3, 0).R, none.At(3, 0).R + 1.0f);
    ExpectColor(half.At(0, 1), ref.SeaColorDeep);
    ExpectColor(half.At(0, 0), ice);
}

TEST(GroundMaps, ExtremeCoastLevelsStayFinite) {
    const float heights[6] = {0.0f, 127.5f, 254.9f, 255.0f, 256.0f, 300.0f};
    const auto layer = [&](int h) {
        return MakeLayer(6, h, [&](int x, int) { return heights[x]; });
    };

    {  // Coast at 0: everything is land, the sea reflects nowhere.
        RenderParams p = SmallParams(6, 4);
        p.CoastLevel = 0;
        RenderContext ctx;
        const FloatImage ground = layer(4);
        BuildGroundColorMap(p, ground, nullptr, false, ctx);
        BuildGroundSpecularMap(p, ground, nullptr, false, ctx);
        ExpectColor(p.ColorMapImage->At(0, 0), p.GroundColorLow);
        for (size_t i = 0; i < p.SpecularMapImage->PixelCount(); ++i)
            ExpectColor(p.SpecularMapImage->Data()[i], MakeColor(0, 0, 0));
    }

    // Coast at 100: the land ramp has no width. Land takes the ramp's end colour, and the
    // empty snow ramp gives ice above 255; a one-row layer has no snow-line lift.
    for (int32_t ice : {0, 50}) {
        for (int rows : {1, 4}) {
            RenderParams p = SmallParams(6, rows);
            p.CoastLevel = 100;
            p.IceQuantity = ice;
            RenderContext ctx;
            const FloatImage ground = layer(rows);
            BuildGroundColorMap(p, ground, nullptr, false, ctx);
            BuildGroundBumpMap(p, ground, nullptr, false, ctx);
            BuildGroundSpecularMap(p, ground, nullptr, false, ctx);
            SCOPED_TRACE(::testing::Message() << "ice " << ice << " rows " << rows);
            const FloatImage& c = *p.ColorMapImage;
            EXPECT_TRUE(AllFinite(c) && AllFinite(*p.BumpMapImage));
            const int y = rows / 2;
            ExpectColor(c.At(0, y), p.SeaColorDeep);
            ExpectColor(c.At(1, y), Mix(p.SeaColorDeep, p.SeaColorShallow, 0.5));
            ExpectColor(c.At(3, y), p.GroundColorHigh);
            ExpectColor(c.At(4, y), ice > 0 ? p.IceColor : p.GroundColorHigh);
            ExpectColor(p.SpecularMapImage->At(2, y), MakeColor(255, 255, 255));
            ExpectColor(p.SpecularMapImage->At(3, y), MakeColor(0, 0, 0));
        }
    }

    {  // One row at coast 50: the snow line of the only row is the sea level.
        const float oneRow[4] = {0.0f, 127.5f, 150.0f, 255.0f};
        const FloatImage ground = MakeLayer(4, 1, [&](int x, int) { return oneRow[x]; });
        const auto build = [&](int32_t ice) {
            RenderParams p = SmallParams(4, 1);
            p.CoastLevel = 50;
            p.IceQuantity = ice;
            RenderContext ctx;
            BuildGroundColorMap(p, ground, nullptr, false, ctx);
            return std::move(*p.ColorMapImage);
        };
        const FloatImage c = build(50);
        const FloatImage bare = build(0);
        const RenderParams p = SmallParams(4, 1);
        EXPECT_TRUE(AllFinite(c));
        ExpectColor(c.At(0, 0), p.SeaColorDeep);
        ExpectColor(c.At(1, 0), p.GroundColorLow);
        EXPECT_GT(c.At(2, 0).B, bare.At(2, 0).B + 1.0f);  // snow just above the coast
        ExpectColor(c.At(3, 0), p.IceColor);
    }
}

TEST(ReduceImage, CopiesAveragesAndCaps) {
    RenderContext ctx;
    RecordingSink sink(ctx);
    {  // Same size: an exact copy, neither capped above nor below.
        FloatImage src = MakeLayer(2, 2, [](int x, int y) { return x == y ? 256.0f : -3.0f; });
        FloatImage dst = UniformLayer(2, 2, 7.0f);
        ReduceImage(dst, src, 1, ctx);
        EXPECT_EQ(dst.At(0, 0).R, 256.0f);
        EXPECT_EQ(dst.At(1, 0).G, -3.0f);
    }
    {  // 3 x 3 blocks aligned to the top-left corner; the last block runs past src.
        FloatImage src = MakeLayer(7, 3, [](int x, int y) {
            if (x < 3) return 300.0f;                     // capped at 255
            if (x < 6) return static_cast<float>(3 * y);  // rows 0, 3, 6: mean 3
            return -90.0f;                                // one column of three
        });
        src.At(6, 0).A = 0.0f;
        FloatImage dst = UniformLayer(3, 1, 7.0f);
        sink.events = 0;
        ReduceImage(dst, src, 3, ctx);
        EXPECT_EQ(dst.At(0, 0).R, 255.0f);
        EXPECT_EQ(dst.At(0, 0).A, 255.0f);
        EXPECT_FLOAT_EQ(dst.At(1, 0).B, 3.0f);
        EXPECT_FLOAT_EQ(dst.At(2, 0).R, -30.0f);  // no lower cap; outside adds nothing
        EXPECT_FLOAT_EQ(dst.At(2, 0).A, 510.0f / 9.0f);
        EXPECT_EQ(sink.events, 1);  // events once per destination row
    }
}

TEST(GroundMaps, OversamplingReducesTheWorkImage) {
    // Three-times oversampled 2 x 1 output: left block top land, right block mixed.
    const FloatImage ground = MakeLayer(6, 3, [](int x, int) {
        const float cols[6] = {255.0f, 255.0f, 255.0f, 127.5f, 191.25f, 191.25f};
        return cols[x];
    });
    RenderParams p = SmallParams(2, 1);
    p.OverSampling = 3;
    p.CoastLevel = 50;
    RenderContext ctx;
    BuildGroundColorMap(p, ground, nullptr, false, ctx);
    BuildGroundBumpMap(p, ground, nullptr, false, ctx);
    ASSERT_EQ(p.BumpMapImage->Width, 2);
    ASSERT_EQ(p.BumpMapImage->Height, 1);
    EXPECT_EQ(p.BumpMapImage->At(0, 0).R, 255.0f);  // 256 averaged, then capped
    EXPECT_FLOAT_EQ(p.BumpMapImage->At(1, 0).R, 256.0f / 3.0f);
    const FloatPixel mid = Mix(p.GroundColorHigh, p.GroundColorLow, 0.125);
    ExpectColor(p.ColorMapImage->At(1, 0), MakeColor((p.GroundColorLow.R + 2 * mid.R) / 3,
                                                     (p.GroundColorLow.G + 2 * mid.G) / 3,
                                                     (p.GroundColorLow.B + 2 * mid.B) / 3));
}

TEST(GroundMaps, CloudsMixedIntoTheColourMap) {
    RenderParams base = SmallParams(6, 4);
    base.CoastLevel = 50;
    const FloatImage sea = UniformLayer(6, 4, 0.0f);  // SeaColorDeep everywhere
    const FloatImage clear = UniformLayer(6, 4, 0.0f);
    const FloatImage dense = UniformLayer(6, 4, 255.0f);
    const auto build = [&](uint8_t mode, int32_t transparency, const FloatImage* cloud, bool mix) {
        RenderParams p = SmallParams(6, 4);
        p.CoastLevel = 50;
        p.CloudMixtureMode = mode;
        p.CloudTransparency = transparency;
        RenderContext ctx;
        BuildGroundColorMap(p, sea, cloud, mix, ctx);
        return std::move(*p.ColorMapImage);
    };
    const FloatPixel deep = base.SeaColorDeep;
    const FloatPixel light = base.CloudLightColor;

    // Add and Sub use a uniform opacity: clear sky still adds the light cloud colour.
    const FloatImage add = build(kMixAdd, 50, &clear, true);
    const FloatImage sub = build(kMixSub, 50, &clear, true);
    for (size_t i = 0; i < add.PixelCount(); ++i) {
        ExpectColor(add.Data()[i],
                    MakeColor(deep.R + light.R / 2, deep.G + light.G / 2, deep.B + light.B / 2));
        ExpectColor(sub.Data()[i],
                    MakeColor(deep.R - light.R / 2, deep.G - light.G / 2, deep.B - light.B / 2));
    }
    // Norm follows the density: nothing at 0, the dark colour (255/256 of it) at 255.
    ExpectColor(build(kMixNorm, 0, &clear, true).At(2, 2), deep);
    const FloatPixel dark = base.CloudDarkColor;
    ExpectColor(build(kMixNorm, 0, &dense, true).At(2, 2),
                MakeColor(dark.R * 255 / 256, dark.G * 255 / 256, dark.B * 255 / 256));

    // Fully transparent clouds, an unmixed cloud layer (a cloud map was requested) and a
    // missing cloud layer all leave the ground as it is.
    for (uint8_t mode : {kMixAdd, kMixSub, kMixNorm})
        ExpectColor(build(mode, 100, &dense, true).At(1, 1), deep);
    ExpectColor(build(kMixNorm, 0, &dense, false).At(1, 1), deep);
    ExpectColor(build(kMixAdd, 0, nullptr, true).At(1, 1), deep);

    // A smaller cloud layer: ground beyond it sees density 0.
    const FloatImage narrow = UniformLayer(3, 4, 255.0f);
    const FloatImage partial = build(kMixNorm, 0, &narrow, true);
    EXPECT_NEAR(partial.At(2, 3).R, dark.R * 255 / 256, 1e-3);
    ExpectColor(partial.At(3, 3), deep);
}

TEST(GroundMaps, CloudsRaiseBumpsAndDimTheSea) {
    // Densities per column: below 1 (ignored), 1, 100, 300, none, none.
    const float dens[6] = {0.5f, 1.0f, 100.0f, 300.0f, 0.0f, 0.0f};
    const FloatImage cloud = MakeLayer(6, 2, [&](int x, int) { return dens[x]; });
    RenderParams p = SmallParams(6, 2);
    p.CoastLevel = 50;
    RenderContext ctx;

    const FloatImage coast = UniformLayer(6, 2, 127.5f);
    BuildGroundBumpMap(p, coast, &cloud, true, ctx);
    // Bumps 127.5 + density where the density is at least 1, stretched over 127.5..427.5.
    const float scale = 300.0f / 256.0f;
    EXPECT_EQ(p.BumpMapImage->At(0, 1).R, 0.0f);
    EXPECT_NEAR(p.BumpMapImage->At(1, 1).G, 1.0f / scale, 1e-4);
    EXPECT_NEAR(p.BumpMapImage->At(2, 1).B, 100.0f / scale, 1e-3);
    EXPECT_EQ(p.BumpMapImage->At(3, 1).R, 256.0f);

    const FloatImage sea = MakeLayer(6, 2, [](int, int y) { return y == 0 ? 0.0f : 200.0f; });
    BuildGroundSpecularMap(p, sea, &cloud, true, ctx);
    const FloatImage& s = *p.SpecularMapImage;
    EXPECT_EQ(s.At(0, 0).R, 255.0f);
    EXPECT_EQ(s.At(1, 0).G, 254.0f);
    EXPECT_EQ(s.At(2, 0).B, 155.0f);
    EXPECT_EQ(s.At(3, 0).R, 0.0f);  // never below black
    EXPECT_EQ(s.At(2, 1).R, 0.0f);  // land stays black
    EXPECT_EQ(s.At(2, 1).A, 255.0f);

    // Unmixed: no trace of the clouds.
    BuildGroundSpecularMap(p, sea, &cloud, false, ctx);
    EXPECT_EQ(p.SpecularMapImage->At(3, 0).R, 255.0f);
}

TEST(GroundMaps, AbortLeavesNoMapAndStopsTheNextBuilder) {
    RenderParams p = SmallParams(6, 4);
    const FloatImage ground = UniformLayer(6, 4, 100.0f);
    RenderContext ctx;
    RecordingSink sink(ctx, /*abortAtEvent=*/2);  // during the bump map's second row
    BuildGroundBumpMap(p, ground, nullptr, false, ctx);
    EXPECT_FALSE(p.BumpMapImage);
    EXPECT_EQ(sink.events, 2);
    BuildGroundSpecularMap(p, ground, nullptr, false, ctx);
    EXPECT_FALSE(p.SpecularMapImage);
    EXPECT_EQ(sink.events, 3);  // one row, then the raised flag stops it
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_TRUE(ctx.failure.empty());
}

TEST(GroundMaps, ReportsItsImagesAndMessages) {
    RenderParams p = SmallParams(2, 2);
    p.OverSampling = 2;
    const FloatImage ground = UniformLayer(4, 4, 100.0f);
    RenderContext ctx;
    RecordingSink sink(ctx);
    BuildGroundColorMap(p, ground, nullptr, false, ctx);
    BuildGroundBumpMap(p, ground, nullptr, false, ctx);
    BuildGroundSpecularMap(p, ground, nullptr, false, ctx);
    const std::vector<std::string> messages = {"地表・色テクスチャ作成完了",
                                               "地表・バンプテクスチャ作成完了",
                                               "地表・スペキュラーテクスチャ作成完了"};
    EXPECT_EQ(sink.messages, messages);
    // The colour map shows the finished map, bump and specular their work image.
    const std::vector<std::pair<int32_t, int32_t>> sizes = {{2, 2}, {4, 4}, {4, 4}};
    EXPECT_EQ(sink.drawnSizes, sizes);
    EXPECT_EQ(ctx.ProgressPercent, 75);  // after the last of four rows
}

TEST(GroundMaps, OutOfMemoryLeavesNoMap) {
    RenderParams p = SmallParams(100000, 100000);  // beyond any single image
    const FloatImage ground = UniformLayer(2, 2, 100.0f);
    RenderContext ctx;
    BuildGroundColorMap(p, ground, nullptr, false, ctx);
    EXPECT_FALSE(p.ColorMapImage);
    EXPECT_NE(ctx.failure.find("not enough memory for the ground colour map"), std::string::npos);
    ctx.failure.clear();
    BuildGroundBumpMap(p, ground, nullptr, false, ctx);
    BuildGroundSpecularMap(p, ground, nullptr, false, ctx);
    EXPECT_FALSE(p.BumpMapImage || p.SpecularMapImage);
    EXPECT_FALSE(ctx.failure.empty());
}

}  // namespace
}  // namespace globeforge
