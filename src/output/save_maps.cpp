#include "output/save_maps.h"

#include "core/progress.h"
#include "globe/map_sampler.h"
#include "image/image_files.h"
#include "output/cube_faces.h"

namespace globeforge {

namespace {

struct MapToSave {
    const std::string& name;
    const std::optional<FloatImage>& image;
    const char* whyAbsent;
    bool heightMap;
};

// Writes the six faces of one map; on failure names the face and says why.
bool SaveCubeFaces(const FloatImage& map, const std::string& mapName,
                   const ImageFileOptions& options, RenderContext* ctx, std::string& failedName,
                   std::string& why) {
    RenderContext oneThread;
    RenderContext& context = ctx ? *ctx : oneThread;
    const std::optional<MapSampler> sampler = MapSampler::Build(map, context, &why);
    if (!sampler) {
        failedName = CubeFaceFileName(mapName, kCubeFaces[0]);
        return false;
    }
    const int32_t size = CubeFaceSize(map.Width);
    for (const CubeFace face : kCubeFaces) {
        failedName = CubeFaceFileName(mapName, face);
        const std::optional<FloatImage> image = BuildCubeFace(*sampler, face, size, context);
        if (!image) {
            why = "not enough memory for a cube face";
            return false;
        }
        if (!SaveImageFile(*image, failedName, options, &why)) {
            if (why.empty()) why = "the file could not be written";
            return false;
        }
    }
    return true;
}

}  // namespace

bool SaveRenderMaps(const RenderParams& params, std::string* failedName, std::string* reason,
                    RenderContext* ctx) {
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
        std::string failed = map.name;
        if (map.image) {
            options.heightMap = map.heightMap;
            if (SaveImageFile(*map.image, map.name, options, &why)) {
                if (!params.CubeMapFaces ||
                    SaveCubeFaces(*map.image, map.name, options, ctx, failed, why))
                    continue;
            } else if (why.empty()) {
                why = "the file could not be written";
            }
        } else {
            why = map.whyAbsent;
        }
        if (failedName) *failedName = std::move(failed);
        if (reason) *reason = std::move(why);
        return false;
    }
    return true;
}

}  // namespace globeforge
