// The globe's rays: what each pixel's viewing ray finds before any map is read.
#pragma once

#include <cstdint>

#include "globe/globe_camera.h"
#include "globe/sphere_geometry.h"

namespace globeforge::globe_detail {

struct Rgb {
    float r, g, b;
};

// What a pixel's ray finds before any map is read: the glow and the disc's coverage and, on
// the day side, the ground point and where it lies on the map. A row's rays are traced first
// and shaded after, which keeps the long arithmetic of neighbouring pixels independent.
struct Ray {
    Rgb glow;     // the atmosphere, premultiplied
    float alpha;  // of the glow; of glow and disc once the disc is drawn over it
    float cover;
    bool ground;  // a lit ground point to shade
    float sunCos;
    Vec3 d, pc, n;  // ray direction and ground point (camera coordinates), normal (planet)
    double horizontal, invHorizontal, secLat;
    double u, v, footprint;
};

// Traces the rays of the pixels of row y, width of them, into rays; two pixels at a time
// where SSE2 is there, with the same bytes as one at a time.
void TraceRow(const Frame& f, int64_t y, int32_t width, Ray* rays);

}  // namespace globeforge::globe_detail
