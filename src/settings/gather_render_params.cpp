#include "settings/gather_render_params.h"

#include <string>
#include <variant>

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

namespace {

template <class T>
T& Param(RenderParams& params, const SettingInfo& info) {
    return params.*std::get<T RenderParams::*>(info.param);
}

// One control's state in the form the render takes it.
void GatherSetting(const SettingsModel& model, const SettingInfo& info, RenderParams& params) {
    switch (info.kind) {
        case SettingKind::Version:
            return;
        case SettingKind::Text: {
            const std::string& text = *SettingValue<std::string>(model, info);
            if (std::holds_alternative<int32_t RenderParams::*>(info.param)) {
                Param<int32_t>(params, info) = SafeStrToInt(text);
            } else {
                Param<std::string>(params, info) = text;
            }
            return;
        }
        case SettingKind::Bool:
        case SettingKind::TransparencyMode:
            Param<bool>(params, info) = *SettingValue<bool>(model, info);
            return;
        case SettingKind::Color:
            Param<FloatPixel>(params, info) =
                PanelColorToPixel(*SettingValue<PanelColor>(model, info));
            return;
        case SettingKind::TrackBar:
        case SettingKind::Spin:
            Param<int32_t>(params, info) = SettingValue<TrackBar>(model, info)->Position();
            return;
        case SettingKind::Mixture:
            Param<uint8_t>(params, info) = MixtureMode(*SettingValue<MixtureButton>(model, info));
            return;
        case SettingKind::HeightDepth:
            Param<int32_t>(params, info) = *SettingValue<bool>(model, info) ? 16 : 8;
            return;
    }
}

}  // namespace

void GatherRenderParams(const SettingsModel& model, RenderParams& params) {
    for (const SettingInfo& info : SettingsTable()) GatherSetting(model, info, params);
    // Output names lose surrounding blanks, so a name of blanks builds no map.
    for (const MapSlot& slot : kMapSlots)
        params.*slot.name = TrimBlanks(MapNameSetting(model, slot));
    // Every map written carries the settings that made it.
    params.SettingsText = SettingsText(model);
}

RenderParams GatherRenderParams(const SettingsModel& model) {
    RenderParams params;
    GatherRenderParams(model, params);
    return params;
}

}  // namespace globeforge
