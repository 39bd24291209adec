// Whole renders of small planets, pinned bit for bit: the six maps and every image and
// message shown along the way. The hashes were taken from the straightforward one-thread
// renderer; any change of a single float anywhere in the pipeline, or of the order of the
// progress reports, shows here. Every planet is rendered with several thread counts.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "generate/generator_fixtures.h"
#include "render/render_planet.h"

namespace globeforge {
namespace {

// FNV-1a over every message and every image shown, in order, with the image sizes.
class DigestSink : public ProgressSink {
  public:
    void DrawProgressImage(const FloatImage& image) override {
        Mix(static_cast<uint64_t>(image.Width) << 32 | static_cast<uint32_t>(image.Height));
        Mix(Fingerprint(image));
        ++images;
    }
    void SetMessage(std::string_view message) override {
        for (const char c : message) Mix(static_cast<unsigned char>(c));
        ++messages;
    }
    void ProcessPendingEvents() override { ++events; }

    uint64_t digest = 1469598103934665603ull;
    int images = 0;
    int messages = 0;
    int64_t events = 0;

  private:
    void Mix(uint64_t v) {
        for (int i = 0; i < 8; ++i) digest = (digest ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
    }
};

// Close to examples/default.ORB: craters, clouds and all six maps.
RenderParams DefaultPlanet(int32_t w, int32_t h, int32_t overSampling) {
    RenderParams p;
    p.RandomSeed = 65536;
    p.OutputResolutionX = w;
    p.OutputResolutionY = h;
    p.OverSampling = overSampling;
    p.GroundAutoCreate = true;
    p.GroundColorHigh = MakeColor(120, 90, 48);
    p.GroundColorLow = MakeColor(200, 180, 112);
    p.GroundXWarp = 20;
    p.GroundYWarp = 10;
    p.SeaColorShallow = MakeColor(40, 120, 160);
    p.SeaColorDeep = MakeColor(10, 30, 80);
    p.CoastLevel = 45;
    p.IceQuantity = 15;
    p.NumberOfCraters = 20;
    p.CraterHeight = 40;
    p.CloudAutoCreate = true;
    p.CloudQuantity = 5;
    p.CloudXWarp = 30;
    p.CloudYWarp = 10;
    p.OutputColorMap = "ground_color.png";
    p.OutputBumpMap = "ground_bump.png";
    p.OutputSpeculerMap = "sea_specular.png";
    p.OutputCloudColorMap = "cloud_color.png";
    p.OutputCloudBumpMap = "cloud_bump.png";
    p.OutputCloudTransparencyMap = "cloud_transparency.png";
    return p;
}

// Clouds baked into the ground maps (Add), wide craters, strong warps, heavy ice.
RenderParams MixedPlanet() {
    RenderParams p = DefaultPlanet(64, 40, 1);
    p.RandomSeed = -123457;
    p.GroundXWarp = 70;
    p.GroundYWarp = 45;
    p.CoastLevel = 30;
    p.IceQuantity = 60;
    p.NumberOfCraters = 7;
    p.CraterBasicRadius = 60;
    p.CraterWarp = 90;
    p.CraterNoise = 30;
    p.CloudQuantity = 3;
    p.CloudXWarp = 80;
    p.CloudYWarp = 60;
    p.CloudMixtureMode = kMixAdd;
    p.CloudTransparency = 35;
    p.OutputCloudColorMap.clear();
    p.OutputCloudBumpMap.clear();
    p.OutputCloudTransparencyMap.clear();
    return p;
}

// Alpha-compositing cloud maps at oversampling 3 on an odd size, no craters.
RenderParams AlphaPlanet() {
    RenderParams p = DefaultPlanet(37, 23, 3);
    p.RandomSeed = 7;
    p.NumberOfCraters = 0;
    p.GroundContr = 60;
    p.CloudMixtureMode = kMixSub;
    p.CloudTransparency = 20;
    p.OutputTransparencyMode = true;
    return p;
}

// No ice, a low coast and clouds baked into the ground maps with the Norm blend.
RenderParams NormMixedPlanet() {
    RenderParams p = DefaultPlanet(40, 24, 2);
    p.RandomSeed = 99991;
    p.CoastLevel = 10;
    p.IceQuantity = 0;
    p.NumberOfCraters = 3;
    p.CloudMixtureMode = kMixNorm;
    p.CloudTransparency = 0;
    p.OutputCloudColorMap.clear();
    p.OutputCloudBumpMap.clear();
    p.OutputCloudTransparencyMap.clear();
    return p;
}

// The normal map beside the six, clouds baked into the ground maps (and the normals).
RenderParams NormalPlanet() {
    RenderParams p = NormMixedPlanet();
    p.RandomSeed = 31337;
    p.OutputResolutionX = 48;
    p.OutputResolutionY = 32;
    p.OutputNormalMap = "normals.png";
    p.NormalStrength = 35;
    return p;
}

struct Pinned {
    const char* name;
    RenderParams (*make)();
    uint64_t progress;  // the digest of every message and image shown
    int64_t events;     // the times pending events were let run
    std::array<uint64_t, 7>
        maps;  // colour, specular, bump, cloud colour, bump, transparency, normal
};

struct Outcome {
    uint64_t progress;
    int64_t events;
    std::array<uint64_t, 7> maps;
};

Outcome Render(RenderParams params, int threads) {
    RenderContext ctx;
    ctx.threads = threads;
    DigestSink sink;
    ctx.SetProgressTargets(&sink);
    EXPECT_TRUE(RenderPlanet(params, ctx)) << ctx.failure;
    const auto hash = [](const std::optional<FloatImage>& image) {
        return image ? Fingerprint(*image) : 0;
    };
    return {sink.digest,
            sink.events,
            {hash(params.ColorMapImage), hash(params.SpecularMapImage), hash(params.BumpMapImage),
             hash(params.CloudColorMapImage), hash(params.CloudBumpMapImage),
             hash(params.CloudTransparencyMapImage), hash(params.NormalMapImage)}};
}

const Pinned kPlanets[] = {
    {"default 96x48",
     [] { return DefaultPlanet(96, 48, 1); },
     0xa5685b7e953fc44ull,
     10820,
     {0x5b56d3a4e2a09384ull, 0x349c51ca7018bd7full, 0x97ce450ca4c4eea3ull, 0xebabbe36d88eb9fdull,
      0xeb09fee57281d09bull, 0x971e7e48b02c66d0ull}},
    {"default 96x48 oversampling 2",
     [] { return DefaultPlanet(96, 48, 2); },
     0xcc7f71e146c078cdull,
     12624,
     {0x847708b3b121070bull, 0xed9a71e27f30ad88ull, 0xee563acf24969dfull, 0x760b4e7b9b2f5caeull,
      0xf99ea56598c3288full, 0x98248dc2e64d3d38ull}},
    {"mixed 64x40",
     MixedPlanet,
     0xb70d2dfa45f2929aull,
     10362,
     {0x1549b264a2689a7dull, 0xafb90c84d79a6daeull, 0xebcf979403875c23ull, 0, 0, 0}},
    {"alpha 37x23 oversampling 3",
     AlphaPlanet,
     0xf55cb3d751f8a589ull,
     5313,
     {0x6927b22828f7e2eull, 0x97b46923c1c7f1b0ull, 0x8c15d4ea9ce390ceull, 0xf309e00f8e6f138full,
      0x519a451a0fcb8c00ull, 0xd3887cdf1289b7aaull}},
    {"norm-mixed 40x24 oversampling 2",
     NormMixedPlanet,
     0x9fa9e5846d83943eull,
     10775,
     {0x9d479b5c48170ad1ull, 0x5292abdb32220ee0ull, 0x2d15a952ef84a13dull, 0, 0, 0}},
    {"normal 48x32 oversampling 2",
     NormalPlanet,
     0x9fa3397b1b430436ull,
     11397,
     {0xcb5332dce1de09f7ull, 0x8d21a68caf610b4ull, 0xf29f84fa7b6ec7cdull, 0, 0, 0,
      0x2b111b8effd369fbull}},
};

TEST(Determinism, PinnedMapsForAnyThreadCount) {
    for (const Pinned& planet : kPlanets) {
        const Outcome first = Render(planet.make(), 1);
        EXPECT_EQ(first.progress, planet.progress) << planet.name;
        EXPECT_EQ(first.events, planet.events) << planet.name;
        for (size_t k = 0; k < 7; ++k) {
            EXPECT_EQ(first.maps[k], planet.maps[k]) << planet.name << ", map " << k;
        }
        // The example-like planets with every thread count; the others with three threads,
        // which splits the work unevenly.
        const bool all = std::string(planet.name).starts_with("default");
        for (const int threads : {2, 3, 8}) {
            if (!all && threads != 3) continue;
            const Outcome other = Render(planet.make(), threads);
            EXPECT_EQ(other.progress, first.progress) << planet.name << ", threads " << threads;
            EXPECT_EQ(other.events, first.events) << planet.name << ", threads " << threads;
            EXPECT_EQ(other.maps, first.maps) << planet.name << ", threads " << threads;
        }
    }
}

}  // namespace
}  // namespace globeforge
