#include <gtest/gtest.h>
#include <webp/demux.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "cli/cli_options.h"
#include "core/language.h"
#include "image/exr_file.h"
#include "render/stage_dump.h"
#include "settings/gather_render_params.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace fs = std::filesystem;

namespace globeforge {
namespace {

using testing::ReadFile;
using testing::RunRender;
using testing::RunResult;

class CliTest : public ::testing::Test {
  protected:
    fs::path Write(const std::string& name, const std::string& text) {
        return scratch.Write(name, text);
    }

    testing::ScratchDir scratch;
    const fs::path& dir = scratch.path();
};

// A tiny planet: generated ground and clouds, three ground maps.
const char* kSmallPlanet =
    "GroundAutoCreate True\r\n"
    "CloudAutoCreate True\r\n"
    "CoastLevel 40\r\n"
    "NumberOfCraters 4\r\n"
    "OutputResolutionX 32\r\n"
    "OutputResolutionY 16\r\n"
    "OutputColorMap color.bmp\r\n"
    "OutputBumpMap bump.png\r\n"
    "OutputSpeculerMap spec.bmp\r\n";

// The width, height and colour type of a PNG file, from its header.
struct PngHeader {
    uint32_t width = 0, height = 0;
    int colorType = -1;
};
PngHeader ReadPngHeader(const std::string& bytes) {
    PngHeader h;
    if (bytes.size() < 26) return h;
    const auto be32 = [&](size_t at) {
        return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
               (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
    };
    h.width = be32(16);
    h.height = be32(20);
    h.colorType = uint8_t(bytes[25]);
    return h;
}

TEST_F(CliTest, GlobeAndTurntableFromMapsNoSettingNames) {
    // Only the colour map is named; the globe still shows relief, gloss and clouds, and only
    // the named map is saved beside the pictures.
    Write("p.ORB",
          "GroundAutoCreate True\r\nCloudAutoCreate True\r\nCoastLevel 40\r\n"
          "OutputResolutionX 32\r\nOutputResolutionY 16\r\n"
          "OutputColorMap color.png\r\n");
    RunResult r = RunRender(
        "p.ORB --quiet --out-dir o --globe g.png --globe-size 48 --globe-view 30,-20 "
        "--globe-sun 10,5 --turntable t.webp --frames 5",
        dir);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(scratch.Count("o"), 3u);
    const PngHeader globe = ReadPngHeader(ReadFile(dir / "o/g.png"));
    EXPECT_EQ(globe.width, 48u);
    EXPECT_EQ(globe.height, 48u);
    EXPECT_EQ(globe.colorType, 6);  // RGBA

    const std::string webp = ReadFile(dir / "o/t.webp");
    WebPData data{reinterpret_cast<const uint8_t*>(webp.data()), webp.size()};
    WebPAnimDecoderOptions decoderOptions;
    ASSERT_TRUE(WebPAnimDecoderOptionsInit(&decoderOptions));
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &decoderOptions);
    ASSERT_NE(decoder, nullptr);
    WebPAnimInfo info;
    ASSERT_TRUE(WebPAnimDecoderGetInfo(decoder, &info));
    EXPECT_EQ(info.frame_count, 5u);
    EXPECT_EQ(info.canvas_width, 48u);
    EXPECT_EQ(info.canvas_height, 48u);
    int decoded = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        ASSERT_TRUE(WebPAnimDecoderGetNext(decoder, &pixels, &timestamp));
        ++decoded;
    }
    WebPAnimDecoderDelete(decoder);
    EXPECT_EQ(decoded, 5);

    // The globe carries the settings, so it can be shown again from them alone.
    r = RunRender(
        "--settings-from o/g.png --quiet --out-dir again --globe g2.png --globe-size 48 "
        "--globe-view 30,-20 --globe-sun 10,5",
        dir);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadFile(dir / "again/g2.png"), ReadFile(dir / "o/g.png"));
}

TEST_F(CliTest, BadGlobeRequestsStopBeforeTheRender) {
    Write("p.ORB", kSmallPlanet);
    for (const char* args :
         {"p.ORB --globe g.png --globe-size 0", "p.ORB --globe g.png --globe-size 99999",
          "p.ORB --globe g.png --globe-view 10,95", "p.ORB --globe g.png --globe-view east",
          "p.ORB --globe g.png --globe-sun 10", "p.ORB --turntable t.webp --frames 0",
          "p.ORB --turntable t.webp --frames 5000", "p.ORB --frames 10", "p.ORB --globe-size 64"}) {
        const RunResult r = RunRender(args, dir);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.output;
        EXPECT_NE(r.output.find("--"), std::string::npos) << args << "\n" << r.output;
    }
    EXPECT_FALSE(fs::exists(dir / "color.bmp"));
    EXPECT_FALSE(fs::exists(dir / "g.png"));

    // A map that cannot give settings says which and why.
    Write("plain.png", "not a png");
    const RunResult r = RunRender("--settings-from plain.png --globe g.png", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("plain.png"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("PNG"), std::string::npos) << r.output;
}

}  // namespace

TEST(CliOptions, ParsesValuesAndRejectsMistakes) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliOptions({"p.ORB", "--size", "64x32", "--seed=-7", "--set", "CoastLevel=40",
                                 "--oversampling", "3", "--quiet", "--threads", "2"},
                                o, error))
        << error;
    EXPECT_EQ(o.settingsFile, "p.ORB");
    EXPECT_EQ(o.size->first, "64");
    EXPECT_EQ(o.size->second, "32");
    EXPECT_EQ(*o.seed, "-7");
    EXPECT_EQ(o.sets.front(), "CoastLevel=40");
    EXPECT_EQ(*o.oversampling, 3);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.threads, 2);

    for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                                {"a.ORB", "b.ORB"},
                                                {"a.ORB", "--size", "64"},
                                                {"a.ORB", "--size", "axb"},
                                                {"a.ORB", "--oversampling", "12"},
                                                {"a.ORB", "--oversampling", "0"},
                                                {"a.ORB", "--jpeg-quality", "101"},
                                                {"a.ORB", "--seed", "12abc"},
                                                {"a.ORB", "--bogus"},
                                                {"a.ORB", "--out-dir"}}) {
        CliOptions rejected;
        EXPECT_FALSE(ParseCliOptions(bad, rejected, error)) << ::testing::PrintToString(bad);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CliOptions, OverridesApplyInOrderWithSettingsRules) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliOptions({"p.ORB", "--size", "64x32", "--set", "OutputResolutionX=80",
                                 "--set", "OverSampling=7", "--set", "GroundAutoCreate=TRUE"},
                                o, error));
    SettingsModel model;
    EXPECT_EQ(ApplyCliOverrides(o, model), "");
    RenderParams params = GatherRenderParams(model);
    EXPECT_EQ(params.OutputResolutionX, 80);  // --set comes last
    EXPECT_EQ(params.OutputResolutionY, 32);
    EXPECT_EQ(params.OverSampling, 7);
    EXPECT_TRUE(params.GroundAutoCreate);

    CliOptions typo;
    ASSERT_TRUE(ParseCliOptions({"p.ORB", "--set", "CostLevel=40"}, typo, error));
    EXPECT_NE(ApplyCliOverrides(typo, model), "");
}

TEST(CliOptions, SettingsFromAMapInsteadOfAFile) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(
        ParseCliOptions({"--settings-from", "maps/bump.png", "--out-dir", "again"}, o, error))
        << error;
    EXPECT_EQ(o.settingsFrom, "maps/bump.png");
    EXPECT_TRUE(o.settingsFile.empty());
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"a.ORB", "--settings-from", "m.png"},
          {"--settings-from"},
          {"--settings-from="}}) {
        CliOptions rejected;
        EXPECT_FALSE(ParseCliOptions(bad, rejected, error)) << ::testing::PrintToString(bad);
    }

    // The preview is part of the settings, so preview maps record what they are.
    SettingsModel model;
    ApplyPreview(model);
    EXPECT_EQ(model.ResX, "128");
    EXPECT_EQ(model.NormalName, "preview_normal.png");
    EXPECT_EQ(model.CloudTraName, "preview_cloud_transparency.png");
    SettingsModel named;
    named.NormalName = "n.png";
    named.Ovsmp.SetPosition(4);
    ApplyPreview(named);
    EXPECT_EQ(named.Ovsmp.Position(), 1);
    EXPECT_EQ(named.ColorName, "");  // a named map keeps the others unnamed
}

TEST_F(CliTest, SettingsFromAPngOrJpegMapMakesTheSameBytesAgain) {
    Write("p.ORB", std::string(kSmallPlanet) +
                       "OutputColorMap color.jpg\r\nHeightBitDepth 16\r\n"
                       "OutputNormalMap normal.png\r\nOutputCloudBumpMap clouds.exr\r\n");
    RunResult r = RunRender("p.ORB --quiet --jpeg-quality 60 --out-dir first", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    const char* const maps[] = {"color.jpg", "bump.png", "spec.bmp", "normal.png", "clouds.exr"};
    for (const char* from : {"first/bump.png", "first/color.jpg", "first/clouds.exr"}) {
        fs::remove_all(dir / "again");
        r = RunRender(std::string("--settings-from ") + from + " --quiet --out-dir again", dir);
        ASSERT_EQ(r.status, 0) << from << "\n" << r.output;
        for (const char* name : maps) {
            ASSERT_TRUE(fs::exists(dir / "first" / name)) << name;
            EXPECT_EQ(ReadFile(dir / "again" / name), ReadFile(dir / "first" / name))
                << name << " from " << from;
        }
    }
    // Overrides still apply on top of the recorded settings.
    r = RunRender("--settings-from first/normal.png --seed 5 --quiet --out-dir other", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(ReadFile(dir / "other" / "bump.png"), ReadFile(dir / "first" / "bump.png"));

    for (const char* from : {"first/spec.bmp", "missing.png", "p.ORB"}) {
        r = RunRender(std::string("--settings-from ") + from + " --quiet", dir);
        EXPECT_EQ(r.status, 2) << from;
        EXPECT_NE(r.output.find(from), std::string::npos) << r.output;
    }
}

TEST_F(CliTest, HelpVersionAndUsageErrors) {
    RunResult r = RunRender("--help", dir);
    EXPECT_EQ(r.status, 0);
    for (const char* documented : {"--out-dir", "--settings-from", "HeightBitDepth",
                                   "OutputNormalMap", "NormalStrength", "CubeMapFaces"}) {
        EXPECT_NE(r.output.find(documented), std::string::npos) << documented;
    }
    r = RunRender("--version", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("1.0e-37"), std::string::npos);
    EXPECT_NE(r.output.find("GlobeForge"), std::string::npos);
    r = RunRender("", dir);
    EXPECT_EQ(r.status, 2);
    r = RunRender("missing.ORB", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("missing.ORB"), std::string::npos) << r.output;
}

TEST_F(CliTest, BadSettingsAndSizesStopBeforeAnyWork) {
    Write("bad.ORB",
          "GroundAutoCreate True\r\nOutputResolutionX 8\r\nOutputResolutionY 8\r\n"
          "OutputColorMap c.bmp\r\nGroundColorHigh $zz\r\n");
    RunResult r = RunRender("bad.ORB", dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("bad.ORB"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("5"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("$zz"), std::string::npos) << r.output;

    Write("p.ORB", kSmallPlanet);
    for (const char* args : {"p.ORB --size 0x0", "p.ORB --size 100000x100000",
                             "p.ORB --oversampling 12", "p.ORB --size -5x10"}) {
        r = RunRender(args, dir);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.output;
        EXPECT_FALSE(r.output.empty());
    }
    EXPECT_FALSE(fs::exists(dir / "c.bmp"));
    EXPECT_FALSE(fs::exists(dir / "color.bmp"));
}

TEST_F(CliTest, RendersTheNamedMapsIdenticallyTwice) {
    Write("p.ORB", kSmallPlanet);
    RunResult r = RunRender("p.ORB --quiet --out-dir first", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    r = RunRender("p.ORB --quiet --out-dir second --threads 1", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* name : {"color.bmp", "bump.png", "spec.bmp"}) {
        ASSERT_TRUE(fs::exists(dir / "first" / name)) << name;
        EXPECT_GT(fs::file_size(dir / "first" / name), 0u);
        EXPECT_EQ(ReadFile(dir / "first" / name), ReadFile(dir / "second" / name)) << name;
    }
    // Without --out-dir the names resolve against the current folder.
    r = RunRender("p.ORB --quiet", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadFile(dir / "color.bmp"), ReadFile(dir / "first" / "color.bmp"));
}

TEST_F(CliTest, DumpStagesWritesEveryReportedImageInOrder) {
    Write("p.ORB",
          "GroundAutoCreate True\r\nCloudAutoCreate True\r\nNumberOfCraters 4\r\n"
          "OutputResolutionX 32\r\nOutputResolutionY 16\r\n"
          "OutputColorMap c.bmp\r\nOutputBumpMap b.bmp\r\nOutputSpeculerMap s.bmp\r\n"
          "OutputCloudColorMap cc.bmp\r\nOutputCloudBumpMap cb.bmp\r\n"
          "OutputCloudTransparencyMap ct.bmp\r\n");
    RunResult r = RunRender("p.ORB --quiet --out-dir plain", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    r = RunRender("p.ORB --quiet --out-dir dumped --dump-stages stages", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "stages")) {
        names.insert(entry.path().filename().string());
    }
    // The ground: pattern, three warp filters, their sum, the warped surface; 40 stamps of
    // four images each; placed and projected per hemisphere; the finished heightmap. The
    // clouds likewise (no craters), then the six maps.
    const size_t ground = 6 + 40 * 4 + 2 * 2 + 1;
    const size_t clouds = 6 + 1;
    ASSERT_EQ(names.size(), ground + clouds + 6);
    EXPECT_EQ(*names.begin(), "001-ground-base.exr");
    EXPECT_EQ(*names.rbegin(), "184-map-cloud-transparency.exr");
    for (const std::string& name : names) {
        EXPECT_EQ(name.find("-stage.exr"), std::string::npos) << "a message without a name";
    }

    // The polar image at its full size, Round(32 x 1.325) square, with the message.
    const std::string placed = ReadFile(dir / "stages" / "167-craters-north-placed.exr");
    const std::span bytes(reinterpret_cast<const uint8_t*>(placed.data()), placed.size());
    FloatRaster raster;
    ASSERT_TRUE(DecodeExr(bytes, raster));
    EXPECT_EQ(raster.Width, 42);
    EXPECT_EQ(raster.Height, 42);
    MetadataTexts attributes;
    ASSERT_TRUE(ReadExrAttributes(bytes, attributes));
    EXPECT_NE(std::find(attributes.begin(), attributes.end(),
                        MetadataText{kStageMessageAttribute,
                                     "地表ハイトマップ・北半球クレーター配置終了"}),
              attributes.end());

    // Watching changes nothing.
    for (const char* name : {"c.bmp", "b.bmp", "s.bmp", "cc.bmp", "cb.bmp", "ct.bmp"}) {
        EXPECT_EQ(ReadFile(dir / "plain" / name), ReadFile(dir / "dumped" / name)) << name;
    }

    // A stage file that cannot be written stops the render: no map, a message that names it.
    fs::create_directories(dir / "blocked" / "005-ground-warp-combined.exr");
    r = RunRender("p.ORB --quiet --out-dir failed --dump-stages blocked", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("005-ground-warp-combined.exr"), std::string::npos) << r.output;
    EXPECT_TRUE(fs::exists(dir / "blocked" / "004-ground-warp-3.exr"));
    EXPECT_FALSE(fs::exists(dir / "blocked" / "006-ground-surface.exr"));
    EXPECT_FALSE(fs::exists(dir / "failed" / "c.bmp"));
}

TEST_F(CliTest, CubeMapFacesFromSetAreTheSameForAnyThreadCount) {
    Write("p.ORB", kSmallPlanet);
    for (const char* run : {"--threads 1 --out-dir one", "--threads 3 --out-dir three"}) {
        RunResult r = RunRender(std::string("p.ORB --quiet --set CubeMapFaces=True ") + run, dir);
        ASSERT_EQ(r.status, 0) << r.output;
    }
    for (const char* name : {"color_px.bmp", "color_nz.bmp", "bump_py.png", "spec_ny.bmp"}) {
        ASSERT_TRUE(fs::exists(dir / "one" / name)) << name;
        EXPECT_EQ(ReadFile(dir / "one" / name), ReadFile(dir / "three" / name)) << name;
    }
}

TEST_F(CliTest, CloudMapWithoutCloudsFailsAfterTheMapsBeforeIt) {
    Write("p.ORB",
          "GroundAutoCreate True\r\nOutputResolutionX 16\r\nOutputResolutionY 8\r\n"
          "OutputColorMap color.bmp\r\nOutputCloudColorMap clouds.bmp\r\n"
          "OutputCloudBumpMap cloudbump.bmp\r\n");
    RunResult r = RunRender("p.ORB --quiet", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("clouds.bmp"), std::string::npos) << r.output;
    EXPECT_TRUE(fs::exists(dir / "color.bmp"));
    EXPECT_FALSE(fs::exists(dir / "clouds.bmp"));
    EXPECT_FALSE(fs::exists(dir / "cloudbump.bmp"));
}

TEST_F(CliTest, WriteSettingsKeepsOverridesAndPreviewNamesEveryMap) {
    Write("p.ORB", kSmallPlanet);
    RunResult r = RunRender("p.ORB --seed 42 --set CoastLevel=70 --write-settings out.ORB", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string written = ReadFile(dir / "out.ORB");
    EXPECT_NE(written.find("RandomSeed 42\r\n"), std::string::npos);
    EXPECT_NE(written.find("CoastLevel 70\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "color.bmp"));

    Write("empty.ORB", "GroundAutoCreate True\r\nCloudAutoCreate True\r\n");
    r = RunRender("empty.ORB --preview --quiet --out-dir pv", dir);
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* name :
         {"preview_color.png", "preview_bump.png", "preview_specular.png",
          "preview_cloud_color.png", "preview_cloud_bump.png", "preview_cloud_transparency.png"}) {
        EXPECT_TRUE(fs::exists(dir / "pv" / name)) << name;
    }
}

}  // namespace globeforge

namespace globeforge {
namespace {

bool HasNonAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return true;
    return false;
}

}  // namespace

// The progress lines speak the locale's language unless --lang says otherwise; a Japanese
// locale or none keeps the Japanese messages.
TEST_F(CliTest, ProgressLanguageFollowsLangOptionAndLocale) {
    EXPECT_EQ(LanguageFromLocale(nullptr, nullptr, nullptr, nullptr), Language::Japanese);
    EXPECT_EQ(LanguageFromLocale(nullptr, "C.UTF-8", nullptr, "en_US.UTF-8"), Language::Japanese);
    EXPECT_EQ(LanguageFromLocale("ja:en", nullptr, nullptr, "en_GB"), Language::Japanese);
    EXPECT_EQ(LanguageFromLocale("", "", "de_DE.UTF-8", "ja_JP.UTF-8"), Language::English);
    EXPECT_EQ(LanguageFromLocale(nullptr, nullptr, nullptr, "POSIX"), Language::Japanese);

    Write("p.ORB", kSmallPlanet);
    const std::string noLocale = "-u LANGUAGE -u LC_ALL -u LC_MESSAGES -u LANG";
    const RunResult today = RunRender("p.ORB", dir, noLocale);
    ASSERT_EQ(today.status, 0) << today.output;
    EXPECT_NE(today.output.find("作画開始..\n"), std::string::npos) << today.output;
    EXPECT_NE(today.output.find("作画終了\n"), std::string::npos) << today.output;
    for (const char* env : {"LANG=C", "LANG=POSIX", "LANG=ja_JP.UTF-8", "LC_ALL=ja_JP.UTF-8"}) {
        EXPECT_EQ(RunRender("p.ORB", dir, noLocale + " " + env).output, today.output) << env;
    }
    EXPECT_EQ(RunRender("p.ORB --lang ja", dir, noLocale + " LANG=en_US.UTF-8").output,
              today.output);

    const RunResult english = RunRender("p.ORB", dir, noLocale + " LANG=en_US.UTF-8");
    ASSERT_EQ(english.status, 0) << english.output;
    EXPECT_FALSE(HasNonAscii(english.output)) << english.output;
    EXPECT_NE(english.output.find("Rendering...\n"), std::string::npos) << english.output;
    EXPECT_NE(english.output.find("Render finished.\n"), std::string::npos) << english.output;
    EXPECT_EQ(RunRender("p.ORB --lang en", dir, noLocale + " LANG=C").output, english.output);
    EXPECT_EQ(RunRender("p.ORB", dir, noLocale + " LANGUAGE=en LANG=ja_JP.UTF-8").output,
              english.output);

    // Help and errors were English all along; they read the same in either language.
    const RunResult help = RunRender("--help", dir, noLocale);
    EXPECT_NE(help.output.find("--lang"), std::string::npos);
    EXPECT_EQ(RunRender("--help", dir, noLocale + " LANG=en_US.UTF-8").output, help.output);
    EXPECT_FALSE(HasNonAscii(help.output));
    const RunResult bad = RunRender("p.ORB --lang fr", dir, noLocale);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find("--lang"), std::string::npos) << bad.output;
}

}  // namespace globeforge
