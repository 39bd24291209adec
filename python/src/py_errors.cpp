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

int32_t CheckedInt(const char* what, const pybind11::handle& value, int32_t min, int32_t max) {
    if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value)) {
        throw py::type_error(std::string(what) + " must be an int");
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0 || v < min || v > max) {
        throw py::value_error(std::string(what) + " must be from " + std::to_string(min) + " to " +
                              std::to_string(max) + ", not " + py::str(value).cast<std::string>());
    }
    return static_cast<int32_t>(v);
}

}  // namespace globeforge::python
