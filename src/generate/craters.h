// Impact craters: 40 crater stamps with bowl, rim, ridges and a swirled outline, scattered
// over two polar images and projected onto the heightmap's hemispheres.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/progress.h"
#include "core/render_params.h"
#include "exact/extended.h"
#include "generate/brush_cache.h"
#include "image/float_image.h"

namespace globeforge {

// The number of distinct crater stamps a render builds.
constexpr int32_t kCraterStampCount = 40;

// The whole crater stage on the ground heightmap image: stamps, placement per hemisphere,
// projection and the final normalisation. Stops early on an abort (the caller discards the
// layer) or when an image cannot be had (ctx.failure says so).
void PlaceCraters(const RenderParams& params, FloatImage& image, RenderContext& ctx);

// The cross-section of one crater on a stamp of a given width: radius R, rim crest innerR,
// bowl floor depth and rim height.
struct CraterShape {
    int32_t R;
    double innerR;
    double floor;
    double rimH;
};
CraterShape MakeCraterShape(int32_t stampWidth, double sizeFraction);

// Height at distance d from the crater centre, and whether the point lies in the bowl.
// draw is the RandomReal() of the pixel, which roughens the slopes by noise.
struct CraterProfilePoint {
    double height;
    bool inBowl;
};
CraterProfilePoint CraterProfile(const CraterShape& shape, double d, double draw, double noise);
// static_cast<float>(CraterProfile(...).height), mostly without extended-precision powers.
float CraterHeightFloat(const CraterShape& shape, double d, double draw, double noise);

// The helper images of a crater stamp build, kept from one stamp to the next so that the
// 40 stamps of a render do not each fault fresh memory in.
struct CraterScratch {
    std::optional<FloatImage> pattern, swirl, swirled;
    BrushCache brushes;  // the swirl patterns' discs and tables, kept from stamp to stamp

    void Release() {
        pattern.reset();
        swirl.reset();
        swirled.reset();
        brushes.Release();
    }
};

// Fills the stamp with one crater: bowl and rim, ridges, then the swirled outline. Draws
// from ctx.rng. False when a helper image cannot be allocated (ctx.failure says so).
bool BuildCraterStamp(FloatImage& stamp, double sizeFraction, double warpStrength, double noise,
                      RenderContext& ctx);
bool BuildCraterStamp(FloatImage& stamp, double sizeFraction, double warpStrength, double noise,
                      RenderContext& ctx, CraterScratch& scratch);

// One dome of a crater ridge: amplitude x pattern over the square of the radius around
// (cx, cy), as MaxStamp takes them.
struct RidgeDome {
    Extended cx = 0, cy = 0;
    double radius = 0, amplitude = 0;
};

// MaxStamp of every dome, one after the other, on the context's threads: the same pixels.
void MaxStampDomes(FloatImage& image, const FloatImage& pattern,
                   const std::vector<RidgeDome>& domes, RenderContext& ctx);

}  // namespace globeforge
