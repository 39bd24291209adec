// The planet seen as a planet: the maps of a render drawn on a lit sphere. Shading happens in
// linear light (colours are decoded from sRGB and encoded back): diffuse sunlight with a soft
// terminator, relief from the bump slopes, a glossy highlight where the specular map is
// bright, a cloud layer a little above the ground that is lit, blended by its transparency
// and casts a soft shadow, and a thin atmosphere glow at the limb. Maps are read through
// MapSampler, so a large map seen small does not shimmer, and the limb is anti-aliased.
//
// Rows are computed in fixed bands on the context's threads: the bytes do not depend on the
// thread count.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/progress.h"
#include "image/float_image.h"

namespace globeforge {

// The maps a globe is drawn from, as a render leaves them (channels on the 0..255 scale,
// colours sRGB-encoded, every map equirectangular). The pointers are borrowed; only color
// is required, and maps of different sizes may be mixed.
struct GlobeMaps {
    const FloatImage* color = nullptr;     // ground colour; clouds baked into it stay there
    const FloatImage* bump = nullptr;      // ground heights (R), full range 0..256
    const FloatImage* normal = nullptr;    // tangent-space normals, used when bump is absent
    const FloatImage* specular = nullptr;  // white where the surface is glossy
    const FloatImage* cloudColor = nullptr;
    const FloatImage* cloudTransparency = nullptr;  // clouds are drawn only when both are set
    // How the two cloud maps were made: false (the default of a render) when the
    // transparency map is white where the sky is clear and the colour is not premultiplied;
    // true when the transparency map is white where the cloud is opaque and the colour is
    // premultiplied by it.
    bool cloudAlphaMaps = false;
};

// Where the globe is seen from. The point (longitude, latitude) is at the image centre with
// north up.
struct GlobeCamera {
    double longitude = 0;  // degrees east
    double latitude = 0;   // degrees north, -90..90
    // The camera's distance from the planet's centre in planet radii (above 1), or 0 for a
    // view from very far away (orthographic).
    double distance = 0;
    // The apparent diameter of the planet as a fraction of the image's shorter side.
    double zoom = 0.9;
};

// Where the sun stands, relative to the camera: azimuth 0 and elevation 0 is a sun behind
// the camera (the whole visible disc lit), azimuth 90 lights the planet from the right,
// elevation 90 from above; azimuth 180 is behind the planet.
struct GlobeSun {
    double azimuth = 40;    // degrees
    double elevation = 20;  // degrees, -90..90
};

struct GlobeColor {
    uint8_t r, g, b;
};

struct GlobeOptions {
    int32_t width = 1024;
    int32_t height = 1024;
    double relief = 1.0;  // multiplies the bump slopes; 0 draws a smooth sphere
    GlobeColor atmosphereColor{110, 160, 255};
    double atmosphere = 0.8;  // strength of the limb glow; 0 turns it off
    bool clouds = true;       // false hides the cloud layer (and its shadow)
    // Space is transparent instead of black (the limb and the glow get partial alpha).
    bool transparentBackground = false;
};

// The largest side RenderGlobe accepts.
inline constexpr int32_t kMaxGlobeSide = 16384;

// 8-bit sRGB with straight (not premultiplied) alpha, rows top first, 4 bytes a pixel.
struct GlobeImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;
};

// Empty when the options can be rendered; otherwise why not (size, zoom, relief, ...).
std::string CheckGlobeOptions(const GlobeCamera& camera, const GlobeSun& sun,
                              const GlobeOptions& options);

// The maps prepared for drawing: decoded to linear light, packed and filtered into
// pyramids. Preparing costs about as much as one large frame; a window or a turntable
// prepares once and draws many frames. Immutable once made, so it may be shared between
// threads; it does not borrow the maps it was made from.
class GlobeScene {
  public:
    // nullopt, with error set, when the colour map is missing or empty, a map is empty, or
    // memory runs out.
    static std::optional<GlobeScene> Prepare(const GlobeMaps& maps, RenderContext& ctx,
                                             std::string* error = nullptr);
    bool HasClouds() const;
    bool HasRelief() const;
    bool HasSpecular() const;

    struct Data;
    const Data& data() const { return *data_; }

  private:
    std::shared_ptr<const Data> data_;
};

// One picture of the prepared globe. nullopt, with error set, for options CheckGlobeOptions
// refuses or when memory runs out.
std::optional<GlobeImage> RenderGlobe(const GlobeScene& scene, const GlobeCamera& camera,
                                      const GlobeSun& sun, const GlobeOptions& options,
                                      RenderContext& ctx, std::string* error = nullptr);

// Prepare and render in one call, for a single picture.
std::optional<GlobeImage> RenderGlobe(const GlobeMaps& maps, const GlobeCamera& camera,
                                      const GlobeSun& sun, const GlobeOptions& options,
                                      RenderContext& ctx, std::string* error = nullptr);

}  // namespace globeforge
