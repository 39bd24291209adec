// Filling a render's inputs from the window's control states: integer text fields through
// SafeStrToInt, colour panels as opaque pixels, radio groups as mixture modes, and output
// names trimmed so that a name of blanks counts as no name.
#pragma once

#include "core/render_params.h"
#include "settings/settings_model.h"

namespace globeforge {

// A panel colour 0x00BBGGRR as a pixel: R from bits 0-7, G from 8-15, B from 16-23, A 255.
FloatPixel PanelColorToPixel(PanelColor color);

// The mixture-mode value of a radio group: Add 0, Norm 2, Sub 1.
uint8_t MixtureMode(MixtureButton button);

// The output name the model holds for a map (the text of the slot's settings key).
const std::string& MapNameSetting(const SettingsModel& model, const MapSlot& slot);
std::string& MapNameSetting(SettingsModel& model, const MapSlot& slot);

// Sets every input field of params from the model, and SettingsText to the model's settings
// file text; leaves WorkImage and the result images as they were.
void GatherRenderParams(const SettingsModel& model, RenderParams& params);

// A fresh record with the inputs of the model.
RenderParams GatherRenderParams(const SettingsModel& model);

}  // namespace globeforge
