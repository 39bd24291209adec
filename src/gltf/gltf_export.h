// A finished planet as a glTF 2.0 asset for game engines and DCC tools: one scene with the
// ground on a longitude-latitude sphere (sphere_mesh.h) under a metallic-roughness material
// (base colour = ground colour map, normal texture from the ground relief, roughness from
// the sea specular map), and, when the clouds are kept apart from the ground maps, a
// slightly larger cloud sphere blended by the cloud transparency. The settings that made
// the planet travel in the asset's extras.
//
// Typical use, after the options were checked before the render:
//   params.BuildGlobeMaps = true;
//   if (RenderPlanet(params, ctx)) ExportGltf(params, "planet.glb", options, &error);
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/render_params.h"

namespace globeforge {

inline constexpr int32_t kMinGltfTexture = 16;
inline constexpr int32_t kMaxGltfTexture = 65536;

struct GltfOptions {
    double radius = 1.0;        // the ground sphere's radius
    double cloudRadius = 1.01;  // the cloud sphere's, above radius
    // Longitude segments of the spheres (kMinSphereSegments .. kMaxSphereSegments); none:
    // from the colour map's width (SphereSegmentsForMap).
    std::optional<int32_t> segments;
    // Maps with a longer side than this are averaged down to it.
    int32_t maxTexture = 8192;
    int32_t threads = 1;  // textures encoded side by side, PNG compression threads
};

// Empty when the options and the output path can be used; otherwise a message that says
// why not: a segment count or texture cap out of range, radii that are not positive or a
// cloud radius not above the ground's, a name that does not end in .glb or .gltf, or a
// folder that does not exist or cannot be written.
std::optional<std::string> CheckGltfOptions(const GltfOptions& options, const std::string& path);

// Cloud sphere or not: the clouds are kept apart exactly when the render names a cloud map
// (otherwise they are part of the ground maps) and built both cloud maps.
bool ExportsCloudLayer(const RenderParams& params);

// Writes the planet of a finished render to path: a .glb holds everything; a .gltf is the
// JSON with its buffer (NAME.bin) and textures (NAME_color.png or .jpg, NAME_normal.png,
// NAME_roughness.png, NAME_clouds.png) as files beside it. Needs the colour map and either
// the bump or the normal map (render with BuildGlobeMaps); the specular map is optional.
// Every file is written through a temporary name: on failure none is left half written,
// the side files this call created are removed, and error says why.
bool ExportGltf(const RenderParams& params, const std::string& path, const GltfOptions& options,
                std::string* error = nullptr);

// ExportGltf for a caller done with the maps (the command line, the batch): the maps the
// asset does not use are freed first and each used one as soon as its texture is made, so
// the export's memory comes out of theirs. The maps are gone afterwards, whatever the end.
bool ExportGltfReleasingMaps(RenderParams& params, const std::string& path,
                             const GltfOptions& options, std::string* error = nullptr);

}  // namespace globeforge
