#include "globe/globe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "globe/globe_output.h"
#include "render/render_planet.h"
#include "sampling/map_sampler.h"
#include "sampling/packed_sampler.h"

namespace globeforge {
namespace {

constexpr double kPi = std::numbers::pi;

double Linear(uint8_t byte) {
    const double c = byte / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

FloatImage MapOf(int32_t w, int32_t h, const std::function<float(double lon, double lat)>& fn) {
    FloatImage map = *NewImage(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const double lon = (x + 0.5) / w * 2 * kPi;
            const double lat = (0.5 - (y + 0.5) / h) * kPi;
            const float v = fn(lon, lat);
            map.At(x, y) = {v, v, v, 255.0f};
        }
    }
    return map;
}

const uint8_t* PixelAt(const GlobeImage& image, int32_t x, int32_t y) {
    return image.rgba.data() + (static_cast<size_t>(y) * image.width + x) * 4;
}

GlobeOptions Plain(int32_t side) {
    GlobeOptions o;
    o.width = o.height = side;
    o.atmosphere = 0;
    return o;
}

TEST(MapSampler, FineDetailAveragesAwayAndLevelZeroIsExact) {
    // A one-pixel checkerboard: read at texel centres it is exact, seen from far it is grey
    // everywhere, including across longitude 0/360 and near the poles.
    const FloatImage board = MapOf(256, 128, [](double lon, double lat) {
        const int x = static_cast<int>(lon / (2 * kPi) * 256);
        const int y = static_cast<int>((0.5 - lat / kPi) * 128);
        return (x + y) % 2 ? 255.0f : 0.0f;
    });
    RenderContext ctx;
    std::optional<MapSampler> sampler = MapSampler::Build(board, ctx);
    ASSERT_TRUE(sampler);
    EXPECT_EQ(sampler->LevelCount(), 9);
    EXPECT_EQ(sampler->SampleUV((3 + 0.5) / 256, (5 + 0.5) / 128, 0).R, board.At(3, 5).R);
    for (double lat : {0.0, 0.7, -1.2, 1.5}) {
        for (double lon : {0.0, 1e-9, 2.0, -0.001, 2 * kPi - 1e-6}) {
            EXPECT_NEAR(sampler->Sample(lon, lat, 0.2).R, 127.5, 4.0) << lon << " " << lat;
        }
    }
}

TEST(PackedSampler, MatchesTheFloatSamplerEverywhere) {
    // The globe's 16-bit packed texels against the float pyramid they are made from: detail
    // in every channel, read at texel scale, between levels, near the poles (taps along the
    // row), across longitude 0/360 and from far away.
    FloatImage map = *NewImage(300, 150);
    for (int32_t y = 0; y < map.Height; ++y) {
        for (int32_t x = 0; x < map.Width; ++x) {
            const float a = static_cast<float>(0.5 + 0.5 * std::sin(x * 0.37 + y * 0.11));
            map.At(x, y) = {a, static_cast<float>((x * 7 + y * 13) % 17) / 16.0f,
                            (x + y) % 2 ? 1.0f : 0.0f, static_cast<float>(y) / map.Height};
        }
    }
    RenderContext ctx;
    std::optional<MapSampler> reference = MapSampler::Build(map, ctx);
    ASSERT_TRUE(reference);
    std::optional<PackedSampler<SurfaceTexel>> packed = PackedSampler<SurfaceTexel>::FromPyramid(
        *reference, ctx, [&](int level, int32_t x, int32_t y) {
            const FloatPixel& p = reference->Level(level).At(x, y);
            return SurfaceTexel{{ToFixed16(p.R), ToFixed16(p.G), ToFixed16(p.B), ToFixed16(p.A)},
                                {p.R * 40.0f - 20.0f, p.B * 3.0f}};
        });
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->LevelCount(), reference->LevelCount());
    for (double lat : {0.0, 0.6, -1.1, 1.45, -1.5707}) {
        for (double lon : {0.0, 1e-9, 1.3, -0.002, 2 * kPi - 1e-7, 7.5}) {
            for (double footprint : {0.0, 0.004, 0.021, 0.03, 0.09, 0.5, 3.0}) {
                const double u = lon / (2 * kPi);
                const double v = 0.5 - lat / kPi;
                const double cosLat = std::cos(lat);
                const FloatPixel want = reference->SampleUV(u, v, footprint, cosLat);
                const SurfaceSample got =
                    packed->SampleUV(u, v, footprint, 1.0 / std::max(cosLat, 1e-6));
                const float wanted[] = {want.R, want.G, want.B, want.A};
                for (int c = 0; c < 4; ++c) {
                    EXPECT_NEAR(got.color[c], wanted[c], 2e-3)
                        << c << " " << lon << " " << lat << " " << footprint;
                }
                EXPECT_NEAR(got.slope[0], want.R * 40.0f - 20.0f, 0.05) << lon << " " << lat;
                EXPECT_NEAR(got.slope[1], want.B * 3.0f, 0.01) << lon << " " << lat;
            }
        }
    }
}

TEST(Globe, LitWhiteDiscFallsWithTheCosineAndIsBlackOutside) {
    const FloatImage white = MapOf(64, 32, [](double, double) { return 255.0f; });
    GlobeMaps maps;
    maps.color = &white;
    GlobeCamera camera;
    camera.zoom = 0.8;
    const GlobeSun sun{0, 0};
    RenderContext ctx;
    for (bool transparent : {false, true}) {
        GlobeOptions options = Plain(101);
        options.transparentBackground = transparent;
        std::optional<GlobeImage> image = RenderGlobe(maps, camera, sun, options, ctx);
        ASSERT_TRUE(image);
        const double radius = 0.8 * 101 / 2;
        for (int32_t y = 0; y < 101; ++y) {
            for (int32_t x = 0; x < 101; ++x) {
                const double r = std::hypot(x + 0.5 - 50.5, y + 0.5 - 50.5) / radius;
                const uint8_t* p = PixelAt(*image, x, y);
                if (r > 1.0 + 1.5 / radius) {
                    EXPECT_EQ(p[3], transparent ? 0 : 255);
                    if (!transparent) {
                        EXPECT_EQ(p[0] + p[1] + p[2], 0) << x << "," << y;
                    }
                } else if (r < 0.95) {
                    EXPECT_NEAR(Linear(p[0]), std::sqrt(1 - r * r), 0.01) << x << "," << y;
                    EXPECT_EQ(p[0], p[2]);
                    EXPECT_EQ(p[3], 255);
                }
            }
        }
    }
}

TEST(Globe, MarkerLandsWhereTheViewSays) {
    // A white square at longitude 0, latitude 0 on black; the sun shines on where the
    // marker should appear.
    const FloatImage map = MapOf(360, 180, [](double lon, double lat) {
        const double d = std::min(lon, 2 * kPi - lon);
        return d < 0.3 && std::abs(lat) < 0.3 ? 255.0f : 0.0f;
    });
    GlobeMaps maps;
    maps.color = &map;
    RenderContext ctx;
    const GlobeOptions options = Plain(200);
    const double radius = 0.9 * 100;
    struct Case {
        double viewLon, sunAz, expectX;
    } cases[] = {{0, 0, 100}, {45, -45, 100 - radius * std::sin(kPi / 4)}, {90, -90, 100 - radius}};
    for (const Case& c : cases) {
        GlobeCamera camera;
        camera.longitude = c.viewLon;
        std::optional<GlobeImage> image = RenderGlobe(maps, camera, {c.sunAz, 0}, options, ctx);
        ASSERT_TRUE(image);
        double sx = 0, sy = 0, n = 0;
        for (int32_t y = 0; y < 200; ++y) {
            for (int32_t x = 0; x < 200; ++x) {
                if (PixelAt(*image, x, y)[0] > 100) sx += x + 0.5, sy += y + 0.5, n += 1;
            }
        }
        ASSERT_GT(n, 0) << c.viewLon;
        EXPECT_NEAR(sx / n, c.expectX, 4.0) << c.viewLon;
        EXPECT_NEAR(sy / n, 100, 2.0) << c.viewLon;
    }
}

TEST(Globe, NoSeamWhereLongitudeZeroCrossesTheView) {
    // The same surface twice: once stored with longitude 0 at the view's centre, once turned
    // half a turn in the map and seen from the other side, so its edge lies behind the
    // planet. A large map seen small reads the coarse levels, where a wrong wrap shows most.
    const auto color = [](double lon, double lat) {
        return static_cast<float>(128 + 60 * std::cos(lon) * std::cos(lat) +
                                  60 * std::sin(37 * lon));
    };
    const auto height = [](double lon, double) {
        return static_cast<float>(128 + 100 * std::sin(3 * lon));
    };
    const FloatImage colorA = MapOf(1024, 512, color);
    const FloatImage bumpA = MapOf(1024, 512, height);
    const FloatImage colorB =
        MapOf(1024, 512, [&](double lon, double lat) { return color(lon + kPi, lat); });
    const FloatImage bumpB =
        MapOf(1024, 512, [&](double lon, double lat) { return height(lon + kPi, lat); });
    RenderContext ctx;
    GlobeOptions options = Plain(64);
    options.relief = 3;
    for (double lat : {0.0, 30.0}) {
        GlobeCamera camera;
        camera.latitude = lat;
        std::optional<GlobeImage> a =
            RenderGlobe(GlobeMaps{&colorA, &bumpA}, camera, {20, 10}, options, ctx);
        camera.longitude = 180;
        std::optional<GlobeImage> b =
            RenderGlobe(GlobeMaps{&colorB, &bumpB}, camera, {20, 10}, options, ctx);
        ASSERT_TRUE(a && b);
        for (size_t i = 0; i < a->rgba.size(); ++i) {
            ASSERT_LE(std::abs(a->rgba[i] - b->rgba[i]), 1)
                << "pixel " << i / 4 << " at latitude " << lat;
        }
    }
}

TEST(Globe, SameBytesForAnyThreadCountFromARender) {
    // A small planet rendered with clouds kept apart and no map named: the driver builds
    // what the globe needs in memory and the globe draws every layer.
    RenderParams params;
    params.OutputResolutionX = 96;
    params.OutputResolutionY = 48;
    params.GroundAutoCreate = true;
    params.CloudAutoCreate = true;
    params.CoastLevel = 45;
    params.OutputCloudBumpMap = "unsaved.png";
    params.BuildGlobeMaps = true;
    RenderContext render;
    ASSERT_TRUE(RenderPlanet(params, render));
    EXPECT_TRUE(params.ColorMapImage && params.BumpMapImage && params.SpecularMapImage);
    EXPECT_TRUE(params.CloudColorMapImage && params.CloudTransparencyMapImage);
    EXPECT_FALSE(params.NormalMapImage);

    GlobeCamera camera;
    camera.longitude = 200;
    camera.latitude = 25;
    camera.distance = 4;
    GlobeOptions options;
    options.width = 90;
    options.height = 70;
    std::vector<uint8_t> first;
    for (int threads : {1, 2, 3}) {
        RenderContext ctx;
        ctx.threads = threads;
        std::optional<GlobeScene> scene = GlobeScene::Prepare(GlobeMapsOf(params), ctx);
        ASSERT_TRUE(scene);
        EXPECT_TRUE(scene->HasClouds() && scene->HasRelief() && scene->HasSpecular());
        std::optional<GlobeImage> image = RenderGlobe(*scene, camera, {60, 30}, options, ctx);
        ASSERT_TRUE(image);
        if (first.empty()) {
            first = image->rgba;
        } else {
            EXPECT_EQ(image->rgba, first) << threads << " threads";
        }
    }
    // Hiding the clouds changes the picture.
    RenderContext ctx;
    options.clouds = false;
    EXPECT_NE(RenderGlobe(GlobeMapsOf(params), camera, {60, 30}, options, ctx)->rgba, first);
}

TEST(Globe, RefusesImpossibleRequests) {
    const FloatImage white = MapOf(8, 4, [](double, double) { return 255.0f; });
    RenderContext ctx;
    std::string error;
    GlobeOptions options = Plain(0);
    EXPECT_FALSE(RenderGlobe(GlobeMaps{&white}, {}, {}, options, ctx, &error));
    EXPECT_NE(error.find("width"), std::string::npos) << error;
    GlobeCamera camera;
    camera.latitude = 91;
    EXPECT_FALSE(RenderGlobe(GlobeMaps{&white}, camera, {}, Plain(8), ctx, &error));
    EXPECT_NE(error.find("latitude"), std::string::npos) << error;
    EXPECT_FALSE(RenderGlobe(GlobeMaps{}, {}, {}, Plain(8), ctx, &error));
    EXPECT_NE(error.find("colour map"), std::string::npos) << error;
}

}  // namespace
}  // namespace globeforge
