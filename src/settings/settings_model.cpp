#include "settings/settings_model.h"

namespace globeforge {

namespace {

using M = SettingsModel;
using K = SettingKind;

constexpr std::array<SettingInfo, kSettingCount> kTable{{
    {"Version", K::Version, {}, &M::VersionText},
    {"LoadHeightmap", K::Text, {"DeepPartPictureName"}, &M::DeepPartPictureName},
    {"GroundAutoCreate", K::Bool, {"DeepAutoCreate"}, &M::DeepAutoCreate},
    {"GroundColorHigh", K::Color, {"DeepColor1"}, &M::DeepColor1},
    {"GroundColorLow", K::Color, {"DeepColor2"}, &M::DeepColor2},
    {"GroundContr", K::TrackBar, {"DeepContr"}, &M::DeepContr},
    {"GroundXWarp", K::TrackBar, {"DeepSizeX"}, &M::DeepSizeX},
    {"GroundYWarp", K::TrackBar, {"DeepSizeY"}, &M::DeepSizeY},
    {"SeaColorShallow", K::Color, {"DeepSeaColor1"}, &M::DeepSeaColor1},
    {"SeaColorDeep", K::Color, {"DeepSeaColor2"}, &M::DeepSeaColor2},
    {"CoastLevel", K::TrackBar, {"DeepSeaThr"}, &M::DeepSeaThr},
    {"IceColor", K::Color, {"DeepIceColor"}, &M::DeepIceColor},
    {"IceQuantity", K::TrackBar, {"DeepIceQua"}, &M::DeepIceQua},
    {"NumberOfCraters", K::Text, {"NumOfCrater"}, &M::NumOfCrater},
    {"CraterBasicRadius", K::Text, {"RadOfCrater"}, &M::RadOfCrater},
    {"CraterHeight", K::TrackBar, {"CraterHeight"}, &M::CraterHeight},
    {"CraterWarp", K::TrackBar, {"CraterYuragi"}, &M::CraterYuragi},
    {"CraterNoise", K::TrackBar, {"CraterNoise"}, &M::CraterNoise},
    {"GroundMixtureMode", K::Mixture, {"DeepAdd", "DeepNorm", "DeepSub"}, &M::DeepMixture},
    {"GroundTransparency", K::TrackBar, {"DeepTranspare"}, &M::DeepTranspare},
    {"LoadCloudAlpha", K::Text, {"SurfacePartPictureName"}, &M::SurfacePartPictureName},
    {"CloudAlphaReverse", K::Bool, {"SurfacePartPictureReverse"}, &M::SurfacePartPictureReverse},
    {"CloudAlphaMixtureMode",
     K::Mixture,
     {"AirBmpAdd", "AirBmpNorm", "AirBmpSub"},
     &M::AirBmpMixture},
    {"CloudAlphaTransparency", K::TrackBar, {"AirBmpTranspare"}, &M::AirBmpTranspare},
    {"CloudAutoCreate", K::Bool, {"AirAutoCreate"}, &M::AirAutoCreate},
    {"CloudDarkColor", K::Color, {"AirColor1"}, &M::AirColor1},
    {"CloudLightColor", K::Color, {"AirColor2"}, &M::AirColor2},
    {"CloudQuantity", K::TrackBar, {"AirContr"}, &M::AirContr},
    {"CloudXWarp", K::TrackBar, {"AirSizeX"}, &M::AirSizeX},
    {"CloudYWarp", K::TrackBar, {"AirSizeY"}, &M::AirSizeY},
    {"CloudMixtureMode", K::Mixture, {"AirAdd", "AirNorm", "AirSub"}, &M::AirMixture},
    {"CloudTransparency", K::TrackBar, {"AirTranspare"}, &M::AirTranspare},
    {"OutputColorMap", K::Text, {"ColorName"}, &M::ColorName},
    {"OutputBumpMap", K::Text, {"BumpName"}, &M::BumpName},
    {"OutputSpeculerMap", K::Text, {"SpecularName"}, &M::SpecularName},
    {"OutputCloudColorMap", K::Text, {"CloudColorName"}, &M::CloudColorName},
    {"OutputCloudBumpMap", K::Text, {"CloudBumpName"}, &M::CloudBumpName},
    {"OutputCloudTransparencyMap", K::Text, {"CloudTraName"}, &M::CloudTraName},
    {"OutputTransparencyMode",
     K::TransparencyMode,
     {"forTranspareMappinng", "forAlphaBlending"},
     &M::forAlphaBlending},
    {"RandomSeed", K::Text, {"Seed"}, &M::Seed},
    {"OverSampling", K::Spin, {"Ovsmp"}, &M::Ovsmp},
    {"OutputResolutionX", K::Text, {"ResX"}, &M::ResX},
    {"OutputResolutionY", K::Text, {"ResY"}, &M::ResY},
    {"HeightBitDepth", K::HeightDepth, {"HeightDepth8", "HeightDepth16"}, &M::HeightDepth16},
    {"OutputNormalMap", K::Text, {"NormalName"}, &M::NormalName},
    {"NormalStrength", K::TrackBar, {"NormalStrength"}, &M::NormalStrength},
    {"CubeMapFaces", K::Bool, {"CubeMapFaces"}, &M::CubeMapFaces},
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
