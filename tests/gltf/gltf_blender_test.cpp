// Exported planets opened in Blender with its own glTF importer, as an artist would, and
// the import rendered with Cycles next to the program's own globe view of the same planet.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "globe/globe.h"
#include "globe/globe_output.h"
#include "gltf/gltf_export.h"
#include "gltf/gltf_fixtures.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

constexpr int32_t kSide = 64;

using Cells = std::array<std::array<double, 3>, 4>;

// The mean colours of the four quarters of the middle half of a globe view seen at
// longitude 0 and lit from the viewer, without atmosphere: top left, top right, bottom
// left, bottom right.
Cells GlobeCells(const RenderParams& params) {
    RenderContext ctx;
    std::string error;
    const std::optional<GlobeScene> scene = GlobeScene::Prepare(GlobeMapsOf(params), ctx, &error);
    EXPECT_TRUE(scene) << error;
    if (!scene) return {};
    GlobeOptions options;
    options.width = options.height = kSide;
    options.atmosphere = 0;
    const std::optional<GlobeImage> image =
        RenderGlobe(*scene, GlobeCamera{}, GlobeSun{0, 0}, options, ctx, &error);
    EXPECT_TRUE(image) << error;
    if (!image) return {};
    Cells cells{};
    const int32_t q = kSide / 4;
    for (int i = 0; i < 4; ++i) {
        const int32_t y0 = q + i / 2 * q, x0 = q + i % 2 * q;
        for (int32_t y = y0; y < y0 + q; ++y) {
            for (int32_t x = x0; x < x0 + q; ++x) {
                for (int c = 0; c < 3; ++c) {
                    cells[i][c] += image->rgba[(y * kSide + x) * 4 + c] / double(q * q);
                }
            }
        }
    }
    return cells;
}

TEST(GltfBlender, ImportsWithItsMaterialsAndLooksLikeTheGlobe) {
    if (testing::RunShell("command -v blender >/dev/null 2>&1").status != 0) {
        GTEST_SKIP() << "Blender is missing: run scripts/bootstrap --engine-tests to install it";
    }
    testing::ScratchDir dir;
    for (const bool apart : {true, false}) {
        SCOPED_TRACE(apart ? "clouds kept apart" : "clouds mixed in");
        const RenderParams params = testing::RenderedPlanet(256, 128, apart);
        const std::string glb = (dir.path() / "planet.glb").string();
        const std::string png = (dir.path() / "blender.png").string();
        std::string error;
        ASSERT_TRUE(ExportGltf(params, glb, {}, &error)) << error;
        std::string command = "blender -b --factory-startup --python ";
        command += testing::ShellQuote(std::string(GLOBEFORGE_SOURCE_DIR) +
                                       "/tests/gltf/blender_import.py");
        command += " -- ";
        for (const std::string& arg :
             {glb, std::string(apart ? "1" : "0"), std::to_string(kSide), png}) {
            command += testing::ShellQuote(arg);
            command += ' ';
        }
        const testing::RunResult result = testing::RunShell(command + "2>&1");
        ASSERT_EQ(result.status, 0) << result.output;
        Cells blender{};
        size_t at = 0;
        for (std::array<double, 3>& cell : blender) {
            at = result.output.find("CELL ", at);
            ASSERT_NE(at, std::string::npos) << result.output;
            ASSERT_EQ(std::sscanf(result.output.c_str() + at, "CELL %lf %lf %lf", &cell[0],
                                  &cell[1], &cell[2]),
                      3);
            ++at;
        }
        const Cells globe = GlobeCells(params);
        // Two different renderers: the day side must agree in colour, quarter by quarter
        // (a mirrored or turned texture moves the land), not in every level.
        for (int i = 0; i < 4; ++i) {
            std::cout << "quarter " << i << ": Blender " << blender[i][0] << " " << blender[i][1]
                      << " " << blender[i][2] << ", globe " << globe[i][0] << " " << globe[i][1]
                      << " " << globe[i][2] << "\n";
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(blender[i][c], globe[i][c], 30.0)
                    << "quarter " << i << " channel " << c;
            }
        }
    }
}

}  // namespace
}  // namespace globeforge
