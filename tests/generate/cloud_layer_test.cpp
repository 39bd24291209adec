#include "generate/cloud_layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "generate/patterns.h"
#include "image/image_files.h"
#include "recording_sink.h"

namespace globeforge {
namespace {

constexpr int32_t kSeed = 4711;

RenderParams CloudParams(int32_t w = 64, int32_t h = 32, int32_t overSampling = 1) {
    RenderParams params;
    params.RandomSeed = kSeed;
    params.OutputResolutionX = w;
    params.OutputResolutionY = h;
    params.OverSampling = overSampling;
    params.CloudAutoCreate = true;
    auto brush = NewImage(w * overSampling / 2, h * overSampling / 2);
    EXPECT_TRUE(brush);
    params.WorkImage = std::make_unique<FloatImage>(std::move(*brush));
    return params;
}

std::optional<FloatImage> Build(const RenderParams& params, RenderContext& ctx) {
    ctx.rng = Lcg32(params.RandomSeed);
    return BuildCloudLayer(params, ctx);
}

bool SamePixels(const FloatImage& a, const FloatImage& b) {
    return a.Width == b.Width && a.Height == b.Height &&
           std::equal(a.Data(), a.Data() + a.PixelCount(), b.Data());
}

uint64_t Fingerprint(const FloatImage& image) {
    uint64_t h = 1469598103934665603ull;
    const auto* bytes = reinterpret_cast<const unsigned char*>(image.Data());
    for (size_t i = 0; i < image.PixelCount() * sizeof(FloatPixel); ++i) {
        h = (h ^ bytes[i]) * 1099511628211ull;
    }
    return h;
}

uint32_t Advanced(uint32_t state, uint64_t draws) {
    Lcg32 rng(static_cast<int32_t>(state));
    rng.Advance(draws);
    return rng.state;
}

const std::vector<std::string> kCloudMessages = {
    "雲・基本パターン作成終了",  "雲・歪みフィルタ1作成終了", "雲・歪みフィルタ2作成終了",
    "雲・歪みフィルタ3作成終了", "雲・歪みフィルタ合成終了",  "雲・基本画像作成終了",
    "雲基本画像作成終了"};

TEST(CloudLayer, SameSeedSameLayerAndPinnedDrawsPerPass) {
    const RenderParams params = CloudParams();
    RenderContext ctx;
    RecordingSink sink(ctx);
    std::optional<FloatImage> first = Build(params, ctx);
    ASSERT_TRUE(first);
    ASSERT_EQ(sink.MessageTexts(), kCloudMessages);

    // Draws per pass, counted by hand. Base: 40 stamps x 3, brushes at 1 and 11 with 8
    // domes and at 21 and 31 with 6 (4 draws a dome). Filters: 4 per stamp, and per brush
    // one real draw plus 12 domes: 800 + 80 brushes, 300 + 30, 250 + 25. Warp: per pixel.
    const uint32_t seed = static_cast<uint32_t>(kSeed);
    const uint64_t base = 40 * 3 + 2 * 32 + 2 * 24;
    const uint64_t f1 = base + 800 * 4 + 80 * 49;
    const uint64_t f2 = f1 + 300 * 4 + 30 * 49;
    const uint64_t f3 = f2 + 250 * 4 + 25 * 49;
    const std::vector<uint64_t> draws = {base, f1, f2, f3, f3, f3 + 64 * 32, f3 + 64 * 32};
    for (size_t k = 0; k < draws.size(); ++k) {
        EXPECT_EQ(sink.messages[k].second, Advanced(seed, draws[k])) << sink.messages[k].first;
    }
    EXPECT_EQ(sink.messages.back().second, 3588501526u);
    EXPECT_EQ(Fingerprint(*first), 11362916964495018497ull);

    // Normalised density, the same in R, G and B.
    float lo = 1e9f, hi = -1e9f;
    for (size_t k = 0; k < first->PixelCount(); ++k) {
        const FloatPixel p = first->Data()[k];
        ASSERT_EQ(p.R, p.G);
        ASSERT_EQ(p.R, p.B);
        lo = std::min(lo, p.R);
        hi = std::max(hi, p.R);
    }
    EXPECT_EQ(lo, 0.0f);
    EXPECT_EQ(hi, 256.0f);

    // Nothing but the seed and the cloud settings enter the layer.
    RenderParams other = CloudParams();
    other.GroundAutoCreate = true;
    other.GroundContr = 3;
    other.GroundXWarp = 80;
    other.NumberOfCraters = 12;
    other.LoadHeightmap = "/nonexistent/height.bmp";
    RenderContext otherCtx;
    std::optional<FloatImage> second = Build(other, otherCtx);
    ASSERT_TRUE(second);
    EXPECT_TRUE(SamePixels(*first, *second));
    EXPECT_EQ(otherCtx.rng.state, ctx.rng.state);
}

TEST(CloudLayer, WorkedBaseStamp) {
    RenderParams params;
    params.CloudXWarp = 1;
    params.CloudYWarp = 1;
    const auto passes = CloudStampPasses(params, 1024);
    StampDraws draws;
    draws.cx = 500;
    draws.r1 = 5000;
    draws.r2 = 500;
    // yoff 64, size 6 (so 3 halved), w0 = Round(2.625) = 3, ratio 4.
    const ImageRect r = StampRectangle(passes[0], 1, 512, draws);
    EXPECT_EQ(r.X, 499);
    EXPECT_EQ(r.Y, 314);
    EXPECT_EQ(r.W, 3);
    EXPECT_EQ(r.H, 12);
    EXPECT_EQ(passes[0].mode(1), BlendMode::AddDirect);
    EXPECT_EQ(passes[1].mode(1), BlendMode::Sub);
    EXPECT_EQ(passes[3].mode(3), BlendMode::SubDirect);
    EXPECT_EQ(passes[2].mode(4), BlendMode::Add);
}

TEST(CloudLayer, BrushSchedule) {
    using Pattern = std::function<void(FloatImage&, Lcg32&)>;
    const auto dome = [](int32_t count) -> Pattern {
        return
            [count](FloatImage& b, Lcg32& r) { DomePattern(b, true, true, true, count, -2.0, r); };
    };
    struct Case {
        int32_t quantity;
        int pass;
        int32_t i;
        Pattern pattern;
    };
    const std::vector<Case> cases = {
        {1, 0, 1, dome(8)},
        {1, 0, 11, dome(8)},
        {1, 0, 21, dome(6)},
        {1, 0, 31, dome(6)},
        {5, 0, 151, dome(6)},
        {5, 0, 161, [](FloatImage& b, Lcg32& r) { RingPattern(b, true, true, true, 24, 2.0, r); }},
        {1, 1, 1,
         [](FloatImage& b, Lcg32& r) {
             const double e = r.RandomReal();
             RingPattern(b, true, false, false, 12, 2 + 3 * e, r);
         }},
        {1, 2, 11,
         [](FloatImage& b, Lcg32& r) {
             const double e = r.RandomReal();
             DomePattern(b, false, true, false, 12, 2 - e, r);
         }},
        {1, 3, 21,
         [](FloatImage& b, Lcg32& r) {
             const double e = r.RandomReal();
             RingPattern(b, false, false, true, 12, 3 - e, r);
         }},
    };
    for (const Case& c : cases) {
        RenderParams params;
        params.CloudQuantity = c.quantity;
        const auto passes = CloudStampPasses(params, 64);
        EXPECT_EQ(passes[0].count, 40 * c.quantity);
        auto a = NewImage(32, 16);
        auto b = NewImage(32, 16);
        ASSERT_TRUE(a && b);
        Lcg32 rngA(77);
        Lcg32 rngB(77);
        passes[c.pass].redrawBrush(c.i, *a, rngA);
        c.pattern(*b, rngB);
        EXPECT_TRUE(SamePixels(*a, *b)) << "pass " << c.pass << " stamp " << c.i;
        EXPECT_EQ(rngA.state, rngB.state) << "pass " << c.pass << " stamp " << c.i;
    }
}

TEST(CloudLayer, SettingsOutsideTheWindowRangesAreHeldToIt) {
    RenderContext ctx;
    std::optional<FloatImage> reference = Build(CloudParams(32, 16), ctx);
    ASSERT_TRUE(reference);
    for (const int32_t bad : {0, -7}) {
        RenderParams params = CloudParams(32, 16);
        params.CloudXWarp = bad;
        params.CloudYWarp = bad;
        params.CloudQuantity = bad;
        RenderContext badCtx;
        std::optional<FloatImage> layer = Build(params, badCtx);
        ASSERT_TRUE(layer);
        EXPECT_TRUE(SamePixels(*layer, *reference)) << bad;
    }
}

TEST(CloudLayer, NoCloudsWantedAndAbort) {
    RenderParams none = CloudParams();
    none.CloudAutoCreate = false;
    none.LoadCloudAlpha = "/nonexistent/clouds.bmp";
    RenderContext ctx;
    RecordingSink sink(ctx);
    EXPECT_FALSE(Build(none, ctx));
    EXPECT_TRUE(ctx.failure.empty());
    EXPECT_EQ(ctx.rng.state, static_cast<uint32_t>(kSeed));
    EXPECT_TRUE(sink.messages.empty());

    // Event rounds: 40 base stamps + report, 800 filter stamps + report, ...
    for (const int64_t abortAfter :
         {int64_t{3}, int64_t{41 + 500}, int64_t{41 + 801 + 301 + 252 + 5}}) {
        RenderContext abortCtx;
        RecordingSink abortSink(abortCtx, abortAfter);
        EXPECT_FALSE(Build(CloudParams(), abortCtx)) << abortAfter;
        EXPECT_TRUE(abortCtx.failure.empty());
        const auto texts = abortSink.MessageTexts();
        EXPECT_EQ(std::find(texts.begin(), texts.end(), kCloudMessages.back()), texts.end());
    }
}

class CloudPicture : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("globeforge_clouds_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A flat picture in a lossless file; empty when no codec can write it yet.
    std::string SavePicture(int32_t w, int32_t h) {
        auto picture = NewFilledImage(w, h, {200.0f, 100.0f, 40.0f, 255.0f});
        EXPECT_TRUE(picture);
        const std::string name = (dir_ / "clouds.bmp").string();
        if (!SaveImageFile(*picture, name)) return {};
        return name;
    }

    std::filesystem::path dir_;
};

TEST_F(CloudPicture, LoadedPictureInvertedBeforeTheBlend) {
    const std::string name = SavePicture(10, 10);
    if (name.empty()) GTEST_SKIP() << "pictures cannot be written yet";
    // The prepared picture is the file times 255 / 256, inverted on request.
    const FloatPixel prepared{199.21875f, 99.609375f, 39.84375f, 255.0f};
    const FloatPixel inverted{55.78125f, 155.390625f, 215.15625f, 255.0f};
    for (const bool reverse : {false, true}) {
        RenderParams params = CloudParams(16, 8, 2);
        params.CloudAutoCreate = false;
        params.LoadCloudAlpha = name;
        params.CloudAlphaReverse = reverse;
        RenderContext ctx;
        RecordingSink sink(ctx);
        std::optional<FloatImage> layer = Build(params, ctx);
        ASSERT_TRUE(layer);
        EXPECT_EQ(layer->Width, 32);
        EXPECT_EQ(layer->Height, 16);
        for (size_t k = 0; k < layer->PixelCount(); ++k) {
            ASSERT_EQ(layer->Data()[k], reverse ? inverted : prepared);
        }
        EXPECT_TRUE(sink.messages.empty());
        EXPECT_EQ(ctx.rng.state, static_cast<uint32_t>(kSeed));
    }

    // Fully transparent generated clouds leave the (inverted) picture, yet draw everything.
    RenderParams clear = CloudParams();
    clear.LoadCloudAlpha = name;
    clear.CloudAlphaReverse = true;
    clear.CloudTransparency = 100;
    RenderContext clearCtx;
    RecordingSink clearSink(clearCtx);
    std::optional<FloatImage> layer = Build(clear, clearCtx);
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->At(5, 5).R, inverted.R);
    EXPECT_EQ(layer->At(63, 31).B, inverted.B);
    EXPECT_EQ(clearSink.MessageTexts(), kCloudMessages);
}

}  // namespace
}  // namespace globeforge
