// The camera of one globe picture: its axes in the planet's frame, the sun, the projection
// and the per-picture shading settings, computed once per frame.
#pragma once

#include <array>

#include "globe/globe.h"
#include "globe/sphere_geometry.h"

namespace globeforge::globe_detail {

// Everything a frame computes once: the camera's axes in the planet's frame, the sun, the
// projection.
struct Frame {
    Vec3 right, up, back;  // camera x, y and z (toward the viewer) in planet coordinates
    Vec3 sun;              // toward the sun, planet coordinates
    Vec3 sunCamera;        // toward the sun, camera coordinates
    Vec3 farHalf;          // between the sun and the viewer (orthographic only)
    bool perspective;
    double distance;    // of the camera, planet radii (perspective only)
    double scale;       // image-plane units per pixel
    double cx, cy;      // the image centre in pixels
    double pixelAngle;  // orthographic: planet radii per pixel; perspective: radians per pixel
    double coverScale;  // impact parameter difference -> pixels, for the limb's coverage
    float relief;
    std::array<float, 3> glow;  // linear atmosphere colour times strength
    bool clouds;
    bool transparent;
};

Frame MakeFrame(const GlobeCamera& camera, const GlobeSun& sun, const GlobeOptions& options,
                bool clouds);

}  // namespace globeforge::globe_detail
