// The warp: a layer is resampled through a warp map whose pixels turn and scale a
// displacement, the horizontal part stretched toward the poles of the equirectangular map,
// so that stamped relief flows instead of looking stamped. RotateVector also serves the
// crater stage.
#pragma once

#include <cstdint>

#include "core/progress.h"
#include "exact/extended.h"
#include "image/float_image.h"
#include "random/lcg32.h"

namespace globeforge {

struct Vector2 {
    Extended x;
    Extended y;
};

// degrees * pi / 180.
inline Extended DegToRad(Extended degrees) {
    return degrees * 0.017453292519943295L;
}

// The cosine and sine of an angle given in degrees, for turning many vectors by one angle.
struct Turn {
    Extended c;
    Extended s;
};
Turn TurnOf(Extended degrees);

// (x, y) turned: (x cos a - y sin a, x sin a + y cos a).
inline Vector2 Rotate(Extended x, Extended y, const Turn& turn) {
    return {x * turn.c - y * turn.s, x * turn.s + y * turn.c};
}

// (x, y) turned by degrees.
inline Vector2 RotateVector(Extended x, Extended y, Extended degrees) {
    return Rotate(x, y, TurnOf(degrees));
}

// Round of both components of RotateVector(x, y, degrees), for x and y in double: the same
// integers, mostly without the extended-precision sine and cosine (double-precision ones
// bracket the result, and the exact turn decides only where the bracket spans a rounding
// boundary).
void RoundedRotation(double x, double y, Extended degrees, int64_t& rx, int64_t& ry);
// The same from estimates x and y of the components, each within slack times its size of
// the true one: true when the double bracket decides both integers for every pair within
// that slack, false (nothing set) when the exact components must decide.
bool RoundedRotationOfEstimate(double x, double y, double slack, Extended degrees, int64_t& rx,
                               int64_t& ry);
// The angle of a turn by degrees in radians, rounded to double, and the estimate above for
// callers that take its sine s and cosine c themselves (within 4 ulp), many at once.
double TurnRadians(Extended degrees);
bool RoundedRotationOfTurn(double x, double y, double slack, double ad, double s, double c,
                           int64_t& rx, int64_t& ry);

// The displaced sampling position of pixel (x, y) of a width x height image, steered by its
// warp-map pixel q: R turns the displacement, G and B set its components (0 at 256). The
// horizontal part grows toward the top and bottom rows; the result is wrapped into the
// image. Exactly one RandomReal() per call.
Vector2 WarpOffset(const FloatPixel& q, int32_t width, int32_t height, Extended strengthX,
                   Extended strengthY, Extended x, Extended y, Lcg32& rng);

// dst := src sampled through warpMap (both read with wrap-around), one RandomReal() from
// ctx.rng per pixel of dst in raster order. Reports the percentage after each row and stops
// when an abort is requested, leaving the remaining rows of dst as they were.
void WarpImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst, double strengthX,
               double strengthY, RenderContext& ctx);

}  // namespace globeforge
