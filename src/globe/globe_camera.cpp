#include "globe/globe_camera.h"

#include <algorithm>
#include <cmath>

#include "globe/srgb.h"

namespace globeforge::globe_detail {

Frame MakeFrame(const GlobeCamera& camera, const GlobeSun& sun, const GlobeOptions& options,
                bool clouds) {
    Frame f;
    const double lon = camera.longitude * kDegree;
    const double lat = camera.latitude * kDegree;
    f.back = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
    f.right = {-std::sin(lon), std::cos(lon), 0.0};
    f.up = {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)};
    const double az = sun.azimuth * kDegree;
    const double el = sun.elevation * kDegree;
    f.sunCamera = {std::cos(el) * std::sin(az), std::sin(el), std::cos(el) * std::cos(az)};
    f.sun = f.right * f.sunCamera.x + f.up * f.sunCamera.y + f.back * f.sunCamera.z;
    // The view direction summed as a perspective pixel sums its own.
    f.farHalf = Normalized(f.sun + f.right * 0.0 + f.up * 0.0 + f.back * 1.0);
    const double shorter = std::min(options.width, options.height);
    f.cx = options.width / 2.0;
    f.cy = options.height / 2.0;
    f.perspective = camera.distance > 0;
    f.distance = camera.distance;
    if (f.perspective) {
        // The planet's apparent radius, as the tangent of its angle, fills zoom of the half side.
        const double apparent = std::tan(std::asin(1.0 / camera.distance));
        f.scale = apparent / (camera.zoom * shorter / 2.0);
        f.pixelAngle = f.scale;
        // Near the limb one pixel moves the impact parameter by about distance x scale.
        f.coverScale = 1.0 / (camera.distance * f.scale);
    } else {
        f.scale = 1.0 / (camera.zoom * shorter / 2.0);
        f.pixelAngle = f.scale;
        f.coverScale = 1.0 / f.scale;
    }
    f.relief = static_cast<float>(options.relief);
    const SrgbDecoder& decode = Decoder();
    const auto strength = static_cast<float>(options.atmosphere);
    f.glow = {decode(options.atmosphereColor.r) * strength,
              decode(options.atmosphereColor.g) * strength,
              decode(options.atmosphereColor.b) * strength};
    f.clouds = clouds;
    f.transparent = options.transparentBackground;
    return f;
}

}  // namespace globeforge::globe_detail
