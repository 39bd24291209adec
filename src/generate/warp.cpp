#include "generate/warp.h"

#include <cmath>

#include "core/parallel.h"
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

Turn TurnOf(Extended degrees) {
    const Extended a = DegToRad(degrees);
    return {std::cos(a), std::sin(a)};
}

void RoundedRotation(double x, double y, Extended degrees, int64_t& rx, int64_t& ry) {
    const Extended a = DegToRad(degrees);
    const double ad = static_cast<double>(a);
    if (std::fabs(ad) < 1e6) {
        // The double angle is within 2^-53 |a| of a; double sine and cosine are within an
        // ulp; so each component lies within (|x| + |y|)(|a| + 3) 2^-52 of the exact one.
        // The bound below allows a hundred times that.
        const double c = std::cos(ad);
        const double s = std::sin(ad);
        const double tx = x * c - y * s;
        const double ty = x * s + y * c;
        const double error = (std::fabs(x) + std::fabs(y)) * (std::fabs(ad) + 3.0) * 1e-13 + 1e-300;
        const int32_t x0 = Round(tx - error);
        const int32_t y0 = Round(ty - error);
        if (x0 == Round(tx + error) && y0 == Round(ty + error) && std::fabs(tx) < 1e9 &&
            std::fabs(ty) < 1e9) {
            rx = x0;
            ry = y0;
            return;
        }
    }
    const Vector2 turned = RotateVector(x, y, degrees);
    rx = Round(turned.x);
    ry = Round(turned.y);
}

namespace {

// The horizontal stretch of row y: 1 on the middle row, 20 at the top and bottom.
double LatitudeFactor(int32_t height, Extended y) {
    const double halfH = height / 2.0;
    return CurveOut(20, 1, halfH, 0, static_cast<double>(std::fabs(y - halfH)), 3);
}

// CurveOut(-720, 720, 0, 512, qR, p) step for step, with the logarithm of the interval
// length, the same for every pixel, taken once.
const Extended kLog512 = AbsPowerLog(512.0);
double TurnAngle(double qR, double p) {
    const double t = qR - 0.0;
    const double m = 512.0 - t;
    const double q = static_cast<double>((static_cast<Extended>(720.0) - (-720.0)) /
                                         AbsPowerFromLog(512.0, kLog512, p));
    const double r = static_cast<double>(static_cast<Extended>(AbsPower(m - 0.0, p)) * q + -720.0);
    return static_cast<double>(static_cast<Extended>(-720.0) + (static_cast<Extended>(720.0) - r));
}

Vector2 Offset(const FloatPixel& q, int32_t width, int32_t height, Extended strengthX,
               Extended strengthY, Extended x, Extended y, double latitude, Lcg32& rng) {
    const double draw = rng.RandomReal();  // the only draw; made even when q.B cancels it
    const double p = static_cast<double>(draw * q.B / 1280.0L + (q.G / 64.0L + 2.0L));
    const double theta = TurnAngle(q.R, p);
    // Stored values: doubles.
    const double gx =
        static_cast<double>((q.G * 0.001953125L - 0.5L) * strengthX * (width / 512.0L));
    const double gy =
        static_cast<double>((q.B * 0.001953125L - 0.5L) * strengthY * (height / 512.0L));
    const Vector2 rotated = RotateVector(gx, gy, theta);
    const Extended nx = x + rotated.x * latitude;
    const Extended ny = y + rotated.y;
    return {WrapPosition(nx, width), WrapPosition(ny, height)};
}

}  // namespace

Vector2 WarpOffset(const FloatPixel& q, int32_t width, int32_t height, Extended strengthX,
                   Extended strengthY, Extended x, Extended y, Lcg32& rng) {
    return Offset(q, width, height, strengthX, strengthY, x, y, LatitudeFactor(height, y), rng);
}

void WarpImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst, double strengthX,
               double strengthY, RenderContext& ctx) {
    const int32_t w = dst.Width;
    const int32_t h = dst.Height;
    // Nothing to sample from or steer by: the callers always pass images of dst's size.
    if (src.PixelCount() == 0 || warpMap.PixelCount() == 0) return;
    // Every pixel makes one draw in raster order, so a band starting at row y0 starts with
    // the generator advanced by y0 x w draws: the rows can run in any order.
    const Lcg32 start = ctx.rng;
    const uint64_t rowDraws = static_cast<uint64_t>(w);
    const bool completed = ParallelRows(
        ctx, h, kBandRows,
        [&](int64_t y0, int64_t y1) {
            Lcg32 rng = start;
            rng.Advance(static_cast<uint64_t>(y0) * rowDraws);
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                FloatPixel* out = dst.Row(y);
                const double latitude = LatitudeFactor(h, y);
                for (int32_t x = 0; x < w; ++x) {
                    const FloatPixel q = GetPixel(warpMap, x, y, Wrap::On);
                    const Vector2 n = Offset(q, w, h, strengthX, strengthY, x, y, latitude, rng);
                    out[x] =
                        SampleBilinear(src, static_cast<double>(n.x), static_cast<double>(n.y));
                }
            }
        },
        [&](int64_t y) {
            // The shared generator follows the rows reported so far, as the serial loop's.
            ctx.rng = start;
            ctx.rng.Advance(static_cast<uint64_t>(y + 1) * rowDraws);
            return ctx.StepDone(y, h);
        });
    (void)completed;  // an abort leaves the remaining rows as they were
}

}  // namespace globeforge
