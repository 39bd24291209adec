// Settings as Python sees them: the settings model of a render plus the JPEG quality a map
// recorded, changed key by key with the command line's checks.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

#include "settings/settings_model.h"

namespace globeforge::python {

struct PySettings {
    SettingsModel model;
    // The quality the map the settings came from was written with (Settings.from_map).
    std::optional<int32_t> jpegQuality;
};

// Sets one key from text as `--set KEY=VALUE` would; throws KeyError for an unknown key and
// ValueError, naming the key and the values it takes, for a value it does not take.
void SetSettingText(SettingsModel& model, const std::string& key, const std::string& text);

void BindSettings(pybind11::module_& m);

}  // namespace globeforge::python
