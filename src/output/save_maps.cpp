#include "output/save_maps.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "core/progress.h"
#include "globe/map_sampler.h"
#include "image/atomic_file.h"
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

struct Encoded {
    bool ok = false;
    std::vector<uint8_t> bytes;
    std::string why;
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
    const int threads = ctx ? ctx->threads : 1;
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
            std::string failed = map.name;
            if (out.ok && WriteFileAtomically(map.name, out.bytes, &out.why)) {
                if (!params.CubeMapFaces) continue;
                ImageFileOptions own = options;
                own.heightMap = map.heightMap;
                if (SaveCubeFaces(*map.image, map.name, own, ctx, failed, out.why)) continue;
            }
            if (out.why.empty()) out.why = "the file could not be written";
            if (failedName) *failedName = std::move(failed);
            if (reason) *reason = std::move(out.why);
            return false;
        }
    }
    return true;
}

}  // namespace globeforge
