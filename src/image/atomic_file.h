// Whole-file writes that either complete or leave the old file alone: the bytes go to a
// temporary file next to the target, which is flushed to disk and then renamed over the
// target. A failure (unwritable folder, full disk) removes the temporary file and leaves
// any existing file as it was. Used for pictures, settings and preferences alike.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace globeforge {

// Writes bytes as the whole content of path. An existing file keeps its permission bits; a
// new one gets the usual permissions for a new file (0666 less the umask). A symbolic link
// is written through, not replaced. On failure, error (when given) receives a short
// reason such as "cannot create file: Permission denied".
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* error = nullptr);

// The same for content made piece by piece, so a large file need not be held whole in
// memory: fill passes each piece in order to the sink it is given (the sink returns false
// once a write failed) and returns false when it could not make the content, after setting
// error; nothing is then left behind.
using ByteSink = std::function<bool(std::span<const uint8_t>)>;
bool WriteFileAtomically(const std::string& path, const std::function<bool(const ByteSink&)>& fill,
                         std::string* error = nullptr);

}  // namespace globeforge
