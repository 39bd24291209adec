#include "output/save_maps.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "image/atomic_file.h"
#include "image/image_files.h"

namespace globeforge {

namespace {

struct MapToSave {
    const std::string& name;
    const std::optional<FloatImage>& image;
    const char* whyAbsent;
    bool heightMap;
};

struct Encoded {
    bool ok = false;
    std::vector<uint8_t> bytes;
    std::string why;
};

}  // namespace

bool SaveRenderMaps(const RenderParams& params, std::string* failedName, std::string* reason,
                    int threads) {
    const MapToSave maps[] = {
        {params.OutputColorMap, params.ColorMapImage, "the map was not built", false},
        {params.OutputSpeculerMap, params.SpecularMapImage, "the map was not built", false},
        {params.OutputBumpMap, params.BumpMapImage, "the map was not built", true},
        {params.OutputCloudColorMap, params.CloudColorMapImage, "no cloud layer was built", false},
        {params.OutputCloudBumpMap, params.CloudBumpMapImage, "no cloud layer was built", true},
        {params.OutputCloudTransparencyMap, params.CloudTransparencyMapImage,
         "no cloud layer was built", false},
        {params.OutputNormalMap, params.NormalMapImage, "the map was not built", false},
    };
    ImageFileOptions options;
    options.heightBitDepth = params.HeightBitDepth;
    options.settingsText = params.SettingsText;
    std::vector<const MapToSave*> wanted;
    for (const MapToSave& map : maps) {
        if (!map.name.empty()) wanted.push_back(&map);
    }
    // Up to `threads` maps are encoded at once; the files are still written one after the
    // other in the fixed order, and none after the first that fails.
    const size_t batch = static_cast<size_t>(std::max(threads, 1));
    std::vector<Encoded> encoded(batch);
    for (size_t first = 0; first < wanted.size(); first += batch) {
        const size_t n = std::min(batch, wanted.size() - first);
        const auto encode = [&](size_t k) {
            const MapToSave& map = *wanted[first + k];
            Encoded& out = encoded[k];
            out.bytes.clear();
            out.why.clear();
            if (!map.image) {
                out.ok = false;
                out.why = map.whyAbsent;
                return;
            }
            ImageFileOptions own = options;
            own.heightMap = map.heightMap;
            out.ok = EncodeImageFile(*map.image, map.name, own, out.bytes, &out.why);
        };
        std::vector<std::jthread> helpers;
        for (size_t k = 1; k < n; ++k) helpers.emplace_back(encode, k);
        encode(0);
        helpers.clear();
        for (size_t k = 0; k < n; ++k) {
            const MapToSave& map = *wanted[first + k];
            Encoded& out = encoded[k];
            if (out.ok && WriteFileAtomically(map.name, out.bytes, &out.why)) continue;
            if (out.why.empty()) out.why = "the file could not be written";
            if (failedName) *failedName = map.name;
            if (reason) *reason = std::move(out.why);
            return false;
        }
    }
    return true;
}

}  // namespace globeforge
