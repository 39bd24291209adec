// Whole-file writes that either complete or leave the old file alone: the bytes go to a
// temporary file next to the target, which is flushed to disk and then renamed over the
// target. A failure (unwritable folder, full disk) removes the temporary file and leaves
// any existing file as it was. Used for pictures, settings and preferences alike.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

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

// Every whole-file writer names its temporary file the target's name, this mark and a unique
// tail. A process killed before its rename leaves that file behind; whoever writes the target
// next may remove it.
inline constexpr std::string_view kTemporaryMark = ".tmp-";

// The name of the file whose write left fileName (a name within a folder), or empty when
// fileName is no such leftover. The unique tails never hold the mark.
inline std::string_view TemporaryTarget(std::string_view fileName) {
    const size_t mark = fileName.rfind(kTemporaryMark);
    if (mark == std::string_view::npos || mark == 0 ||
        mark + kTemporaryMark.size() == fileName.size()) {
        return {};
    }
    return fileName.substr(0, mark);
}

}  // namespace globeforge
