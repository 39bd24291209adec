#include "output/save_maps.h"

#include "image/image_files.h"

namespace globeforge {

namespace {

struct MapToSave {
    const std::string& name;
    const std::optional<FloatImage>& image;
    const char* whyAbsent;
    bool heightMap;
};

}  // namespace

bool SaveRenderMaps(const RenderParams& params, std::string* failedName, std::string* reason) {
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
    for (const MapToSave& map : maps) {
        if (map.name.empty()) continue;
        std::string why;
        if (map.image) {
            options.heightMap = map.heightMap;
            if (SaveImageFile(*map.image, map.name, options, &why)) continue;
            if (why.empty()) why = "the file could not be written";
        } else {
            why = map.whyAbsent;
        }
        if (failedName) *failedName = map.name;
        if (reason) *reason = std::move(why);
        return false;
    }
    return true;
}

}  // namespace globeforge
