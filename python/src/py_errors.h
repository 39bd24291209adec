// Failures of files and folders as Python's OSError family.
#pragma once

#include <string>

namespace globeforge::python {

// Raises OSError with the message: FileNotFoundError when the file read (or the folder of the
// file written) does not exist, IsADirectoryError when the path names a folder.
enum class Access { Read, Write };
[[noreturn]] void ThrowOsError(const std::string& path, const std::string& message,
                               Access access = Access::Read);

}  // namespace globeforge::python
