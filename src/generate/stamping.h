// The stamping pass from which the ground and the clouds grow: a brush is stretched over a
// target image count times at random places and sizes, crowding toward the equator and
// widening toward the poles, and redrawn every ten stamps. One routine serves every pass;
// a StampPass holds the constants that tell the passes apart.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/progress.h"
#include "core/render_params.h"
#include "exact/extended.h"
#include "generate/brush_cache.h"
#include "generate/patterns.h"
#include "image/float_image.h"
#include "image/stretch_plan.h"
#include "random/lcg32.h"

namespace globeforge {

// Which side of the middle row a stamp falls on.
enum class HemisphereRule {
    Alternate,  // odd stamps below the middle row, even ones above; no draw
    Drawn,      // Random(10) >= 5 below, otherwise above
};

enum class StampSampling { Nearest, Bilinear };

struct StampPass {
    int32_t count = 0;
    // Redraws the brush before stamps 1, 11, 21, ...; i is the stamp about to be placed.
    // Its draws (from ctx.rng) come before the stamp's own. The patterns draw with the
    // pass's cache, which the pass's stamps then read the brush through.
    std::function<void(int32_t i, FloatImage& brush, BrushCache& cache, RenderContext& ctx)>
        redrawBrush;
    // The layout every redraw leaves in the brush (PatternLayout); General has the brush
    // scanned for it after each redraw.
    SourceLayout brushLayout = SourceLayout::General;
    double pLat = 1;  // exponent of the latitude offset: higher crowds the equator more
    HemisphereRule hemisphere = HemisphereRule::Alternate;
    double sMax = 0, sMin = 0, pSize = 1;  // stamp size from a draw in [0, 1000)
    // Stamp width on the equator and at the poles, from the stamp size, and the exponent
    // between them.
    std::function<double(int32_t size)> wEq;
    std::function<double(int32_t size)> wPole;
    double pWide = 1;
    // Final width and height of the stamp from the latitude width w0 and the size.
    std::function<int32_t(int32_t w0, int32_t size)> width;
    std::function<int32_t(int32_t w0, int32_t size)> height;
    std::function<BlendMode(int32_t i)> mode;
    StampSampling sampling = StampSampling::Nearest;
};

// A warp filter's pass, the constants every filter shares: count stamps of brushes of the
// given layout, each stamp's side of the middle row drawn, sampled bilinearly, in the
// AddSubCycle modes; the caller sets the brush redraw, the sizes and any other modes.
StampPass WarpFilterPass(int32_t count, SourceLayout brushLayout);

// How a pass places and sizes its stamps, as the ground and cloud tables list it: sMax and
// sMin are the layer width over their divisors (a divisor of 0 makes sMin 0), wEq is the
// size over its divisor, wPole the size times its factor. width is
// Round(w0 * (xWarp / xWarpDivisor + 1)) and height likewise from the size (or size div 2
// with halveSize) and yWarp; a divisor of 0 keeps w0 or the size as it is.
struct StampSizes {
    double pLat = 1;
    double sMaxDivisor = 1, sMinDivisor = 0, pSize = 1;
    double wEqDivisor = 1, wPoleFactor = 1, pWide = 1;
    Extended xWarpDivisor = 0, yWarpDivisor = 0;
    bool halveSize = false;
};

// The constants of one warp filter. Filter k of a table draws channel k (R, G, B) of the
// warp map with DrawPattern. With a nonzero exponentPerDraw the redraw first takes one real
// draw d and shapes the pattern with exponent + exponentPerDraw * d.
struct WarpFilterSpec {
    int32_t count = 0;
    PatternShape shape = PatternShape::Ring;
    int32_t patternCount = 0;
    double exponent = 0, exponentPerDraw = 0;
    StampSizes sizes;
    bool addOnly = false;  // Add, Add, AddDirect, AddDirect instead of AddSubCycle
};

// The base pattern's brushes, all channels: domes of 8 carvings shaped by firstBias before
// stamp sixFrom, domes of 6 shaped by secondBias before stamp ringsFrom, then rings of
// ringCount carvings shaped by ringExponent.
struct BaseBrushes {
    Extended sixFrom = 0, ringsFrom = 0;
    double firstBias = 0, secondBias = 0;
    int32_t ringCount = 0;
    double ringExponent = 0;
};

// The base pattern's pass, the constants the ground and the clouds share: count stamps of
// the brushes, alternating hemispheres, sampled nearest, odd stamps AddDirect and even ones
// Add, placed and sized by sizes on a layer layerWidth pixels wide.
StampPass BaseStampPass(int32_t count, const BaseBrushes& brushes, const StampSizes& sizes,
                        double layerWidth, int32_t xWarp, int32_t yWarp);

// The four passes of a layer layerWidth pixels wide: base, then the three filters of the
// table with the warp strengths xWarp and yWarp.
std::array<StampPass, 4> LayerStampPasses(StampPass base,
                                          const std::array<WarpFilterSpec, 3>& filters,
                                          double layerWidth, int32_t xWarp, int32_t yWarp);

// The mode cycle of the warp filters that both add and subtract: i mod 4 = 0 Add, 1 Sub,
// 2 AddDirect, 3 SubDirect.
BlendMode AddSubCycle(int32_t i);

// The draws of one stamp; side is only drawn (and only read) under HemisphereRule::Drawn.
struct StampDraws {
    int32_t cx = 0;
    int32_t r1 = 0;
    int32_t side = 0;
    int32_t r2 = 0;
};

// Where stamp i of the pass lands on a target targetHeight rows high, given its draws (the
// sizes in pass already depend on the target's width).
ImageRect StampRectangle(const StampPass& pass, int32_t i, int32_t targetHeight,
                         const StampDraws& draws);

// StretchBlendNearest(src, whole, dst, whole, Wrap::Off, AddDirect) for two images of one
// size, the way the warp filters are merged, in bands of rows.
void AddImage(const FloatImage& src, FloatImage& dst, RenderContext& ctx);

// Stamps the brush pass.count times into target (wrapping over every edge), drawing from
// ctx.rng in the order: brush redraw (every tenth stamp), cx, r1, side (drawn rule only),
// r2. After each stamp it reports the percentage and tests the abort flag; false when the
// pass was aborted. The redraws draw with cache, which the caller keeps for as many passes
// as it likes: what it holds never changes a result.
bool RunStampPass(const StampPass& pass, FloatImage& brush, BrushCache& cache, FloatImage& target,
                  RenderContext& ctx);

// Whether a pass can be stamped into a value plane: its brushes carry one channel (OnlyR,
// OnlyG or OnlyB) and none of its stamps blends with Norm.
bool StampsIntoValuePlane(const StampPass& pass);
// The same draws and stamps into the plane of the one channel the pass's brushes carry,
// for a pass StampsIntoValuePlane accepts: that channel comes out bit for bit as in a
// FloatImage target, whose other channels these blends leave +0 where they start +0.
bool RunStampPass(const StampPass& pass, FloatImage& brush, BrushCache& cache,
                  const ChannelPlane& target, RenderContext& ctx);

// RunStampPass for a pass of gray brushes (layout Gray, no Norm stamp) onto a target whose
// R, G and B are equal bit for bit, as a layer filled opaque black is: the stamps blend one
// value where the image would blend three, into a plane of the value and one of A (held by
// a spare image of the target's size), and the target is written from them at the end, an
// aborted pass included. Same pixels; other passes and targets take RunStampPass.
bool RunStampPassOnGray(const StampPass& pass, FloatImage& brush, BrushCache& cache,
                        FloatImage& target, RenderContext& ctx);

// What the warp-map steps of a layer report: the message after each filter and after the
// merge, and the layer's name for a failure ("ground", "cloud").
struct WarpMapMessages {
    const char* filters[3];
    const char* merged;
    const char* layerName;
};

// The warp map of a layer from filter passes 1 to 3 (passes[0] is the base pattern): a
// width x height map, filled opaque black, takes filter 1; a black scratch image takes
// filter 2 and then filter 3, each added onto the map; the map is normalised. Reports after
// each step. Empty after an abort, or when an image cannot be allocated (ctx.failure then
// says so).
std::optional<FloatImage> BuildWarpMap(const std::array<StampPass, 4>& passes, FloatImage& brush,
                                       BrushCache& cache, int32_t width, int32_t height,
                                       const WarpMapMessages& messages, RenderContext& ctx);

// How a stamped layer is warped by its filters' map: the map's messages, the strengths, what
// the warped layer is reported with and what it is called in a failure.
struct LayerWarp {
    WarpMapMessages map;
    double strengthX, strengthY;
    const char* warpedMessage;
    const char* warpedName;
};

// The rest of a stamped layer once its base pass is in layer: the warp map (BuildWarpMap of
// the passes), the layer warped through it (WarpImage) and reported, also when the warp
// stopped early. The warped layer replaces layer unless the render was aborted; the other
// memory and the map's are kept as spares. Returns early after an abort or a failure.
void WarpStampedLayer(const std::array<StampPass, 4>& passes, FloatImage& brush, BrushCache& cache,
                      FloatImage& layer, const LayerWarp& warp, RenderContext& ctx);

// What a stamped layer's generator does between its passes: with a baseContrast, the base
// pattern is normalised and scaled by it; then it is reported with baseMessage.
struct StampedLayer {
    std::optional<double> baseContrast;
    const char* baseMessage;
    LayerWarp warp;
};

// A generated layer: the base pass of passes stamped into layer (W x H, filled with opaque
// black), finished as stamped says, then warped (WarpStampedLayer). The brushes are drawn into
// params.WorkImage with cache; without that image, ctx.failure says so and nothing is drawn.
// Returns early after an abort or a failure.
void GenerateStampedLayer(const RenderParams& params, const std::array<StampPass, 4>& passes,
                          FloatImage& layer, BrushCache& cache, const StampedLayer& stamped,
                          RenderContext& ctx);

}  // namespace globeforge
