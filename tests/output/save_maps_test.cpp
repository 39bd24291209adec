#include "output/save_maps.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/jpeg_quality.h"
#include "core/progress.h"
#include "image/image_files.h"
#include "image/image_test_util.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;

class SaveRenderMapsTest : public ::testing::Test {
  protected:
    std::string PathOf(const std::string& name) const { return scratch_ / name; }
    testing::ScratchDir scratch_;
    const fs::path& dir_ = scratch_.path();
};

TEST_F(SaveRenderMapsTest, NothingRequestedOrRequestedButNotBuilt) {
    RenderParams p;
    p.ColorMapImage = NewFilledImage(2, 2, kOpaqueBlack);  // built but not requested
    EXPECT_TRUE(SaveRenderMaps(p));
    EXPECT_TRUE(fs::is_empty(dir_));

    p.OutputBumpMap = PathOf("bump.bmp");
    std::string failed, reason;
    EXPECT_FALSE(SaveRenderMaps(p, &failed, &reason));
    EXPECT_EQ(failed, p.OutputBumpMap);
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(fs::exists(p.OutputBumpMap));
}

TEST_F(SaveRenderMapsTest, WritesInOrderUntilTheFirstFailure) {
    RenderParams p;
    p.OutputColorMap = PathOf("color.bmp");
    p.OutputCloudColorMap = PathOf("cloud.bmp");
    p.ColorMapImage = NewFilledImage(3, 2, kOpaqueBlack);
    std::string failed, reason;
    EXPECT_FALSE(SaveRenderMaps(p, &failed, &reason));
    EXPECT_TRUE(fs::exists(p.OutputColorMap));
    EXPECT_EQ(failed, p.OutputCloudColorMap);
    EXPECT_NE(reason.find("no cloud layer"), std::string::npos);

    // A write error stops the maps after it: specular fails, bump is never written, also
    // when the maps are encoded side by side.
    p.OutputCloudColorMap.clear();
    p.OutputSpeculerMap = PathOf("missing/dir/spec.bmp");
    p.SpecularMapImage = NewFilledImage(3, 2, kOpaqueBlack);
    p.OutputBumpMap = PathOf("bump.png");
    p.BumpMapImage = NewFilledImage(3, 2, {7, 8, 9, 255});
    for (const int threads : {1, 2, 3}) {
        fs::remove(p.OutputColorMap);
        RenderContext ctx;
        ctx.threads = threads;
        EXPECT_FALSE(SaveRenderMaps(p, &failed, nullptr, &ctx));
        EXPECT_EQ(failed, p.OutputSpeculerMap);
        EXPECT_TRUE(fs::exists(p.OutputColorMap));
        EXPECT_FALSE(fs::exists(p.OutputBumpMap));
    }

    p.OutputSpeculerMap.clear();
    EXPECT_TRUE(SaveRenderMaps(p));
    const std::vector<uint8_t> serial = testing::ReadBytes(p.OutputBumpMap);
    fs::remove(p.OutputBumpMap);
    RenderContext three;
    three.threads = 3;
    EXPECT_TRUE(SaveRenderMaps(p, nullptr, nullptr, &three));
    EXPECT_EQ(testing::ReadBytes(p.OutputBumpMap), serial);
}

TEST_F(SaveRenderMapsTest, BumpMapsAsHeightsNormalMapLastSettingsEverywhere) {
    RenderParams p;
    p.HeightBitDepth = 16;
    p.SettingsText = "CoastLevel 40\r\n";
    std::string* names[] = {&p.OutputColorMap,     &p.OutputSpeculerMap,
                            &p.OutputBumpMap,      &p.OutputCloudColorMap,
                            &p.OutputCloudBumpMap, &p.OutputCloudTransparencyMap,
                            &p.OutputNormalMap};
    std::optional<FloatImage>* images[] = {
        &p.ColorMapImage,     &p.SpecularMapImage,          &p.BumpMapImage,  &p.CloudColorMapImage,
        &p.CloudBumpMapImage, &p.CloudTransparencyMapImage, &p.NormalMapImage};
    for (size_t i = 0; i < 7; ++i) {
        *names[i] = PathOf("map" + std::to_string(i) + ".png");
        *images[i] = NewFilledImage(4, 2, {100, 150, 200, 255});
    }
    SetJpegQuality(61);  // the program's quality and version go with every map
    ASSERT_TRUE(SaveRenderMaps(p));
    SetJpegQuality(90);
    for (size_t i = 0; i < 7; ++i) {
        const bool height = names[i] == &p.OutputBumpMap || names[i] == &p.OutputCloudBumpMap;
        const std::vector<uint16_t> samples =
            testing::ReadGray16WithLibpng(testing::ReadBytes(*names[i]));
        EXPECT_EQ(samples.size(), height ? 8u : 0u) << *names[i];
        if (height) {
            EXPECT_EQ(samples[0], 25600);  // 100 of 256: 25599.6
        }
        MapProvenance provenance;
        ASSERT_TRUE(ReadMapProvenance(*names[i], provenance)) << *names[i];
        EXPECT_EQ(provenance.settingsText, p.SettingsText);
        EXPECT_EQ(provenance.productVersion, "GlobeForge 1.0e-37");
        EXPECT_EQ(provenance.jpegQuality, std::optional<int32_t>(61));
    }

    // The normal map comes after the six: a missing cloud map stops before it.
    for (size_t i = 0; i < 7; ++i) fs::remove(*names[i]);
    p.CloudColorMapImage.reset();
    std::string failed;
    EXPECT_FALSE(SaveRenderMaps(p, &failed));
    EXPECT_EQ(failed, p.OutputCloudColorMap);
    EXPECT_TRUE(fs::exists(p.OutputBumpMap));
    EXPECT_FALSE(fs::exists(p.OutputNormalMap));
    p.OutputCloudColorMap.clear();
    p.NormalMapImage.reset();
    EXPECT_FALSE(SaveRenderMaps(p, &failed));
    EXPECT_EQ(failed, p.OutputNormalMap);
    EXPECT_TRUE(fs::exists(p.OutputCloudTransparencyMap));
}

}  // namespace
}  // namespace globeforge
