// The tangent-space normal map of the ground relief, for 3D renderers that light a sphere
// with it: OpenGL convention (red east, green north, blue out of the surface), each
// component mapped from -1 .. 1 to 0 .. 255. It is derived from the same heights as the
// ground bump map, at the layer's full float precision before reduction.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

#include "core/progress.h"
#include "core/render_params.h"
#include "image/float_image.h"

namespace globeforge {

// The height of the full bump range (0 .. 256) as a fraction of the equator's length at
// NormalStrength 100. Slopes are measured on the sphere, so a planet gives the same normals
// at every output size and oversampling.
inline constexpr double kNormalReliefAtFullStrength = 0.01;

// The geometry of a height field whose slopes are measured on the sphere, in units of one
// pixel's width at the equator.
struct SlopeFrame {
    int32_t width;
    int32_t height;
    double heightScale;  // height level -> relief in equator pixel widths
    double rowSpan;      // a pixel's north-south extent
};

// relief: the height of the full range (0 .. 256) as a fraction of the equator's length.
inline SlopeFrame MakeSlopeFrame(double relief, int32_t width, int32_t height) {
    // The equator is `width` pixels long; a full-range height (256 levels) rises `relief` of it.
    return {width, height, relief * width / 256.0,
            static_cast<double>(width) / (2.0 * static_cast<double>(height))};
}

// Calls fn(x, east, north) for every pixel of row y with its rise per unit run eastward and
// northward. above and below are the neighbouring rows of heights, or null at a pole, where
// the slope is taken one-sided instead of across the pole; longitude wraps around, and the
// east slope is measured over the cos(latitude) width a pixel spans there.
template <class Fn>
void ForEachRowSlope(const SlopeFrame& f, int32_t y, const float* above, const float* row,
                     const float* below, Fn&& fn) {
    const double latitude =
        std::numbers::pi * (0.5 - (static_cast<double>(y) + 0.5) / static_cast<double>(f.height));
    const double eastSpan = 2.0 * std::cos(latitude);
    const double northSpan = (above && below ? 2.0 : 1.0) * f.rowSpan;
    for (int32_t x = 0; x < f.width; ++x) {
        const int32_t west = x == 0 ? f.width - 1 : x - 1;
        const int32_t east = x == f.width - 1 ? 0 : x + 1;
        const double dEast = (static_cast<double>(row[east]) - row[west]) * f.heightScale;
        double dNorth = 0.0;
        if (above || below) {
            const float north = above ? above[x] : row[x];
            const float south = below ? below[x] : row[x];
            dNorth = (static_cast<double>(north) - south) * f.heightScale;
        }
        fn(x, dEast / eastSpan, dNorth / northSpan);
    }
}

// Sets params.NormalMapImage: the ground bump heights (sea flattened at sea level, the
// clouds added when mixClouds, normalised to 0 .. 256) turned into unit normals with
// NormalStrength, wrapping across longitude 0/360 but not across the poles, with the east
// slope measured over the cos(latitude) width a pixel spans there; then reduced to the
// output size and made unit length again. cloud may be null. Nothing is stored after an
// abort or when memory runs out (ctx.failure then says so).
void BuildNormalMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                    bool mixClouds, RenderContext& ctx);

}  // namespace globeforge
