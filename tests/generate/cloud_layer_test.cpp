#include "generate/cloud_layer.h"

#include <functional>

#include "generate/patterns.h"
#include "generator_fixtures.h"

namespace globeforge {
namespace {

constexpr int32_t kSeed = 4711;

RenderParams CloudParams(int32_t w = 64, int32_t h = 32, int32_t overSampling = 1) {
    RenderParams params = LayerParams(kSeed, w, h, overSampling);
    params.CloudAutoCreate = true;
    return params;
}

std::optional<FloatImage> Build(const RenderParams& params, RenderContext& ctx) {
    ctx.rng = Lcg32(params.RandomSeed);
    BrushCache brushes;
    return BuildCloudLayer(params, brushes, ctx);
}

const std::vector<std::string> kMessages = {
    "雲・基本パターン作成終了",  "雲・歪みフィルタ1作成終了", "雲・歪みフィルタ2作成終了",
    "雲・歪みフィルタ3作成終了", "雲・歪みフィルタ合成終了",  "雲・基本画像作成終了",
    "雲基本画像作成終了"};

TEST(CloudLayer, SameSeedSameLayerPinnedDrawsAndNothingElseEntering) {
    RenderContext ctx;
    RecordingSink sink(ctx);
    const std::optional<FloatImage> layer = Build(CloudParams(), ctx);
    ASSERT_TRUE(layer);
    ASSERT_EQ(sink.texts, kMessages);
    // Draws counted by hand. Base: 40 stamps x 3, brushes of 8 domes at 1 and 11 and of 6
    // at 21 and 31. Filters: 4 per stamp and per brush one real plus 12 domes x 4.
    const uint64_t base = 40 * 3 + 2 * 32 + 2 * 24;
    const uint64_t f1 = base + 800 * 4 + 80 * 49;
    const uint64_t f2 = f1 + 300 * 4 + 30 * 49;
    const uint64_t f3 = f2 + 250 * 4 + 25 * 49;
    const std::vector<uint64_t> draws = {base, f1, f2, f3, f3, f3 + 64 * 32, f3 + 64 * 32};
    for (size_t k = 0; k < draws.size(); ++k) {
        EXPECT_EQ(sink.states[k], StateAfter(kSeed, draws[k])) << sink.texts[k];
    }
    EXPECT_EQ(sink.states.back(), 3588501526u);
    EXPECT_EQ(Fingerprint(*layer), 11362916964495018497ull);
    float lo = 256, hi = 0;
    for (size_t k = 0; k < layer->PixelCount(); ++k) {
        const FloatPixel p = layer->Data()[k];
        ASSERT_TRUE(p.R == p.G && p.R == p.B);
        lo = std::min(lo, p.R);
        hi = std::max(hi, p.R);
    }
    EXPECT_EQ(lo, 0.0f);
    EXPECT_EQ(hi, 256.0f);

    RenderParams other = CloudParams();
    other.GroundAutoCreate = true;
    other.GroundContr = 3;
    other.GroundXWarp = 80;
    other.NumberOfCraters = 12;
    RenderContext otherCtx;
    EXPECT_TRUE(SamePixels(*Build(other, otherCtx), *layer));
}

TEST(CloudLayer, WorkedStampAndBrushSchedule) {
    const auto passes = CloudStampPasses(RenderParams{}, 1024);
    // Ratio 4; yoff 64, size 6 (halved 3), w0 Round(2.625) = 3.
    const ImageRect r = StampRectangle(passes[0], 1, 512, {500, 5000, 0, 500});
    EXPECT_EQ((std::vector<int32_t>{r.X, r.Y, r.W, r.H}), (std::vector<int32_t>{499, 314, 3, 12}));
    EXPECT_EQ(passes[1].mode(1), BlendMode::Sub);

    using Pattern = std::function<void(FloatImage&, Lcg32&)>;
    const auto dome = [](int32_t n) -> Pattern {
        return [n](FloatImage& b, Lcg32& rng) { DomePattern(b, true, true, true, n, -2.0, rng); };
    };
    // Quantity 1: domes of 8 at 1 and 11, of 6 at 21 and 31; quantity 5: rings from 161.
    const std::vector<std::tuple<int32_t, int, int32_t, Pattern>> cases = {
        {1, 0, 11, dome(8)},
        {1, 0, 21, dome(6)},
        {1, 0, 31, dome(6)},
        {5, 0, 151, dome(6)},
        {5, 0, 161,
         [](FloatImage& b, Lcg32& rng) { RingPattern(b, true, true, true, 24, 2, rng); }},
        {1, 2, 11,
         [](FloatImage& b, Lcg32& rng) {
             const double e = rng.RandomReal();
             DomePattern(b, false, true, false, 12, 2 - e, rng);
         }},
    };
    for (const auto& [quantity, pass, i, pattern] : cases) {
        RenderParams params;
        params.CloudQuantity = quantity;
        const auto table = CloudStampPasses(params, 64);
        EXPECT_EQ(table[0].count, 40 * quantity);
        FloatImage a = MakeImage(32, 16);
        FloatImage b = MakeImage(32, 16);
        RenderContext ctxA;
        ctxA.rng = Lcg32(77);
        Lcg32 rngB(77);
        BrushCache cache;
        table[pass].redrawBrush(i, a, cache, ctxA);
        pattern(b, rngB);
        EXPECT_TRUE(SamePixels(a, b) && ctxA.rng.state == rngB.state) << pass << " stamp " << i;
        const SourceLayout layout = table[pass].brushLayout;
        EXPECT_NE(SourceLayoutsOf(a.Data(), a.PixelCount()) & (1u << static_cast<int>(layout)), 0u)
            << pass << " stamp " << i;
    }
}

TEST(CloudLayer, OutOfRangeSettingsNoCloudsAndAbort) {
    // Below the window's range 1..100 the settings act as 1 instead of dividing by zero.
    RenderContext refCtx;
    const std::optional<FloatImage> reference = Build(CloudParams(32, 16), refCtx);
    RenderParams low = CloudParams(32, 16);
    low.CloudXWarp = 0;
    low.CloudYWarp = -7;
    low.CloudQuantity = 0;
    RenderContext lowCtx;
    EXPECT_TRUE(SamePixels(*Build(low, lowCtx), *reference));

    RenderParams none = CloudParams();
    none.CloudAutoCreate = false;
    none.LoadCloudAlpha = "/nonexistent/clouds.bmp";
    RenderContext ctx;
    RecordingSink sink(ctx);
    EXPECT_FALSE(Build(none, ctx));
    EXPECT_TRUE(ctx.failure.empty() && sink.texts.empty());
    EXPECT_EQ(ctx.rng.state, static_cast<uint32_t>(kSeed));

    // Event rounds: 40 base stamps + report, 800 + 1, 300 + 1, 250 + 1, merge, warp rows.
    for (const int64_t abortAfter : {3, 541, 1400}) {
        RenderContext abortCtx;
        RecordingSink abortSink(abortCtx, abortAfter);
        EXPECT_FALSE(Build(CloudParams(), abortCtx)) << abortAfter;
        EXPECT_NE(abortSink.texts.size(), kMessages.size());
    }
}

using CloudPicture = PictureFolder;

TEST_F(CloudPicture, InvertedBeforeTheBlend) {
    const std::string name = SaveFlatPicture(10, 10);
    ASSERT_FALSE(name.empty()) << "the test picture could not be written";
    const FloatPixel inverted{55.78125f, 155.390625f, 215.15625f, 255.0f};
    for (const bool reverse : {false, true}) {
        RenderParams params = CloudParams(16, 8, 2);
        params.CloudAutoCreate = false;
        params.LoadCloudAlpha = name;
        params.CloudAlphaReverse = reverse;
        RenderContext ctx;
        RecordingSink sink(ctx);
        const std::optional<FloatImage> layer = Build(params, ctx);
        ASSERT_TRUE(layer);
        EXPECT_TRUE(SamePixels(*layer, MakeImage(32, 16, reverse ? inverted : kPrepared)));
        EXPECT_TRUE(sink.texts.empty());
        EXPECT_EQ(ctx.rng.state, static_cast<uint32_t>(kSeed));
    }
    // Fully transparent generated clouds leave the inverted picture.
    RenderParams clear = CloudParams();
    clear.LoadCloudAlpha = name;
    clear.CloudAlphaReverse = true;
    clear.CloudTransparency = 100;
    RenderContext ctx;
    RecordingSink sink(ctx);
    const std::optional<FloatImage> layer = Build(clear, ctx);
    ASSERT_TRUE(layer);
    EXPECT_TRUE(SamePixels(*layer, MakeImage(64, 32, inverted)));
    EXPECT_EQ(sink.texts, kMessages);
}

}  // namespace
}  // namespace globeforge
