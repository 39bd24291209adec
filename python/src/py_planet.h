// A finished render as Python holds it: the maps in their float form, from which the numpy
// arrays, the saved files, the globe pictures and the glTF asset are all made.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/render_params.h"
#include "globe/globe.h"
#include "py_settings.h"

namespace globeforge::python {

struct Planet {
    RenderParams params;  // the maps; output names as the settings give them
    PySettings settings;  // with the render's overrides applied
    int threads = 1;      // for saving, the globe and the export, as for the render
    // One save, export or scene preparation at a time: saving lends the names a folder.
    std::mutex mutex;
    std::optional<GlobeScene> scene;                // prepared on the first globe
    std::map<std::string, pybind11::array> arrays;  // made on first use; needs the GIL
};

void BindPlanet(pybind11::module_& m);

}  // namespace globeforge::python
