// The extended outputs on a generated planet, from the settings text to the files on disk.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "image/exr_file.h"
#include "image/image_files.h"
#include "image/image_test_util.h"
#include "output/save_maps.h"
#include "render/render_planet.h"
#include "settings/gather_render_params.h"
#include "settings/settings_file.h"

namespace globeforge {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;

// Renders the settings text and writes its maps into dir.
RenderParams RenderInto(const ScratchDir& dir, const std::string& settings) {
    SettingsModel model;
    EXPECT_TRUE(ApplySettingsText(model, settings, "test").ok);
    RenderParams params = GatherRenderParams(model);
    for (std::string* name : {&params.OutputBumpMap, &params.OutputCloudBumpMap,
                              &params.OutputNormalMap, &params.OutputColorMap}) {
        if (!name->empty()) *name = dir / *name;
    }
    RenderContext ctx;
    EXPECT_TRUE(RenderPlanet(params, ctx)) << ctx.failure;
    std::string failed, reason;
    EXPECT_TRUE(SaveRenderMaps(params, &failed, &reason)) << failed << ": " << reason;
    return params;
}

const char* const kPlanet =
    "GroundAutoCreate True\r\n"
    "CloudAutoCreate True\r\n"
    "GroundXWarp 20\r\n"
    "CoastLevel 20\r\n"
    "NumberOfCraters 5\r\n"
    "CloudQuantity 10\r\n"
    "RandomSeed 99\r\n"
    "OutputResolutionX 64\r\n"
    "OutputResolutionY 32\r\n";

}  // namespace

TEST(GeneratedMaps, HeightsKeepTheirPrecisionInSixteenBitPngAndOpenExr) {
    ScratchDir dir;
    const RenderParams params = RenderInto(dir, std::string(kPlanet) +
                                                    "OverSampling 2\r\n"
                                                    "HeightBitDepth 16\r\n"
                                                    "OutputBumpMap bump.png\r\n"
                                                    "OutputCloudBumpMap clouds.exr\r\n");
    const std::vector<uint16_t> samples =
        testing::ReadGray16WithLibpng(ReadBytes(params.OutputBumpMap));
    ASSERT_EQ(samples.size(), 64u * 32u);
    EXPECT_GT(std::set<uint16_t>(samples.begin(), samples.end()).size(), 256u);

    FloatRaster clouds;
    ASSERT_TRUE(DecodeExr(ReadBytes(params.OutputCloudBumpMap), clouds));
    ASSERT_EQ(clouds.Channels, 1);
    const FloatImage& held = *params.CloudBumpMapImage;
    ASSERT_EQ(clouds.Samples.size(), held.PixelCount());
    for (size_t i = 0; i < held.PixelCount(); ++i) {
        ASSERT_EQ(std::memcmp(&clouds.Samples[i], &held.Data()[i].R, sizeof(float)), 0) << i;
    }
}

TEST(GeneratedMaps, NormalMapJoinsAcrossTheSeamAndRecordsItsSettings) {
    ScratchDir dir;
    const RenderParams params =
        RenderInto(dir, std::string(kPlanet) + "NormalStrength 80\r\nOutputNormalMap n.png\r\n");
    Bitmap24 n;
    ASSERT_TRUE(LoadBitmapFile(n, params.OutputNormalMap));
    ASSERT_EQ(n.Width, 64);
    // The step from the last column to the first is no larger than between other neighbours.
    const auto step = [&n](int32_t a, int32_t b) {
        double sum = 0;
        for (int32_t y = 0; y < n.Height; ++y) {
            for (int c = 0; c < 3; ++c) sum += std::abs(n.Row(y)[3 * a + c] - n.Row(y)[3 * b + c]);
        }
        return sum;
    };
    double inner = 0;
    for (int32_t x = 0; x + 1 < 64; ++x) inner = std::max(inner, step(x, x + 1));
    EXPECT_GT(step(63, 0), 0.0);
    EXPECT_LE(step(63, 0), inner);

    MapProvenance provenance;
    ASSERT_TRUE(ReadMapProvenance(params.OutputNormalMap, provenance));
    EXPECT_EQ(provenance.settingsText, params.SettingsText);
    EXPECT_NE(provenance.settingsText.find("\r\nNormalStrength 80\r\n"), std::string::npos);
}

}  // namespace globeforge
