#include "output/save_maps.h"

#include "image/image_files.h"

namespace globeforge {

namespace {

struct MapToSave {
    const std::string& name;
    const std::optional<FloatImage>& image;
    const char* whyAbsent;
};

}  // namespace

bool SaveRenderMaps(const RenderParams& params, std::string* failedName, std::string* reason) {
    const MapToSave maps[] = {
        {params.OutputColorMap, params.ColorMapImage, "the map was not built"},
        {params.OutputSpeculerMap, params.SpecularMapImage, "the map was not built"},
        {params.OutputBumpMap, params.BumpMapImage, "the map was not built"},
        {params.OutputCloudColorMap, params.CloudColorMapImage, "no cloud layer was built"},
        {params.OutputCloudBumpMap, params.CloudBumpMapImage, "no cloud layer was built"},
        {params.OutputCloudTransparencyMap, params.CloudTransparencyMapImage,
         "no cloud layer was built"},
    };
    for (const MapToSave& map : maps) {
        if (map.name.empty()) continue;
        std::string why;
        if (!map.image) {
            why = map.whyAbsent;
        } else if (SaveImageFile(*map.image, map.name, &why)) {
            continue;
        } else if (why.empty()) {
            why = "the file could not be written";
        }
        if (failedName) *failedName = map.name;
        if (reason) *reason = std::move(why);
        return false;
    }
    return true;
}

}  // namespace globeforge
