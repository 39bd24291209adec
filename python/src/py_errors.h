// Bad arguments and failed files as Python exceptions.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace globeforge::python {

// Raises OSError with the message: FileNotFoundError when the file read (or the folder of the
// file written) does not exist, IsADirectoryError when the path names a folder.
enum class Access { Read, Write };
[[noreturn]] void ThrowOsError(const std::string& path, const std::string& message,
                               Access access = Access::Read);

// An int argument within min..max: TypeError for another type (bool included), ValueError
// naming what and the range otherwise.
int32_t CheckedInt(const char* what, const pybind11::handle& value, int32_t min, int32_t max);

}  // namespace globeforge::python
