#include "globe/globe_output.h"

#include <utility>
#include <vector>

#include "core/version.h"
#include "image/atomic_file.h"
#include "image/image_files.h"
#include "image/png_file.h"

namespace globeforge {

namespace {

const FloatImage* Present(const std::optional<FloatImage>& map) {
    return map && map->Width > 0 && map->Height > 0 ? &*map : nullptr;
}

}  // namespace

GlobeMaps GlobeMapsOf(const RenderParams& params) {
    GlobeMaps maps;
    maps.color = Present(params.ColorMapImage);
    maps.bump = Present(params.BumpMapImage);
    maps.normal = Present(params.NormalMapImage);
    maps.specular = Present(params.SpecularMapImage);
    // Clouds baked into the ground are already in the colour map.
    if (!MixCloudsIntoGround(params)) {
        maps.cloudColor = Present(params.CloudColorMapImage);
        maps.cloudTransparency = Present(params.CloudTransparencyMapImage);
    }
    maps.cloudAlphaMaps = params.OutputTransparencyMode;
    return maps;
}

bool WriteGlobePng(const GlobeScene& scene, const GlobeCamera& camera, const GlobeSun& sun,
                   const GlobeOptions& options, const std::string& settingsText,
                   const std::string& path, RenderContext& ctx, std::string* error) {
    std::optional<GlobeImage> image = RenderGlobe(scene, camera, sun, options, ctx, error);
    if (!image) return false;
    PngWriteOptions png;
    if (!settingsText.empty()) {
        png.Texts = {{kSettingsTextKey, settingsText},
                     {kProductVersionKey, std::string(kProductName) + " " + kVersionText}};
    }
    std::vector<uint8_t> bytes;
    if (!EncodePngRgba(image->rgba.data(), image->width, image->height, bytes, png, error)) {
        return false;
    }
    return WriteFileAtomically(path, bytes, error);
}

bool WriteGlobePng(const RenderParams& params, const GlobeCamera& camera, const GlobeSun& sun,
                   const GlobeOptions& options, const std::string& path, RenderContext& ctx,
                   std::string* error) {
    if (std::string problem = CheckGlobeOptions(camera, sun, options); !problem.empty()) {
        if (error) *error = std::move(problem);
        return false;
    }
    const GlobeMaps maps = GlobeMapsOf(params);
    if (!maps.color) {
        if (error) *error = "the render holds no colour map (set BuildGlobeMaps before rendering)";
        return false;
    }
    std::optional<GlobeScene> scene = GlobeScene::Prepare(maps, ctx, error);
    if (!scene) return false;
    return WriteGlobePng(*scene, camera, sun, options, params.SettingsText, path, ctx, error);
}

}  // namespace globeforge
