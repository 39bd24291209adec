#include "settings/settings_model.h"

namespace globeforge {

namespace {

using M = SettingsModel;
using P = RenderParams;
using K = SettingKind;

constexpr std::array<SettingInfo, kSettingCount> kTable{{
    {"Version", K::Version, {}, &M::VersionText, {}},
    {"LoadHeightmap", K::Text, {"DeepPartPictureName"}, &M::DeepPartPictureName, &P::LoadHeightmap},
    {"GroundAutoCreate", K::Bool, {"DeepAutoCreate"}, &M::DeepAutoCreate, &P::GroundAutoCreate},
    {"GroundColorHigh", K::Color, {"DeepColor1"}, &M::DeepColor1, &P::GroundColorHigh},
    {"GroundColorLow", K::Color, {"DeepColor2"}, &M::DeepColor2, &P::GroundColorLow},
    {"GroundContr", K::TrackBar, {"DeepContr"}, &M::DeepContr, &P::GroundContr},
    {"GroundXWarp", K::TrackBar, {"DeepSizeX"}, &M::DeepSizeX, &P::GroundXWarp},
    {"GroundYWarp", K::TrackBar, {"DeepSizeY"}, &M::DeepSizeY, &P::GroundYWarp},
    {"SeaColorShallow", K::Color, {"DeepSeaColor1"}, &M::DeepSeaColor1, &P::SeaColorShallow},
    {"SeaColorDeep", K::Color, {"DeepSeaColor2"}, &M::DeepSeaColor2, &P::SeaColorDeep},
    {"CoastLevel", K::TrackBar, {"DeepSeaThr"}, &M::DeepSeaThr, &P::CoastLevel},
    {"IceColor", K::Color, {"DeepIceColor"}, &M::DeepIceColor, &P::IceColor},
    {"IceQuantity", K::TrackBar, {"DeepIceQua"}, &M::DeepIceQua, &P::IceQuantity},
    {"NumberOfCraters", K::Text, {"NumOfCrater"}, &M::NumOfCrater, &P::NumberOfCraters},
    {"CraterBasicRadius", K::Text, {"RadOfCrater"}, &M::RadOfCrater, &P::CraterBasicRadius},
    {"CraterHeight", K::TrackBar, {"CraterHeight"}, &M::CraterHeight, &P::CraterHeight},
    {"CraterWarp", K::TrackBar, {"CraterYuragi"}, &M::CraterYuragi, &P::CraterWarp},
    {"CraterNoise", K::TrackBar, {"CraterNoise"}, &M::CraterNoise, &P::CraterNoise},
    {"GroundMixtureMode",
     K::Mixture,
     {"DeepAdd", "DeepNorm", "DeepSub"},
     &M::DeepMixture,
     &P::GroundMixtureMode},
    {"GroundTransparency",
     K::TrackBar,
     {"DeepTranspare"},
     &M::DeepTranspare,
     &P::GroundTransparency},
    {"LoadCloudAlpha",
     K::Text,
     {"SurfacePartPictureName"},
     &M::SurfacePartPictureName,
     &P::LoadCloudAlpha},
    {"CloudAlphaReverse",
     K::Bool,
     {"SurfacePartPictureReverse"},
     &M::SurfacePartPictureReverse,
     &P::CloudAlphaReverse},
    {"CloudAlphaMixtureMode",
     K::Mixture,
     {"AirBmpAdd", "AirBmpNorm", "AirBmpSub"},
     &M::AirBmpMixture,
     &P::CloudAlphaMixtureMode},
    {"CloudAlphaTransparency",
     K::TrackBar,
     {"AirBmpTranspare"},
     &M::AirBmpTranspare,
     &P::CloudAlphaTransparency},
    {"CloudAutoCreate", K::Bool, {"AirAutoCreate"}, &M::AirAutoCreate, &P::CloudAutoCreate},
    {"CloudDarkColor", K::Color, {"AirColor1"}, &M::AirColor1, &P::CloudDarkColor},
    {"CloudLightColor", K::Color, {"AirColor2"}, &M::AirColor2, &P::CloudLightColor},
    {"CloudQuantity", K::TrackBar, {"AirContr"}, &M::AirContr, &P::CloudQuantity},
    {"CloudXWarp", K::TrackBar, {"AirSizeX"}, &M::AirSizeX, &P::CloudXWarp},
    {"CloudYWarp", K::TrackBar, {"AirSizeY"}, &M::AirSizeY, &P::CloudYWarp},
    {"CloudMixtureMode",
     K::Mixture,
     {"AirAdd", "AirNorm", "AirSub"},
     &M::AirMixture,
     &P::CloudMixtureMode},
    {"CloudTransparency", K::TrackBar, {"AirTranspare"}, &M::AirTranspare, &P::CloudTransparency},
    {"OutputColorMap", K::Text, {"ColorName"}, &M::ColorName, &P::OutputColorMap},
    {"OutputBumpMap", K::Text, {"BumpName"}, &M::BumpName, &P::OutputBumpMap},
    {"OutputSpeculerMap", K::Text, {"SpecularName"}, &M::SpecularName, &P::OutputSpeculerMap},
    {"OutputCloudColorMap",
     K::Text,
     {"CloudColorName"},
     &M::CloudColorName,
     &P::OutputCloudColorMap},
    {"OutputCloudBumpMap", K::Text, {"CloudBumpName"}, &M::CloudBumpName, &P::OutputCloudBumpMap},
    {"OutputCloudTransparencyMap",
     K::Text,
     {"CloudTraName"},
     &M::CloudTraName,
     &P::OutputCloudTransparencyMap},
    {"OutputTransparencyMode",
     K::TransparencyMode,
     {"forTranspareMappinng", "forAlphaBlending"},
     &M::forAlphaBlending,
     &P::OutputTransparencyMode},
    {"RandomSeed", K::Text, {"Seed"}, &M::Seed, &P::RandomSeed},
    {"OverSampling", K::Spin, {"Ovsmp"}, &M::Ovsmp, &P::OverSampling},
    {"OutputResolutionX", K::Text, {"ResX"}, &M::ResX, &P::OutputResolutionX},
    {"OutputResolutionY", K::Text, {"ResY"}, &M::ResY, &P::OutputResolutionY},
    {"HeightBitDepth",
     K::HeightDepth,
     {"HeightDepth8", "HeightDepth16"},
     &M::HeightDepth16,
     &P::HeightBitDepth},
    {"OutputNormalMap", K::Text, {"NormalName"}, &M::NormalName, &P::OutputNormalMap},
    {"NormalStrength", K::TrackBar, {"NormalStrength"}, &M::NormalStrength, &P::NormalStrength},
    {"CubeMapFaces", K::Bool, {"CubeMapFaces"}, &M::CubeMapFaces, &P::CubeMapFaces},
}};

}  // namespace

const std::array<SettingInfo, kSettingCount>& SettingsTable() {
    return kTable;
}

const SettingInfo* FindSetting(std::string_view key) {
    for (const SettingInfo& info : kTable) {
        if (info.key == key) return &info;
    }
    return nullptr;
}

const SettingInfo* FindSettingByControl(std::string_view controlName) {
    if (controlName.empty()) return nullptr;
    for (const SettingInfo& info : kTable) {
        for (const std::string_view control : info.controls) {
            if (control == controlName) return &info;
        }
    }
    return nullptr;
}

}  // namespace globeforge
