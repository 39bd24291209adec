// Whole-file reading with a size limit and replacing a file in one step, for the small text
// files of the application shell (settings and preferences). Errors come back as a reason in
// words, never as an exception.
#pragma once

#include <cstddef>
#include <string>

namespace globeforge::settings_io {

// Larger files are refused rather than read: no settings or preferences file comes near it.
inline constexpr size_t kMaxTextFileBytes = size_t{64} << 20;

struct ReadResult {
    bool ok = false;
    std::string bytes;
    std::string error;    // the reason, when not ok
    int errorNumber = 0;  // errno of the failure, 0 when it was not a system error
};

// Reads the whole file, or fails for a file that cannot be opened or read, for one that is
// not a regular file, and for one larger than maxBytes.
ReadResult ReadFileBytes(const std::string& path, size_t maxBytes = kMaxTextFileBytes);

// Writes contents to a new file beside path and renames it over path only once every byte is
// written and flushed, so path holds either its old contents or the new ones, never a part.
// A symbolic link at path is followed, so the link stays. Returns an empty string on
// success, else the reason.
std::string ReplaceFileAtomically(const std::string& path, const std::string& contents);

}  // namespace globeforge::settings_io
