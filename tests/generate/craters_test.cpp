#include "generate/craters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "generate/curves.h"
#include "generate/patterns.h"
#include "generate/warp.h"
#include "image/max_stamp.h"
#include "render/render_planet.h"

namespace globeforge {
namespace {

// Records every message with the event count and generator state at that moment, keeps a
// copy of the images shown with chosen messages, and raises the abort flag on request.
class CraterSink : public ProgressSink {
  public:
    explicit CraterSink(RenderContext& ctx) : ctx_(ctx) { ctx.SetProgressTargets(this); }
    void DrawProgressImage(const FloatImage& image) override {
        last_.emplace();
        CopyImage(*last_, image);
    }
    void SetMessage(std::string_view message) override {
        messages.emplace_back(message);
        eventsAt.push_back(events);
        statesAt.push_back(ctx_.rng.state);
        percentsAt.push_back(ctx_.ProgressPercent);
        if (keep.count(messages.back()) && !kept.count(messages.back()) && last_)
            kept[messages.back()] = std::move(*last_);
        last_.reset();
        if (abortOnMessage == messages.back()) ctx_.AbortRequested = true;
    }
    void ProcessPendingEvents() override {
        if (++events == abortAtEvent) ctx_.AbortRequested = true;
    }
    int Find(const std::string& message) const {
        for (size_t i = 0; i < messages.size(); ++i)
            if (messages[i] == message) return static_cast<int>(i);
        return -1;
    }
    int Count(const std::string& message) const {
        int n = 0;
        for (const auto& m : messages) n += m == message;
        return n;
    }

    int events = 0;
    int abortAtEvent = -1;
    std::string abortOnMessage;
    std::vector<std::string> messages;
    std::vector<int> eventsAt;
    std::vector<uint32_t> statesAt;
    std::vector<int32_t> percentsAt;
    std::set<std::string> keep;  // messages whose image is copied (first occurrence)
    std::map<std::string, FloatImage> kept;

  private:
    RenderContext& ctx_;
    std::optional<FloatImage> last_;
};

const std::string kBowlDone = "地表ハイトマップ・クレーター穴部作成終了";
const std::string kRidgesDone = "地表ハイトマップ・クレーター基本形作成終了";
const std::string kStampDone = "地表ハイトマップ・クレーター作成終了";
const std::string kNorthPlaced = "地表ハイトマップ・北半球クレーター配置終了";
const std::string kNorthProjected = "地表ハイトマップ：北半球クレーター展開終了";
const std::string kSouthPlaced = "地表ハイトマップ・南半球クレーター配置終了";
const std::string kSouthProjected = "地表ハイトマップ：南半球クレーター展開終了";

FloatImage Gradient(int32_t w, int32_t h, float alpha = 255.0f) {
    FloatImage image = *NewImage(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float v = static_cast<float>(x + 3 * y);
            image.At(x, y) = {v, v, v, alpha};
        }
    return image;
}

RenderParams CraterParams(int32_t count) {
    RenderParams p;
    p.NumberOfCraters = count;
    p.CraterBasicRadius = 10;
    p.CraterHeight = 100;
    p.CraterWarp = 50;
    p.CraterNoise = 100;
    return p;
}

TEST(CraterStamp, NoiselessProfile) {
    const CraterShape shape = MakeCraterShape(128, 0.5);
    EXPECT_EQ(shape.R, 32);
    EXPECT_DOUBLE_EQ(shape.innerR, 25.6);
    EXPECT_DOUBLE_EQ(shape.floor, -127.5);
    EXPECT_NEAR(shape.rimH, 223.25, 1e-9);
    EXPECT_NEAR(MakeCraterShape(128, 0.1).rimH, 69.834, 1e-3);

    const auto at = [&](double d) { return CraterProfile(shape, d, 0.7, 0.0); };
    EXPECT_NEAR(at(0).height, -127.5, 1e-9);
    EXPECT_NEAR(at(12.8).height, -83.65625, 1e-6);
    EXPECT_TRUE(at(25.5).inBowl);
    EXPECT_NEAR(at(25.6).height, 223.25, 1e-6);
    EXPECT_FALSE(at(25.6).inBowl);
    EXPECT_NEAR(at(28.8).height, 111.625, 1e-6);
    EXPECT_NEAR(at(32).height, 0.0, 1e-9);
    // Noise bends the slopes: the draw adds draw x noise to the exponents 3 and 1.
    EXPECT_NEAR(CraterProfile(shape, 12.8, 0.5, 2.0).height, -127.5 + 350.75 * std::pow(0.5, 4),
                1e-6);
    EXPECT_NEAR(CraterProfile(shape, 28.8, 0.5, 2.0).height, 223.25 * 0.25, 1e-6);
    // The pixels take the float of the height through a shortcut: the same float at every
    // pixel distance of stamps small and large, with and without noise.
    for (const int32_t width : {16, 128, 1000}) {
        const CraterShape s = MakeCraterShape(width, 0.37);
        for (int64_t n = 0; n <= int64_t{s.R} * s.R; n += 1 + n / 512) {
            const double d = std::sqrt(static_cast<double>(n));
            for (const double draw : {0.0, 0.31, 0.999}) {
                for (const double noise : {0.0, 1.5, 9.0}) {
                    ASSERT_EQ(std::bit_cast<uint32_t>(CraterHeightFloat(s, d, draw, noise)),
                              std::bit_cast<uint32_t>(
                                  static_cast<float>(CraterProfile(s, d, draw, noise).height)))
                        << width << " " << n << " " << draw << " " << noise;
                }
            }
        }
    }

    // The same profile on a stamp: one draw per pixel within the radius, bowl marked A = -1.
    RenderContext ctx;
    ctx.rng = Lcg32(99);
    CraterSink sink(ctx);
    sink.keep.insert(kBowlDone);
    FloatImage stamp = *NewImage(128, 72);
    ASSERT_TRUE(BuildCraterStamp(stamp, 0.5, 5.0, 0.0, ctx));
    const FloatImage& bowl = sink.kept.at(kBowlDone);
    EXPECT_EQ(bowl.At(64, 36).R, -127.5f);
    EXPECT_EQ(bowl.At(64, 36).A, -1.0f);
    EXPECT_FLOAT_EQ(bowl.At(90, 36).G, 223.25f * 6.0f / 6.4f);
    EXPECT_EQ(bowl.At(90, 36).A, 255.0f);
    EXPECT_EQ(bowl.At(96, 36).B, 0.0f);
    EXPECT_EQ(bowl.At(0, 0), kOpaqueBlack);
    int64_t inside = 0;
    for (int y = 0; y < 72; ++y)
        for (int x = 0; x < 128; ++x) inside += (x - 64) * (x - 64) + (y - 36) * (y - 36) <= 1024;
    Lcg32 expected(99);
    expected.Advance(inside);
    EXPECT_EQ(sink.statesAt[sink.Find(kBowlDone)], expected.state);
    // The finished stamp is opaque everywhere.
    for (size_t i = 0; i < stamp.PixelCount(); ++i) ASSERT_EQ(stamp.Data()[i].A, 255.0f);
}

TEST(CraterStamp, WatchedOrNotTheSameStamp) {
    // Unwatched, the swirl map's channels are stamped in planes, and the map and the swirl
    // are made only in the columns that can fetch some of the crater (a small crater leaves
    // most of them out); watched, in whole images.
    for (const auto& [width, height, strength, fraction] :
         {std::tuple{256, 200, 50.0, 0.6}, {97, 131, 9.0, 0.6}, {400, 300, 7.0, 0.12}}) {
        FloatImage stamps[2] = {*NewImage(width, height), *NewImage(width, height)};
        uint32_t states[2];
        for (int watched = 0; watched < 2; ++watched) {
            RenderContext ctx;
            ctx.rng = Lcg32(31 + width);
            std::optional<CraterSink> sink;
            if (watched) sink.emplace(ctx);
            ASSERT_TRUE(BuildCraterStamp(stamps[watched], fraction, strength, 2.0, ctx));
            states[watched] = ctx.rng.state;
        }
        EXPECT_EQ(states[0], states[1]);
        EXPECT_EQ(std::memcmp(stamps[0].Data(), stamps[1].Data(),
                              stamps[0].PixelCount() * sizeof(FloatPixel)),
                  0)
            << width;
    }
}

TEST(CraterStamp, RidgeCountGrowsWithTheSizeFraction) {
    // One ridge step per event between the bowl and ridge reports (plus the report's own).
    for (const auto& [fraction, range, least] : {std::tuple{0.1, 11, 5}, std::tuple{0.5, 17, 8}}) {
        for (int32_t seed : {1, 2, 3}) {
            RenderContext ctx;
            ctx.rng = Lcg32(seed);
            CraterSink sink(ctx);
            FloatImage stamp = *NewImage(48, 40);
            BuildCraterStamp(stamp, fraction, 1.0, 1.0, ctx);
            const int bowl = sink.Find(kBowlDone);
            const int ridges = sink.Find(kRidgesDone);
            Lcg32 draw;
            draw.state = sink.statesAt[bowl];
            const int32_t count = draw.Random(range) + least;
            EXPECT_EQ(sink.eventsAt[ridges] - sink.eventsAt[bowl] - 1, count) << fraction;
        }
    }
}

TEST(MaxStampDomes, SameAsOneMaxStampAfterTheOther) {
    // Ridge-like runs of domes (amplitudes tied, zero, negative, not doubles; centres off
    // the image) on images with bowls, signed zeros and a NaN, over the crater dome pattern
    // (rows with one peak: blocks are passed over), a patchy opaque pattern (no single
    // peak) and a pattern with transparent texels; gray images and one that is not.
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    FloatImage dome = *NewImage(24, 12);
    Lcg32 rng(1);
    DomePattern(dome, true, true, true, 0, 3.0, rng);
    FloatImage patchy = *NewImage(9, 7);
    FloatImage seeThrough = *NewImage(9, 7);
    for (size_t i = 0; i < patchy.PixelCount(); ++i) {
        const float v = static_cast<float>(std::floor(unit(gen) * 300));
        patchy.Data()[i] = {v, v, v, 255.0f};
        seeThrough.Data()[i] = {v, v, v, i % 5 == 0 ? 0.0f : 255.0f};
    }
    // Flat: every sample is 200, and the pixels lie within 2^-13 of 100, what the domes of
    // amplitude 0.5 give: a loose block bound would pass over pixels they raise.
    FloatImage flat = *NewFilledImage(5, 4, {200.0f, 200.0f, 200.0f, 255.0f});
    std::vector<RidgeDome> domes;
    for (int ridge = 0; ridge < 12; ++ridge) {
        const double x0 = unit(gen) * 90 - 10, y0 = unit(gen) * 60 - 10;
        const double dx = unit(gen) * 2 - 1, dy = unit(gen) * 2 - 1;
        for (int j = 0; j < 30; ++j) {
            const double a = ridge == 3 ? 0.5 : j == 7 ? 0.0 : j == 8 ? -1.0 : unit(gen) * 1.3;
            domes.push_back({x0 + dx * j + 0.1L, y0 + dy * j, 2 + unit(gen) * (30 - j), a});
        }
    }
    for (const FloatImage* pattern : {&dome, &patchy, &seeThrough, &flat}) {
        for (const bool gray : {true, false}) {
            FloatImage image = *NewImage(80, 50);
            for (size_t i = 0; i < image.PixelCount(); ++i) {
                const double near = 100 * (1 + (unit(gen) - 0.5) * 0x1p-12);
                const float v = i % 97 == 0        ? -0.0f
                                : pattern == &flat ? static_cast<float>(near)
                                                   : static_cast<float>(unit(gen) * 200 - 20);
                image.Data()[i] = {v, gray ? v : v + 1, v, i % 13 == 0 ? -1.0f : 255.0f};
            }
            image.Data()[101] = {NAN, NAN, NAN, 255.0f};
            // On the flat pattern only the ridge of amplitude 0.5, which no other one hides.
            const std::vector<RidgeDome> stamps =
                pattern == &flat ? std::vector(domes.begin() + 90, domes.begin() + 120) : domes;
            FloatImage expected = *NewImage(0, 0);
            CopyImage(expected, image);
            for (const RidgeDome& d : stamps)
                MaxStamp(expected, *pattern, d.amplitude, d.radius, d.cx, d.cy);
            for (const int threads : {1, 3}) {
                FloatImage stamped = *NewImage(0, 0);
                CopyImage(stamped, image);
                RenderContext ctx;
                ctx.threads = threads;
                MaxStampDomes(stamped, *pattern, stamps, ctx);
                ASSERT_EQ(std::memcmp(stamped.Data(), expected.Data(),
                                      image.PixelCount() * sizeof(FloatPixel)),
                          0)
                    << pattern->Width << " gray " << gray << " threads " << threads;
            }
        }
    }
}

// The south's placement replayed: per crater, attempts of (cx, cy, radius) until one fits,
// then the stamp number; here every radius is 0.
uint32_t ReplayZeroRadiusPlacement(uint32_t state, int32_t craters, int32_t side, int32_t m) {
    Lcg32 rng;
    rng.state = state;
    const int32_t c = side / 2;
    for (int32_t j = 0; j < craters; ++j) {
        const int32_t limit = j % 2 == 0 ? m / 2 : side / 2;
        while (true) {
            const int32_t cx = rng.Random(side);
            const int32_t cy = rng.Random(side);
            rng.RandomReal();  // the radius, 0 whatever the draw
            if (std::sqrt(double((cx - c) * (cx - c) + (cy - c) * (cy - c))) < limit) break;
        }
        rng.Random(40);
    }
    return rng.state;
}

TEST(PlaceCraters, CraterCountsAndZeroRadius) {
    // 32 x 16 at radius 0: a 38-pixel polar image (scale 1.2), m = 32.
    for (const auto& [number, perHemisphere] :
         {std::pair{1, 1}, std::pair{2, 2}, std::pair{3, 2}, std::pair{4, 3}, std::pair{5, 3}}) {
        RenderParams p = CraterParams(number);
        p.CraterBasicRadius = 0;
        FloatImage image = Gradient(32, 16, 7.0f);
        RenderContext ctx;
        ctx.rng = Lcg32(number);
        CraterSink sink(ctx);
        PlaceCraters(p, image, ctx);
        const int from = sink.Find(kNorthProjected);
        const int to = sink.Find(kSouthPlaced);
        ASSERT_GT(to, from);
        EXPECT_EQ(sink.eventsAt[to] - sink.eventsAt[from] - 1, perHemisphere) << number;
        EXPECT_EQ(sink.statesAt[to],
                  ReplayZeroRadiusPlacement(sink.statesAt[from], perHemisphere, 38, 32));
        EXPECT_EQ(sink.percentsAt[to], 100);  // also for one crater, where half is 0
        // Nothing stamped: the heights are only normalised; every row was projected onto.
        EXPECT_EQ(image.At(0, 0).R, 0.0f);
        EXPECT_EQ(image.At(31, 15).G, 256.0f);
        EXPECT_FLOAT_EQ(image.At(16, 8).B, 40.0f * 256.0f / 76.0f);
        for (size_t i = 0; i < image.PixelCount(); ++i) ASSERT_EQ(image.Data()[i].A, 255.0f);
    }
}

TEST(PlaceCraters, DrawOrderIsPinned) {
    RenderParams p = CraterParams(4);
    FloatImage image = Gradient(64, 32);
    RenderContext ctx;
    ctx.rng = Lcg32(4242);
    PlaceCraters(p, image, ctx);
    EXPECT_EQ(ctx.rng.state, 1653524347u);
    // Draw sequences of the same length but used in another order move the craters.
    uint64_t hash = 1469598103934665603u;
    for (size_t i = 0; i < image.PixelCount(); ++i) {
        hash = (hash ^ std::bit_cast<uint32_t>(image.Data()[i].R)) * 1099511628211u;
    }
    EXPECT_EQ(hash, 13129239237349443574u);
}

TEST(PlaceCraters, AbortStopsEachPhaseAfterItsStep) {
    {  // During the first stamp: the stamp is finished, nothing placed or normalised.
        RenderContext ctx;
        CraterSink sink(ctx);
        sink.abortAtEvent = 3;
        FloatImage image = Gradient(32, 32);
        PlaceCraters(CraterParams(9), image, ctx);
        EXPECT_EQ(sink.Count(kStampDone), 1);
        EXPECT_EQ(sink.Find(kNorthPlaced), -1);
        EXPECT_EQ(image.At(31, 31).R, 31.0f + 93.0f);
    }
    {  // At the first stamp's last report: no further stamp, nothing placed.
        RenderContext ctx;
        CraterSink sink(ctx);
        sink.abortOnMessage = kStampDone;
        FloatImage image = Gradient(32, 32);
        PlaceCraters(CraterParams(9), image, ctx);
        EXPECT_EQ(sink.Count(kStampDone), 1);  // the first stamp, then stop
        EXPECT_EQ(sink.Find(kNorthPlaced), -1);
    }
    {  // After the north's placement: its projection stops after one column, no south.
        RenderContext ctx;
        CraterSink sink(ctx);
        sink.abortOnMessage = kNorthPlaced;
        FloatImage image = Gradient(32, 32);
        PlaceCraters(CraterParams(9), image, ctx);
        const int placed = sink.Find(kNorthPlaced);
        const int projected = sink.Find(kNorthProjected);
        ASSERT_GT(projected, placed);
        EXPECT_EQ(sink.eventsAt[projected] - sink.eventsAt[placed], 2);  // one column
        EXPECT_EQ(sink.Find(kSouthPlaced), -1);
        float hi = 0;
        for (size_t i = 0; i < image.PixelCount(); ++i) hi = std::max(hi, image.Data()[i].R);
        EXPECT_EQ(hi, 256.0f);  // still normalised
    }
}

TEST(PlaceCraters, DegenerateSizesAndParametersFinish) {
    struct Case {
        int32_t w, h, number, radius;
    };
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    for (const Case c : {Case{1, 1, 5, 10}, Case{2, 2, 5, 10}, Case{3, 1, 5, 10}, Case{7, 5, 5, 10},
                         Case{16, 8, kMax, 10}, Case{16, 8, 3, kMax}, Case{16, 8, 3, kMin},
                         Case{16, 32, 3, -40}}) {
        SCOPED_TRACE(::testing::Message()
                     << c.w << "x" << c.h << " n " << c.number << " r " << c.radius);
        RenderParams p = CraterParams(c.number);
        p.CraterBasicRadius = c.radius;
        FloatImage image = Gradient(c.w, c.h, 7.0f);
        RenderContext ctx;
        CraterSink sink(ctx);
        PlaceCraters(p, image, ctx);
        EXPECT_TRUE(ctx.failure.empty());
        EXPECT_EQ(sink.Count(kSouthProjected), 1);
        for (size_t i = 0; i < image.PixelCount(); ++i) {
            const FloatPixel& px = image.Data()[i];
            ASSERT_TRUE(std::isfinite(px.R) && px.R >= 0.0f && px.R <= 256.0f);
        }
        if (c.radius == -40) {
            // Scale 0.7: 11 rows per hemisphere, the middle rows keep their alpha.
            EXPECT_EQ(image.At(3, 11).A, 255.0f);
            EXPECT_EQ(image.At(3, 12).A, 7.0f);
            EXPECT_EQ(image.At(3, 21).A, 255.0f);
        }
    }

    // A polar image beyond any allocation fails with a reason.
    FloatImage wide = Gradient(65536, 1);
    RenderContext ctx;
    PlaceCraters(CraterParams(3), wide, ctx);
    EXPECT_NE(ctx.failure.find("not enough memory"), std::string::npos);
}

// The ridge ends P1 and P2 are doubles; only their difference and the step positions are
// extended. On this 75 x 37 stamp (the tenth of a 300 x 150 planet, seed 1) a ridge length
// lies so close to a half that the wider ends round it to the other n: one draw more or
// less, and every later stamp and crater moves.
TEST(CraterStamp, RidgeEndsAreDoublesOnAnOddStamp) {
    class TenthStamp : public ProgressSink {
      public:
        explicit TenthStamp(RenderContext& c) : ctx(c) {}
        void DrawProgressImage(const FloatImage& image) override {
            if (ridges == 9) CopyImage(stamp, image);
        }
        void SetMessage(std::string_view message) override {
            if (message != kRidgesDone || ++ridges != 10) return;
            state = ctx.rng.state;
            ctx.AbortRequested = true;
        }
        void ProcessPendingEvents() override {}
        RenderContext& ctx;
        int ridges = 0;
        uint32_t state = 0;
        FloatImage stamp;
    };
    RenderParams params;  // the window's defaults otherwise
    params.OutputResolutionX = 300;
    params.OutputResolutionY = 150;
    params.RandomSeed = 1;
    params.GroundAutoCreate = true;
    params.NumberOfCraters = 12;
    RenderContext ctx;
    TenthStamp sink(ctx);
    ctx.SetProgressTargets(&sink);
    RenderPlanet(params, ctx);
    ASSERT_EQ(sink.ridges, 10);
    ASSERT_EQ(sink.stamp.Width, 75);
    ASSERT_EQ(sink.stamp.Height, 37);
    EXPECT_EQ(sink.state, 1576037587u);
    EXPECT_EQ(sink.stamp.At(32, 16).R, 1.32242417f);
    EXPECT_EQ(sink.stamp.At(36, 25).R, 46.2647057f);
    EXPECT_EQ(sink.stamp.At(30, 12).R, 45.4067726f);
    EXPECT_EQ(sink.stamp.At(37, 18).A, -1.0f) << "the bowl";
}

}  // namespace
}  // namespace globeforge
