#include "settings/gather_render_params.h"

#include <gtest/gtest.h>

#include <variant>

namespace globeforge {
namespace {

TEST(GatherRenderParams, DefaultControlsGiveTheDefaultRecord) {
    const RenderParams expected;
    const RenderParams p = GatherRenderParams(SettingsModel{});
    EXPECT_EQ(p.RandomSeed, expected.RandomSeed);
    EXPECT_EQ(p.OutputResolutionX, expected.OutputResolutionX);
    EXPECT_EQ(p.OutputResolutionY, expected.OutputResolutionY);
    EXPECT_EQ(p.OverSampling, expected.OverSampling);
    EXPECT_EQ(p.LoadHeightmap, expected.LoadHeightmap);
    EXPECT_EQ(p.GroundAutoCreate, expected.GroundAutoCreate);
    EXPECT_EQ(p.GroundColorHigh, expected.GroundColorHigh);
    EXPECT_EQ(p.GroundColorLow, expected.GroundColorLow);
    EXPECT_EQ(p.GroundContr, expected.GroundContr);
    EXPECT_EQ(p.GroundXWarp, expected.GroundXWarp);
    EXPECT_EQ(p.GroundYWarp, expected.GroundYWarp);
    EXPECT_EQ(p.SeaColorShallow, expected.SeaColorShallow);
    EXPECT_EQ(p.SeaColorDeep, expected.SeaColorDeep);
    EXPECT_EQ(p.CoastLevel, expected.CoastLevel);
    EXPECT_EQ(p.IceColor, expected.IceColor);
    EXPECT_EQ(p.IceQuantity, expected.IceQuantity);
    EXPECT_EQ(p.NumberOfCraters, expected.NumberOfCraters);
    EXPECT_EQ(p.CraterBasicRadius, expected.CraterBasicRadius);
    EXPECT_EQ(p.CraterHeight, expected.CraterHeight);
    EXPECT_EQ(p.CraterWarp, expected.CraterWarp);
    EXPECT_EQ(p.CraterNoise, expected.CraterNoise);
    EXPECT_EQ(p.GroundMixtureMode, expected.GroundMixtureMode);
    EXPECT_EQ(p.GroundTransparency, expected.GroundTransparency);
    EXPECT_EQ(p.LoadCloudAlpha, expected.LoadCloudAlpha);
    EXPECT_EQ(p.CloudAlphaReverse, expected.CloudAlphaReverse);
    EXPECT_EQ(p.CloudAlphaMixtureMode, expected.CloudAlphaMixtureMode);
    EXPECT_EQ(p.CloudAlphaTransparency, expected.CloudAlphaTransparency);
    EXPECT_EQ(p.CloudAutoCreate, expected.CloudAutoCreate);
    EXPECT_EQ(p.CloudDarkColor, expected.CloudDarkColor);
    EXPECT_EQ(p.CloudLightColor, expected.CloudLightColor);
    EXPECT_EQ(p.CloudQuantity, expected.CloudQuantity);
    EXPECT_EQ(p.CloudXWarp, expected.CloudXWarp);
    EXPECT_EQ(p.CloudYWarp, expected.CloudYWarp);
    EXPECT_EQ(p.CloudMixtureMode, expected.CloudMixtureMode);
    EXPECT_EQ(p.CloudTransparency, expected.CloudTransparency);
    EXPECT_EQ(p.OutputTransparencyMode, expected.OutputTransparencyMode);
    EXPECT_EQ(p.OutputColorMap, "");
    EXPECT_EQ(p.OutputSpeculerMap, "");
    EXPECT_EQ(p.OutputBumpMap, "");
    EXPECT_EQ(p.OutputCloudColorMap, "");
    EXPECT_EQ(p.OutputCloudBumpMap, "");
    EXPECT_EQ(p.OutputCloudTransparencyMap, "");
}

TEST(GatherRenderParams, ConvertsEachKindOfControl) {
    SettingsModel m;
    m.Seed = "abc";
    m.ResX = "$10";
    m.ResY = "-7";
    m.NumOfCrater = "12 ";
    m.RadOfCrater = "  25";
    m.Ovsmp.SetPosition(4);
    m.DeepColor1 = 0xFF102030;  // the high byte plays no part
    m.DeepMixture = MixtureButton::Norm;
    m.AirBmpMixture = MixtureButton::Sub;
    m.AirMixture = MixtureButton::Add;
    m.forAlphaBlending = true;
    m.DeepPartPictureName = "  in put.bmp ";  // input names are taken as they stand
    m.ColorName = "   ";
    m.SpecularName = "\t spec map.bmp \r";
    m.BumpName = "地表\xE3\x80\x80";  // ends in U+3000, which is not a blank byte
    m.CloudColorName = "a";
    m.CloudBumpName = std::string("\0b\x1F", 3);
    m.CloudTraName = " \xC3\xA9 ";

    const RenderParams p = GatherRenderParams(m);
    EXPECT_EQ(p.RandomSeed, 0);
    EXPECT_EQ(p.OutputResolutionX, 16);
    EXPECT_EQ(p.OutputResolutionY, -7);
    EXPECT_EQ(p.NumberOfCraters, 0);
    EXPECT_EQ(p.CraterBasicRadius, 25);
    EXPECT_EQ(p.OverSampling, 4);
    EXPECT_EQ(p.GroundColorHigh, (FloatPixel{48, 32, 16, 255}));
    EXPECT_EQ(p.GroundMixtureMode, kMixNorm);
    EXPECT_EQ(p.CloudAlphaMixtureMode, kMixSub);
    EXPECT_EQ(p.CloudMixtureMode, kMixAdd);
    EXPECT_TRUE(p.OutputTransparencyMode);
    EXPECT_EQ(p.LoadHeightmap, "  in put.bmp ");
    EXPECT_EQ(p.OutputColorMap, "");
    EXPECT_EQ(p.OutputSpeculerMap, "spec map.bmp");
    EXPECT_EQ(p.OutputBumpMap, "地表\xE3\x80\x80");
    EXPECT_EQ(p.OutputCloudColorMap, "a");
    EXPECT_EQ(p.OutputCloudBumpMap, "b");
    EXPECT_EQ(p.OutputCloudTransparencyMap, "\xC3\xA9");
}

// The table's parameter column: a row that shared another's field would leave one
// parameter at its default and feed the other twice.
TEST(GatherRenderParams, EverySettingFeedsAFieldOfItsOwn) {
    const auto& table = SettingsTable();
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(std::holds_alternative<std::monostate>(table[i].param),
                  table[i].kind == SettingKind::Version)
            << table[i].key;
        for (size_t j = i + 1; j < table.size(); ++j)
            EXPECT_NE(table[i].param, table[j].param) << table[i].key << " " << table[j].key;
    }
}

// Every list of maps walks kMapSlots: each slot must name a text setting and its own record
// fields, in the order the maps are written.
TEST(GatherRenderParams, EveryMapSlotNamesItsSettingAndFields) {
    SettingsModel m;
    for (const MapSlot& slot : kMapSlots) {
        const SettingInfo* info = FindSetting(slot.settingsKey);
        ASSERT_NE(info, nullptr) << slot.settingsKey;
        ASSERT_NE(SettingValue<std::string>(m, *info), nullptr) << slot.settingsKey;
        MapNameSetting(m, slot) = std::string(" ") + slot.role + ".png ";
        EXPECT_EQ(&SlotOf(slot.kind), &slot);
    }
    RenderParams params = GatherRenderParams(m);
    EXPECT_EQ(params.OutputColorMap, "color.png");
    EXPECT_EQ(params.OutputSpeculerMap, "specular.png");
    EXPECT_EQ(params.OutputBumpMap, "bump.png");
    EXPECT_EQ(params.OutputCloudColorMap, "cloud_color.png");
    EXPECT_EQ(params.OutputCloudBumpMap, "cloud_bump.png");
    EXPECT_EQ(params.OutputCloudTransparencyMap, "cloud_transparency.png");
    EXPECT_EQ(params.OutputNormalMap, "normal.png");
    EXPECT_EQ(m.NormalName, " normal.png ");
    FreeRenderMaps(params);
    for (const MapSlot& slot : kMapSlots) {
        params.*slot.image = NewImage(1, 1);
        EXPECT_EQ(slot.heightMap, slot.kind == MapKind::Bump || slot.kind == MapKind::CloudBump);
    }
    FreeRenderMaps(params);
    EXPECT_FALSE(params.ColorMapImage || params.NormalMapImage || params.CloudBumpMapImage);
}

TEST(GatherRenderParams, KeepsTheRecordsImages) {
    RenderParams params;
    params.ColorMapImage = NewImage(2, 2);
    ASSERT_TRUE(params.ColorMapImage);
    SettingsModel m;
    m.DeepSeaThr.SetPosition(33);
    GatherRenderParams(m, params);
    EXPECT_EQ(params.CoastLevel, 33);
    EXPECT_TRUE(params.ColorMapImage);
}

}  // namespace
}  // namespace globeforge
