// The globe's frames: the options checked, then rows traced, shaded and encoded in bands.
#include "globe/globe.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "globe/globe_camera.h"
#include "globe/globe_rays.h"
#include "globe/globe_scene_data.h"
#include "globe/globe_shading.h"
#include "globe/srgb.h"

namespace globeforge {

std::string CheckGlobeOptions(const GlobeCamera& camera, const GlobeSun& sun,
                              const GlobeOptions& options) {
    const auto side = [](const char* what, int32_t v) {
        return std::string("the globe ") + what + " must be 1 to " + std::to_string(kMaxGlobeSide) +
               " pixels (got " + std::to_string(v) + ")";
    };
    if (options.width < 1 || options.width > kMaxGlobeSide) return side("width", options.width);
    if (options.height < 1 || options.height > kMaxGlobeSide) return side("height", options.height);
    if (!std::isfinite(camera.longitude)) return "the view longitude must be a number";
    if (!(camera.latitude >= -90 && camera.latitude <= 90))
        return "the view latitude must be -90 to 90 degrees";
    if (!(camera.distance == 0 || (camera.distance > 1.01 && std::isfinite(camera.distance))))
        return "the camera distance must be 0 (far away) or above 1.01 planet radii";
    if (!(camera.zoom > 0.001 && camera.zoom <= 1000))
        return "the zoom must be above 0.001 and at most 1000";
    if (!std::isfinite(sun.azimuth)) return "the sun azimuth must be a number";
    if (!(sun.elevation >= -90 && sun.elevation <= 90))
        return "the sun elevation must be -90 to 90 degrees";
    if (!(options.relief >= 0 && options.relief <= 100)) return "the relief must be 0 to 100";
    if (!(options.atmosphere >= 0 && options.atmosphere <= 100))
        return "the atmosphere strength must be 0 to 100";
    return {};
}

namespace {

using globe_detail::Shade;

// False, with error set, for options CheckGlobeOptions refuses.
bool OptionsAccepted(const GlobeCamera& camera, const GlobeSun& sun, const GlobeOptions& options,
                     std::string* error) {
    std::string problem = CheckGlobeOptions(camera, sun, options);
    if (problem.empty()) return true;
    if (error) *error = std::move(problem);
    return false;
}

// One shaded pixel as 8-bit sRGB with straight alpha at p.
void EncodePixel(const Shade& s, bool transparent, const globe_detail::SrgbEncoder& encode,
                 uint8_t* p) {
    if (transparent) {
        // Straight alpha: the colour the covered part of the pixel has.
        const float inv = s.alpha > 0.0f ? 1.0f / s.alpha : 0.0f;
        p[0] = encode(s.c.r * inv);
        p[1] = encode(s.c.g * inv);
        p[2] = encode(s.c.b * inv);
        p[3] = static_cast<uint8_t>(std::nearbyint(std::clamp(s.alpha, 0.0f, 1.0f) * 255.0f));
    } else {
        p[0] = encode(s.c.r);
        p[1] = encode(s.c.g);
        p[2] = encode(s.c.b);
        p[3] = 255;
    }
}

}  // namespace

std::optional<GlobeImage> RenderGlobe(const GlobeScene& scene, const GlobeCamera& camera,
                                      const GlobeSun& sun, const GlobeOptions& options,
                                      RenderContext& ctx, std::string* error) {
    if (!OptionsAccepted(camera, sun, options, error)) return std::nullopt;
    GlobeImage image;
    try {
        image.rgba.resize(static_cast<size_t>(options.width) * options.height * 4);
    } catch (const std::bad_alloc&) {
        if (error) *error = "not enough memory for the globe picture";
        return std::nullopt;
    }
    image.width = options.width;
    image.height = options.height;
    const GlobeScene::Data& data = scene.data();
    const globe_detail::Frame f =
        globe_detail::MakeFrame(camera, sun, options, options.clouds && data.clouds.has_value());
    const globe_detail::SrgbEncoder& encode = globe_detail::Encoder();
    ParallelForBands(ctx, options.height, kBandRows, [&](int64_t y0, int64_t y1) {
        const auto width = static_cast<size_t>(options.width);
        std::vector<globe_detail::Ray> rays(width);
        std::vector<globe_detail::ReadPlan> plans(width);
        std::vector<globe_detail::GroundReads> reads(width);
        std::vector<Shade> shades(width);
        for (int64_t y = y0; y < y1; ++y) {
            uint8_t* row = image.rgba.data() + static_cast<size_t>(y) * options.width * 4;
            globe_detail::TraceRow(f, y, options.width, rays.data());
            globe_detail::ShadeRow(data, f, options.width, rays.data(), plans.data(), reads.data(),
                                   shades.data());
            for (size_t x = 0; x < width; ++x)
                EncodePixel(shades[x], f.transparent, encode, row + x * 4);
        }
    });
    return image;
}

std::optional<GlobeImage> RenderGlobe(const GlobeMaps& maps, const GlobeCamera& camera,
                                      const GlobeSun& sun, const GlobeOptions& options,
                                      RenderContext& ctx, std::string* error) {
    if (!OptionsAccepted(camera, sun, options, error)) return std::nullopt;
    std::optional<GlobeScene> scene = GlobeScene::Prepare(maps, ctx, error);
    if (!scene) return std::nullopt;
    return RenderGlobe(*scene, camera, sun, options, ctx, error);
}

}  // namespace globeforge
