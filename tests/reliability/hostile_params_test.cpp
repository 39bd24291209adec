// Hostile numbers reach the renderer from settings files, from --set and from callers of
// RenderPlanet. Each must give either a whole render or a clear refusal before any work
// starts: never a crash, a hang, an overflow or a half-written map.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "image/image_files.h"
#include "output/map_test_support.h"
#include "render/render_planet.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using testing::AllFinite;
using testing::RunRender;

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

// Generated ground with craters and clouds, and three maps: the clouds get maps of their
// own, so the ground maps are plain.
const char* const kPlanet =
    "GroundAutoCreate True\r\n"
    "CloudAutoCreate True\r\n"
    "NumberOfCraters 4\r\n"
    "OutputResolutionX 16\r\n"
    "OutputResolutionY 8\r\n"
    "OutputColorMap color.bmp\r\n"
    "OutputBumpMap bump.bmp\r\n"
    "OutputCloudTransparencyMap clouds.bmp\r\n";

struct Outcome {
    // A render: every map has this size. A refusal: width 0 and the message holds this.
    int32_t width = 0;
    int32_t height = 0;
    std::string refusal;
};

Outcome Renders(int32_t w, int32_t h) {
    return {w, h, {}};
}
Outcome Refused(std::string message) {
    return {0, 0, std::move(message)};
}

struct CliRow {
    const char* name;
    std::string settingsLines;  // appended to kPlanet, so they win
    std::string args;
    Outcome outcome;
};

TEST(HostileParameters, SettingsFilesAndOverridesRenderOrRefuseUpFront) {
    const std::string big = std::to_string(kIntMax);
    const std::vector<CliRow> rows = {
        {"zero width", "OutputResolutionX 0\r\n", "", Refused("at least 1 x 1")},
        {"zero height", "OutputResolutionY 0\r\n", "", Refused("at least 1 x 1")},
        {"zero height by --set", "", "--set OutputResolutionY=0",
         Refused("'0' is not a whole number from 1 to")},
        {"negative width", "OutputResolutionX -16\r\n", "", Refused("at least 1 x 1")},
        {"most negative height", "OutputResolutionY -2147483648\r\n", "",
         Refused("at least 1 x 1")},
        {"1 x 1", "", "--size 1x1", Renders(1, 1)},
        {"3 x 3", "", "--size 3x3", Renders(3, 3)},
        {"3 x 1", "", "--size 3x1", Renders(3, 1)},
        {"1 x 3 oversampled", "", "--size 1x3 --oversampling 3", Renders(1, 3)},
        // The square polar image of the craters alone would need hundreds of gigabytes.
        {"65536 x 1", "", "--size 65536x1", Refused("GiB of memory")},
        {"1 x 65536", "", "--size 1x65536", Refused("GiB of memory")},
        {"int max x 1", "", "--size " + big + "x1", Refused("GiB of memory")},
        {"int max squared", "", "--size " + big + "x" + big, Refused("too large")},
        {"int max oversampled", "", "--size " + big + "x1 --oversampling 9", Refused("too large")},
        {"hex width", "OutputResolutionX $7fffffff\r\n", "", Refused("too large")},
        // The spin field keeps 1..9, so these are a 1 and a 9.
        {"oversampling 0", "OverSampling 0\r\n", "", Renders(16, 8)},
        {"oversampling 10", "OverSampling 10\r\n", "--size 4x2", Renders(4, 2)},
        {"oversampling junk", "OverSampling 1e9\r\n", "", Renders(16, 8)},
        {"craters int max", "NumberOfCraters " + big + "\r\n", "", Renders(16, 8)},
        {"craters negative", "NumberOfCraters -5\r\n", "", Renders(16, 8)},
        {"crater radius negative", "CraterBasicRadius -10\r\n", "", Renders(16, 8)},
        {"crater radius int min", "CraterBasicRadius -2147483648\r\n", "", Renders(16, 8)},
        {"crater radius huge", "CraterBasicRadius 40000000\r\n", "", Renders(16, 8)},
        {"crater radius int max", "CraterBasicRadius " + big + "\r\n", "", Renders(16, 8)},
        // Only a sliver of the radius draws fits: each crater needs thousands of attempts.
        {"many craters barely fitting",
         "NumberOfCraters " + big + "\r\nCraterBasicRadius 100000\r\n", "", Renders(16, 8)},
        {"cloud quantity 0", "CloudQuantity 0\r\n", "", Renders(16, 8)},
        {"cloud quantity 1000000", "CloudQuantity 1000000\r\n", "", Renders(16, 8)},
        {"track bars beyond their ranges",
         "GroundContr 1000\r\nGroundXWarp 0\r\nGroundYWarp 2147483647\r\nCoastLevel -50\r\n"
         "IceQuantity 2147483647\r\nCraterHeight -1\r\nCraterWarp 100000\r\n"
         "CraterNoise -2147483648\r\nGroundTransparency 500\r\nCloudXWarp -3\r\n"
         "CloudYWarp 1000\r\nCloudTransparency -100\r\nCloudAlphaTransparency 999\r\n",
         "", Renders(16, 8)},
        {"seed int min", "RandomSeed -2147483648\r\n", "", Renders(16, 8)},
    };

    // The 65536-pixel rows need about 231 GiB; a machine that has it would really render.
    const double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE);
    const bool hugeMachine = memory > 240.0 * (1 << 30);

    for (const CliRow& row : rows) {
        SCOPED_TRACE(row.name);
        if (hugeMachine && row.args.find("65536") != std::string::npos) continue;
        testing::ScratchDir dir;
        dir.Write("p.ORB", std::string(kPlanet) + row.settingsLines);
        const testing::RunResult r = RunRender("p.ORB --quiet " + row.args, dir.path());
        if (row.outcome.refusal.empty()) {
            ASSERT_EQ(r.status, 0) << r.output;
            for (const char* name : {"color.bmp", "bump.bmp", "clouds.bmp"}) {
                std::optional<FloatImage> map = NewImage(0, 0);
                ASSERT_TRUE(LoadImageFile(*map, dir / name)) << name;
                EXPECT_EQ(map->Width, row.outcome.width) << name;
                EXPECT_EQ(map->Height, row.outcome.height) << name;
            }
        } else {
            EXPECT_EQ(r.status, 2) << r.output;
            EXPECT_NE(r.output.find(row.outcome.refusal), std::string::npos) << r.output;
            EXPECT_EQ(dir.Count(), 1u) << "only the settings file";
        }
    }
}

// A settings file may name anything as its heightmap or cloud picture. What cannot be read
// as a picture counts as not given: the render is the one without a picture, and a pipe
// is not waited on.
TEST(HostileParameters, PicturesThatAreNoPicturesCountAsNotGiven) {
    testing::ScratchDir dir;
    dir.Write("p.ORB", kPlanet);
    ASSERT_EQ(RunRender("p.ORB --quiet --out-dir plain", dir.path()).status, 0);
    const std::string plain = dir.Read("plain/color.bmp");
    ASSERT_FALSE(plain.empty());

    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
    fs::create_directory(dir.path() / "folder");
    dir.Write("empty.png", "");
    dir.Write("junk.bmp", "BM not really a bitmap");
    dir.Write("cut.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0", 18));
    for (const char* name : {"pipe", "folder", "empty.png", "junk.bmp", "cut.png", "/dev/zero"}) {
        SCOPED_TRACE(name);
        const std::string lines =
            std::string("LoadHeightmap ") + name + "\r\nLoadCloudAlpha " + name + "\r\n";
        dir.Write("q.ORB", std::string(kPlanet) + lines);
        const testing::RunResult r = RunRender("q.ORB --quiet --out-dir out", dir.path());
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(dir.Read("out/color.bmp"), plain);
    }
}

// Counts what a render shows: a refusal must come before the first intermediate image.
class CountingSink : public ProgressSink {
  public:
    void DrawProgressImage(const FloatImage&) override { ++images; }
    void SetMessage(std::string_view) override {}
    void ProcessPendingEvents() override {}
    int images = 0;
};

struct DirectRow {
    const char* name;
    std::function<void(RenderParams&)> change;
    Outcome outcome;
};

// Callers of RenderPlanet are not held to the window's ranges.
TEST(HostileParameters, RenderPlanetTakesAnyValueOfEveryField) {
    const std::vector<DirectRow> rows = {
        {"oversampling 0", [](RenderParams& p) { p.OverSampling = 0; },
         Refused("oversampling must be at least 1")},
        {"oversampling negative", [](RenderParams& p) { p.OverSampling = -3; },
         Refused("oversampling must be at least 1")},
        {"oversampling 10", [](RenderParams& p) { p.OverSampling = 10; }, Renders(16, 8)},
        {"oversampling int max", [](RenderParams& p) { p.OverSampling = kIntMax; },
         Refused("too large")},
        {"width int min", [](RenderParams& p) { p.OutputResolutionX = kIntMin; },
         Refused("at least 1 x 1")},
        {"size times oversampling past int32",
         [](RenderParams& p) {
             p.OutputResolutionX = 1 << 20;
             p.OverSampling = 1 << 12;
         },
         Refused("too large")},
        {"craters int max", [](RenderParams& p) { p.NumberOfCraters = kIntMax; }, Renders(16, 8)},
        {"crater radius int min", [](RenderParams& p) { p.CraterBasicRadius = kIntMin; },
         Renders(16, 8)},
        {"crater radius int max", [](RenderParams& p) { p.CraterBasicRadius = kIntMax; },
         Renders(16, 8)},
        {"crater shape beyond ranges",
         [](RenderParams& p) {
             p.CraterHeight = kIntMax;
             p.CraterWarp = kIntMin;
             p.CraterNoise = kIntMax;
         },
         Renders(16, 8)},
        {"crater shape below ranges",
         [](RenderParams& p) {
             p.CraterHeight = kIntMin;
             p.CraterWarp = kIntMax;
             p.CraterNoise = kIntMin;
         },
         Renders(16, 8)},
        {"cloud quantity 0", [](RenderParams& p) { p.CloudQuantity = 0; }, Renders(16, 8)},
        {"cloud quantity 1000000", [](RenderParams& p) { p.CloudQuantity = 1000000; },
         Renders(16, 8)},
        {"cloud quantity int min", [](RenderParams& p) { p.CloudQuantity = kIntMin; },
         Renders(16, 8)},
        {"warps at the extremes",
         [](RenderParams& p) {
             p.GroundXWarp = 0;
             p.GroundYWarp = kIntMax;
             p.CloudXWarp = kIntMin;
             p.CloudYWarp = 0;
         },
         Renders(16, 8)},
        {"levels above their ranges",
         [](RenderParams& p) {
             p.GroundContr = kIntMax;
             p.CoastLevel = kIntMax;
             p.IceQuantity = kIntMax;
             p.GroundTransparency = kIntMax;
             p.CloudTransparency = kIntMax;
         },
         Renders(16, 8)},
        {"levels below their ranges",
         [](RenderParams& p) {
             p.GroundContr = kIntMin;
             p.CoastLevel = kIntMin;
             p.IceQuantity = kIntMin;
             p.GroundTransparency = kIntMin;
             p.CloudTransparency = kIntMin;
         },
         Renders(16, 8)},
        {"mixture modes outside 0..2",
         [](RenderParams& p) {
             p.GroundMixtureMode = 255;
             p.CloudMixtureMode = 7;
         },
         Renders(16, 8)},
    };

    for (const DirectRow& row : rows) {
        SCOPED_TRACE(row.name);
        RenderParams params;
        params.OutputResolutionX = 16;
        params.OutputResolutionY = 8;
        params.GroundAutoCreate = true;
        params.CloudAutoCreate = true;
        params.NumberOfCraters = 4;
        params.OutputColorMap = "color.png";
        params.OutputSpeculerMap = "specular.png";
        params.OutputCloudColorMap = "clouds.png";
        row.change(params);

        RenderContext ctx;
        CountingSink sink;
        ctx.SetProgressTargets(&sink);
        const bool rendered = RenderPlanet(params, ctx);
        if (row.outcome.refusal.empty()) {
            ASSERT_TRUE(rendered) << ctx.failure;
            for (const auto* map :
                 {&params.ColorMapImage, &params.SpecularMapImage, &params.CloudColorMapImage}) {
                ASSERT_TRUE(map->has_value());
                EXPECT_EQ((*map)->Width, row.outcome.width);
                EXPECT_EQ((*map)->Height, row.outcome.height);
                EXPECT_TRUE(AllFinite(**map));
            }
        } else {
            EXPECT_FALSE(rendered);
            EXPECT_NE(ctx.failure.find(row.outcome.refusal), std::string::npos) << ctx.failure;
            EXPECT_EQ(sink.images, 0);
            EXPECT_FALSE(params.ColorMapImage || params.SpecularMapImage ||
                         params.CloudColorMapImage);
        }
    }
}

}  // namespace
}  // namespace globeforge
