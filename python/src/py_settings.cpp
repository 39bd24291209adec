#include "py_settings.h"

#include <filesystem>

#include "image/image_files.h"
#include "py_errors.h"
#include "settings/settings_file.h"
#include "settings/typed_value.h"

namespace py = pybind11;

namespace globeforge::python {

namespace {

const SettingInfo& SettingOf(const std::string& key) {
    const SettingInfo* info = FindSetting(key);
    if (info == nullptr) throw py::key_error("unknown settings key '" + key + "'");
    return *info;
}

// Python values as the text a settings file holds: bools as True/False, whole numbers in
// decimal, an (r, g, b) triple as a colour value; strings as they are.
std::string ValueText(const SettingInfo& info, const py::handle& value) {
    if (py::isinstance<py::bool_>(value)) return std::string(BoolText(value.cast<bool>()));
    if (py::isinstance<py::int_>(value)) return py::str(value).cast<std::string>();
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (info.kind == SettingKind::Color && py::isinstance<py::sequence>(value) &&
        py::len(value) == 3) {
        PanelColor color = 0;
        int shift = 0;
        for (const py::handle channel : value) {
            const int level = py::isinstance<py::int_>(channel) ? channel.cast<int>() : -1;
            if (level < 0 || level > 255) {
                throw py::value_error(std::string(info.key) +
                                      ": a colour is (red, green, blue) with each from 0 to 255");
            }
            color |= static_cast<PanelColor>(level) << shift;
            shift += 8;
        }
        return ColorText(color);
    }
    throw py::type_error(std::string(info.key) + " takes a str, int or bool" +
                         (info.kind == SettingKind::Color ? " or an (r, g, b) tuple" : "") +
                         ", not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
}

// Track bars and the oversampling as int, check boxes as bool, everything else as the text
// a settings file holds.
py::object ValueObject(const SettingsModel& model, const SettingInfo& info) {
    if (const TrackBar* bar = SettingValue<TrackBar>(model, info)) return py::int_(bar->Position());
    if (info.kind == SettingKind::Bool) return py::bool_(*SettingValue<bool>(model, info));
    return py::str(SettingValueText(model, info));
}

PySettings LoadSettingsFile(const std::string& path) {
    PySettings settings;
    const SettingsResult loaded = LoadSettings(settings.model, path);
    if (!loaded.ok) {
        // A bad line is a bad value; anything else is the file itself.
        if (loaded.line > 0) throw py::value_error(loaded.message);
        ThrowOsError(path, loaded.message);
    }
    return settings;
}

PySettings SettingsFromMap(const std::string& path) {
    MapProvenance provenance;
    std::string why;
    if (!ReadMapProvenance(path, provenance, &why)) {
        const std::string message = "cannot take settings from " + path + ": " + why;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) ThrowOsError(path, message);
        throw py::value_error(message);
    }
    PySettings settings;
    const SettingsResult applied = ApplySettingsText(settings.model, provenance.settingsText, path);
    if (!applied.ok) throw py::value_error(applied.message);
    settings.jpegQuality = provenance.jpegQuality;
    return settings;
}

}  // namespace

void SetSettingText(SettingsModel& model, const std::string& key, const std::string& text) {
    SettingOf(key);  // KeyError for an unknown key
    if (std::optional<std::string> why = CheckTypedValue(key, text)) {
        throw py::value_error(key + ": " + *why);
    }
    const SettingsResult applied = ApplySettingsLine(model, key + "=" + text);
    if (!applied.ok) throw py::value_error(key + ": " + applied.message);
}

void BindSettings(py::module_& m) {
    py::class_<PySettings>(m, "Settings", R"(The settings of a planet: every key of a settings file.

Settings() holds the defaults; Settings.load and Settings.from_map read them from a
settings file or from a map GlobeForge wrote. Keys are read and set like a dictionary,
with the checks of the command line's --set:

    s = globeforge.Settings.load("examples/cloudy.ORB")
    s["CoastLevel"] = 40
    s["SeaColorDeep"] = (15, 40, 80)
    s.save("mine.ORB"))")
        .def(py::init<>())
        .def_static(
            "load", &LoadSettingsFile, py::arg("path"),
            R"(Reads a settings file. OSError when it cannot be read, ValueError for a bad line.)")
        .def_static("from_map", &SettingsFromMap, py::arg("path"),
                    R"(The settings a PNG, JPEG or OpenEXR map carries (the ones that made it).

OSError when the file cannot be read, ValueError when it carries no settings.)")
        .def(
            "save",
            [](const PySettings& s, const std::string& path) {
                const SettingsResult saved = SaveSettings(s.model, path);
                if (!saved.ok) ThrowOsError(path, saved.message, Access::Write);
            },
            py::arg("path"),
            "Writes the settings file (replaced only once complete); OSError on failure.")
        .def(
            "__getitem__",
            [](const PySettings& s, const std::string& key) {
                return ValueObject(s.model, SettingOf(key));
            },
            py::arg("key"),
            "The value of a key: int for sliders, bool for check boxes, else the file's text.")
        .def(
            "__setitem__",
            [](PySettings& s, const std::string& key, const py::object& value) {
                SetSettingText(s.model, key, ValueText(SettingOf(key), value));
            },
            py::arg("key"), py::arg("value"),
            "Sets a key like --set KEY=VALUE. KeyError for an unknown key, ValueError for a bad "
            "value.")
        .def("__contains__",
             [](const PySettings&, const std::string& key) { return FindSetting(key) != nullptr; })
        .def("__len__", [](const PySettings&) { return kSettingCount; })
        .def(
            "keys",
            [](const PySettings&) {
                py::list keys;
                for (const SettingInfo& info : SettingsTable()) keys.append(py::str(info.key));
                return keys;
            },
            "Every key, in the order a settings file lists them.")
        .def(
            "text", [](const PySettings& s) { return SettingsText(s.model); },
            "The settings file's text.")
        .def(
            "copy", [](const PySettings& s) { return s; }, "An independent copy.")
        .def("__copy__", [](const PySettings& s) { return s; })
        .def("__deepcopy__", [](const PySettings& s, const py::object&) { return s; })
        .def("__eq__", [](const PySettings& a, const PySettings& b) { return a.model == b.model; })
        .def("__repr__", [](const PySettings& s) {
            return "<globeforge.Settings seed " + s.model.Seed + ", " + s.model.ResX + " x " +
                   s.model.ResY + ">";
        });
}

}  // namespace globeforge::python
