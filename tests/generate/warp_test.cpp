#include "generate/warp.h"

#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "generate/warp_turn.h"
#include "generator_fixtures.h"

namespace globeforge {
namespace {

using warp_turn::TurnAngle;

double X(const Vector2& v) {
    return static_cast<double>(v.x);
}
double Y(const Vector2& v) {
    return static_cast<double>(v.y);
}

TEST(WarpOffset, WorkedValuesAndWrapping) {
    EXPECT_NEAR(X(RotateVector(3, 4, 90)), -4.0, 1e-15);
    EXPECT_NEAR(Y(RotateVector(3, 4, 90)), 3.0, 1e-15);

    // q = 0 on the equator row: factor 1, exponent 2, a double turn, vector (-0.5, -0.5);
    // the draw is made although q.B = 0 cancels it.
    Lcg32 rng(5);
    const Vector2 a = WarpOffset({0, 0, 0, 255}, 512, 512, 1, 1, 10, 256, rng);
    EXPECT_NEAR(X(a), 9.5, 1e-12);
    EXPECT_NEAR(Y(a), 255.5, 1e-12);
    EXPECT_EQ(rng.state, StateAfter(5, 1));
    EXPECT_NEAR(X(WarpOffset({0, 0, 0, 255}, 512, 512, 1, 1, 0, 256, rng)), 511.5, 1e-12);

    // G = B = 256 is neutral whatever R and the draw.
    for (const float r : {0.0f, 77.0f, 300.0f}) {
        const Vector2 n = WarpOffset({r, 256, 256, 255}, 64, 32, 100, 100, 17, 3, rng);
        EXPECT_EQ(n.x, 17);
        EXPECT_EQ(n.y, 3);
    }
    // R = 512 turns by exactly 720 degrees; on row 0 the horizontal part is 20 times longer.
    EXPECT_NEAR(X(WarpOffset({512, 0, 256, 255}, 512, 512, 4, 1, 100, 0, rng)), 60.0, 1e-9);
    // -7.8125 on a 16 wide row, and almost two widths on a 4 wide row, land alike.
    EXPECT_NEAR(X(WarpOffset({512, 0, 256, 255}, 16, 16, 500, 1, 3, 8, rng)), 11.1875, 1e-9);
    EXPECT_NEAR(X(WarpOffset({512, 0, 256, 255}, 4, 16, 2000, 1, 3, 8, rng)), 3.1875, 1e-9);
}

TEST(WarpImage, CopiesAtZeroStrengthDrawsOncePerPixelAndStopsOnAbort) {
    FloatImage src = MakeImage(7, 5);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 7; ++x) src.At(x, y) = {float(x * 10 + y), float(y), 1, 255};
    }
    const FloatImage map = MakeImage(7, 5, {90.0f, 13.0f, 200.0f, 255.0f});
    FloatImage dst = MakeImage(7, 5, kTransparentBlack);
    RenderContext ctx;
    ctx.rng = Lcg32(2024);
    WarpImage(src, map, dst, 0.0, 0.0, ctx);
    EXPECT_TRUE(SamePixels(dst, src));
    EXPECT_EQ(ctx.rng.state, StateAfter(2024, 35));
    EXPECT_EQ(ctx.ProgressPercent, 80);  // Round(4 / 5 * 100), the last row
    WarpImage(src, map, dst, 3.0, 2.0, ctx);
    EXPECT_EQ(ctx.rng.state, StateAfter(2024, 70));

    // An abort after the third row leaves the later rows as they were.
    FloatImage out = MakeImage(7, 5, kTransparentBlack);
    ctx.rng = Lcg32(1);
    RecordingSink sink(ctx, 3);
    WarpImage(src, map, out, 0.0, 0.0, ctx);
    EXPECT_EQ(sink.percents, (std::vector<int32_t>{0, 20, 40}));
    EXPECT_EQ(out.At(6, 2), src.At(6, 2));
    EXPECT_EQ(out.At(0, 3), kTransparentBlack);
    EXPECT_EQ(ctx.rng.state, StateAfter(1, 21));

    FloatImage empty = MakeImage(0, 0);  // a no-op, not a crash
    WarpImage(empty, empty, empty, 1.0, 1.0, ctx);
}

// The warp takes most samples from double-precision estimates; every one must be the float
// the extended steps give. Sharp, tiny, signed-zero and transparent texels, maps reaching
// past 512 and below 0, and strengths that wrap positions several times.
TEST(WarpImage, SameSamplesAsTheExtendedSteps) {
    std::mt19937 gen(17);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float specials[] = {0.0f, -0.0f, 1e-30f, 1e-7f, 255.0f, 256.0f, 3e5f, -2.5f};
    int64_t exactPixels = 0, pixels = 0;
    for (const auto& [w, h, sx, sy] : std::vector<std::tuple<int32_t, int32_t, double, double>>{
             {96, 48, 20, 5}, {61, 37, 100, 50}, {40, 20, 3000, 0.5}, {1, 1, 7, 7}}) {
        FloatImage src = MakeImage(w, h);
        FloatImage map = MakeImage(w, h);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const float v = (x + y) % 7 == 0 ? specials[(x * 3 + y) % 8] : 256 * unit(gen);
                const bool gray = y % 4 != 1 && x % 6 != 2;
                src.At(x, y) = {v, gray ? v : unit(gen), gray ? v : -0.0f,
                                (x + 2 * y) % 9 == 0 ? 0.0f : 255.0f};
                const float r = (x % 11 == 0) ? 512.0f : -100 + 800 * unit(gen);
                map.At(x, y) = {y % 3 == 0 ? std::round(r) : r, 300 * unit(gen), 300 * unit(gen),
                                255};
            }
        }
        RenderContext ctx;
        ctx.rng = Lcg32(w * 1000 + h);
        Lcg32 rng = ctx.rng;
        FloatImage out = MakeImage(w, h);
        exactPixels += WarpImage(src, map, out, sx, sy, ctx);
        pixels += int64_t{w} * h;
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const Vector2 n = WarpOffset(map.At(x, y), w, h, sx, sy, x, y, rng);
                const FloatPixel e = SampleBilinear(src, X(n), Y(n));
                ASSERT_EQ(std::memcmp(&e, &out.At(x, y), sizeof e), 0)
                    << w << "x" << h << " at " << x << "," << y;
            }
        }
    }
    // Turns at R = 512 and beyond are never estimated; noise and specials leave the
    // estimates about a third of these samples.
    EXPECT_GT(exactPixels, 0);
    EXPECT_LT(exactPixels * 10, pixels * 8);
}

// The estimated turns hold the exact one within their bounds, one at a time and in the widest
// lanes: warp-map R from far below 0 to a float below 512, exponents up to where the powers
// leave the estimates' range, and the sines and cosines of the turns.
TEST(WarpTurn, EstimatesHoldTheExactTurn) {
    std::mt19937 gen(31);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> ms, ps;
    const float rs[] = {std::nextafter(512.0f, 0.0f),
                        511.5f,
                        500.0f,
                        256.0f,
                        1.0f,
                        0.0f,
                        -3.5f,
                        -1e4f,
                        -1048000.0f,
                        -2e6f,
                        512.0f,
                        900.0f};
    const double exponents[] = {0.0, 1e-9, 0.5, 1.0, 2.0, 6.9, 20.0, 36.0, 80.0, 81.0};
    for (const float r : rs) {
        for (const double p : exponents) {
            ms.push_back(512.0 - static_cast<double>(r));
            ps.push_back(p);
        }
    }
    for (int i = 0; i < 3000; ++i) {
        ms.push_back(512.0 - static_cast<double>(static_cast<float>(-600 + 1112 * unit(gen))));
        ps.push_back(12 * unit(gen));
    }
    for (const bool widest : {false, true}) {
        const auto count = static_cast<int32_t>(ms.size());
        std::vector<warp_turn::TurnEstimate> turns(ms.size());
        std::vector<double> sines(ms.size()), cosines(ms.size());
        warp_turn::EstimateTurns(ms.data(), ps.data(), turns.data(), sines.data(), cosines.data(),
                                 count, widest);
        int valid = 0, inexact = 0;
        for (size_t i = 0; i < ms.size(); ++i) {
            if (!turns[i].valid) continue;
            ++valid;
            const double qR = 512.0 - ms[i];
            const Extended exact = DegToRad(TurnAngle(qR, ps[i]));
            const double off = std::fabs(static_cast<double>(turns[i].a - exact));
            inexact += off > 0;
            ASSERT_LE(off, turns[i].error) << qR << " " << ps[i] << " " << widest;
            const double trig = turns[i].error + 0x1p-50;
            ASSERT_LE(std::fabs(static_cast<double>(sines[i] - std::sin(exact))), trig) << qR;
            ASSERT_LE(std::fabs(static_cast<double>(cosines[i] - std::cos(exact))), trig) << qR;
        }
        EXPECT_GT(valid, 2900);
        EXPECT_GT(inexact, 100);  // the bounds are needed
    }
}

// On smooth layers, as the generators make them, the estimates decide nearly every sample.
TEST(WarpImage, SmoothLayersAreSampledFromTheEstimates) {
    const int32_t w = 128, h = 64;
    FloatImage src = MakeImage(w, h);
    FloatImage map = MakeImage(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const double u = 6.283185307179586 * x / w, v = 3.141592653589793 * y / h;
            const auto wave = [&](double a, double b) {
                return static_cast<float>(128 + 100 * std::sin(a * u) * std::cos(b * v));
            };
            const float s = wave(3, 5);
            src.At(x, y) = {s, s, s, 255};
            map.At(x, y) = {wave(2, 7), wave(5, 3), wave(4, 4), 255};
        }
    }
    RenderContext ctx;
    ctx.rng = Lcg32(5);
    Lcg32 rng = ctx.rng;
    FloatImage out = MakeImage(w, h);
    EXPECT_LT(WarpImage(src, map, out, 20, 5, ctx) * 100, int64_t{w} * h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const Vector2 n = WarpOffset(map.At(x, y), w, h, 20, 5, x, y, rng);
            const FloatPixel e = SampleBilinear(src, X(n), Y(n));
            ASSERT_EQ(std::memcmp(&e, &out.At(x, y), sizeof e), 0) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace globeforge
