// The globeforge Python module: settings, renders as numpy arrays, globes and glTF assets.
#include <pybind11/pybind11.h>

#include "core/version.h"
#include "py_planet.h"
#include "py_render.h"
#include "py_settings.h"

PYBIND11_MODULE(_globeforge, m) {
    m.doc() = "GlobeForge planets as numpy arrays.";
    m.attr("__version__") = globeforge::kVersionText;
    globeforge::python::BindSettings(m);
    globeforge::python::BindPlanet(m);
    globeforge::python::BindRender(m);
}
