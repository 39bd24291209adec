// --gltf and --gltf-each: the planet as a glTF file after the maps, its options refused
// before any render, and one NAME.glb per planet of a batch, linked from the gallery.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using testing::RunRender;
using testing::RunResult;
using testing::ScratchDir;

// Generated ground and clouds; the cloud maps named apart, so the asset has both spheres.
const char* kPlanet =
    "GroundAutoCreate True\r\nCloudAutoCreate True\r\nCoastLevel 40\r\n"
    "OutputResolutionX 64\r\nOutputResolutionY 32\r\n"
    "OutputColorMap color.png\r\n";

bool IsGlb(const std::string& bytes) {
    return bytes.size() > 20 && bytes.compare(0, 4, "glTF") == 0;
}

TEST(CliGltf, WritesTheAssetAfterTheMapsAlsoFromAMapsSettings) {
    ScratchDir dir;
    dir.Write("p.ORB", kPlanet);
    RunResult r =
        RunRender("p.ORB --quiet --out-dir o --gltf p.glb --gltf-segments 16", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string glb = dir.Read("o/p.glb");
    EXPECT_TRUE(IsGlb(glb));
    EXPECT_LT(glb.size(), 200u * 1024);
    EXPECT_NE(glb.find("\"baseColorTexture\""), std::string::npos);
    EXPECT_EQ(dir.Count("o"), 2u);  // the map and the asset, no temporaries

    // The map's settings make the same planet, and so the same asset.
    r = RunRender(
        "--settings-from o/color.png --quiet --out-dir again --gltf p.glb "
        "--gltf-segments 16",
        dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(dir.Read("again/p.glb"), glb);

    // A .gltf keeps its buffer and textures beside it.
    r = RunRender("p.ORB --quiet --out-dir t --gltf p.gltf --gltf-max-texture 16", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "t/p.bin"));
    EXPECT_NE(dir.Read("t/p.gltf").find("\"uri\": \"p.bin\""), std::string::npos);
}

TEST(CliGltf, BadOptionsAndPathsStopBeforeTheRender) {
    ScratchDir dir;
    dir.Write("p.ORB", kPlanet);
    fs::create_directories(dir.path() / "folder.glb");
    for (const char* args :
         {"p.ORB --gltf p.glb --gltf-segments 0", "p.ORB --gltf p.glb --gltf-max-texture 3",
          "p.ORB --gltf p.glb --gltf-radius -1",
          "p.ORB --gltf p.glb --gltf-radius 2 "
          "--gltf-cloud-radius 1.5",
          "p.ORB --gltf p.obj", "p.ORB --gltf missing/p.glb", "p.ORB --gltf folder.glb",
          "p.ORB --gltf-segments 16", "p.ORB --gltf-each",
          "--seeds 1..2 p.ORB --out-dir b --gltf p.glb"}) {
        const RunResult r = RunRender(args, dir.path());
        EXPECT_EQ(r.status, 2) << args << "\n" << r.output;
        std::string lower = r.output;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(lower.find("gltf"), std::string::npos) << args << "\n" << r.output;
        EXPECT_EQ(r.output.find("wrote"), std::string::npos) << args << "\n" << r.output;
    }
    EXPECT_FALSE(fs::exists(dir.path() / "color.png"));
    EXPECT_FALSE(fs::exists(dir.path() / "b"));
}

TEST(BatchGltf, EveryPlanetGetsItsGlbLinkedFromTheGallery) {
    ScratchDir dir;
    dir.Write("p.ORB", kPlanet);
    const std::string args = "--seeds 1..2 p.ORB --out-dir out --quiet";
    RunResult r = RunRender(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(fs::exists(dir.path() / "out/seed-1/seed-1.glb"));
    EXPECT_EQ(dir.Read("out/index.html").find(".glb"), std::string::npos);

    // Asked for now: the planets were not done with it, so both render again.
    r = RunRender(args + " --gltf-each --gltf-max-texture 32", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("2 rendered, 0 already done"), std::string::npos) << r.output;
    for (const std::string name : {"seed-1", "seed-2"}) {
        EXPECT_TRUE(IsGlb(dir.Read("out/" + name + "/" + name + ".glb"))) << name;
        EXPECT_NE(dir.Read("out/index.html").find("href=\"" + name + "/" + name + ".glb\""),
                  std::string::npos);
        EXPECT_NE(dir.Read("out/index.json").find("\"model\": \"" + name + "/" + name + ".glb\""),
                  std::string::npos);
    }
    fs::remove(dir.path() / "out/seed-2/seed-2.glb");
    r = RunRender(args + " --gltf-each", dir.path());
    EXPECT_NE(r.output.find("1 rendered, 1 already done"), std::string::npos) << r.output;
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "out/seed-2/seed-2.glb"));
}

}  // namespace
}  // namespace globeforge
