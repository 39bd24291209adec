// The globe's shading: the maps read for a row's lit ground points, and the ground, its
// clouds and the glow over them lit in linear light.
#pragma once

#include <cstdint>

#include "globe/globe_camera.h"
#include "globe/globe_rays.h"
#include "globe/globe_scene_data.h"
#include "globe/sphere_geometry.h"
#include "sampling/packed_sampler.h"

namespace globeforge::globe_detail {

// One pixel: linear colour (premultiplied by coverage) and alpha.
struct Shade {
    Rgb c;
    float alpha;
};

struct UV {
    double u, v;
};

// What the maps say about a lit ground point: the ground, the cloud seen above it and the
// cloud cover toward the sun. A row's reads are made together, apart from the shading, so
// the reads of neighbouring pixels overlap instead of each waiting for its texels.
struct GroundReads {
    SurfaceSample ground;
    CloudSample cloud;
    float shadow;  // opacity of the cloud toward the sun
};

// Where a lit ground point's reads go: computed for a whole row first, so the reads find
// their addresses ready.
struct ReadPlan {
    PackedFooting ground;  // also the cloud's when it shares the ground's grid
    PackedFooting shadow;
    UV cloud, toSun;
};

// Shades a traced row of width pixels into shades: plans every lit ground point's reads,
// then reads them, then lights them. plans and reads are scratch space of width entries.
void ShadeRow(const GlobeScene::Data& scene, const Frame& f, int32_t width, const Ray* rays,
              ReadPlan* plans, GroundReads* reads, Shade* shades);

}  // namespace globeforge::globe_detail
