#include "generate/ground_layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "generate/patterns.h"
#include "image/image_files.h"
#include "recording_sink.h"
#include "render/render_planet.h"

namespace globeforge {
namespace {

constexpr int32_t kSeed = 65536;

RenderParams GroundParams(int32_t w = 64, int32_t h = 32, int32_t overSampling = 1) {
    RenderParams params;
    params.RandomSeed = kSeed;
    params.OutputResolutionX = w;
    params.OutputResolutionY = h;
    params.OverSampling = overSampling;
    params.GroundAutoCreate = true;
    auto brush = NewImage(w * overSampling / 2, h * overSampling / 2);
    EXPECT_TRUE(brush);
    params.WorkImage = std::make_unique<FloatImage>(std::move(*brush));
    return params;
}

std::optional<FloatImage> Build(const RenderParams& params, RenderContext& ctx) {
    ctx.rng = Lcg32(params.RandomSeed);
    return BuildGroundLayer(params, ctx);
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

const std::vector<std::string> kGroundMessages = {"地表ハイトマップ・表面基本パターン作成終了",
                                                  "地表ハイトマップ・歪みフィルタ1作成終了",
                                                  "地表ハイトマップ・歪みフィルタ2作成終了",
                                                  "地表ハイトマップ・歪みフィルタ3作成終了",
                                                  "地表ハイトマップ・歪みフィルタ合成終了",
                                                  "地表ハイトマップ・表面画像作成終了",
                                                  "地表ハイトマップ画像作成終了"};

TEST(GroundLayer, SameSeedSameLayerAndPinnedDrawsPerPass) {
    RenderParams params = GroundParams();
    RenderContext ctx;
    RecordingSink sink(ctx);
    std::optional<FloatImage> first = Build(params, ctx);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Width, 64);
    EXPECT_EQ(first->Height, 32);
    ASSERT_EQ(sink.MessageTexts(), kGroundMessages);

    // Draws per pass, counted by hand: base 2400 stamps x 3 plus 240 brushes (120 x 8,
    // 80 x 6 and 40 x 14 domes, 4 draws each); filter 1: 600 x 4 + 60 x 16 x 4; filters 2
    // and 3: 60 x 4 + 6 x 16 x 4; the warp one per pixel.
    const uint32_t seed = static_cast<uint32_t>(kSeed);
    const std::vector<uint32_t> expected = {
        Advanced(seed, 15200),          Advanced(seed, 21440), Advanced(seed, 22064),
        Advanced(seed, 22688),          Advanced(seed, 22688), Advanced(seed, 22688 + 64 * 32),
        Advanced(seed, 22688 + 64 * 32)};
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(sink.messages[k].second, expected[k]) << sink.messages[k].first;
    }
    EXPECT_EQ(sink.messages.back().second, 1698311008u);
    EXPECT_EQ(Fingerprint(*first), 18104958898252840482ull);

    std::optional<FloatImage> second = Build(params, ctx);
    ASSERT_TRUE(second);
    EXPECT_TRUE(SamePixels(*first, *second));

    // The generated height sits in R, G and B alike, within 0 .. 256.
    float hi = 0;
    for (size_t k = 0; k < first->PixelCount(); ++k) {
        const FloatPixel p = first->Data()[k];
        ASSERT_EQ(p.R, p.G);
        ASSERT_EQ(p.R, p.B);
        ASSERT_GE(p.R, 0.0f);
        ASSERT_LE(p.R, 256.0f);
        hi = std::max(hi, p.R);
    }
    EXPECT_GT(hi, 128.0f);
}

TEST(GroundLayer, ContrastScalesTheRangeButNotTheDraws) {
    RenderParams full = GroundParams();
    RenderContext fullCtx;
    RecordingSink fullSink(fullCtx);
    ASSERT_TRUE(Build(full, fullCtx));

    for (const int32_t contrast : {0, 50}) {
        RenderParams params = GroundParams();
        params.GroundContr = contrast;
        RenderContext ctx;
        RecordingSink sink(ctx);
        std::optional<FloatImage> layer = Build(params, ctx);
        ASSERT_TRUE(layer);
        EXPECT_EQ(sink.messages, fullSink.messages) << "contrast " << contrast;
        const float limit = 256.0f * contrast / 100;
        float hi = 0;
        for (size_t k = 0; k < layer->PixelCount(); ++k) {
            ASSERT_GE(layer->Data()[k].R, 0.0f);
            ASSERT_LE(layer->Data()[k].R, limit);
            hi = std::max(hi, layer->Data()[k].R);
        }
        if (contrast > 0) {
            EXPECT_GT(hi, limit / 2);
        }
    }
}

TEST(GroundLayer, BrushScheduleOfThePasses) {
    const RenderParams params = GroundParams();
    const auto passes = GroundStampPasses(params, 64);
    EXPECT_EQ(passes[0].count, 2400);
    EXPECT_EQ(passes[1].count, 600);
    EXPECT_EQ(passes[2].count, 60);
    EXPECT_EQ(passes[3].count, 60);

    // Each redraw must equal the named pattern call, image and generator alike.
    struct Case {
        int pass;
        int32_t i;
        std::function<void(FloatImage&, Lcg32&)> pattern;
    };
    const std::vector<Case> cases = {
        {0, 1191, [](FloatImage& b, Lcg32& r) { DomePattern(b, true, true, true, 8, 4.0, r); }},
        {0, 1201, [](FloatImage& b, Lcg32& r) { DomePattern(b, true, true, true, 6, -4.0, r); }},
        {0, 1991, [](FloatImage& b, Lcg32& r) { DomePattern(b, true, true, true, 6, -4.0, r); }},
        {0, 2001, [](FloatImage& b, Lcg32& r) { RingPattern(b, true, true, true, 14, 4.0, r); }},
        {1, 1, [](FloatImage& b, Lcg32& r) { RingPattern(b, true, false, false, 16, 2.0, r); }},
        {2, 11, [](FloatImage& b, Lcg32& r) { RingPattern(b, false, true, false, 16, 2.0, r); }},
        {3, 51, [](FloatImage& b, Lcg32& r) { RingPattern(b, false, false, true, 16, 2.0, r); }},
    };
    for (const Case& c : cases) {
        auto a = NewImage(32, 16);
        auto b = NewImage(32, 16);
        ASSERT_TRUE(a && b);
        Lcg32 rngA(31);
        Lcg32 rngB(31);
        passes[c.pass].redrawBrush(c.i, *a, rngA);
        c.pattern(*b, rngB);
        EXPECT_TRUE(SamePixels(*a, *b)) << "pass " << c.pass << " stamp " << c.i;
        EXPECT_EQ(rngA.state, rngB.state) << "pass " << c.pass << " stamp " << c.i;
    }
}

TEST(GroundLayer, NoGenerationNoPictureIsBlackAndSilent) {
    RenderParams params = GroundParams(7, 5, 2);
    params.GroundAutoCreate = false;
    params.LoadHeightmap = "/nonexistent/dir/height.bmp";
    RenderContext ctx;
    RecordingSink sink(ctx);
    std::optional<FloatImage> layer = Build(params, ctx);
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->Width, 14);
    EXPECT_EQ(layer->Height, 10);
    for (size_t k = 0; k < layer->PixelCount(); ++k) ASSERT_EQ(layer->Data()[k], kOpaqueBlack);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(ctx.rng.state, static_cast<uint32_t>(kSeed));
}

TEST(GroundLayer, AbortInAnyStepGivesNoLayer) {
    // Event rounds: 2400 base stamps, a report, 600 + report, 60 + report, 60 + report,
    // the merge report, then one per warp row.
    struct Case {
        int64_t abortAfter;
        size_t messagesShown;
    };
    for (const Case& c :
         {Case{5, 0}, Case{2401 + 10, 1}, Case{3001 + 1 + 60 + 1 + 30, 3}, Case{3125 + 4, 6}}) {
        RenderParams params = GroundParams();
        params.NumberOfCraters = 4;
        RenderContext ctx;
        RecordingSink sink(ctx, c.abortAfter);
        EXPECT_FALSE(Build(params, ctx)) << c.abortAfter;
        EXPECT_TRUE(ctx.failure.empty());
        EXPECT_EQ(sink.events, c.abortAfter + static_cast<int64_t>(c.messagesShown == 6 ? 1 : 0));
        ASSERT_EQ(sink.messages.size(), c.messagesShown) << c.abortAfter;
        if (c.messagesShown == 6) {
            // An abort in the warp still shows the warp's message, and nothing after it.
            EXPECT_EQ(sink.messages.back().first, kGroundMessages[5]);
        }
    }
}

TEST(GroundLayer, MissingBrushIsAFailureNotACrash) {
    RenderParams params = GroundParams();
    params.WorkImage.reset();
    RenderContext ctx;
    EXPECT_FALSE(Build(params, ctx));
    EXPECT_FALSE(ctx.failure.empty());
}

class GroundPicture : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("globeforge_ground_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A flat picture, saved as a lossless file; skips the test when no codec is there yet.
    std::string SavePicture(int32_t w, int32_t h) {
        auto picture = NewFilledImage(w, h, {200.0f, 100.0f, 40.0f, 255.0f});
        EXPECT_TRUE(picture);
        const std::string name = (dir_ / "height.bmp").string();
        if (!SaveImageFile(*picture, name)) return {};
        return name;
    }

    std::filesystem::path dir_;
};

// The flat picture resampled over opaque black: each channel times 255 / 256.
const FloatPixel kPrepared{199.21875f, 99.609375f, 39.84375f, 255.0f};

TEST_F(GroundPicture, LoadedWithoutGeneration) {
    const std::string name = SavePicture(20, 10);
    if (name.empty()) GTEST_SKIP() << "pictures cannot be written yet";
    for (const int32_t overSampling : {1, 2}) {
        RenderParams params = GroundParams(16, 8, overSampling);
        params.GroundAutoCreate = false;
        params.LoadHeightmap = name;
        RenderContext ctx;
        RecordingSink sink(ctx);
        std::optional<FloatImage> layer = Build(params, ctx);
        ASSERT_TRUE(layer);
        // Resampled to the layer size, oversampling included.
        EXPECT_EQ(layer->Width, 16 * overSampling);
        EXPECT_EQ(layer->Height, 8 * overSampling);
        for (size_t k = 0; k < layer->PixelCount(); ++k) ASSERT_EQ(layer->Data()[k], kPrepared);
        EXPECT_TRUE(sink.messages.empty());
        EXPECT_EQ(ctx.rng.state, static_cast<uint32_t>(kSeed));
    }
}

TEST_F(GroundPicture, BlendedWithGeneration) {
    const std::string name = SavePicture(64, 32);
    if (name.empty()) GTEST_SKIP() << "pictures cannot be written yet";
    RenderContext plainCtx;
    std::optional<FloatImage> generated = Build(GroundParams(), plainCtx);
    ASSERT_TRUE(generated);

    // Fully transparent generation leaves the prepared picture, yet draws everything.
    RenderParams clear = GroundParams();
    clear.LoadHeightmap = name;
    clear.GroundTransparency = 100;
    RenderContext clearCtx;
    std::optional<FloatImage> picture = Build(clear, clearCtx);
    ASSERT_TRUE(picture);
    for (size_t k = 0; k < picture->PixelCount(); ++k) {
        ASSERT_EQ(picture->Data()[k].R, kPrepared.R);
        ASSERT_EQ(picture->Data()[k].B, kPrepared.B);
    }
    EXPECT_EQ(clearCtx.rng.state, plainCtx.rng.state);

    // Opaque Norm: the picture no longer shows, the height arrives times 255 / 256.
    RenderParams opaque = GroundParams();
    opaque.LoadHeightmap = name;
    opaque.GroundTransparency = 0;
    opaque.GroundMixtureMode = kMixNorm;
    RenderContext opaqueCtx;
    RecordingSink sink(opaqueCtx);
    std::optional<FloatImage> covered = Build(opaque, opaqueCtx);
    ASSERT_TRUE(covered);
    for (size_t k = 0; k < covered->PixelCount(); ++k) {
        const float expected =
            static_cast<float>(static_cast<Extended>(generated->Data()[k].R) * 255.0L / 256.0L);
        ASSERT_EQ(covered->Data()[k].R, expected) << k;
    }
    EXPECT_EQ(sink.messages.back().first, kGroundMessages.back());

    // Add: the picture plus the height.
    RenderParams added = GroundParams();
    added.LoadHeightmap = name;
    added.GroundMixtureMode = kMixAdd;
    RenderContext addedCtx;
    std::optional<FloatImage> sum = Build(added, addedCtx);
    ASSERT_TRUE(sum);
    const size_t k = 100;
    EXPECT_FLOAT_EQ(sum->Data()[k].G, kPrepared.G + generated->Data()[k].G);
}

TEST_F(GroundPicture, UnreadableFileCountsAsNoFile) {
    const std::string name = (dir_ / "broken.bmp").string();
    std::ofstream(name) << "not a picture";
    RenderParams params = GroundParams(8, 4);
    params.GroundAutoCreate = false;
    params.LoadHeightmap = name;
    RenderContext ctx;
    std::optional<FloatImage> layer = Build(params, ctx);
    ASSERT_TRUE(layer);
    EXPECT_TRUE(ctx.failure.empty());
    EXPECT_EQ(layer->At(3, 2), kOpaqueBlack);
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

}  // namespace
}  // namespace globeforge
