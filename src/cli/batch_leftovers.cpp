#include "cli/batch_leftovers.h"

#include <string>
#include <vector>

#include "image/atomic_file.h"

namespace fs = std::filesystem;

namespace globeforge {

void RemoveTemporaries(const fs::path& folder,
                       const std::function<bool(std::string_view name)>& ours) {
    std::error_code ec;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string_view target = TemporaryTarget(name);
        std::error_code typeError;
        if (!target.empty() && ours(target) &&
            it->symlink_status(typeError).type() == fs::file_type::regular) {
            leftovers.push_back(it->path());
        }
    }
    for (const fs::path& path : leftovers) fs::remove(path, ec);
}

}  // namespace globeforge
