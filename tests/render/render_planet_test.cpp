#include "render/render_planet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "image/image_files.h"
#include "output/save_maps.h"
#include "support/test_files.h"

namespace globeforge {
namespace {

// Records what a window would be shown and lets a test act inside the render.
class RecordingSink : public ProgressSink {
  public:
    explicit RecordingSink(RenderContext& c) : ctx(c) {}
    void DrawProgressImage(const FloatImage& image) override {
        images.push_back(image.Width * 100000 + image.Height);
    }
    void SetMessage(std::string_view message) override {
        messages.emplace_back(message);
        renderingSeen.push_back(ctx.Rendering);
        if (abortOnMessage == static_cast<int>(messages.size())) ctx.AbortRequested = true;
    }
    void ProcessPendingEvents() override { ++events; }

    RenderContext& ctx;
    std::vector<std::string> messages;
    std::vector<bool> renderingSeen;
    std::vector<int> images;
    int events = 0;
    int abortOnMessage = -1;
};

RenderParams SmallParams() {
    RenderParams params;
    params.OutputResolutionX = 16;
    params.OutputResolutionY = 8;
    return params;
}

}  // namespace

TEST(RenderPlanet, ReportsStartAndEndAndClearsAnEarlierAbort) {
    RenderContext ctx;
    RecordingSink sink(ctx);
    ctx.SetProgressTargets(&sink);
    RenderParams params = SmallParams();

    // An abort requested before the render, or during its first report, is cleared.
    ctx.AbortRequested = true;
    sink.abortOnMessage = 1;
    EXPECT_TRUE(RenderPlanet(params, ctx));
    ASSERT_GE(sink.messages.size(), 2u);
    EXPECT_EQ(sink.messages.front(), "作画開始..");
    EXPECT_EQ(sink.messages.back(), "作画終了");
    EXPECT_TRUE(sink.renderingSeen.front());
    EXPECT_FALSE(ctx.Rendering);
    EXPECT_EQ(ctx.ProgressCount, static_cast<int32_t>(sink.messages.size()));
    EXPECT_FALSE(params.WorkImage) << "the brush lives only during the render";
    // No output names: no maps.
    EXPECT_FALSE(params.ColorMapImage || params.SpecularMapImage || params.BumpMapImage ||
                 params.CloudColorMapImage || params.CloudBumpMapImage ||
                 params.CloudTransparencyMapImage);
}

TEST(RenderPlanet, AbortDuringTheRenderEndsWithTheAbortMessage) {
    RenderContext ctx;
    RecordingSink sink(ctx);
    ctx.SetProgressTargets(&sink);
    RenderParams params = SmallParams();
    params.GroundAutoCreate = true;
    params.OutputColorMap = "color.bmp";
    sink.abortOnMessage = 2;  // the first report after the start
    const bool ok = RenderPlanet(params, ctx);
    // The ground stage reports before the colour map is made, so there is always a report
    // after the start to abort in.
    ASSERT_GT(sink.messages.size(), 2u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(sink.messages.back(), "作画中止");
    // A map whose final report was the one aborted in was complete and stays.
    if (sink.messages[1] != "地表・色テクスチャ作成完了") {
        EXPECT_FALSE(params.ColorMapImage);
    }
    EXPECT_FALSE(ctx.Rendering);
}

TEST(RenderPlanet, WithoutTargetsNothingIsCounted) {
    RenderContext ctx;
    RenderParams params = SmallParams();
    EXPECT_TRUE(RenderPlanet(params, ctx));
    EXPECT_EQ(ctx.ProgressCount, 0);
}

TEST(RenderPlanet, ImpossibleSizesFailWithAReasonBeforeAnyWork) {
    struct Case {
        int32_t x, y, oversampling;
    };
    for (const Case c : {Case{0, 0, 1}, Case{-5, 10, 1}, Case{10, 10, 0}, Case{2147483647, 2, 2},
                         Case{100000, 100000, 1}, Case{65536, 65536, 9}}) {
        RenderContext ctx;
        RecordingSink sink(ctx);
        ctx.SetProgressTargets(&sink);
        RenderParams params = SmallParams();
        params.OutputResolutionX = c.x;
        params.OutputResolutionY = c.y;
        params.OverSampling = c.oversampling;
        params.GroundAutoCreate = true;
        EXPECT_FALSE(CheckRenderSize(params).empty()) << c.x << "x" << c.y;
        EXPECT_FALSE(RenderPlanet(params, ctx));
        EXPECT_FALSE(ctx.failure.empty());
        EXPECT_EQ(sink.messages.back(), "作画中止");
        EXPECT_FALSE(ctx.Rendering);
    }
    RenderParams ok = SmallParams();
    EXPECT_EQ(CheckRenderSize(ok), "");
}

TEST(RenderPlanet, MapsEncodedWhileTheOthersAreBuiltMakeTheSameFiles) {
    // Every map as PNG, the heights at 16 bits; an encoder that goes away unclaimed stops
    // and writes nothing; a cancelled PNG encoding fails.
    const char* names[] = {"c.png", "s.png", "b.png", "cc.png", "cb.png", "ct.png", "n.png"};
    const auto render = [&](const testing::ScratchDir& dir, bool early, bool save) {
        RenderParams params;
        params.OutputResolutionX = 96;
        params.OutputResolutionY = 48;
        params.GroundAutoCreate = params.CloudAutoCreate = true;
        params.HeightBitDepth = 16;
        std::string* fields[] = {&params.OutputColorMap,     &params.OutputSpeculerMap,
                                 &params.OutputBumpMap,      &params.OutputCloudColorMap,
                                 &params.OutputCloudBumpMap, &params.OutputCloudTransparencyMap,
                                 &params.OutputNormalMap};
        for (size_t k = 0; k < std::size(fields); ++k) *fields[k] = dir / names[k];
        RenderContext ctx;
        ctx.threads = 2;
        std::optional<MapPreEncoder> encoder;
        if (early) encoder.emplace(params, ctx);
        ASSERT_TRUE(RenderPlanet(params, ctx)) << ctx.failure;
        if (save) {
            EXPECT_TRUE(
                SaveRenderMaps(params, nullptr, nullptr, &ctx, encoder ? &*encoder : nullptr));
        }
    };
    testing::ScratchDir plain, early, unclaimed;
    render(plain, false, true);
    render(early, true, true);
    render(unclaimed, true, false);
    EXPECT_EQ(unclaimed.Count(), 0u);
    for (const char* name : names) {
        const std::vector<uint8_t> bytes = testing::ReadBytes(early / name);
        EXPECT_FALSE(bytes.empty()) << name;
        EXPECT_EQ(bytes, testing::ReadBytes(plain / name)) << name;
    }

    const std::atomic<bool> cancel{true};
    ImageFileOptions options;
    options.cancel = &cancel;
    std::vector<uint8_t> bytes;
    std::string why;
    EXPECT_FALSE(
        EncodeImageFile(*NewFilledImage(4, 4, kOpaqueBlack), "x.png", options, bytes, &why));
    EXPECT_EQ(why, "cancelled");
}

TEST(RenderParams, FreeRenderMapsAndMixRule) {
    RenderParams params;
    params.ColorMapImage = NewImage(2, 2);
    FreeRenderMaps(params);
    EXPECT_FALSE(params.ColorMapImage);
    FreeRenderMaps(params);  // twice in a row changes nothing
    EXPECT_TRUE(MixCloudsIntoGround(params));
    params.OutputCloudBumpMap = "clouds.bmp";
    EXPECT_FALSE(MixCloudsIntoGround(params));
}

TEST(RenderContext, SparesServeTheirSizeOnlyAndGoWithTheRender) {
    RenderContext ctx;
    ctx.KeepSpare(*NewImage(4, 5));
    FloatImage a = *NewImage(4, 3);
    const FloatPixel* block = a.Data();
    ctx.KeepSpare(std::move(a));
    std::optional<FloatImage> b = ctx.NewImage(4, 3);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->Data(), block);
    EXPECT_EQ(ctx.SpareCount(), 1u);
    // Another size: a new image, and the spare left is released first.
    std::optional<FloatImage> c = ctx.NewImage(3, 4);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Width * 10 + c->Height, 34);
    EXPECT_EQ(ctx.SpareCount(), 0u);
    EXPECT_FALSE(ctx.NewImage(-1, 2));
    // A render keeps spares between its stages and leaves none behind.
    ctx.KeepSpare(std::move(*c));
    RenderParams params = SmallParams();
    EXPECT_TRUE(RenderPlanet(params, ctx));
    EXPECT_EQ(ctx.SpareCount(), 0u);
}

TEST(RenderContext, PercentRoundsHalfToEven) {
    RenderContext ctx;
    ctx.SetPercent(1, 8);  // 12.5
    EXPECT_EQ(ctx.ProgressPercent, 12);
    ctx.SetPercent(3, 8);  // 37.5
    EXPECT_EQ(ctx.ProgressPercent, 38);
    ctx.SetPercent(0, 0);
    EXPECT_EQ(ctx.ProgressPercent, 100);
}

}  // namespace globeforge
