// What a batch run that was killed (SIGKILL, a time limit, a crash) leaves behind: temporary
// files whose rename never came. The next run removes those of the files it writes itself,
// and only those: other shards may be writing into the same folders at the same time.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace globeforge {

// Removes every temporary file in folder (not below it) left by a write of a file named
// there for which ours(name) holds.
void RemoveTemporaries(const std::filesystem::path& folder,
                       const std::function<bool(std::string_view name)>& ours);

}  // namespace globeforge
