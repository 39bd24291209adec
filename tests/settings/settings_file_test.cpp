#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "settings/settings_test_support.h"

namespace globeforge {
namespace {

using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// A model with every control away from its default.
SettingsModel EveryControlChanged() {
    SettingsModel m;
    m.VersionText = "1.0e-37";
    m.Seed = "-12";
    m.ResX = "1024";
    m.ResY = "abc";
    m.Ovsmp.SetPosition(9);
    m.DeepPartPictureName = "height maps/地形 高さ.bmp";
    m.DeepAutoCreate = true;
    m.DeepColor1 = 0x00123456;
    m.DeepColor2 = 0xFFFFFFFF;
    m.DeepContr.SetPosition(0);
    m.DeepSizeX.SetPosition(100);
    m.DeepSizeY.SetPosition(37);
    m.DeepSeaColor1 = 0;
    m.DeepSeaColor2 = 0x80000000;
    m.DeepSeaThr.SetPosition(40);
    m.DeepIceColor = 0x00ABCDEF;
    m.DeepIceQua.SetPosition(55);
    m.NumOfCrater = "200";
    m.RadOfCrater = "7";
    m.CraterHeight.SetPosition(1);
    m.CraterYuragi.SetPosition(99);
    m.CraterNoise.SetPosition(3);
    m.DeepMixture = MixtureButton::Sub;
    m.DeepTranspare.SetPosition(60);
    m.SurfacePartPictureName = "雲.jpg";
    m.SurfacePartPictureReverse = true;
    m.AirBmpMixture = MixtureButton::Add;
    m.AirBmpTranspare.SetPosition(100);
    m.AirAutoCreate = true;
    m.AirColor1 = 0x00010203;
    m.AirColor2 = 0x00F0E0D0;
    m.AirContr.SetPosition(80);
    m.AirSizeX.SetPosition(2);
    m.AirSizeY.SetPosition(3);
    m.AirMixture = MixtureButton::Sub;
    m.AirTranspare.SetPosition(25);
    m.ColorName = "out/地表 色.bmp";
    m.BumpName = "out/bump map.jpg";
    m.SpecularName = "spec.bmp";
    m.CloudColorName = "c c.bmp";
    m.CloudBumpName = "雲 バンプ.JPG";
    m.CloudTraName = "t.bmp";
    m.forAlphaBlending = true;
    m.HeightDepth16 = true;
    m.NormalName = "out/法線 map.png";
    m.NormalStrength.SetPosition(100);
    return m;
}

TEST(SettingsText, DefaultModelGivesTheFullDefaultFile) {
    const std::string expected =
        "Version 1.0e-37\r\n"
        "LoadHeightmap \r\n"
        "GroundAutoCreate False\r\n"
        "GroundColorHigh $00000080\r\n"
        "GroundColorLow $00cceeff\r\n"
        "GroundContr 100\r\n"
        "GroundXWarp 1\r\n"
        "GroundYWarp 1\r\n"
        "SeaColorShallow $00ff0000\r\n"
        "SeaColorDeep $00800000\r\n"
        "CoastLevel 0\r\n"
        "IceColor $00ffffff\r\n"
        "IceQuantity 0\r\n"
        "NumberOfCraters 0\r\n"
        "CraterBasicRadius 10\r\n"
        "CraterHeight 100\r\n"
        "CraterWarp 50\r\n"
        "CraterNoise 100\r\n"
        "GroundMixtureMode Add\r\n"
        "GroundTransparency 0\r\n"
        "LoadCloudAlpha \r\n"
        "CloudAlphaReverse False\r\n"
        "CloudAlphaMixtureMode Norm\r\n"
        "CloudAlphaTransparency 0\r\n"
        "CloudAutoCreate False\r\n"
        "CloudDarkColor $00ffffff\r\n"
        "CloudLightColor $00c0c0c0\r\n"
        "CloudQuantity 1\r\n"
        "CloudXWarp 1\r\n"
        "CloudYWarp 1\r\n"
        "CloudMixtureMode Norm\r\n"
        "CloudTransparency 0\r\n"
        "OutputColorMap \r\n"
        "OutputBumpMap \r\n"
        "OutputSpeculerMap \r\n"
        "OutputCloudColorMap \r\n"
        "OutputCloudBumpMap \r\n"
        "OutputCloudTransparencyMap \r\n"
        "OutputTransparencyMode TransparencyMap\r\n"
        "RandomSeed 65536\r\n"
        "OverSampling 1\r\n"
        "OutputResolutionX 512\r\n"
        "OutputResolutionY 512\r\n"
        "HeightBitDepth 8\r\n"
        "OutputNormalMap \r\n"
        "NormalStrength 20\r\n"
        "CubeMapFaces False\r\n";
    EXPECT_EQ(SettingsText(SettingsModel{}), expected);
}

TEST(SettingsTable, NamesEveryWidgetOnce) {
    std::set<std::string_view> controls;
    for (const SettingInfo& info : SettingsTable()) {
        for (const std::string_view control : info.controls) {
            if (!control.empty()) {
                EXPECT_TRUE(controls.insert(control).second) << control;
            }
        }
    }
    // 41 single widgets, three groups of three, two pairs
    EXPECT_EQ(controls.size(), 54u);
    EXPECT_EQ(FindSettingByControl("HeightDepth16")->key, "HeightBitDepth");
    ASSERT_NE(FindSettingByControl("AirBmpNorm"), nullptr);
    EXPECT_EQ(FindSettingByControl("AirBmpNorm")->key, "CloudAlphaMixtureMode");
    EXPECT_EQ(FindSettingByControl("forAlphaBlending")->key, "OutputTransparencyMode");
    EXPECT_EQ(FindSettingByControl("Ovsmp")->kind, SettingKind::Spin);
    EXPECT_EQ(FindSettingByControl(""), nullptr);
    EXPECT_EQ(FindSetting("coastlevel"), nullptr);  // keys are case-sensitive
}

TEST(LoadSettings, SaveThenLoadReproducesEveryControl) {
    ScratchDir dir;
    const std::string file = dir / "planet 設定.ORB";
    const SettingsModel saved = EveryControlChanged();
    ASSERT_TRUE(SaveSettings(saved, file).ok);
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("\r\nGroundColorLow $ffffffff\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nGroundMixtureMode Sub\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nOutputTransparencyMode AlphaMap\r\n"), std::string::npos);
    EXPECT_EQ(dir.Count(), 1u);  // no temporary file left

    SettingsModel loaded;
    const SettingsResult result = LoadSettings(loaded, file);
    EXPECT_TRUE(result.ok) << result.message;
    EXPECT_EQ(loaded, saved);

    // And back to the defaults through a file of defaults, replacing the longer one.
    ASSERT_TRUE(SaveSettings(SettingsModel{}, file).ok);
    EXPECT_EQ(ReadFile(file), SettingsText(SettingsModel{}));
    ASSERT_TRUE(LoadSettings(loaded, file).ok);
    EXPECT_EQ(loaded, SettingsModel{});
}

TEST(LoadSettings, ShiftJisFileLoadsAsUtf8) {
    SettingsModel model;
    const std::string file = std::string(GLOBEFORGE_SOURCE_DIR) + "/tests/data/shiftjis.ORB";
    const SettingsResult result = LoadSettings(model, file);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(model.ColorName, "出力/地表色.bmp");  // 表 ends in the byte of a backslash
    EXPECT_EQ(model.BumpName, "出力/ソース バンプ.jpg");
    EXPECT_EQ(model.DeepPartPictureName, "地形/高さ マップ.bmp");
    EXPECT_TRUE(model.DeepAutoCreate);
    EXPECT_EQ(model.DeepSeaThr.Position(), 35);
    EXPECT_EQ(model.Seed, "12345");
}

TEST(LoadSettings, ByteOrderMarkIsSkipped) {
    ScratchDir dir;
    const std::string file = dir / "bom.ORB";
    WriteFile(file,
              "\xEF\xBB\xBF"
              "CoastLevel 40\r\nOutputColorMap 色.bmp\r\n");
    SettingsModel model;
    ASSERT_TRUE(LoadSettings(model, file).ok);
    EXPECT_EQ(model.DeepSeaThr.Position(), 40);
    EXPECT_EQ(model.ColorName, "色.bmp");
}

TEST(ApplySettingsText, MissingKeysLeaveControlsAsTheyWere) {
    SettingsModel model = EveryControlChanged();
    SettingsModel expected = model;
    ASSERT_TRUE(ApplySettingsText(model, "CoastLevel 40", "f").ok);
    expected.DeepSeaThr.SetPosition(40);
    EXPECT_EQ(model, expected);

    // Unknown keys, wrong-case keys, empty and blank lines change nothing.
    ASSERT_TRUE(ApplySettingsText(model, "\r\n  \nFoo 1\ncoastlevel 7\nCoastLevel7\n", "f").ok);
    EXPECT_EQ(model, expected);
}

TEST(ApplySettingsText, ValueRules) {
    SettingsModel model;
    ASSERT_TRUE(ApplySettingsText(model,
                                  "CoastLevel=40\r\n"
                                  "GroundMixtureMode add\r\n"
                                  "CloudMixtureMode Sub\r\n"
                                  "CloudAlphaMixtureMode SUB\r\n"
                                  "GroundAutoCreate TRUE\r\n"
                                  "CloudAutoCreate  tRuE  \r\n"
                                  "CloudAlphaReverse yes\r\n"
                                  "GroundXWarp abc\r\n"
                                  "GroundYWarp 250\r\n"
                                  "CraterHeight -5\r\n"
                                  "IceQuantity $20\r\n"
                                  "OverSampling 12\r\n"
                                  "OutputTransparencyMode transparencymap\r\n"
                                  "GroundColorHigh -1\r\n"
                                  "IceColor   $00ABCDEF  \r\n",
                                  "f")
                    .ok);
    EXPECT_EQ(model.DeepSeaThr.Position(), 40);
    EXPECT_EQ(model.DeepMixture, MixtureButton::Add);  // "add" is not "Add": unchanged
    EXPECT_EQ(model.AirMixture, MixtureButton::Sub);
    EXPECT_EQ(model.AirBmpMixture, MixtureButton::Norm);
    EXPECT_TRUE(model.DeepAutoCreate);
    EXPECT_TRUE(model.AirAutoCreate);
    EXPECT_FALSE(model.SurfacePartPictureReverse);
    EXPECT_EQ(model.DeepSizeX.Position(), 1);  // not a number: 0, limited to the bar's minimum
    EXPECT_EQ(model.DeepSizeY.Position(), 100);
    EXPECT_EQ(model.CraterHeight.Position(), 0);
    EXPECT_EQ(model.DeepIceQua.Position(), 32);
    EXPECT_EQ(model.Ovsmp.Position(), 9);
    EXPECT_TRUE(model.forAlphaBlending);  // anything but "TransparencyMap" selects alpha
    EXPECT_EQ(model.DeepColor1, 0xFFFFFFFFu);
    EXPECT_EQ(model.DeepIceColor, 0x00ABCDEFu);

    ASSERT_TRUE(ApplySettingsText(model, "OutputTransparencyMode TransparencyMap", "f").ok);
    EXPECT_FALSE(model.forAlphaBlending);
    ASSERT_TRUE(ApplySettingsText(model, "OutputTransparencyMode AlphaMap", "f").ok);
    EXPECT_TRUE(model.forAlphaBlending);

    // A key given twice: the later line wins.
    ASSERT_TRUE(ApplySettingsText(model, "CoastLevel 10\nCoastLevel 20\n", "f").ok);
    EXPECT_EQ(model.DeepSeaThr.Position(), 20);
}

TEST(ApplySettingsText, ExtendedOutputKeys) {
    SettingsModel model;
    const auto depthAfter = [&model](std::string_view value) {
        EXPECT_TRUE(
            ApplySettingsLine(model, std::string("HeightBitDepth ") + std::string(value)).ok);
        return model.HeightDepth16 ? 16 : 8;
    };
    EXPECT_EQ(depthAfter("16"), 16);
    EXPECT_EQ(depthAfter("24"), 8);    // only 8 and 16 exist
    EXPECT_EQ(depthAfter("$10"), 16);  // the integer syntax of every numeric key
    EXPECT_EQ(depthAfter("16 bit"), 8);
    EXPECT_EQ(depthAfter(""), 8);

    ASSERT_TRUE(ApplySettingsText(model, "NormalStrength 0\nOutputNormalMap  n m.png \n", "f").ok);
    EXPECT_EQ(model.NormalStrength.Position(), 1);
    EXPECT_EQ(model.NormalName, "n m.png");
    ASSERT_TRUE(ApplySettingsLine(model, "NormalStrength 400").ok);
    EXPECT_EQ(model.NormalStrength.Position(), 100);

    // A file from before these keys leaves their defaults.
    SettingsModel old;
    ASSERT_TRUE(ApplySettingsText(old, "CoastLevel 40\r\nOutputBumpMap b.png\r\n", "f").ok);
    EXPECT_FALSE(old.HeightDepth16);
    EXPECT_EQ(old.NormalName, "");
    EXPECT_EQ(old.NormalStrength.Position(), 20);
}

TEST(SettingsText, AlwaysWritesThisProgramsVersion) {
    SettingsModel model;
    ASSERT_TRUE(ApplySettingsLine(model, "Version 0.9b").ok);
    EXPECT_EQ(model.VersionText, "0.9b");
    EXPECT_TRUE(SettingsText(model).starts_with("Version 1.0e-37\r\n"));
}

TEST(ApplySettingsText, KeysWithoutValues) {
    SettingsModel model = EveryControlChanged();
    ASSERT_TRUE(ApplySettingsText(model,
                                  "Version\nLoadHeightmap\nGroundAutoCreate \nCoastLevel\n"
                                  "GroundXWarp\nOverSampling\nGroundMixtureMode\n"
                                  "OutputTransparencyMode\n",
                                  "f")
                    .ok);
    EXPECT_EQ(model.VersionText, "");
    EXPECT_EQ(model.DeepPartPictureName, "");
    EXPECT_FALSE(model.DeepAutoCreate);
    EXPECT_EQ(model.DeepSeaThr.Position(), 0);
    EXPECT_EQ(model.DeepSizeX.Position(), 1);
    EXPECT_EQ(model.Ovsmp.Position(), 1);
    EXPECT_EQ(model.DeepMixture, MixtureButton::Sub);  // unchanged
    EXPECT_TRUE(model.forAlphaBlending);

    model.forAlphaBlending = false;
    ASSERT_TRUE(ApplySettingsText(model, "OutputTransparencyMode", "f").ok);
    EXPECT_TRUE(model.forAlphaBlending);
}

TEST(ApplySettingsText, BadColourStopsAtItsLine) {
    SettingsModel model;
    // Lines end in CR LF, LF and CR alike; the bad colour is on line 5.
    const SettingsResult result = ApplySettingsText(
        model,
        "CoastLevel 40\r\nIceQuantity 5\nGroundAutoCreate True\r\r\nGroundColorHigh $zz\n"
        "IceColor $00000001\nCraterNoise 7\n",
        "my 設定.ORB");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.line, 5);
    EXPECT_NE(result.message.find("my 設定.ORB"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("line 5"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("$zz"), std::string::npos) << result.message;
    EXPECT_EQ(model.DeepSeaThr.Position(), 40);
    EXPECT_EQ(model.DeepIceQua.Position(), 5);
    EXPECT_TRUE(model.DeepAutoCreate);
    EXPECT_EQ(model.DeepColor1, SettingsModel{}.DeepColor1);
    EXPECT_EQ(model.DeepIceColor, SettingsModel{}.DeepIceColor);
    EXPECT_EQ(model.CraterNoise.Position(), 100);

    // An empty colour value stops the load as well.
    SettingsModel other;
    const SettingsResult empty = ApplySettingsText(other, "CoastLevel 3\nSeaColorDeep\n", "f");
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.line, 2);
    EXPECT_EQ(other.DeepSeaThr.Position(), 3);
}

TEST(ApplySettingsLine, OneLineByTheLoadersRules) {
    SettingsModel model;
    EXPECT_TRUE(ApplySettingsLine(model, "CoastLevel=40").ok);
    EXPECT_TRUE(ApplySettingsLine(model, "OutputColorMap=a b.bmp").ok);
    EXPECT_TRUE(ApplySettingsLine(model, "NoSuchKey=1").ok);
    EXPECT_EQ(model.DeepSeaThr.Position(), 40);
    EXPECT_EQ(model.ColorName, "a b.bmp");

    const SettingsResult bad = ApplySettingsLine(model, "GroundColorHigh=$zz");
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.message.find("GroundColorHigh"), std::string::npos);
    EXPECT_NE(bad.message.find("$zz"), std::string::npos);
    EXPECT_EQ(model.DeepColor1, SettingsModel{}.DeepColor1);
}

TEST(LoadSettings, FilesThatCannotBeReadApplyNothing) {
    ScratchDir dir;
    SettingsModel model = EveryControlChanged();
    const SettingsModel before = model;

    const SettingsResult missing = LoadSettings(model, dir / "none.ORB");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.message.find("none.ORB"), std::string::npos);
    EXPECT_NE(missing.message.find("No such file or directory"), std::string::npos);

    EXPECT_FALSE(LoadSettings(model, dir.path().string()).ok);  // a folder
    const std::string fifo = dir / "fifo.ORB";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(LoadSettings(model, fifo).ok);  // refused, not waited on

    // Too large to be a settings file: refused without reading it (a sparse file, so the
    // test costs no disk space).
    const std::string huge = dir / "huge.ORB";
    WriteFile(huge, "CoastLevel 40\r\n");
    std::filesystem::resize_file(huge, (std::uintmax_t{64} << 20) + 1);
    const SettingsResult tooLarge = LoadSettings(model, huge);
    EXPECT_FALSE(tooLarge.ok);
    EXPECT_NE(tooLarge.message.find("too large"), std::string::npos) << tooLarge.message;
    EXPECT_EQ(model, before);
}

TEST(LoadSettings, JunkAppliesOnlyWhatIsRecognised) {
    ScratchDir dir;
    std::mt19937 rng(7);
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>(rng() & 0xFF);  // NULs, CRs...
    bytes += "\r\nCoastLevel 40\r\n";
    bytes += "OutputColorMap " + std::string(1 << 20, 'x') + "\r\n";  // a line of a megabyte
    bytes += std::string(1000, '\0') + std::string("IceQuantity\0 12\n", 16);
    bytes += "GroundXWarp " + std::string(1 << 20, '9') + "\n";  // a number far out of range
    for (int i = 0; i < 200000; ++i) bytes += static_cast<char>(rng() & 0xFF);
    const std::string file = dir / "junk.ORB";
    WriteFile(file, bytes);

    SettingsModel model;
    const SettingsResult result = LoadSettings(model, file);
    EXPECT_TRUE(result.ok) << result.message;
    EXPECT_EQ(model.DeepSeaThr.Position(), 40);
    EXPECT_EQ(model.ColorName, std::string(1 << 20, 'x'));
    EXPECT_EQ(model.DeepIceQua.Position(), 12);
    EXPECT_EQ(model.DeepSizeX.Position(), 1);

    // A megabyte of bad colour text: the message quotes only its start.
    const SettingsResult bad =
        ApplySettingsText(model, "IceColor " + std::string(1 << 20, 'z'), "f");
    EXPECT_FALSE(bad.ok);
    EXPECT_LT(bad.message.size(), 200u);
}

TEST(SaveSettings, FailureLeavesTheTargetAlone) {
    ScratchDir dir;
    // The target is a folder: nothing may replace it, and no temporary file may stay.
    const std::string folder = dir / "taken.ORB";
    std::filesystem::create_directory(folder);
    WriteFile(folder + "/inside", "keep");
    const SettingsResult result = SaveSettings(SettingsModel{}, folder);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("taken.ORB"), std::string::npos) << result.message;
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(ReadFile(folder + "/inside"), "keep");
    EXPECT_EQ(dir.Count(), 1u);

    EXPECT_FALSE(SaveSettings(SettingsModel{}, dir / "no such folder/a.ORB").ok);
}

TEST(SaveSettings, KeepsLinksAndPermissions) {
    ScratchDir dir;
    const std::string real = dir / "real.ORB";
    const std::string link = dir / "link.ORB";
    WriteFile(real, "old");
    std::filesystem::create_symlink(real, link);
    ASSERT_TRUE(SaveSettings(SettingsModel{}, link).ok);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(real), SettingsText(SettingsModel{}));

    // A replaced file keeps its permissions.
    std::filesystem::permissions(
        real, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(SaveSettings(SettingsModel{}, real).ok);
    EXPECT_EQ(std::filesystem::status(real).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace globeforge
