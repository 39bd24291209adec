#include "py_planet.h"

#include <pybind11/stl.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "core/jpeg_quality.h"
#include "globe/globe_output.h"
#include "gltf/gltf_export.h"
#include "image/color_pack.h"
#include "output/save_maps.h"
#include "py_errors.h"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace globeforge::python {

namespace {

const FloatImage* BuiltMap(const Planet& planet, const MapSlot& slot) {
    const std::optional<FloatImage>& map = planet.params.*slot.image;
    return map && map->Width > 0 && map->Height > 0 ? &*map : nullptr;
}

const MapSlot& SlotOfRole(const std::string& role) {
    for (const MapSlot& slot : kMapSlots) {
        if (role == slot.role) return slot;
    }
    throw py::key_error("no map is called '" + role + "'");
}

// The masks and the ground's heights are grey (R = G = B); the cloud bump map is the cloud
// layer itself, which keeps the colours of a cloud picture, so its file has three channels.
bool IsGrey(const MapSlot& slot) {
    return slot.kind == MapKind::Specular || slot.kind == MapKind::Bump ||
           slot.kind == MapKind::CloudTransparency;
}

// Read-only: the same array is handed out each time.
py::array Frozen(py::array array) {
    array.attr("flags").attr("writeable") = false;
    return array;
}

// The bytes an 8-bit file of the map holds.
py::array ByteArray(const FloatImage& map, bool grey) {
    const auto h = static_cast<py::ssize_t>(map.Height), w = static_cast<py::ssize_t>(map.Width);
    py::array_t<uint8_t> array =
        grey ? py::array_t<uint8_t>({h, w}) : py::array_t<uint8_t>({h, w, py::ssize_t{3}});
    uint8_t* out = array.mutable_data();
    const FloatPixel* in = map.Data();
    const size_t count = map.PixelCount();
    py::gil_scoped_release nogil;
    for (size_t i = 0; i < count; ++i) {
        if (grey) {
            out[i] = FloatToByte(in[i].R);
        } else {
            out[3 * i] = FloatToByte(in[i].R);
            out[3 * i + 1] = FloatToByte(in[i].G);
            out[3 * i + 2] = FloatToByte(in[i].B);
        }
    }
    return array;
}

// The heights themselves, as an OpenEXR bump map holds them.
py::array HeightArray(const FloatImage& map) {
    py::array_t<float> array(
        {static_cast<py::ssize_t>(map.Height), static_cast<py::ssize_t>(map.Width)});
    float* out = array.mutable_data();
    const FloatPixel* in = map.Data();
    for (size_t i = 0; i < map.PixelCount(); ++i) out[i] = in[i].R;
    return array;
}

py::object MapArray(Planet& planet, const std::string& role, bool heights = false) {
    const MapSlot& slot = SlotOfRole(role);
    const FloatImage* map = BuiltMap(planet, slot);
    if (!map) return py::none();
    const std::string key = heights ? role + ":height" : role;
    auto found = planet.arrays.find(key);
    if (found == planet.arrays.end()) {
        found =
            planet.arrays
                .emplace(key, Frozen(heights ? HeightArray(*map) : ByteArray(*map, IsGrey(slot))))
                .first;
    }
    return found->second;
}

py::dict Maps(Planet& planet) {
    py::dict maps;
    for (const MapSlot& slot : kMapSlots) {
        if (BuiltMap(planet, slot)) maps[slot.role] = MapArray(planet, slot.role);
    }
    return maps;
}

struct SaveOutcome {
    std::vector<std::string> written;  // the maps' paths, in the order written
    std::string failedPath;            // empty: saved
    std::string message;
};

// The maps' names lent the folder for the save, as --out-dir does, and given back after.
SaveOutcome SaveInto(Planet& planet, const std::string& folder, int32_t jpegQuality) {
    SaveOutcome outcome;
    std::vector<std::pair<std::string*, std::string>> lent;
    for (const MapSlot& slot : kMapSlots) {
        std::string& name = planet.params.*slot.name;
        if (name.empty()) continue;
        lent.emplace_back(&name, name);
        if (fs::path(name).is_relative()) name = (fs::path(folder) / name).string();
        outcome.written.push_back(name);
    }
    std::error_code ec;
    if (outcome.written.empty()) {
        // Nothing to write; the caller says so.
    } else if (fs::create_directories(folder, ec); ec) {
        outcome.failedPath = folder;
        outcome.message = "cannot create folder " + folder + ": " + ec.message();
    } else {
        SetJpegQuality(jpegQuality);
        RenderContext ctx;
        ctx.threads = planet.threads;
        std::string reason;
        if (!SaveRenderMaps(planet.params, &outcome.failedPath, &reason, &ctx)) {
            outcome.message = "cannot write " + outcome.failedPath + ": " + reason;
        }
    }
    for (auto& [name, old] : lent) *name = std::move(old);
    return outcome;
}

// planet.save: the named maps as the command line writes them with --out-dir folder.
py::list Save(Planet& planet, const std::string& folder, const py::object& jpegQuality) {
    const int32_t quality = jpegQuality.is_none() ? planet.settings.jpegQuality.value_or(90)
                                                  : CheckedInt("jpeg_quality", jpegQuality, 0, 100);
    SaveOutcome outcome;
    {
        // The lock is taken without the GIL: a thread holding it may need the GIL back.
        py::gil_scoped_release nogil;
        const std::lock_guard lock(planet.mutex);
        outcome = SaveInto(planet, folder, quality);
    }
    if (outcome.written.empty()) {
        throw py::value_error("the settings name no map to save (OutputColorMap, ...)");
    }
    if (!outcome.failedPath.empty()) {
        ThrowOsError(outcome.failedPath, outcome.message, Access::Write);
    }
    return py::cast(outcome.written);
}

void ExportGltfFile(Planet& planet, const std::string& path, double radius,
                    const py::object& cloudRadius, const py::object& segments, int32_t maxTexture) {
    GltfOptions options;
    // The cloud sphere keeps its height over the ground when only the ground's radius is given.
    options.cloudRadius = cloudRadius.is_none() ? radius * (options.cloudRadius / options.radius)
                                                : cloudRadius.cast<double>();
    options.radius = radius;
    if (!segments.is_none())
        options.segments = CheckedInt("segments", segments, INT32_MIN, INT32_MAX);
    options.maxTexture = maxTexture;
    options.threads = planet.threads;
    const fs::path folder = fs::path(path).has_parent_path() ? fs::path(path).parent_path() : ".";
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        ThrowOsError(path, "cannot export " + path + ": no folder " + folder.string(),
                     Access::Write);
    }
    if (std::optional<std::string> problem = CheckGltfOptions(options, path)) {
        throw py::value_error(*problem);
    }
    std::string why;
    bool ok;
    {
        py::gil_scoped_release nogil;
        const std::lock_guard lock(planet.mutex);
        ok = ExportGltf(planet.params, path, options, &why);
    }
    if (!ok) ThrowOsError(path, "cannot export " + path + ": " + why, Access::Write);
}

// gf.globe: the picture --globe writes, as an array.
py::array Globe(Planet& planet, const py::object& size, std::pair<double, double> view,
                std::pair<double, double> sun) {
    GlobeCamera camera;
    camera.longitude = view.first;
    camera.latitude = view.second;
    GlobeSun light;
    light.azimuth = sun.first;
    light.elevation = sun.second;
    GlobeOptions options;
    // The command line's --globe-size range.
    options.width = options.height = CheckedInt("size", size, 16, kMaxGlobeSide);
    options.transparentBackground = true;
    if (std::string problem = CheckGlobeOptions(camera, light, options); !problem.empty()) {
        throw py::value_error(problem);
    }
    std::string error;
    std::optional<GlobeImage> image;
    {
        py::gil_scoped_release nogil;
        RenderContext ctx;
        ctx.threads = planet.threads;
        const std::lock_guard lock(planet.mutex);
        if (!planet.scene)
            planet.scene = GlobeScene::Prepare(GlobeMapsOf(planet.params), ctx, &error);
        if (planet.scene) image = RenderGlobe(*planet.scene, camera, light, options, ctx, &error);
    }
    if (!image) throw std::runtime_error("cannot draw the globe: " + error);
    py::array_t<uint8_t> array({static_cast<py::ssize_t>(image->height),
                                static_cast<py::ssize_t>(image->width), py::ssize_t{4}});
    std::copy(image->rgba.begin(), image->rgba.end(), array.mutable_data());
    return array;
}

}  // namespace

void BindPlanet(py::module_& m) {
    py::class_<Planet> planet(m, "Planet",
                              R"(A rendered planet: its maps as numpy arrays, by map name.

The arrays hold exactly the pixels the command line writes for the same settings: color,
cloud_color, cloud_bump and normal are H x W x 3 uint8 (cloud_bump is grey unless the
clouds come from a coloured picture), specular, bump and cloud_transparency H x W uint8;
height and cloud_height are the bump maps' heights as float32 (0..256, unclamped, as an
OpenEXR bump map holds them: R of the map). A map the
render did not build is None. The arrays are read-only; copy one to change it.

The colour, bump and specular maps are always built; the cloud maps only when the settings
name one (otherwise the clouds are part of the colour map), the normal map only when
OutputNormalMap is named.)");
    planet
        .def_property_readonly(
            "settings", [](const Planet& p) { return p.settings; },
            "The settings of the render (a copy), overrides included.")
        .def_property_readonly(
            "size",
            [](const Planet& p) {
                return std::make_pair(p.params.OutputResolutionX, p.params.OutputResolutionY);
            },
            "(width, height) of the maps.")
        .def_property_readonly("seed", [](const Planet& p) { return p.params.RandomSeed; })
        .def_property_readonly("maps", &Maps, "Every built map by name, as a dict of arrays.")
        .def(
            "__getitem__", [](Planet& p, const std::string& role) { return MapArray(p, role); },
            py::arg("name"),
            "The map of that name (color, bump, ...) or None; KeyError for another name.");
    for (const MapSlot& slot : kMapSlots) {
        const std::string role = slot.role;
        planet.def_property_readonly(
            slot.role, [role](Planet& p) { return MapArray(p, role); },
            ("The " + role + " map, or None when not built.").c_str());
    }
    planet
        .def_property_readonly(
            "ground_color", [](Planet& p) { return MapArray(p, "color"); }, "The same as color.")
        .def_property_readonly(
            "height", [](Planet& p) { return MapArray(p, "bump", true); },
            "The ground heights, float32 H x W.")
        .def_property_readonly(
            "cloud_height", [](Planet& p) { return MapArray(p, "cloud_bump", true); },
            "The cloud heights, float32 H x W, or None.")
        .def("save", &Save, py::arg("folder"), py::arg("jpeg_quality") = py::none(),
             R"(Writes the maps the settings name, as the command line does with --out-dir folder.

Relative names go into folder (created if missing); the format follows each name's
extension and every map carries its settings. jpeg_quality defaults to the quality of the
map the settings were taken from, else 90. Returns the paths written; ValueError when no
map is named, OSError when one cannot be written.)")
        .def("export_gltf", &ExportGltfFile, py::arg("path"), py::arg("radius") = 1.0,
             py::arg("cloud_radius") = py::none(), py::arg("segments") = py::none(),
             py::arg("max_texture") = 8192,
             R"(Writes the planet as a glTF 2.0 asset (.glb, or .gltf with its files beside it).

The same asset as the command line's --gltf with --gltf-radius, --gltf-cloud-radius,
--gltf-segments and --gltf-max-texture. ValueError for bad options or a name not ending in
.glb or .gltf, OSError when the file cannot be written.)")
        .def("__repr__", [](const Planet& p) {
            return "<globeforge.Planet " + std::to_string(p.params.OutputResolutionX) + " x " +
                   std::to_string(p.params.OutputResolutionY) + ", seed " +
                   std::to_string(p.params.RandomSeed) + ">";
        });

    m.def("globe", &Globe, py::arg("planet"), py::arg("size") = 512,
          py::arg("view") = std::make_pair(0.0, 0.0), py::arg("sun") = std::make_pair(40.0, 20.0),
          R"(The planet drawn as a lit globe: an H x W x 4 uint8 RGBA array (straight alpha, space
transparent), the picture the command line's --globe writes with --globe-size size,
--globe-view lon,lat and --globe-sun az,el. view is (longitude, latitude) at the centre in
degrees; sun is (azimuth, elevation) in degrees relative to the camera. ValueError for
options the globe refuses.)");
}

}  // namespace globeforge::python
