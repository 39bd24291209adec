// Exported planets checked by Khronos' glTF validator, the reference for what engines accept.
#include <gtest/gtest.h>

#include <filesystem>

#include "gltf/gltf_export.h"
#include "gltf/gltf_fixtures.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

constexpr const char* kInstall = "run scripts/bootstrap --engine-tests to install it";

TEST(GltfValidator, ExportedPlanetsHaveNoErrorsOrWarnings) {
    const std::string validator =
        std::string(GLOBEFORGE_ENGINE_TOOLS) + "/node_modules/gltf-validator";
    if (testing::RunShell("command -v node >/dev/null 2>&1").status != 0) {
        GTEST_SKIP() << "Node is missing: " << kInstall;
    }
    if (!std::filesystem::exists(validator + "/package.json")) {
        GTEST_SKIP() << "the glTF validator is missing from " << validator << ": " << kInstall;
    }
    testing::ScratchDir dir;
    std::vector<std::string> files = {validator};  // validate.js's arguments
    const auto exportAs = [&](const RenderParams& params, const std::string& name,
                              const GltfOptions& options) {
        const std::string path = (dir.path() / name).string();
        std::string error;
        EXPECT_TRUE(ExportGltf(params, path, options, &error)) << name << ": " << error;
        files.push_back(path);
    };
    {
        const RenderParams apart = testing::RenderedPlanet(128, 64, true);
        exportAs(apart, "clouds-apart.glb", {});
        exportAs(apart, "clouds-apart.gltf", {});
    }
    exportAs(testing::RenderedPlanet(128, 64, false), "clouds-mixed.glb", {});
    exportAs(testing::RenderedPlanet(16, 8, true), "tiny.glb", {});
    {
        GltfOptions capped;
        capped.maxTexture = 4096;
        exportAs(testing::FilledPlanet(8192, 4096), "capped.glb", capped);
    }
    std::string command = "node ";
    command += testing::ShellQuote(std::string(GLOBEFORGE_SOURCE_DIR) + "/tests/gltf/validate.js");
    for (const std::string& arg : files) {
        command += ' ';
        command += testing::ShellQuote(arg);
    }
    const testing::RunResult result = testing::RunShell(command + " 2>&1");
    EXPECT_EQ(result.status, 0) << result.output;
    std::cout << result.output;
}

}  // namespace
}  // namespace globeforge
