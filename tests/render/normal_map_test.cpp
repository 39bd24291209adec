#include "render/normal_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "image/color_pack.h"
#include "output/map_test_support.h"
#include "render/ground_maps.h"
#include "render/render_planet.h"

namespace globeforge {
namespace {

using testing::MakeLayer;
using testing::RecordingSink;
using testing::SmallParams;
using testing::UniformLayer;

struct Normal {
    double x, y, z;
};

Normal Decode(const FloatPixel& p) {
    return {p.R / 127.5 - 1.0, p.G / 127.5 - 1.0, p.B / 127.5 - 1.0};
}

// Deterministic bumpy heights, 0..255.
float Bumpy(int x, int y) {
    const uint32_t h = (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u * 97u);
    return float((h >> 7) % 256);
}

FloatImage BuildNormals(RenderParams& params, const FloatImage& ground,
                        const FloatImage* cloud = nullptr, bool mix = false) {
    RenderContext ctx;
    params.NormalMapImage.reset();
    BuildNormalMap(params, ground, cloud, mix, ctx);
    EXPECT_TRUE(params.NormalMapImage.has_value());
    return params.NormalMapImage ? std::move(*params.NormalMapImage) : *NewImage(1, 1);
}

void ExpectSameNormals(const FloatImage& a, const FloatImage& b, double tol) {
    ASSERT_EQ(a.Width, b.Width);
    ASSERT_EQ(a.Height, b.Height);
    for (int32_t y = 0; y < a.Height; ++y) {
        for (int32_t x = 0; x < a.Width; ++x) {
            testing::ExpectColor(a.At(x, y), b.At(x, y), tol);
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "at " << x << ", " << y;
                return;
            }
        }
    }
}

}  // namespace

TEST(NormalMap, FlatReliefFacesStraightOutAtEverySize) {
    // A uniform layer, land entirely below sea level, and an oversampled uniform layer are
    // all flat bump maps.
    const auto expectFlat = [](int32_t coastLevel, int32_t overSampling, const FloatImage& ground) {
        RenderParams params = SmallParams(24, 12);
        params.CoastLevel = coastLevel;
        params.OverSampling = overSampling;
        const FloatImage n = BuildNormals(params, ground);
        ASSERT_EQ(n.Width, 24);
        ASSERT_EQ(n.Height, 12);
        for (size_t i = 0; i < n.PixelCount(); ++i) {
            ASSERT_EQ(PixelToBgr(n.Data()[i]), (BgrPixel{255, 128, 128})) << i;
            ASSERT_EQ(n.Data()[i].A, 255.0f);
        }
    };
    expectFlat(0, 1, UniformLayer(24, 12, 100.0f));
    expectFlat(60, 1, MakeLayer(24, 12, [](int x, int y) { return Bumpy(x, y) * 0.5f; }));
    expectFlat(0, 3, UniformLayer(72, 36, 3.0f));
}

TEST(NormalMap, LongitudeWrapsSoTheSeamJoins) {
    // Turning the planet by three columns turns its normal map by three columns, exactly:
    // columns 0 and W - 1 are neighbours like any other two.
    RenderParams params = SmallParams(20, 10);
    params.NormalStrength = 60;
    const FloatImage ground = MakeLayer(20, 10, Bumpy);
    const FloatImage turned =
        MakeLayer(20, 10, [](int x, int y) { return Bumpy((x + 17) % 20, y); });
    const FloatImage a = BuildNormals(params, ground);
    const FloatImage b = BuildNormals(params, turned);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            ASSERT_EQ(b.At(x, y), a.At((x + 17) % 20, y)) << x << ", " << y;
        }
    }
}

TEST(NormalMap, PolesAreNotCrossedAndGreenPointsNorth) {
    // Heights rising steadily southward: every row, the polar ones included, has the same
    // slope. Reaching across a pole would see the far end of the ramp instead.
    RenderParams params = SmallParams(8, 12);
    params.NormalStrength = 100;
    const FloatImage ramp = MakeLayer(8, 12, [](int, int y) { return 10.0f + 5.0f * y; });
    const FloatImage n = BuildNormals(params, ramp);
    const Normal middle = Decode(n.At(0, 6));
    EXPECT_NEAR(middle.x, 0.0, 1e-6);
    EXPECT_GT(middle.y, 0.01);  // ground rising southward faces north: green above 128
    for (int32_t y = 0; y < 12; ++y) {
        for (int32_t x = 0; x < 8; ++x) testing::ExpectColor(n.At(x, y), n.At(0, 6), 1e-3);
    }

    // A one-row layer has no north-south slope at all.
    RenderParams line = SmallParams(8, 1);
    const Normal flat = Decode(BuildNormals(line, UniformLayer(8, 1, 50.0f)).At(3, 0));
    EXPECT_NEAR(flat.y, 0.0, 1e-9);
}

TEST(NormalMap, EastSlopesAreMeasuredOverTheShorterRowsTowardThePoles) {
    // The same east-west profile on every row: a pixel at latitude L spans cos(L) of the
    // equator's width, so the same height step is steeper there.
    RenderParams params = SmallParams(32, 16);
    params.NormalStrength = 100;
    const FloatImage waves = MakeLayer(32, 16, [](int x, int) {
        return float(128.0 + 100.0 * std::sin(2.0 * std::numbers::pi * x / 32.0));
    });
    const FloatImage n = BuildNormals(params, waves);
    const auto latitude = [](int y) { return std::numbers::pi * (0.5 - (y + 0.5) / 16.0); };
    const Normal equator = Decode(n.At(0, 7));
    const Normal polar = Decode(n.At(0, 1));
    EXPECT_LT(equator.x, -0.02);  // rising eastward: the normal leans west
    EXPECT_NEAR((polar.x / polar.z) / (equator.x / equator.z),
                std::cos(latitude(7)) / std::cos(latitude(1)), 1e-3);
    // Northern and southern rows mirror each other.
    testing::ExpectColor(n.At(5, 2), n.At(5, 13), 1e-4);
}

TEST(NormalMap, StrengthScalesTheSlopesAndTheOutputSizeDoesNot) {
    const auto tilt = [](int32_t w, int32_t h, int32_t strength) {
        RenderParams params = SmallParams(w, h);
        params.NormalStrength = strength;
        const FloatImage waves = MakeLayer(w, h, [w](int x, int) {
            return float(128.0 + 100.0 * std::sin(2.0 * std::numbers::pi * x / w));
        });
        const Normal n = Decode(BuildNormals(params, waves).At(0, h / 2));
        return -n.x / n.z;
    };
    EXPECT_NEAR(tilt(32, 16, 100) / tilt(32, 16, 20), 5.0, 1e-3);
    EXPECT_NEAR(tilt(32, 16, 1) / tilt(32, 16, 20), 0.05, 1e-4);
    // The same planet at twice the size: slopes agree up to the finer difference step.
    EXPECT_NEAR(tilt(64, 32, 20) / tilt(32, 16, 20), 1.0, 0.01);

    // Oversampled layers are reduced, and the normals keep unit length.
    RenderParams params = SmallParams(10, 6);
    params.OverSampling = 2;
    params.NormalStrength = 100;
    const FloatImage n = BuildNormals(params, MakeLayer(20, 12, Bumpy));
    ASSERT_EQ(n.Width, 10);
    for (size_t i = 0; i < n.PixelCount(); ++i) {
        const Normal v = Decode(n.Data()[i]);
        ASSERT_NEAR(v.x * v.x + v.y * v.y + v.z * v.z, 1.0, 1e-5) << i;
        ASSERT_GT(v.z, 0.0);
    }
}

TEST(NormalMap, FollowsTheBumpMapsSeaFloorCloudsAndNormalisation) {
    RenderParams params = SmallParams(16, 8);
    params.CoastLevel = 40;
    const FloatImage ground = MakeLayer(16, 8, Bumpy);
    const FloatImage cloud =
        MakeLayer(16, 8, [](int x, int y) { return x > 4 && x < 9 && y > 2 ? 80.0f : 0.5f; });
    RenderContext ctx;
    BuildGroundBumpMap(params, ground, &cloud, true, ctx);
    ASSERT_TRUE(params.BumpMapImage);
    // The bump map taken as a plain layer (no sea, already normalised) gives the same normals.
    RenderParams plain = SmallParams(16, 8);
    ExpectSameNormals(BuildNormals(params, ground, &cloud, true),
                      BuildNormals(plain, *params.BumpMapImage), 2e-3);

    // Clouds shape the relief only when they are mixed into the ground maps.
    const FloatImage level = UniformLayer(16, 8, 200.0f);
    EXPECT_EQ(PixelToBgr(BuildNormals(params, level, &cloud, false).At(4, 4)),
              (BgrPixel{255, 128, 128}));
    EXPECT_NE(PixelToBgr(BuildNormals(params, level, &cloud, true).At(4, 4)),
              (BgrPixel{255, 128, 128}));
}

TEST(NormalMap, AbortLeavesNoMapAndTheDriverBuildsItAfterTheBumpMap) {
    RenderParams params = SmallParams(16, 8);
    RenderContext ctx;
    RecordingSink sink(ctx, 1);
    BuildNormalMap(params, MakeLayer(16, 8, Bumpy), nullptr, false, ctx);
    EXPECT_FALSE(params.NormalMapImage);
    EXPECT_TRUE(sink.messages.empty());

    RenderContext render;
    RecordingSink seen(render);
    RenderParams planet = SmallParams(16, 8);
    planet.GroundAutoCreate = true;
    planet.OutputBumpMap = "b.png";
    planet.OutputSpeculerMap = "s.png";
    planet.OutputNormalMap = "n.png";
    ASSERT_TRUE(RenderPlanet(planet, render));
    ASSERT_TRUE(planet.NormalMapImage);
    const auto at = [&seen](const char* message) {
        return std::find(seen.messages.begin(), seen.messages.end(), message) -
               seen.messages.begin();
    };
    EXPECT_LT(at("地表・バンプテクスチャ作成完了"), at("地表・法線テクスチャ作成完了"));
    EXPECT_LT(at("地表・法線テクスチャ作成完了"), at("地表・スペキュラーテクスチャ作成完了"));
    EXPECT_LT(at("地表・スペキュラーテクスチャ作成完了"), static_cast<long>(seen.messages.size()));
    FreeRenderMaps(planet);
    EXPECT_FALSE(planet.NormalMapImage);
}

}  // namespace globeforge
