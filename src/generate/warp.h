// The warp: a layer is resampled through a warp map whose pixels turn and scale a
// displacement, the horizontal part stretched toward the poles of the equirectangular map,
// so that stamped relief flows instead of looking stamped. The turn itself (RotateVector and
// its decided forms) is in exact/rotation.h, which the crater stage also uses.
#pragma once

#include <cstdint>

#include "core/progress.h"
#include "exact/extended.h"
#include "exact/rotation.h"
#include "image/float_image.h"
#include "random/lcg32.h"

namespace globeforge {

// The displaced sampling position of pixel (x, y) of a width x height image, steered by its
// warp-map pixel q: R turns the displacement, G and B set its components (0 at 256). The
// horizontal part grows toward the top and bottom rows; the result is wrapped into the
// image. Exactly one RandomReal() per call.
Vector2 WarpOffset(const FloatPixel& q, int32_t width, int32_t height, Extended strengthX,
                   Extended strengthY, Extended x, Extended y, Lcg32& rng);

// dst := src sampled through warpMap (both read with wrap-around), one RandomReal() from
// ctx.rng per pixel of dst in raster order. Reports the percentage after each row and stops
// when an abort is requested, leaving the remaining rows of dst as they were. Returns how many
// pixels took the extended steps instead of the double estimates that decide the rest.
int64_t WarpImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst,
                  double strengthX, double strengthY, RenderContext& ctx);

}  // namespace globeforge
