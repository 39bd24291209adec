#include "generate/ground_layer.h"

#include <fstream>
#include <functional>

#include "generate/patterns.h"
#include "generator_fixtures.h"
#include "render/render_planet.h"

namespace globeforge {
namespace {

constexpr int32_t kSeed = 65536;

RenderParams GroundParams(int32_t w = 64, int32_t h = 32, int32_t overSampling = 1) {
    RenderParams params = LayerParams(kSeed, w, h, overSampling);
    params.GroundAutoCreate = true;
    return params;
}

std::optional<FloatImage> Build(const RenderParams& params, RenderContext& ctx) {
    ctx.rng = Lcg32(params.RandomSeed);
    BrushCache brushes;
    return BuildGroundLayer(params, brushes, false, ctx);
}

const std::vector<std::string> kMessages = {"地表ハイトマップ・表面基本パターン作成終了",
                                            "地表ハイトマップ・歪みフィルタ1作成終了",
                                            "地表ハイトマップ・歪みフィルタ2作成終了",
                                            "地表ハイトマップ・歪みフィルタ3作成終了",
                                            "地表ハイトマップ・歪みフィルタ合成終了",
                                            "地表ハイトマップ・表面画像作成終了",
                                            "地表ハイトマップ画像作成終了"};

// Draws counted by hand, at the end of each step. Base: 2400 stamps x 3 plus 240 brushes
// of 8 (120), 6 (80) and 14 (40) domes at 4 draws each. Filter 1: 600 x 4 + 60 brushes
// x 16 domes x 4. Filters 2 and 3: 60 x 4 + 6 x 16 x 4. Warp: one per pixel of 64 x 32.
const std::vector<uint64_t> kDraws = {15200, 21440, 22064, 22688, 22688, 24736, 24736};

TEST(GroundLayer, SameSeedSameLayerPinnedDrawsAndRange) {
    for (const int32_t contrast : {100, 50, 0}) {
        RenderParams params = GroundParams();
        params.GroundContr = contrast;
        RenderContext ctx;
        RecordingSink sink(ctx);
        std::optional<FloatImage> layer = Build(params, ctx);
        ASSERT_TRUE(layer);
        ASSERT_EQ(sink.texts, kMessages);
        // The contrast scales the relief, never the draws.
        for (size_t k = 0; k < kDraws.size(); ++k) {
            EXPECT_EQ(sink.states[k], StateAfter(kSeed, kDraws[k])) << sink.texts[k];
        }
        EXPECT_EQ(sink.states.back(), 1698311008u);
        float hi = 0;
        for (size_t k = 0; k < layer->PixelCount(); ++k) {
            const FloatPixel p = layer->Data()[k];
            ASSERT_TRUE(p.R == p.G && p.R == p.B);
            ASSERT_GE(p.R, 0.0f);
            ASSERT_LE(p.R, 256.0f * contrast / 100);
            hi = std::max(hi, p.R);
        }
        EXPECT_GE(hi, 128.0f * contrast / 100);
        if (contrast == 100) {
            EXPECT_EQ(Fingerprint(*layer), 18104958898252840482ull);
            RenderContext again;
            EXPECT_TRUE(SamePixels(*Build(params, again), *layer));
        }
    }
}

TEST(GroundLayer, BrushScheduleOfThePasses) {
    const auto passes = GroundStampPasses(RenderParams{}, 64);
    EXPECT_EQ(
        (std::vector<int32_t>{passes[0].count, passes[1].count, passes[2].count, passes[3].count}),
        (std::vector<int32_t>{2400, 600, 60, 60}));
    using Pattern = std::function<void(FloatImage&, Lcg32&)>;
    const std::vector<std::tuple<int, int32_t, Pattern>> cases = {
        {0, 1191, [](FloatImage& b, Lcg32& r) { DomePattern(b, true, true, true, 8, 4, r); }},
        {0, 1201, [](FloatImage& b, Lcg32& r) { DomePattern(b, true, true, true, 6, -4, r); }},
        {0, 2001, [](FloatImage& b, Lcg32& r) { RingPattern(b, true, true, true, 14, 4, r); }},
        {2, 11, [](FloatImage& b, Lcg32& r) { RingPattern(b, false, true, false, 16, 2, r); }},
    };
    for (const auto& [pass, i, pattern] : cases) {
        FloatImage a = MakeImage(32, 16);
        FloatImage b = MakeImage(32, 16);
        RenderContext ctxA;
        ctxA.rng = Lcg32(31);
        Lcg32 rngB(31);
        BrushCache cache;
        passes[pass].redrawBrush(i, a, cache, ctxA);
        pattern(b, rngB);
        EXPECT_TRUE(SamePixels(a, b) && ctxA.rng.state == rngB.state) << pass << " stamp " << i;
        const SourceLayout layout = passes[pass].brushLayout;
        EXPECT_NE(SourceLayoutsOf(a.Data(), a.PixelCount()) & (1u << static_cast<int>(layout)), 0u)
            << pass << " stamp " << i;
    }
}

TEST(GroundLayer, AbortInAnyStepGivesNoLayer) {
    // Event rounds: 2400 base stamps and a report, 600 + 1, 60 + 1, 60 + 1, the merge
    // report, then one per warp row; an abort in the warp still shows its message.
    for (const auto& [abortAfter, shown] :
         std::vector<std::pair<int64_t, size_t>>{{5, 0}, {2411, 1}, {3093, 3}, {3129, 6}}) {
        RenderParams params = GroundParams();
        params.NumberOfCraters = 4;
        RenderContext ctx;
        RecordingSink sink(ctx, abortAfter);
        EXPECT_FALSE(Build(params, ctx)) << abortAfter;
        EXPECT_TRUE(ctx.failure.empty());
        EXPECT_EQ(sink.texts,
                  std::vector<std::string>(kMessages.begin(), kMessages.begin() + shown));
    }
    RenderParams noBrush = GroundParams();
    noBrush.WorkImage.reset();
    RenderContext ctx;
    EXPECT_FALSE(Build(noBrush, ctx));
    EXPECT_FALSE(ctx.failure.empty());
}

TEST(GroundLayer, TinySizesRenderToTheEnd) {
    for (const auto& [w, h] : {std::pair{1, 1}, {2, 2}, {3, 1}, {7, 5}, {1, 6}}) {
        RenderParams params;
        params.OutputResolutionX = w;
        params.OutputResolutionY = h;
        params.GroundAutoCreate = true;
        params.CloudAutoCreate = true;
        RenderContext ctx;
        EXPECT_TRUE(RenderPlanet(params, ctx)) << w << "x" << h << ": " << ctx.failure;
    }
}

using GroundPicture = PictureFolder;

TEST_F(GroundPicture, MissingUnreadableAndLoadedPictures) {
    // No generation and no readable file: opaque black, silent, no draws.
    const std::string broken = (dir_ / "broken.bmp").string();
    std::ofstream(broken) << "not a picture";
    for (const std::string& name : {std::string("/nonexistent/h.bmp"), broken}) {
        RenderParams params = GroundParams(7, 5, 2);
        params.GroundAutoCreate = false;
        params.LoadHeightmap = name;
        RenderContext ctx;
        RecordingSink sink(ctx);
        std::optional<FloatImage> layer = Build(params, ctx);
        ASSERT_TRUE(layer);
        EXPECT_TRUE(SamePixels(*layer, MakeImage(14, 10)));
        EXPECT_TRUE(sink.texts.empty() && ctx.failure.empty());
        EXPECT_EQ(ctx.rng.state, static_cast<uint32_t>(kSeed));
    }

    const std::string name = SaveFlatPicture(20, 10);
    ASSERT_FALSE(name.empty()) << "the test picture could not be written";
    // Loaded alone: resampled to the layer size, oversampling included; silent.
    RenderParams alone = GroundParams(16, 8, 2);
    alone.GroundAutoCreate = false;
    alone.LoadHeightmap = name;
    RenderContext ctx;
    RecordingSink sink(ctx);
    std::optional<FloatImage> layer = Build(alone, ctx);
    ASSERT_TRUE(layer);
    EXPECT_TRUE(SamePixels(*layer, MakeImage(32, 16, kPrepared)));
    EXPECT_TRUE(sink.texts.empty());

    // Blended under the generated relief: fully transparent leaves the picture (yet draws
    // everything), opaque Norm leaves the height x 255/256, Add sums both.
    RenderContext plainCtx;
    const std::optional<FloatImage> height = Build(GroundParams(), plainCtx);
    ASSERT_TRUE(height);
    for (const auto& [transparency, mode] :
         {std::pair{100, kMixNorm}, {0, kMixNorm}, {0, kMixAdd}}) {
        RenderParams params = GroundParams();
        params.LoadHeightmap = name;
        params.GroundTransparency = transparency;
        params.GroundMixtureMode = mode;
        RenderContext blendCtx;
        std::optional<FloatImage> blended = Build(params, blendCtx);
        ASSERT_TRUE(blended);
        EXPECT_EQ(blendCtx.rng.state, plainCtx.rng.state);
        for (size_t k = 0; k < blended->PixelCount(); k += 37) {
            const Extended h = height->Data()[k].G;
            const float expected = transparency == 100 ? kPrepared.G
                                   : mode == kMixNorm  ? static_cast<float>(h * 255 / 256)
                                                       : static_cast<float>(kPrepared.G + h);
            ASSERT_EQ(blended->Data()[k].G, expected) << transparency << " " << int(mode);
        }
    }
}

}  // namespace
}  // namespace globeforge
