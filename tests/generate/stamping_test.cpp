#include "generate/stamping.h"

#include <bit>

#include "generate/cloud_layer.h"
#include "generate/ground_layer.h"
#include "generator_fixtures.h"

namespace globeforge {
namespace {

// Every stamp is size x size whatever the draws, from an opaque brush of value 1; each
// redraw records the stamp index and the generator state, then draws once itself.
StampPass FixedSizePass(int32_t count, HemisphereRule rule, int32_t size,
                        std::vector<std::pair<int32_t, uint32_t>>* redraws = nullptr) {
    StampPass pass;
    pass.count = count;
    pass.redrawBrush = [redraws](int32_t i, FloatImage& brush, BrushCache&, RenderContext& ctx) {
        if (redraws) redraws->emplace_back(i, ctx.rng.state);
        FillImage(brush, {1.0f, 1.0f, 1.0f, 255.0f});
        const int32_t unused = ctx.rng.Random(3);  // stands for the pattern's own draws
        (void)unused;
    };
    pass.hemisphere = rule;
    pass.sMax = pass.sMin = size;
    pass.wEq = pass.wPole = [](int32_t s) { return static_cast<double>(s); };
    pass.width = [](int32_t w0, int32_t) { return w0; };
    pass.height = [](int32_t, int32_t s) { return s; };
    pass.mode = [](int32_t) { return BlendMode::AddDirect; };
    return pass;
}

TEST(StampRectangle, WorkedStampsAndTheDrawnSide) {
    const auto passes = GroundStampPasses(RenderParams{}, 1024);
    const StampDraws draws{300, 5000, 0, 500};
    // Odd stamps go below the middle row: yoff 32, size 64, w0 = Round(10.47) = 10,
    // width Round(10 x 1.02), height Round(64 x 1.01).
    const ImageRect odd = StampRectangle(passes[0], 7, 512, draws);
    EXPECT_EQ((std::vector<int32_t>{odd.X, odd.Y, odd.W, odd.H}),
              (std::vector<int32_t>{295, 256, 10, 65}));
    EXPECT_EQ(StampRectangle(passes[0], 8, 512, draws).Y, 256 - 32 - 32);
    EXPECT_EQ(passes[0].mode(7), BlendMode::AddDirect);
    EXPECT_EQ(passes[0].mode(8), BlendMode::Add);
    // Filter 1, side drawn: yoff 64, size Round(137.6) = 138, w0 Round(40.97) = 41.
    const ImageRect above = StampRectangle(passes[1], 7, 512, {300, 5000, 4, 500});
    EXPECT_EQ((std::vector<int32_t>{above.Y, above.W, above.H}),
              (std::vector<int32_t>{256 - 64 - 69, 41, 138}));
    EXPECT_EQ(StampRectangle(passes[1], 8, 512, {300, 5000, 5, 500}).Y, 256 + 64 - 69);
    // A one-row target has an empty latitude interval: the polar width applies.
    EXPECT_EQ(StampRectangle(FixedSizePass(1, HemisphereRule::Alternate, 6), 1, 1, {}).W, 6);
}

TEST(RunStampPass, DrawOrderRedrawsAndWrapping) {
    for (const HemisphereRule rule : {HemisphereRule::Alternate, HemisphereRule::Drawn}) {
        const uint64_t perStamp = rule == HemisphereRule::Drawn ? 4 : 3;
        std::vector<std::pair<int32_t, uint32_t>> redraws;
        // Stamps the target's size from a brush of that size: with wrap-around every pixel
        // gets every stamp exactly once, wherever it is centred.
        const StampPass pass = FixedSizePass(25, rule, 8, &redraws);
        FloatImage brush = MakeImage(8, 8);
        FloatImage target = MakeImage(8, 8);
        RenderContext ctx;
        BrushCache cache;
        ctx.rng = Lcg32(99);
        ASSERT_TRUE(RunStampPass(pass, brush, cache, target, ctx));
        ASSERT_EQ(redraws.size(), 3u);
        for (uint64_t k = 0; k < 3; ++k) {
            EXPECT_EQ(redraws[k].first, static_cast<int32_t>(10 * k + 1));
            EXPECT_EQ(redraws[k].second, StateAfter(99, k * (10 * perStamp + 1)));
        }
        EXPECT_EQ(ctx.rng.state, StateAfter(99, 25 * perStamp + 3));
        EXPECT_EQ(ctx.ProgressPercent, 100);
        for (size_t k = 0; k < target.PixelCount(); ++k) ASSERT_EQ(target.Data()[k].R, 25.0f);
    }
}

TEST(RunStampPass, AbortAndEmptyImages) {
    const StampPass pass = FixedSizePass(40, HemisphereRule::Drawn, 3);
    FloatImage brush = MakeImage(2, 2);
    FloatImage target = MakeImage(16, 16);
    RenderContext ctx;
    BrushCache cache;
    ctx.rng = Lcg32(5);
    {
        RecordingSink sink(ctx, 12);
        EXPECT_FALSE(RunStampPass(pass, brush, cache, target, ctx));
        EXPECT_EQ(sink.events, 12);
        EXPECT_EQ(sink.percents.back(), 30);                  // Round(12 / 40 * 100)
        EXPECT_EQ(ctx.rng.state, StateAfter(5, 12 * 4 + 2));  // redraws at 1 and 11
    }
    // Empty brush or target: nothing drawn, all draws made.
    ctx.AbortRequested = false;
    ctx.rng = Lcg32(8);
    FloatImage empty = MakeImage(0, 0);
    FloatImage row = MakeImage(3, 1);
    EXPECT_TRUE(RunStampPass(pass, empty, cache, row, ctx));
    EXPECT_TRUE(RunStampPass(pass, brush, cache, empty, ctx));
    EXPECT_EQ(ctx.rng.state, StateAfter(8, 2 * (40 * 4 + 4)));
    for (size_t k = 0; k < row.PixelCount(); ++k) ASSERT_EQ(row.Data()[k], kOpaqueBlack);
}

TEST(RunStampPass, PatternBrushesReadFromTheirPlanes) {
    // The ground's first warp filter: one-channel ring brushes carved in a plane, which the
    // stamps read while the brush image waits. With the layout left to a scan, the image is
    // written before every epoch instead; the stamps and the brush left behind are the same.
    StampPass pass = GroundStampPasses(RenderParams{}, 64)[1];
    pass.count = 25;
    const auto redraw = pass.redrawBrush;
    std::vector<uint32_t> states;
    pass.redrawBrush = [&](int32_t i, FloatImage& brush, BrushCache& cache, RenderContext& ctx) {
        states.push_back(ctx.rng.state);
        redraw(i, brush, cache, ctx);
    };
    StampPass scanned = pass;
    scanned.brushLayout = SourceLayout::General;
    FloatImage brushes[2] = {MakeImage(32, 16), MakeImage(32, 16)};
    FloatImage targets[2] = {MakeImage(64, 32), MakeImage(64, 32)};
    for (int k = 0; k < 2; ++k) {
        RenderContext ctx;
        BrushCache cache;
        ctx.rng = Lcg32(3);
        ASSERT_TRUE(RunStampPass(k == 0 ? pass : scanned, brushes[k], cache, targets[k], ctx));
    }
    EXPECT_TRUE(SamePixels(targets[0], targets[1]));
    EXPECT_NE(Fingerprint(targets[0]), Fingerprint(MakeImage(64, 32)));
    FloatImage last = MakeImage(32, 16);
    RenderContext ctx;
    BrushCache cache;
    ctx.rng.state = states[2];
    redraw(21, last, cache, ctx);
    EXPECT_TRUE(SamePixels(brushes[0], last));
    EXPECT_TRUE(SamePixels(brushes[1], last));
}

TEST(RunStampPassOnGray, TheLayerRunStampPassMakes) {
    // The ground's base pattern (gray brushes, Add and AddDirect), whole and aborted, onto
    // an opaque black layer; a layer that is not gray takes the image path.
    StampPass pass = GroundStampPasses(RenderParams{}, 96)[0];
    pass.count = 60;
    for (const int abortAfter : {-1, 25}) {
        for (const bool gray : {true, false}) {
            FloatImage layers[2] = {MakeImage(96, 48), MakeImage(96, 48)};
            uint32_t states[2];
            bool results[2];
            for (int k = 0; k < 2; ++k) {
                if (!gray) layers[k].At(5, 7).G = 1.0f;
                FloatImage brush = MakeImage(48, 24);
                RenderContext ctx;
                BrushCache cache;
                ctx.rng = Lcg32(21);
                RecordingSink sink(ctx, abortAfter);
                results[k] = k == 0 ? RunStampPass(pass, brush, cache, layers[k], ctx)
                                    : RunStampPassOnGray(pass, brush, cache, layers[k], ctx);
                states[k] = ctx.rng.state;
            }
            EXPECT_EQ(results[0], abortAfter < 0);
            EXPECT_EQ(results[1], results[0]);
            EXPECT_EQ(states[1], states[0]);
            EXPECT_TRUE(SamePixels(layers[1], layers[0])) << abortAfter << " " << gray;
            EXPECT_NE(Fingerprint(layers[0]), Fingerprint(MakeImage(96, 48)));
        }
    }
}

class WatchingObserver : public StageObserver {
  public:
    bool ObserveStage(const FloatImage&, std::string_view, std::string&) override { return true; }
    bool ObserveStage(const ScalarImage&, std::string_view, std::string&) override { return true; }
};

TEST(BuildWarpMap, FiltersStampedIntoChannelPlanesGiveTheWatchedMap) {
    // Unwatched, each filter stamps only its brushes' channel into a plane of its own;
    // watched, whole pixels, as the stage images show them. The cloud filters cycle through
    // Add, Sub, AddDirect and SubDirect, so the channels go negative and pass through zero.
    for (const bool clouds : {false, true}) {
        const auto passes =
            clouds ? CloudStampPasses(RenderParams{}, 96) : GroundStampPasses(RenderParams{}, 96);
        std::optional<FloatImage> maps[2];
        uint32_t states[2];
        for (int watched = 0; watched < 2; ++watched) {
            FloatImage brush = MakeImage(48, 24);
            RenderContext ctx;
            BrushCache cache;
            ctx.rng = Lcg32(11);
            WatchingObserver observer;
            if (watched) ctx.SetStageObserver(&observer);
            maps[watched] = BuildWarpMap(passes, brush, cache, 96, 48,
                                         {{"1", "2", "3"}, "merged", "layer"}, ctx);
            ASSERT_TRUE(maps[watched]);
            states[watched] = ctx.rng.state;
        }
        EXPECT_EQ(states[0], states[1]);
        for (size_t k = 0; k < maps[0]->PixelCount(); ++k) {
            const FloatPixel a = maps[0]->Data()[k], b = maps[1]->Data()[k];
            ASSERT_EQ(std::bit_cast<uint32_t>(a.R), std::bit_cast<uint32_t>(b.R)) << k;
            ASSERT_EQ(std::bit_cast<uint32_t>(a.G), std::bit_cast<uint32_t>(b.G)) << k;
            ASSERT_EQ(std::bit_cast<uint32_t>(a.B), std::bit_cast<uint32_t>(b.B)) << k;
        }
        EXPECT_NE(Fingerprint(*maps[0]), Fingerprint(MakeImage(96, 48)));
    }
    // A pass whose brushes carry every channel has no one channel to stamp.
    StampPass base = GroundStampPasses(RenderParams{}, 96)[0];
    EXPECT_FALSE(StampsIntoValuePlane(base));
    FloatImage brush = MakeImage(4, 4);
    std::vector<float> values(16);
    RenderContext ctx;
    BrushCache cache;
    EXPECT_FALSE(RunStampPass(base, brush, cache, ChannelPlane{values.data(), 4, 4}, ctx));
    EXPECT_FALSE(ctx.failure.empty());
}

}  // namespace
}  // namespace globeforge
