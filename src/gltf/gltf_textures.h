// The textures of a planet's glTF asset, made from the finished maps of a render: each map
// averaged down to a size cap when it is larger, then turned into what the metallic-roughness
// material reads and encoded as PNG or JPEG bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/render_params.h"
#include "image/float_image.h"

namespace globeforge {

// The size a map of w x h takes under a cap on its longer side: unchanged when it fits,
// otherwise scaled so the longer side is maxSide (each side at least 1).
struct TextureSize {
    int32_t width, height;
};
TextureSize CappedSize(int32_t w, int32_t h, int32_t maxSide);

// The map averaged down to w x h (each output pixel the area-weighted mean of the source
// pixels it covers), or a copy when the size is the same. nullopt when memory runs out.
std::optional<FloatImage> AverageDown(const FloatImage& map, int32_t w, int32_t h);

// An encoded texture and the MIME type glTF names it by.
struct EncodedTexture {
    std::vector<uint8_t> bytes;
    std::string mimeType;  // "image/png" or "image/jpeg"
    int32_t width = 0, height = 0;
};

struct TextureJob {
    int32_t maxSide = 8192;
    int32_t threads = 1;  // PNG compression threads
};

// The ground colour (sRGB, as the map holds it): JPEG at the program's JPEG quality when
// the colour map is named as a JPEG file, PNG otherwise.
bool EncodeBaseColor(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                     std::string& error);

// The tangent-space normals (red east, green north, blue out: glTF's convention with the
// sphere's east tangent): the render's normal map when it built one, otherwise derived from
// the ground bump map with the same slope rule and NormalStrength. False without either.
bool EncodeNormals(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                   std::string& error);

// The roughness the metallic-roughness texture holds in green (blue, metallic, is 0): glossy
// where the sea specular map is white, rough where it is black.
float RoughnessOfSpecular(float specular);
bool EncodeRoughness(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                     std::string& error);

// The cloud layer as straight-alpha RGBA: the cloud colour with the opacity the transparency
// map gives (its sense follows OutputTransparencyMode; an alpha map's premultiplied colour is
// divided back out).
bool EncodeClouds(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                  std::string& error);

}  // namespace globeforge
