// The command line of globeforge-render: a settings file plus overrides.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/language.h"
#include "core/render_params.h"
#include "core/version.h"
#include "gltf/gltf_export.h"
#include "settings/settings_model.h"

namespace globeforge {

inline constexpr const char* kGlobeForgeVersion = kVersionText;

struct CliOptions {
    std::string settingsFile;
    std::string settingsFrom;  // a map whose embedded settings replace the settings file
    std::string outDir;
    std::string dumpStages;  // folder for every stage image; empty: none
    std::string writeSettings;
    std::optional<std::string> seed;
    std::optional<std::pair<std::string, std::string>> size;
    std::optional<int32_t> oversampling;
    std::vector<std::string> sets;  // KEY=VALUE lines, in order
    std::optional<int32_t> jpegQuality;
    int32_t threads = 0;  // 0: every core
    // Globe pictures of the render: --globe, --turntable and their settings.
    std::string globe;
    std::string turntable;
    std::optional<int32_t> globeSize;
    std::optional<std::pair<double, double>> globeView;  // longitude, latitude in degrees
    std::optional<std::pair<double, double>> globeSun;   // azimuth, elevation in degrees
    std::optional<int32_t> frames;
    // The planet as a glTF asset: --gltf FILE for one render, --gltf-each for a batch
    // (NAME.glb in every planet's folder), and the export's settings.
    std::string gltf;
    bool gltfEach = false;
    std::optional<double> gltfRadius;
    std::optional<double> gltfCloudRadius;
    std::optional<int32_t> gltfSegments;
    std::optional<int32_t> gltfMaxTexture;
    bool WantsGltf() const { return !gltf.empty() || gltfEach; }
    bool preview = false;
    bool quiet = false;
    bool strict = false;  // a settings file's warnings are errors
    bool help = false;
    bool version = false;
    std::optional<LanguageChoice> language;  // --lang; else the locale decides
    // A batch of planets: a table (or a range of seeds) applied over the settings file.
    std::string batchTable;
    std::string seedRange;
    std::string shard;  // "K/N"
    int32_t jobs = 1;
    bool IsBatch() const { return !batchTable.empty() || !seedRange.empty(); }
};

// False with a message for a usage error.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// Applies --seed, --size, --oversampling and --set to the model, in that order, so a
// --set line can still override the others. Returns a message for a bad override.
std::string ApplyCliOverrides(const CliOptions& options, SettingsModel& model);

// The window's preview: 128 x 128, oversampling 1, every map under a default name when
// none is named. Applied to the settings, so the maps record the preview they are.
void ApplyPreview(SettingsModel& model);

// The export settings of --gltf-radius, --gltf-cloud-radius, --gltf-segments and
// --gltf-max-texture; the cloud sphere keeps its height over the ground when only the
// ground's radius is given.
GltfOptions CliGltfOptions(const CliOptions& options);

// The side of --globe pictures and of --turntable frames when --globe-size is not given.
inline constexpr int32_t kDefaultGlobeSize = 1024;
inline constexpr int32_t kDefaultTurntableSize = 512;

std::string CliHelpText();

}  // namespace globeforge
