#include "py_errors.h"

#include <pybind11/pybind11.h>

#include <cerrno>
#include <filesystem>

namespace py = pybind11;
namespace fs = std::filesystem;

namespace globeforge::python {

void ThrowOsError(const std::string& path, const std::string& message, Access access) {
    std::error_code ec;
    const fs::path p(path);
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    py::object error;
    const py::object oserror = py::module_::import("builtins").attr("OSError");
    if (fs::is_directory(p, ec)) {
        error = oserror(EISDIR, message, path);
    } else if (access == Access::Read ? !fs::exists(p, ec) : !fs::is_directory(folder, ec)) {
        error = oserror(ENOENT, message, path);
    } else {
        error = oserror(message);
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

}  // namespace globeforge::python
