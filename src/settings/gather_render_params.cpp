#include "settings/gather_render_params.h"

#include "settings/settings_file.h"
#include "settings/tokenizer.h"

namespace globeforge {

FloatPixel PanelColorToPixel(PanelColor color) {
    return {static_cast<float>(color & 0xFF), static_cast<float>((color >> 8) & 0xFF),
            static_cast<float>((color >> 16) & 0xFF), 255.0f};
}

uint8_t MixtureMode(MixtureButton button) {
    switch (button) {
        case MixtureButton::Add:
            return kMixAdd;
        case MixtureButton::Norm:
            return kMixNorm;
        case MixtureButton::Sub:
            return kMixSub;
    }
    return kMixSub;
}

const std::string& MapNameSetting(const SettingsModel& model, const MapSlot& slot) {
    return *SettingValue<std::string>(model, *FindSetting(slot.settingsKey));
}

std::string& MapNameSetting(SettingsModel& model, const MapSlot& slot) {
    return *SettingValue<std::string>(model, *FindSetting(slot.settingsKey));
}

void GatherRenderParams(const SettingsModel& model, RenderParams& params) {
    params.RandomSeed = SafeStrToInt(model.Seed);
    params.OutputResolutionX = SafeStrToInt(model.ResX);
    params.OutputResolutionY = SafeStrToInt(model.ResY);
    params.OverSampling = model.Ovsmp.Position();
    params.LoadHeightmap = model.DeepPartPictureName;
    params.GroundAutoCreate = model.DeepAutoCreate;
    params.GroundColorHigh = PanelColorToPixel(model.DeepColor1);
    params.GroundColorLow = PanelColorToPixel(model.DeepColor2);
    params.GroundContr = model.DeepContr.Position();
    params.GroundXWarp = model.DeepSizeX.Position();
    params.GroundYWarp = model.DeepSizeY.Position();
    params.SeaColorShallow = PanelColorToPixel(model.DeepSeaColor1);
    params.SeaColorDeep = PanelColorToPixel(model.DeepSeaColor2);
    params.CoastLevel = model.DeepSeaThr.Position();
    params.IceColor = PanelColorToPixel(model.DeepIceColor);
    params.IceQuantity = model.DeepIceQua.Position();
    params.NumberOfCraters = SafeStrToInt(model.NumOfCrater);
    params.CraterBasicRadius = SafeStrToInt(model.RadOfCrater);
    params.CraterHeight = model.CraterHeight.Position();
    params.CraterWarp = model.CraterYuragi.Position();
    params.CraterNoise = model.CraterNoise.Position();
    params.GroundMixtureMode = MixtureMode(model.DeepMixture);
    params.GroundTransparency = model.DeepTranspare.Position();
    params.LoadCloudAlpha = model.SurfacePartPictureName;
    params.CloudAlphaReverse = model.SurfacePartPictureReverse;
    params.CloudAlphaMixtureMode = MixtureMode(model.AirBmpMixture);
    params.CloudAlphaTransparency = model.AirBmpTranspare.Position();
    params.CloudAutoCreate = model.AirAutoCreate;
    params.CloudDarkColor = PanelColorToPixel(model.AirColor1);
    params.CloudLightColor = PanelColorToPixel(model.AirColor2);
    params.CloudQuantity = model.AirContr.Position();
    params.CloudXWarp = model.AirSizeX.Position();
    params.CloudYWarp = model.AirSizeY.Position();
    params.CloudMixtureMode = MixtureMode(model.AirMixture);
    params.CloudTransparency = model.AirTranspare.Position();
    params.OutputTransparencyMode = model.forAlphaBlending;
    // Output names lose surrounding blanks, so a name of blanks builds no map.
    for (const MapSlot& slot : kMapSlots)
        params.*slot.name = TrimBlanks(MapNameSetting(model, slot));
    params.HeightBitDepth = model.HeightDepth16 ? 16 : 8;
    params.NormalStrength = model.NormalStrength.Position();
    params.CubeMapFaces = model.CubeMapFaces;
    // Every map written carries the settings that made it.
    params.SettingsText = SettingsText(model);
}

RenderParams GatherRenderParams(const SettingsModel& model) {
    RenderParams params;
    GatherRenderParams(model, params);
    return params;
}

}  // namespace globeforge
