// The swirl: each pixel of an image fetched from a fixed-length offset toward the centre,
// turned by an angle from a warp map, as the crater stamps get their swirled outline. It
// turns its offsets with the warp's rotation.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/progress.h"
#include "image/float_image.h"

namespace globeforge {

// dst := src, each pixel fetched from a fixed-length offset toward the centre turned by an
// angle from warpMap (R: angle, G and B: weights of the two components).
void SwirlImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst, double strengthX,
                double strengthY, RenderContext& ctx);
// The columns x0 <= x < x1 of one row.
struct ColumnSpan {
    int32_t x0 = 0, x1 = 0;
};
// The same in the columns window[y] of each row y of dst (one span per row): outside them
// dst becomes opaque black, which is what the swirl gives there when no pixel outside them
// can fetch a pixel of src that is not opaque black.
void SwirlImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst, double strengthX,
                double strengthY, RenderContext& ctx, std::span<const ColumnSpan> window);

// The columns of each row of a swirl's destination whose pixels can fetch a pixel of src
// that is not opaque black, for any warp map whose values are finite; every other pixel
// comes out opaque black.
std::vector<ColumnSpan> SwirlReach(const FloatImage& src, double strengthX, double strengthY,
                                   RenderContext& ctx);

}  // namespace globeforge
