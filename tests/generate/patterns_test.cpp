#include "generate/patterns.h"

#include <cmath>
#include <optional>

#include "generate/curves.h"
#include "generator_fixtures.h"
#include "image/stretch_plan.h"

namespace globeforge {
namespace {

// The stored colour of the centred disc: the Norm blend of v over opaque black.
float DiscColour(double v) {
    const float f = static_cast<float>(v);
    return static_cast<float>(static_cast<Extended>(f) * f / 256.0L);
}

TEST(BiasCurve, MatchesCurveBiasExactly) {
    for (const double bias : {-4.0, -0.37, 0.0, 0.61, 4.0}) {
        for (const int32_t r : {0, 1, 7, 32, 1000}) {
            const BiasCurve curve(255, 0, 0, r, bias);
            for (int32_t n = 0; n <= r * r + 3; n += 1 + r * r / 97) {
                const double d = std::sqrt(static_cast<double>(n));
                ASSERT_EQ(curve(d), CurveBias(255, 0, 0, r, d, bias)) << bias << " " << r;
            }
        }
    }
    const BiasCurve general(-3.5, 12.25, 10, -6, 1.5);
    for (double x = -20; x < 20; x += 0.37) {
        ASSERT_EQ(general(x), CurveBias(-3.5, 12.25, 10, -6, x, 1.5)) << x;
    }
}

TEST(DomePattern, ProfileCoverageAndDraws) {
    FloatImage image = MakeImage(64, 64);
    Lcg32 rng(1);
    DomePattern(image, true, true, true, 0, 4.0, rng);
    EXPECT_EQ(rng.state, 1u) << "no domes, no draws";
    // r = 32, d = 16: 255 / 32 with bias 4 (CurveOut, exponent 5).
    EXPECT_EQ(image.At(48, 32).R, DiscColour(7.96875));
    EXPECT_EQ(image.At(32, 16).G, DiscColour(7.96875));
    EXPECT_EQ(image.At(32, 32).B, DiscColour(255.0));
    for (size_t i = 0; i < image.PixelCount(); ++i) ASSERT_EQ(image.Data()[i].A, 255.0f);
    EXPECT_EQ(image.At(0, 32), kOpaqueBlack);  // the rim, v = 0
    EXPECT_EQ(image.At(0, 0), kOpaqueBlack);   // outside the disc
    DomePattern(image, false, true, false, 0, -4.0, rng);
    EXPECT_EQ(image.At(48, 32), (FloatPixel{0.0f, DiscColour(247.03125), 0.0f, 255.0f}));

    // Eight domes, four draws each; A carries the last chosen channel.
    FloatImage a = MakeImage(64, 64);
    FloatImage b = MakeImage(64, 64);
    Lcg32 rngA(12345);
    Lcg32 rngB(12345);
    DomePattern(a, true, true, true, 8, 4.0, rngA);
    DomePattern(b, true, true, true, 8, 4.0, rngB);
    EXPECT_TRUE(SamePixels(a, b));
    EXPECT_EQ(rngA.state, StateAfter(12345, 32));
    EXPECT_EQ(rngA.state, 545062809u);
    for (size_t i = 0; i < a.PixelCount(); ++i) ASSERT_EQ(a.Data()[i].A, a.Data()[i].B);
}

TEST(RingPattern, BandsMeetAndMidpointsAverage) {
    FloatImage image = MakeImage(20, 20);  // r = 10: band bounds at d = 2, 4, 6, 8
    Lcg32 rng(3);
    RingPattern(image, true, false, false, 0, 2.0, rng);
    const float expected[] = {255, 191.5, 128, 160, 192, 128, 64, 96, 128, 64};
    for (int32_t d = 0; d < 10; ++d) {
        EXPECT_EQ(image.At(10 + d, 10).R, DiscColour(expected[d])) << "d = " << d;
    }
    EXPECT_EQ(image.At(10, 0), kOpaqueBlack);  // d = 10: the rim
    EXPECT_EQ(image.At(11, 10).G, 0.0f);
}

TEST(CarveRandomDomes, CountsAndChannels) {
    const FloatPixel grey{100.0f, 100.0f, 100.0f, 7.0f};
    FloatImage image = MakeImage(16, 16, grey);
    Lcg32 rng(9);
    CarveRandomDomes(image, true, true, true, 0, 1.0, rng);
    EXPECT_EQ(image.At(5, 5), grey) << "count 0 must not even touch A";
    // A negative count carves nothing but still clips and copies the channel into A.
    image.At(1, 1) = {-5.0f, 30.0f, -1.0f, 7.0f};
    CarveRandomDomes(image, true, true, false, -3, 1.0, rng);
    EXPECT_EQ(rng.state, 9u);
    EXPECT_EQ(image.At(1, 1), (FloatPixel{0.0f, 30.0f, 0.0f, 30.0f}));
    EXPECT_EQ(image.At(5, 5), (FloatPixel{100.0f, 100.0f, 100.0f, 100.0f}));

    // No channel: colours stay and only the discs turn opaque. One channel: only it is
    // carved, never below 0.
    for (const bool green : {false, true}) {
        FloatImage carved = MakeImage(16, 16, grey);
        Lcg32 carve(77);
        CarveRandomDomes(carved, false, green, false, 5, 2.0, carve);
        EXPECT_EQ(carve.state, StateAfter(77, 20));
        int touched = 0;
        for (size_t i = 0; i < carved.PixelCount(); ++i) {
            const FloatPixel p = carved.Data()[i];
            ASSERT_EQ(p.R, 100.0f);
            ASSERT_GE(p.G, 0.0f);
            ASSERT_EQ(p.A, green ? p.G : p.A == 255.0f ? 255.0f : 7.0f);
            touched += green ? p.G < 100.0f : p.A == 255.0f;
        }
        EXPECT_GT(touched, 0);
    }
}

TEST(Patterns, DegenerateSizes) {
    // One pixel wide: radius 0, a flat black pattern; Random(0) still advances.
    FloatImage thin = MakeImage(1, 5);
    Lcg32 rng(4);
    DomePattern(thin, true, true, true, 2, 3.0, rng);
    EXPECT_EQ(rng.state, StateAfter(4, 8));
    for (size_t i = 0; i < thin.PixelCount(); ++i) ASSERT_EQ(thin.Data()[i].R, 0.0f);
    RingPattern(thin, true, false, false, 0, 2.0, rng);
    for (size_t i = 0; i < thin.PixelCount(); ++i) ASSERT_EQ(thin.Data()[i], kOpaqueBlack);
    // No pixels at all: the draws happen, nothing is written.
    FloatImage empty = MakeImage(0, 0);
    Lcg32 none(4);
    RingPattern(empty, true, true, true, 3, 2.0, none);
    EXPECT_EQ(none.state, StateAfter(4, 12));
}

TEST(Patterns, LayoutHoldsWhateverTheDraws) {
    // The stamp passes trust PatternLayout instead of scanning the brush: it must hold for
    // every seed, size, channel choice, count and bias, domes reaching past the edges too.
    const auto holds = [](const FloatImage& b, SourceLayout layout) {
        return (SourceLayoutsOf(b.Data(), b.PixelCount()) & (1u << static_cast<int>(layout))) != 0;
    };
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        for (const int channels : {1, 2, 4, 7, 5}) {
            const bool r = channels & 4, g = channels & 2, b = channels & 1;
            for (const int32_t count : {0, 1, 14}) {
                for (const double bias : {-4.0, -0.5, 2.0, 4.9}) {
                    FloatImage image = MakeImage(38 + static_cast<int32_t>(seed), 21);
                    Lcg32 rng(seed * 7919);
                    if (seed % 2) {
                        DomePattern(image, r, g, b, count, bias, rng);
                    } else {
                        RingPattern(image, r, g, b, count, bias, rng);
                    }
                    ASSERT_TRUE(holds(image, PatternLayout(r, g, b, count)))
                        << seed << " " << channels << " " << count << " " << bias;
                }
            }
        }
    }
    EXPECT_EQ(PatternLayout(false, false, true, 3), SourceLayout::OnlyB);
    EXPECT_EQ(PatternLayout(true, true, true, 0), SourceLayout::Gray);
}

TEST(Patterns, GrayBrushesCarvedAsAnyImage) {
    // A three-channel pattern carves its gray disc in R alone and copies it: the result must
    // be what carving the same disc as an ordinary image gives.
    for (const bool ring : {false, true}) {
        for (const int32_t count : {-1, 3, 14}) {
            FloatImage pattern = MakeImage(97, 40);
            FloatImage general = MakeImage(97, 40);
            Lcg32 a(31 + count), b(31 + count);
            if (ring) {
                RingPattern(pattern, true, true, true, count, 2.5, a);
                RingPattern(general, true, true, true, 0, 2.5, b);
            } else {
                DomePattern(pattern, true, true, true, count, -1.5, a);
                DomePattern(general, true, true, true, 0, -1.5, b);
            }
            CarveRandomDomes(general, true, true, true, count, ring ? 2.5 : -1.5, b);
            ASSERT_TRUE(SamePixels(pattern, general)) << ring << " " << count;
            ASSERT_EQ(a.state, b.state);
        }
    }
}

TEST(Patterns, SharedAmongThreadsTheSameBrushes) {
    // Brushes large enough for the banded paths, drawn serially and with 1, 2 and 3 threads;
    // each context redraws a ring and a dome at three sizes, so the kept disc is used and
    // its storage serves discs of another profile and of other sizes.
    for (const int threads : {1, 2, 3}) {
        RenderContext ctx;
        BrushCache cache;
        ctx.threads = threads;
        ctx.rng = Lcg32(606);
        Lcg32 rng(606);
        for (const int32_t width : {150, 150, 90, 170}) {
            for (const bool ring : {false, true}) {
                FloatImage serial = MakeImage(width, width / 2 - 5);
                FloatImage banded = MakeImage(width, width / 2 - 5);
                if (ring) {
                    RingPattern(serial, true, false, true, 9, 2.5, rng);
                    RingPattern(banded, true, false, true, 9, 2.5, cache, ctx);
                } else {
                    DomePattern(serial, false, true, false, 7, -3.0, rng);
                    DomePattern(banded, false, true, false, 7, -3.0, cache, ctx);
                }
                ASSERT_TRUE(SamePixels(banded, serial)) << threads << " threads";
                ASSERT_EQ(ctx.rng.state, rng.state);
            }
        }
        // One channel's disc made only as a carving plane, then wanted whole (count 0), then
        // as a plane again; biases of every sign.
        for (const double bias : {-4.0, -0.5, 0.0, 4.9}) {
            for (const int32_t count : {5, 0, 5}) {
                FloatImage serial = MakeImage(140, 50);
                FloatImage banded = MakeImage(140, 50);
                if (bias < 0) {
                    DomePattern(serial, false, true, false, count, bias, rng);
                    DomePattern(banded, false, true, false, count, bias, cache, ctx);
                } else {
                    RingPattern(serial, true, false, false, count, bias, rng);
                    RingPattern(banded, true, false, false, count, bias, cache, ctx);
                }
                ASSERT_TRUE(SamePixels(banded, serial)) << threads << " threads, " << bias;
            }
        }
        FloatImage serial = MakeImage(120, 90, {50.0f, 60.0f, 70.0f, 80.0f});
        FloatImage banded = MakeImage(120, 90, {50.0f, 60.0f, 70.0f, 80.0f});
        CarveRandomDomes(serial, true, true, false, 12, 1.5, rng);
        CarveRandomDomes(banded, true, true, false, 12, 1.5, cache, ctx);
        ASSERT_TRUE(SamePixels(banded, serial)) << threads << " threads";
        // A few domes, so that one large dome outweighs the rest and is itself shared
        // out, in a plane and on an image.
        for (const int32_t count : {1, 2}) {
            serial = MakeImage(1100, 300);
            banded = MakeImage(1100, 300);
            RingPattern(serial, false, false, true, count, 1.5, rng);
            RingPattern(banded, false, false, true, count, 1.5, cache, ctx);
            ASSERT_TRUE(SamePixels(banded, serial)) << threads << " threads, " << count;
            CarveRandomDomes(serial, true, false, true, count, -2.0, rng);
            CarveRandomDomes(banded, true, false, true, count, -2.0, cache, ctx);
            ASSERT_TRUE(SamePixels(banded, serial)) << threads << " threads, " << count;
        }
    }
}

TEST(BrushCache, ReleasedOrAbsentTheSameBrushes) {
    // A cache given back between redraws starts afresh, and the patterns drawn with a context
    // but no cache keep nothing: both must draw what the serial patterns draw.
    RenderContext cached, bare;
    cached.threads = bare.threads = 2;
    cached.rng = bare.rng = Lcg32(91);
    Lcg32 rng(91);
    BrushCache cache;
    for (int k = 0; k < 4; ++k) {
        FloatImage images[3] = {MakeImage(130, 60), MakeImage(130, 60), MakeImage(130, 60)};
        if (k % 2 == 0) {
            RingPattern(images[0], false, true, false, 6, 2.0, rng);
            RingPattern(images[1], false, true, false, 6, 2.0, cache, cached);
            RingPattern(images[2], false, true, false, 6, 2.0, bare);
        } else {
            DomePattern(images[0], true, true, true, 5, -1.5, rng);
            DomePattern(images[1], true, true, true, 5, -1.5, cache, cached);
            DomePattern(images[2], true, true, true, 5, -1.5, bare);
        }
        EXPECT_TRUE(SamePixels(images[1], images[0])) << k;
        EXPECT_TRUE(SamePixels(images[2], images[0])) << k;
        if (k == 1) cache.Release();
    }
    EXPECT_EQ(cached.rng.state, rng.state);
    EXPECT_EQ(bare.rng.state, rng.state);
}

TEST(DeferredBrush, WaitingBrushesAreWrittenBeforeThePlaneIsReused) {
    // Patterns into a deferred brush wait in the carving plane; drawing into another image,
    // a nested deferred brush and the end of each must all leave every image as drawn
    // without deferral, and a plane is handed out only for the layout it serves.
    const auto draw = [](RenderContext& ctx, FloatImage& a, FloatImage& b, FloatImage& c,
                         FloatImage& aMidway, bool defer) {
        BrushCache cache;
        std::optional<DeferredBrush> outer;
        if (defer) outer.emplace(a, cache, ctx);
        DomePattern(a, false, true, false, 6, 2.0, cache, ctx);
        if (defer) {
            EXPECT_EQ(outer->TakePlane(SourceLayout::OnlyR), nullptr);  // not its layout
            DomePattern(a, false, true, false, 6, 2.0, cache, ctx);
            EXPECT_NE(outer->TakePlane(SourceLayout::OnlyG), nullptr);
        } else {
            DomePattern(a, false, true, false, 6, 2.0, cache, ctx);
        }
        RingPattern(b, true, false, false, 5, 2.0, cache, ctx);  // carves the plane again
        CopyImage(aMidway, a);
        std::optional<DeferredBrush> inner;
        if (defer) inner.emplace(c, cache, ctx);
        DomePattern(c, true, true, true, 4, -2.0, cache, ctx);
        inner.reset();
        DomePattern(a, false, false, true, 3, 2.0, cache, ctx);
    };
    FloatImage images[2][4];
    for (int k = 0; k < 2; ++k) {
        for (FloatImage& image : images[k]) image = MakeImage(48, 24);
        RenderContext ctx;
        ctx.rng = Lcg32(8);
        draw(ctx, images[k][0], images[k][1], images[k][2], images[k][3], k == 1);
    }
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(SamePixels(images[0][i], images[1][i])) << i;
}

}  // namespace
}  // namespace globeforge
