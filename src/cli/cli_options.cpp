#include "cli/cli_options.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>

#include "globe/globe.h"
#include "globe/turntable.h"
#include "gltf/sphere_mesh.h"
#include "settings/gather_render_params.h"
#include "settings/settings_file.h"
#include "settings/tokenizer.h"
#include "settings/typed_value.h"

namespace globeforge {

namespace {

bool ParseInt(const std::string& text, int64_t lo, int64_t hi, int32_t& out) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || value < lo || value > hi) return false;
    out = static_cast<int32_t>(value);
    return true;
}

// "A,B" as two finite decimal numbers.
bool ParsePair(const std::string& text, std::pair<double, double>& out) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    const auto number = [](const std::string& part, double& v) {
        const char* end = part.data() + part.size();
        auto [ptr, ec] = std::from_chars(part.data(), end, v);
        return !part.empty() && ec == std::errc() && ptr == end && std::isfinite(v);
    };
    return number(text.substr(0, comma), out.first) && number(text.substr(comma + 1), out.second);
}

// The --gltf options; false with error set for a bad value. Ranges are checked here so the
// message names the option; what depends on several of them is CheckGltfOptions' to say.
bool ParseGltfOption(const std::string& name, const std::string& value, CliOptions& options,
                     std::string& error) {
    if (name == "--gltf") {
        if (value.empty()) {
            error = "--gltf needs a file name ending in .glb or .gltf";
            return false;
        }
        options.gltf = value;
    } else if (name == "--gltf-radius" || name == "--gltf-cloud-radius") {
        double r = 0;
        const char* end = value.data() + value.size();
        auto [ptr, ec] = std::from_chars(value.data(), end, r);
        if (value.empty() || ec != std::errc() || ptr != end || !std::isfinite(r) || r <= 0) {
            error = name + " needs a positive number, not '" + value + "'";
            return false;
        }
        (name == "--gltf-radius" ? options.gltfRadius : options.gltfCloudRadius) = r;
    } else if (name == "--gltf-segments") {
        int32_t n = 0;
        if (!ParseInt(value, kMinSphereSegments, kMaxSphereSegments, n)) {
            error = "--gltf-segments needs a whole number from " +
                    std::to_string(kMinSphereSegments) + " to " +
                    std::to_string(kMaxSphereSegments) + ", not '" + value + "'";
            return false;
        }
        options.gltfSegments = n;
    } else {
        int32_t n = 0;
        if (!ParseInt(value, kMinGltfTexture, kMaxGltfTexture, n)) {
            error = "--gltf-max-texture needs a whole number of pixels from " +
                    std::to_string(kMinGltfTexture) + " to " + std::to_string(kMaxGltfTexture) +
                    ", not '" + value + "'";
            return false;
        }
        options.gltfMaxTexture = n;
    }
    return true;
}

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options,
                     std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // Options that take a value accept both "--opt VALUE" and "--opt=VALUE".
        std::string name = arg, value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            if (const size_t eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                hasInlineValue = true;
            }
        }
        const auto takeValue = [&]() -> bool {
            if (hasInlineValue) return true;
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };

        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--preview") {
            options.preview = true;
        } else if (name == "--strict") {
            options.strict = true;
        } else if (name == "--quiet" || name == "-q") {
            options.quiet = true;
        } else if (name == "--out-dir") {
            if (!takeValue()) return false;
            options.outDir = value;
        } else if (name == "--dump-stages") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "--dump-stages needs the name of a folder";
                return false;
            }
            options.dumpStages = value;
        } else if (name == "--settings-from") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "--settings-from needs the name of a map";
                return false;
            }
            options.settingsFrom = value;
        } else if (name == "--write-settings") {
            if (!takeValue()) return false;
            options.writeSettings = value;
        } else if (name == "--seed") {
            if (!takeValue()) return false;
            if (const std::optional<std::string> problem = CheckTypedValue("RandomSeed", value)) {
                error = "--seed " + value + ": " + *problem;
                return false;
            }
            options.seed = value;
        } else if (name == "--size") {
            if (!takeValue()) return false;
            const size_t x = value.find_first_of("xX");
            int32_t w = 0, h = 0;
            if (x == std::string::npos || !ParseInt(value.substr(0, x), 0, INT32_MAX, w) ||
                !ParseInt(value.substr(x + 1), 0, INT32_MAX, h)) {
                error = "--size needs WIDTHxHEIGHT, for example 2048x1024, not '" + value + "'";
                return false;
            }
            options.size = std::make_pair(value.substr(0, x), value.substr(x + 1));
        } else if (name == "--oversampling") {
            if (!takeValue()) return false;
            int32_t n = 0;
            if (!ParseInt(value, 1, 9, n)) {
                error = "--oversampling needs a whole number from 1 to 9, not '" + value + "'";
                return false;
            }
            options.oversampling = n;
        } else if (name == "--set") {
            if (!takeValue()) return false;
            options.sets.push_back(value);
        } else if (name == "--jpeg-quality") {
            if (!takeValue()) return false;
            int32_t q = 0;
            if (!ParseInt(value, 0, 100, q)) {
                error = "--jpeg-quality needs a whole number from 0 to 100, not '" + value + "'";
                return false;
            }
            options.jpegQuality = q;
        } else if (name == "--lang") {
            if (!takeValue()) return false;
            options.language = ParseLanguageChoice(value);
            if (!options.language) {
                error = "--lang needs ja, en or auto, not '" + value + "'";
                return false;
            }
        } else if (name == "--threads") {
            if (!takeValue()) return false;
            int32_t n = 0;
            if (!ParseInt(value, 1, 1024, n)) {
                error = "--threads needs a whole number from 1 to 1024, not '" + value + "'";
                return false;
            }
            options.threads = n;
        } else if (name == "--batch" || name == "--seeds" || name == "--shard") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "option " + name + " needs a value";
                return false;
            }
            (name == "--batch"   ? options.batchTable
             : name == "--seeds" ? options.seedRange
                                 : options.shard) = value;
        } else if (name == "--jobs") {
            if (!takeValue()) return false;
            if (!ParseInt(value, 1, 256, options.jobs)) {
                error = "--jobs needs a whole number from 1 to 256, not '" + value + "'";
                return false;
            }
        } else if (name == "--globe" || name == "--turntable") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = name + " needs a file name";
                return false;
            }
            (name == "--globe" ? options.globe : options.turntable) = value;
        } else if (name == "--globe-size") {
            if (!takeValue()) return false;
            int32_t n = 0;
            if (!ParseInt(value, 16, kMaxGlobeSide, n)) {
                error = "--globe-size needs a whole number of pixels from 16 to " +
                        std::to_string(kMaxGlobeSide) + ", not '" + value + "'";
                return false;
            }
            options.globeSize = n;
        } else if (name == "--globe-view") {
            if (!takeValue()) return false;
            std::pair<double, double> view;
            if (!ParsePair(value, view) || view.second < -90 || view.second > 90) {
                error =
                    "--globe-view needs LONGITUDE,LATITUDE in degrees, the latitude from -90 "
                    "to 90, for example 30,-15, not '" +
                    value + "'";
                return false;
            }
            options.globeView = view;
        } else if (name == "--globe-sun") {
            if (!takeValue()) return false;
            std::pair<double, double> sun;
            if (!ParsePair(value, sun) || sun.second < -90 || sun.second > 90) {
                error =
                    "--globe-sun needs AZIMUTH,ELEVATION in degrees relative to the camera, "
                    "the elevation from -90 to 90, for example 40,20, not '" +
                    value + "'";
                return false;
            }
            options.globeSun = sun;
        } else if (name == "--frames") {
            if (!takeValue()) return false;
            int32_t n = 0;
            if (!ParseInt(value, 1, kMaxTurntableFrames, n)) {
                error = "--frames needs a whole number from 1 to " +
                        std::to_string(kMaxTurntableFrames) + ", not '" + value + "'";
                return false;
            }
            options.frames = n;
        } else if (name == "--gltf" || name == "--gltf-radius" || name == "--gltf-cloud-radius" ||
                   name == "--gltf-segments" || name == "--gltf-max-texture") {
            if (!takeValue() || !ParseGltfOption(name, value, options, error)) return false;
        } else if (name == "--gltf-each") {
            options.gltfEach = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (options.settingsFile.empty()) {
            options.settingsFile = arg;
        } else {
            error = "only one settings file can be given (got '" + options.settingsFile +
                    "' and '" + arg + "')";
            return false;
        }
    }
    if (!options.settingsFile.empty() && !options.settingsFrom.empty()) {
        error = "give a settings file or --settings-from, not both";
        return false;
    }
    if (!options.batchTable.empty() && !options.seedRange.empty()) {
        error = "give --batch or --seeds, not both";
        return false;
    }
    if (options.IsBatch() && options.outDir.empty()) {
        error = "a batch needs --out-dir";
        return false;
    }
    if (!options.IsBatch() && (!options.shard.empty() || options.jobs != 1)) {
        error = "--shard and --jobs go with --batch or --seeds";
        return false;
    }
    const bool globeWanted = !options.globe.empty() || !options.turntable.empty();
    if (globeWanted && options.IsBatch()) {
        error = "--globe and --turntable make one planet's pictures; a batch has its gallery";
        return false;
    }
    if (!globeWanted && (options.globeSize || options.globeView || options.globeSun)) {
        error = "--globe-size, --globe-view and --globe-sun need --globe or --turntable";
        return false;
    }
    if (!options.gltf.empty() && options.IsBatch()) {
        error = "--gltf names one planet's file; a batch takes --gltf-each (NAME.glb per planet)";
        return false;
    }
    if (options.gltfEach && !options.IsBatch()) {
        error = "--gltf-each goes with --batch or --seeds; one render takes --gltf FILE";
        return false;
    }
    if (!options.WantsGltf() && (options.gltfRadius || options.gltfCloudRadius ||
                                 options.gltfSegments || options.gltfMaxTexture)) {
        error =
            "--gltf-radius, --gltf-cloud-radius, --gltf-segments and --gltf-max-texture need "
            "--gltf or --gltf-each";
        return false;
    }
    if (options.frames && options.turntable.empty()) {
        error = "--frames needs --turntable";
        return false;
    }
    // libwebp takes frames of at most 16383 pixels a side.
    if (!options.turntable.empty() && options.globeSize && *options.globeSize > 16383) {
        error = "--turntable frames can be at most 16383 pixels a side";
        return false;
    }
    if (options.settingsFile.empty() && options.settingsFrom.empty() && !options.help &&
        !options.version) {
        error = "no settings file given";
        return false;
    }
    return true;
}

std::string ApplyCliOverrides(const CliOptions& options, SettingsModel& model) {
    if (options.seed) ApplySettingsLine(model, "RandomSeed " + *options.seed);
    if (options.size) {
        ApplySettingsLine(model, "OutputResolutionX " + options.size->first);
        ApplySettingsLine(model, "OutputResolutionY " + options.size->second);
    }
    if (options.oversampling) {
        ApplySettingsLine(model, "OverSampling " + std::to_string(*options.oversampling));
    }
    for (const std::string& line : options.sets) {
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        if (eq == std::string::npos || FindSetting(key) == nullptr) {
            return "--set needs KEY=VALUE with a settings key, not '" + line + "'";
        }
        if (const std::optional<std::string> problem = CheckTypedValue(key, line.substr(eq + 1))) {
            return "--set " + line + ": " + *problem;
        }
        const SettingsResult applied = ApplySettingsLine(model, line);
        if (!applied.ok) return "--set " + line + ": " + applied.message;
    }
    return {};
}

GltfOptions CliGltfOptions(const CliOptions& options) {
    GltfOptions gltf;
    if (options.gltfRadius) {
        gltf.cloudRadius = *options.gltfRadius * (gltf.cloudRadius / gltf.radius);
        gltf.radius = *options.gltfRadius;
    }
    if (options.gltfCloudRadius) gltf.cloudRadius = *options.gltfCloudRadius;
    gltf.segments = options.gltfSegments;
    if (options.gltfMaxTexture) gltf.maxTexture = *options.gltfMaxTexture;
    return gltf;
}

void ApplyPreview(SettingsModel& model) {
    model.ResX = "128";
    model.ResY = "128";
    model.Ovsmp.SetPosition(1);
    for (const MapSlot& slot : kMapSlots) {
        if (!TrimBlanks(MapNameSetting(model, slot)).empty()) return;
    }
    for (const MapSlot& slot : kMapSlots) {
        MapNameSetting(model, slot) = std::string("preview_") + slot.role + ".png";
    }
}

std::string CliHelpText() {
    return R"(Usage: globeforge-render SETTINGS.ORB [options]
       globeforge-render --settings-from MAP [options]
       globeforge-render --batch PLANETS.tsv SETTINGS.ORB --out-dir DIR [options]

Renders the planet described by a GlobeForge settings file and writes every map it
names (BMP, or JPEG for .jpg/.jpeg/.jpe, PNG for .png, OpenEXR for .exr). Relative
map names resolve against the current folder, or against --out-dir.

Every PNG, JPEG and OpenEXR map carries the settings that made it, so any map can
be rendered again with --settings-from.

Options:
  --settings-from MAP    take the settings from a PNG, JPEG or OpenEXR map written by
                         GlobeForge instead of a settings file; the maps keep the names
                         they had, the overrides below still apply, and the JPEG
                         quality is the one the map was made with unless given
  --out-dir DIR          write maps with relative names into DIR (created if missing)
  --dump-stages DIR      also write every image the stages report while building the
                         planet into DIR (created if missing), in order, as 32-bit
                         float OpenEXR files with R, G, B and A at full layer or stamp
                         size: 001-ground-base.exr, 002-ground-warp-1.exr, ...; the
                         stage's message is in the string attribute "stageMessage"
  --seed N               random seed (RandomSeed)
  --size WxH             output resolution, for example 2048x1024
  --oversampling N       build layers N times larger and average down (1..9)
  --set KEY=VALUE        set any settings key, as a settings-file line would;
                         may be repeated, applied after the options above
  --preview              the window's preview: 128x128, oversampling 1, and all seven
                         maps as preview_*.png when the file names none
  --jpeg-quality Q       JPEG quality 0..100 (default: the preferences file, else 90)
  --threads N            worker threads (default: every core); the maps are the same
  --write-settings FILE  write the settings after the overrides to FILE and exit
  --strict               refuse a settings file that needed changes to load (a value
                         out of its range, not a number, an unknown word or key),
                         instead of warning and rendering with what was used

Globe pictures (the maps a globe needs are made in memory even when the settings
name none; only named maps are saved; relative names go into --out-dir like maps):
  --globe FILE.png       a lit 3-D view of the planet, PNG with a transparent
                         background, carrying the settings like the maps
  --turntable FILE.webp  an animated WebP of one full eastward turn, looping
  --globe-size N         side in pixels, 16..16384 (default 1024 for --globe,
                         512 for --turntable frames)
  --globe-view LON,LAT   the longitude and latitude at the centre of the view in
                         degrees (default 0,0; a turntable starts there)
  --globe-sun AZ,EL      the sun's azimuth and elevation relative to the camera in
                         degrees: 0,0 lights the disc from the front, 90,0 from the
                         right, 0,90 from above (default 40,20)
  --frames N             frames of the turntable, 1..3600 (default 60, 0.1 s each)
  --quiet                no progress on standard error
  --lang ja|en|auto      language of the progress messages; auto (default) takes
                         Japanese for a Japanese locale or none (C, POSIX, unset),
                         English for any other
  --help                 this text
  --version              print the version

The planet for game engines and 3-D programs (the maps it needs are made in memory
like the globe's; see the README, "Using a planet in Blender, Godot, Unity, three.js"):
  --gltf FILE.glb        a glTF 2.0 asset: the ground sphere with its colour, normal
                         and roughness textures, and a cloud sphere when the clouds
                         have maps of their own; FILE.gltf writes the JSON with its
                         buffer and textures as files beside it
  --gltf-each            in a batch: NAME.glb in every planet's folder
  --gltf-radius R        the planet's radius in scene units (default 1)
  --gltf-cloud-radius R  the cloud sphere's radius, above R (default 1.01 R)
  --gltf-segments N      longitude segments of the spheres, 3..4096 (default: from
                         the colour map's width)
  --gltf-max-texture N   maps larger than N pixels a side are averaged down to it,
                         16..65536 (default 8192)

Many planets (see docs/batch.md):
  --batch PLANETS.tsv    render one planet per row of a tab-separated table into
                         DIR/NAME/: a header row names a 'name' column and any
                         settings keys; a row's non-empty cells are applied like --set
                         over the settings file and the options above. The whole
                         table is checked first; planets already done are skipped;
                         DIR/index.json and DIR/index.html list them all
  --seeds A..B           the same for a table of seeds A to B (planets seed-A ...)
  --shard K/N            render only the rows whose index modulo N is K (0-based),
                         for array jobs sharing one DIR
  --jobs J               render J planets at once, the threads divided among them

Settings for 3D work (for --set or a settings file):
  HeightBitDepth 8|16    bump maps named .png: 8-bit RGB (default) or 16-bit greyscale,
                         0..256 scaled to 0..65535. Bump maps named .exr always hold
                         the heights as 32-bit floats, unclamped; other .exr maps are
                         float RGB with 1.0 for 255
  OutputNormalMap FILE   a tangent-space normal map of the ground relief (OpenGL
                         convention: green up, as Blender and glTF expect); empty
                         (default): none
  NormalStrength N       relief of the normal map, 1..100 (default 20)
  CubeMapFaces True      every named map also as six cube faces NAME_px, _nx, _py,
                         _ny, _pz, _nz (OpenGL cube-map order, +Y north, longitude 0
                         on +Z), each a quarter of the map's width square

Exit status: 0 when every named map (and globe picture and glTF file) was written;
1 when the render was aborted (Ctrl-C) or a file could not be written; 2 for usage
errors and bad settings files. A batch exits with 0 only when every planet of its shard is done, 2 for
a bad table.
)";
}

}  // namespace globeforge
