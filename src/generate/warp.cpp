#include "generate/warp.h"

#include <cmath>

#include "generate/curves.h"

namespace globeforge {

namespace {

// Brings a position outside [0, n - 1] back into [0, n), keeping its fraction. A value
// between n - 1 and n is left alone; bilinear sampling wraps it.
Extended WrapPosition(Extended v, int32_t n) {
    if (v < 0 || v > n - 1) v = v - n * std::floor(v / n);
    return v;
}

}  // namespace

Vector2 RotateVector(Extended x, Extended y, Extended degrees) {
    const Extended a = DegToRad(degrees);
    const Extended c = std::cos(a);
    const Extended s = std::sin(a);
    return {x * c - y * s, x * s + y * c};
}

Vector2 WarpOffset(const FloatPixel& q, int32_t width, int32_t height, Extended strengthX,
                   Extended strengthY, Extended x, Extended y, Lcg32& rng) {
    const double halfH = height / 2.0;
    const double latitude = CurveOut(20, 1, halfH, 0, static_cast<double>(std::fabs(y - halfH)), 3);
    const double draw = rng.RandomReal();  // the only draw; made even when q.B cancels it
    const double p = static_cast<double>(draw * q.B / 1280.0L + (q.G / 64.0L + 2.0L));
    const double theta = CurveOut(-720, 720, 0, 512, q.R, p);
    const Extended gx = (q.G * 0.001953125L - 0.5L) * strengthX * (width / 512.0L);
    const Extended gy = (q.B * 0.001953125L - 0.5L) * strengthY * (height / 512.0L);
    const Vector2 rotated = RotateVector(gx, gy, theta);
    const Extended nx = x + rotated.x * latitude;
    const Extended ny = y + rotated.y;
    return {WrapPosition(nx, width), WrapPosition(ny, height)};
}

void WarpImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst, double strengthX,
               double strengthY, RenderContext& ctx) {
    const int32_t w = dst.Width;
    const int32_t h = dst.Height;
    // Nothing to sample from or steer by: the callers always pass images of dst's size.
    if (src.PixelCount() == 0 || warpMap.PixelCount() == 0) return;
    for (int32_t y = 0; y < h; ++y) {
        FloatPixel* out = dst.Row(y);
        for (int32_t x = 0; x < w; ++x) {
            const FloatPixel q = GetPixel(warpMap, x, y, Wrap::On);
            const Vector2 n = WarpOffset(q, w, h, strengthX, strengthY, x, y, ctx.rng);
            out[x] = SampleBilinear(src, static_cast<double>(n.x), static_cast<double>(n.y));
        }
        if (ctx.StepDone(y, h)) return;
    }
}

}  // namespace globeforge
