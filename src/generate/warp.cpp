#include "generate/warp.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>

#include "core/parallel.h"
#include "exact/lerp.h"
#include "generate/curves.h"
#include "generate/warp_turn.h"

namespace globeforge {

namespace {

using warp_turn::EstimateTurns;
using warp_turn::kEps;
using warp_turn::TurnAngle;
using warp_turn::TurnEstimate;

// Brings a position outside [0, n - 1] back into [0, n), keeping its fraction. A value
// between n - 1 and n is left alone; bilinear sampling wraps it.
Extended WrapPosition(Extended v, int32_t n) {
    if (v < 0 || v > n - 1) v = v - n * std::floor(v / n);
    return v;
}

}  // namespace

namespace {

// The horizontal stretch of row y: 1 on the middle row, 20 at the top and bottom.
double LatitudeFactor(int32_t height, Extended y) {
    const double halfH = height / 2.0;
    return CurveOut(20, 1, halfH, 0, static_cast<double>(std::fabs(y - halfH)), 3);
}

// What a warp-map pixel and its draw make of the displacement before it is turned: the
// exponent of the turn and the two components, each from extended steps, stored as doubles.
struct Steer {
    double p, gx, gy;
};

Steer SteerOf(const FloatPixel& q, double draw, int32_t width, int32_t height, Extended strengthX,
              Extended strengthY) {
    return {static_cast<double>(draw * q.B / 1280.0L + (q.G / 64.0L + 2.0L)),
            static_cast<double>((q.G * 0.001953125L - 0.5L) * strengthX * (width / 512.0L)),
            static_cast<double>((q.B * 0.001953125L - 0.5L) * strengthY * (height / 512.0L))};
}

Vector2 Place(const FloatPixel& q, const Steer& steer, int32_t width, int32_t height, Extended x,
              Extended y, double latitude) {
    const double theta = TurnAngle(q.R, steer.p);
    const Vector2 rotated = RotateVector(steer.gx, steer.gy, theta);
    const Extended nx = x + rotated.x * latitude;
    const Extended ny = y + rotated.y;
    return {WrapPosition(nx, width), WrapPosition(ny, height)};
}

Vector2 Offset(const FloatPixel& q, int32_t width, int32_t height, Extended strengthX,
               Extended strengthY, Extended x, Extended y, double latitude, Lcg32& rng) {
    const double draw = rng.RandomReal();  // the only draw; made even when q.B cancels it
    return Place(q, SteerOf(q, draw, width, height, strengthX, strengthY), width, height, x, y,
                 latitude);
}

// The quick path of the warp. The extended steps above cost about half a microsecond a
// pixel (two extended powers, and an extended sine and cosine whose argument reduction is
// slow beyond pi/4), yet only the float sample they lead to is stored. Below, the position is
// estimated in double precision with a bound on its distance from the exact one, and the
// sample is taken where every position within the bound gives the same floats; elsewhere
// (about one pixel in ten thousand) the exact steps decide. The bounds assume the C
// library's double exp, log, sin and cos within 2 ulps (4 for the vector forms), and its
// extended ones within 2 ulps of the extended format; both are documented below that. The
// turn and its estimates are in warp_turn.h.
//
// A coordinate of the warped position is estimated as an Estimate (exact/decide.h): the
// double value and a bound on its distance from the extended one.

// Wraps an estimate as WrapPosition wraps the exact value (within [0, n - 1] left alone,
// else less n floor(v / n)), when the whole bracket is on one side of each test and of
// every multiple of n. The extended quotient v / n can round up to the next integer only
// within n (|k| + 1) 2^-63 of a multiple; the bracket keeps 2^-40 n away from them.
bool WrapEstimate(Estimate& e, int32_t n) {
    const double lo = e.value - e.bound;
    const double hi = e.value + e.bound;
    if (lo >= 0 && hi <= n - 1) return true;
    if (!(hi < 0 || lo > n - 1)) return false;
    const double k = std::floor(e.value / n);
    if (!(std::fabs(k) < 0x1p20)) return false;
    const double margin = n * 0x1p-40;
    if (!(lo - k * n > margin && (k + 1) * n - hi > margin)) return false;
    // k n is exact in both; the differences round once each.
    e.value -= k * n;
    e.bound += kEps * (std::fabs(e.value) + n);
    return true;
}

// The taps of one axis, as BilinearAxis finds them for every position in the bracket, and
// the bracket of the fraction; false when the bracket spans a pixel boundary.
struct TapRange {
    int32_t i0, i1;
    double t0, t1;
};
bool TapsOf(const Estimate& e, int32_t n, TapRange& taps) {
    // The sampled position is the extended one rounded to double: within 2^-53 of it.
    const double slack = e.bound + kEps * std::fabs(e.value);
    const double lo = e.value - slack;
    const double hi = e.value + slack;
    const double i = std::floor(lo);
    if (!(i == std::floor(hi)) || !(std::fabs(i) < 0x1p30)) return false;
    taps.i0 = WrapCoordinate(static_cast<int32_t>(i), n);
    taps.i1 = taps.i0 + 1 < n ? taps.i0 + 1 : 0;
    // lo - i and hi - i are exact: both lie in [i, i + 1).
    taps.t0 = std::max(lo - i, 0.0);
    taps.t1 = hi - i;
    return true;
}

// LerpPixel(a, b, t) for every t in [t0, t1], when decided.
bool PixelLerpDecidedOver(FloatPixel a, FloatPixel b, double t0, double t1, FloatPixel& out) {
    BorrowColours(a, b);
    if (!LerpDecidedOver(a.R, b.R, t0, t1, out.R) || !LerpDecidedOver(a.A, b.A, t0, t1, out.A)) {
        return false;
    }
    // The layers are gray: where both pixels are, G and B go as R went.
    const auto same = [](float u, float v) {
        return std::bit_cast<uint32_t>(u) == std::bit_cast<uint32_t>(v);
    };
    if (same(a.G, a.R) && same(a.B, a.R) && same(b.G, b.R) && same(b.B, b.R)) {
        out.G = out.R;
        out.B = out.R;
        return true;
    }
    return LerpDecidedOver(a.G, b.G, t0, t1, out.G) && LerpDecidedOver(a.B, b.B, t0, t1, out.B);
}

// The taps and fraction brackets of SampleBilinear(src, Place(...)) when the estimate
// decides them.
struct QuickTaps {
    TapRange x, y;
};

// The rest of the plan, from the turn and its sine s and cosine c.
bool PlanQuickSample(const FloatImage& src, const Steer& steer, int32_t width, int32_t height,
                     int32_t x, int32_t y, double latitude, const TurnEstimate& turn, double s,
                     double c, QuickTaps& taps) {
    // The vector sine and cosine within 4 ulp (2^-51 for values up to 1) and the extended
    // ones within 2^-52 of their arguments': 2^-50 covers both.
    const double trigError = turn.error + 4.0 * kEps;
    const double rx = steer.gx * c - steer.gy * s;
    const double ry = steer.gx * s + steer.gy * c;
    const double turnError = (std::fabs(steer.gx) + std::fabs(steer.gy)) * (trigError + 2.0 * kEps);
    Estimate ex{x + rx * latitude, 0.0};
    ex.bound = turnError * latitude + 2.0 * kEps * (std::fabs(rx * latitude) + std::fabs(ex.value));
    Estimate ey{y + ry, 0.0};
    ey.bound = turnError + 2.0 * kEps * (std::fabs(ry) + std::fabs(ey.value));
    if (!(ex.bound < 0.25 && ey.bound < 0.25)) return false;  // also not finite
    return WrapEstimate(ex, width) && WrapEstimate(ey, height) && TapsOf(ex, src.Width, taps.x) &&
           TapsOf(ey, src.Height, taps.y);
}

// The sample of planned taps, when every fraction in the brackets gives the same floats.
bool QuickSample(const FloatImage& src, const QuickTaps& taps, FloatPixel& out) {
    const TapRange& tx = taps.x;
    const TapRange& ty = taps.y;
    const FloatPixel* row0 = src.Row(ty.i0);
    const FloatPixel* row1 = src.Row(ty.i1);
    FloatPixel top, bottom;
    return PixelLerpDecidedOver(row0[tx.i1], row0[tx.i0], tx.t0, tx.t1, top) &&
           PixelLerpDecidedOver(row1[tx.i1], row1[tx.i0], tx.t0, tx.t1, bottom) &&
           PixelLerpDecidedOver(bottom, top, ty.t0, ty.t1, out);
}

#if defined(__x86_64__)
// BorrowColours on pixels held as R, G, B, A lanes.
__attribute__((target("avx2"), always_inline)) inline void BorrowColours4(__m128& a, __m128& b) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 colours = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
    const __m128 aClear = _mm_cmpeq_ps(a, zero);
    a = _mm_blendv_ps(a, b, _mm_and_ps(_mm_shuffle_ps(aClear, aClear, 0xff), colours));
    const __m128 bClear = _mm_cmpeq_ps(b, zero);
    b = _mm_blendv_ps(b, a, _mm_and_ps(_mm_shuffle_ps(bClear, bClear, 0xff), colours));
}

// PixelLerpDecidedOver with the four channels in AVX2 lanes: the same decision per channel
// (a gray pair decides G and B as it decides R, being the same lerp), so the same floats.
// decided keeps only the lanes this lerp decides too.
__attribute__((target("avx2"), always_inline)) inline __m128 PixelLerpDecidedOverAvx2(
    __m128 a, __m128 b, double t0, double t1, int& decided) {
    BorrowColours4(a, b);
    int lanes;
    const __m128 out = LerpDecidedOver4Avx2(a, b, t0, t1, lanes);
    decided &= lanes;
    return out;
}

// QuickSample with the lerps in AVX2 lanes, the pixels kept in registers throughout.
__attribute__((target("avx2"))) bool QuickSampleAvx2(const FloatImage& src, const QuickTaps& taps,
                                                     FloatPixel& out) {
    const TapRange& tx = taps.x;
    const TapRange& ty = taps.y;
    const FloatPixel* row0 = src.Row(ty.i0);
    const FloatPixel* row1 = src.Row(ty.i1);
    int decided = 0xf;
    const __m128 top = PixelLerpDecidedOverAvx2(
        _mm_loadu_ps(&row0[tx.i1].R), _mm_loadu_ps(&row0[tx.i0].R), tx.t0, tx.t1, decided);
    const __m128 bottom = PixelLerpDecidedOverAvx2(
        _mm_loadu_ps(&row1[tx.i1].R), _mm_loadu_ps(&row1[tx.i0].R), tx.t0, tx.t1, decided);
    _mm_storeu_ps(&out.R, PixelLerpDecidedOverAvx2(bottom, top, ty.t0, ty.t1, decided));
    return decided == 0xf;
}
#endif

// QuickSample in the widest lanes the processor has.
bool QuickSampleWidest(const FloatImage& src, const QuickTaps& taps, FloatPixel& out) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return QuickSampleAvx2(src, taps, out);
#endif
    return QuickSample(src, taps, out);
}

}  // namespace

Vector2 WarpOffset(const FloatPixel& q, int32_t width, int32_t height, Extended strengthX,
                   Extended strengthY, Extended x, Extended y, Lcg32& rng) {
    return Offset(q, width, height, strengthX, strengthY, x, y, LatitudeFactor(height, y), rng);
}

int64_t WarpImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst,
                  double strengthX, double strengthY, RenderContext& ctx) {
    const int32_t w = dst.Width;
    const int32_t h = dst.Height;
    // Nothing to sample from or steer by: the callers always pass images of dst's size.
    if (src.PixelCount() == 0 || warpMap.PixelCount() == 0) return 0;
    // Every pixel makes one draw in raster order, so a band starting at row y0 starts with
    // the generator advanced by y0 x w draws: the rows can run in any order.
    const Lcg32 start = ctx.rng;
    const uint64_t rowDraws = static_cast<uint64_t>(w);
    std::atomic<int64_t> exactPixels = 0;
    const bool completed = ParallelRows(
        ctx, h, kBandRows,
        [&](int64_t y0, int64_t y1) {
            Lcg32 rng = start;
            rng.Advance(static_cast<uint64_t>(y0) * rowDraws);
            constexpr int32_t kRun = 32;
            struct Planned {
                FloatPixel q;
                Steer steer;
                QuickTaps taps;
                bool quick;
            };
            Planned planned[kRun];
            TurnEstimate turns[kRun];
            double ms[kRun], ps[kRun], sines[kRun], cosines[kRun];
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                FloatPixel* out = dst.Row(y);
                const double latitude = LatitudeFactor(h, y);
                // A run of pixels is planned first and its texels fetched ahead: the reads
                // land anywhere in the source and would otherwise each wait for memory. The
                // turns' sines and cosines are taken for the whole run at once.
                for (int32_t first = 0; first < w; first += kRun) {
                    const int32_t end = std::min(w, first + kRun);
                    for (int32_t x = first; x < end; ++x) {
                        Planned& plan = planned[x - first];
                        plan.q = GetPixel(warpMap, x, y, Wrap::On);
                        plan.steer = SteerOf(plan.q, rng.RandomReal(), w, h, strengthX, strengthY);
                        ms[x - first] = 512.0 - static_cast<double>(plan.q.R);
                        ps[x - first] = plan.steer.p;
                    }
                    EstimateTurns(ms, ps, turns, sines, cosines, end - first);
                    for (int32_t x = first; x < end; ++x) {
                        Planned& plan = planned[x - first];
                        const TurnEstimate& turn = turns[x - first];
                        plan.quick = turn.valid && PlanQuickSample(src, plan.steer, w, h, x, y,
                                                                   latitude, turn, sines[x - first],
                                                                   cosines[x - first], plan.taps);
                        if (plan.quick) {
                            __builtin_prefetch(src.Row(plan.taps.y.i0) + plan.taps.x.i0);
                            __builtin_prefetch(src.Row(plan.taps.y.i1) + plan.taps.x.i0);
                        }
                    }
                    for (int32_t x = first; x < end; ++x) {
                        const Planned& plan = planned[x - first];
                        if (plan.quick && QuickSampleWidest(src, plan.taps, out[x])) continue;
                        exactPixels.fetch_add(1, std::memory_order_relaxed);
                        const Vector2 n = Place(plan.q, plan.steer, w, h, x, y, latitude);
                        out[x] =
                            SampleBilinear(src, static_cast<double>(n.x), static_cast<double>(n.y));
                    }
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
    return exactPixels.load();
}

}  // namespace globeforge
