#include "render/cloud_maps.h"

#include <gtest/gtest.h>

#include <cmath>

#include "output/map_test_support.h"

namespace globeforge {
namespace {

using testing::ExpectColor;
using testing::MakeLayer;
using testing::RecordingSink;
using testing::SmallParams;
using testing::UniformLayer;

// Densities 0, 51, ..., 255 across six columns.
FloatImage Ramp(int32_t rows) {
    return MakeLayer(6, rows, [](int x, int) { return 51.0f * x; });
}

void BuildAll(RenderParams& p, const FloatImage& cloud, RenderContext& ctx) {
    BuildCloudColorMap(p, cloud, ctx);
    BuildCloudBumpMap(p, cloud, ctx);
    BuildCloudTransparencyMap(p, cloud, ctx);
}

TEST(CloudMaps, FullyTransparentClouds) {
    const FloatImage cloud = Ramp(3);
    for (bool alphaMap : {false, true}) {
        RenderParams p = SmallParams(6, 3);
        p.CloudTransparency = 100;
        p.OutputTransparencyMode = alphaMap;
        RenderContext ctx;
        BuildAll(p, cloud, ctx);
        const float clearSky = alphaMap ? 0.0f : 255.0f;
        for (size_t i = 0; i < p.CloudColorMapImage->PixelCount(); ++i) {
            EXPECT_EQ(p.CloudColorMapImage->Data()[i], kOpaqueBlack);
            ExpectColor(p.CloudTransparencyMapImage->Data()[i],
                        MakeColor(clearSky, clearSky, clearSky));
        }
        // The bump map ignores the transparency.
        EXPECT_EQ(p.CloudBumpMapImage->At(5, 1).R, 256.0f);
    }
}

TEST(CloudMaps, UniformDensityAppliesTheOpacityTwiceToAlphaMaps) {
    const float dens = 128.0f;
    const FloatImage cloud = UniformLayer(6, 4, dens);
    RenderParams p = SmallParams(6, 4);
    p.CloudTransparency = 50;
    p.OutputTransparencyMode = true;
    RenderContext ctx;
    BuildAll(p, cloud, ctx);

    const double clear = (255.0 - dens) / 255.0;
    const double alpha = 255.0 * (1.0 - std::pow(clear, 4)) * 0.5;
    const double transparency = 255.0 * (1.0 - std::pow(clear, 10)) * 0.25;
    const double mixed = 1.0 - clear * clear;  // light-to-dark position of the colour
    for (size_t i = 0; i < p.CloudColorMapImage->PixelCount(); ++i) {
        const FloatPixel& c = p.CloudColorMapImage->Data()[i];
        const FloatPixel& l = p.CloudLightColor;
        const FloatPixel& d = p.CloudDarkColor;
        EXPECT_NEAR(c.R, (l.R + (d.R - l.R) * mixed) * alpha / 256.0, 1e-3);
        EXPECT_NEAR(c.B, (l.B + (d.B - l.B) * mixed) * alpha / 256.0, 1e-3);
        EXPECT_EQ(c.A, 255.0f);
        EXPECT_NEAR(p.CloudTransparencyMapImage->Data()[i].G, transparency, 1e-3);
        EXPECT_EQ(p.CloudBumpMapImage->Data()[i].R, dens);  // flat: not stretched
    }
}

TEST(CloudMaps, TransparencyMappingUsesOneOpacityAndInvertsTheMap) {
    const FloatImage cloud = Ramp(2);
    RenderParams p = SmallParams(6, 2);
    RenderContext ctx;
    BuildAll(p, cloud, ctx);
    const FloatImage& c = *p.CloudColorMapImage;
    const auto scaled = [](const FloatPixel& k) {
        return MakeColor(k.R * 255 / 256, k.G * 255 / 256, k.B * 255 / 256);
    };
    ExpectColor(c.At(0, 0), scaled(p.CloudLightColor));
    ExpectColor(c.At(5, 1), scaled(p.CloudDarkColor));
    // Stretched to 0..256 and inverted: clear sky white, the densest cloud just below 0.
    const FloatImage& t = *p.CloudTransparencyMapImage;
    EXPECT_NEAR(t.At(0, 0).R, 255.0f, 1e-3);
    EXPECT_NEAR(t.At(5, 0).R, -1.0f, 1e-3);
    EXPECT_LT(t.At(2, 1).B, 20.0f);  // thin cloud is already nearly opaque
    EXPECT_EQ(t.At(2, 1).A, 255.0f);
}

TEST(CloudMaps, BumpMapIsStretchedAfterReductionAndIgnoresAbort) {
    const float cols[4] = {0.0f, 0.0f, 100.0f, 200.0f};
    const FloatImage cloud = MakeLayer(4, 2, [&](int x, int) { return cols[x]; });
    RenderParams p = SmallParams(2, 1);
    p.OverSampling = 2;
    RenderContext ctx;
    ctx.AbortRequested = true;
    BuildCloudBumpMap(p, cloud, ctx);
    ASSERT_TRUE(p.CloudBumpMapImage);
    EXPECT_EQ(p.CloudBumpMapImage->At(0, 0).R, 0.0f);
    EXPECT_EQ(p.CloudBumpMapImage->At(1, 0).R, 256.0f);  // means 0 and 150, then stretched
}

TEST(CloudMaps, AbortLeavesNoMapAndStopsTheNextBuilder) {
    const FloatImage cloud = Ramp(4);
    RenderParams p = SmallParams(6, 4);
    RenderContext ctx;
    RecordingSink sink(ctx, /*abortAtEvent=*/3);
    BuildCloudColorMap(p, cloud, ctx);
    EXPECT_FALSE(p.CloudColorMapImage);
    BuildCloudTransparencyMap(p, cloud, ctx);
    EXPECT_FALSE(p.CloudTransparencyMapImage);
    EXPECT_EQ(sink.events, 4);
    EXPECT_TRUE(sink.messages.empty());
}

TEST(CloudMaps, ReportsItsImagesAndMessages) {
    const FloatImage cloud = UniformLayer(4, 4, 60.0f);
    RenderParams p = SmallParams(2, 2);
    p.OverSampling = 2;
    RenderContext ctx;
    RecordingSink sink(ctx);
    BuildAll(p, cloud, ctx);
    const std::vector<std::string> messages = {
        "雲・色テクスチャ作成完了", "雲・バンプテクスチャ作成完了", "雲・透明度テクスチャ作成完了"};
    EXPECT_EQ(sink.messages, messages);
    // Colour and transparency show their layer-sized work image, bump the finished map.
    const std::vector<std::pair<int32_t, int32_t>> sizes = {{4, 4}, {2, 2}, {4, 4}};
    EXPECT_EQ(sink.drawnSizes, sizes);
    for (const auto* image :
         {&p.CloudColorMapImage, &p.CloudBumpMapImage, &p.CloudTransparencyMapImage}) {
        ASSERT_TRUE(*image);
        EXPECT_EQ((*image)->Width, 2);
    }
}

TEST(CloudMaps, OutOfMemoryLeavesNoMap) {
    const FloatImage cloud = UniformLayer(2, 2, 60.0f);
    RenderParams p = SmallParams(100000, 100000);
    RenderContext ctx;
    BuildCloudColorMap(p, cloud, ctx);
    EXPECT_NE(ctx.failure.find("not enough memory for the cloud colour map"), std::string::npos);
    BuildCloudBumpMap(p, cloud, ctx);
    BuildCloudTransparencyMap(p, cloud, ctx);
    EXPECT_FALSE(p.CloudColorMapImage || p.CloudBumpMapImage || p.CloudTransparencyMapImage);
}

}  // namespace
}  // namespace globeforge
