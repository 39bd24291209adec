// The swirl. Its offsets come from double steps where those decide them, else from the
// extended steps, and are turned by the warp's rotation.
#include "generate/swirl.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "core/parallel.h"
#include "exact/rotation.h"
#include "generate/curves.h"

namespace globeforge {

namespace {

// The swirl's offset of pixel (x, y) toward the centre (hw, hh), turned by theta degrees and
// rounded, from the warp-map pixel q: the components' extended steps, then the rotation.
// An axis one pixel long has no centre to pull toward: its component stays 0.
void SwirlOffset(const FloatPixel& q, int32_t x, int32_t y, int32_t hw, int32_t hh,
                 double strengthX, double strengthY, int32_t w, int32_t h, double theta,
                 int64_t& rx, int64_t& ry) {
    double u =
        hw == 0 ? 0.0
                : static_cast<double>(static_cast<Extended>(hw - x) / hw * ((q.G + 1.0L) / 255.0L));
    double v =
        hh == 0 ? 0.0
                : static_cast<double>(static_cast<Extended>(hh - y) / hh * ((q.B + 1.0L) / 255.0L));
    // The root of the extended sum, then stored.
    const double d =
        static_cast<double>(std::sqrt(static_cast<Extended>(u) * u + static_cast<Extended>(v) * v));
    if (d > 0) {
        u = static_cast<double>(u / static_cast<Extended>(d) * strengthX * (w / 512.0L));
        v = static_cast<double>(v / static_cast<Extended>(d) * strengthY * (h / 512.0L));
    }
    RoundedRotation(u, v, theta, rx, ry);
}

// SwirlOffset from double steps where they decide it (scaleX and scaleY the strengths times
// the size over 512, in double). Every step multiplies, divides or takes a root of positive
// magnitudes or adds squares, so no cancellation: each rounds within 2^-53 of its size in
// double and 2^-64 in extended, and the roundings of both paths (about twenty at 2^-53)
// leave the estimates within 2^-48 of their size of the exact path's components. A zero component
// is zero on both paths, and both leave u and v unscaled when they are both zero.
bool SwirlOffsetOfEstimate(const FloatPixel& q, int32_t x, int32_t y, int32_t hw, int32_t hh,
                           double scaleX, double scaleY, double ad, double s, double c, int64_t& rx,
                           int64_t& ry) {
    const double g = q.G + 1.0;
    const double b = q.B + 1.0;
    if (!(std::fabs(g) < 1e30 && std::fabs(b) < 1e30)) return false;
    double u = hw == 0 ? 0.0 : static_cast<double>(hw - x) / hw * (g / 255.0);
    double v = hh == 0 ? 0.0 : static_cast<double>(hh - y) / hh * (b / 255.0);
    const double d = std::sqrt(u * u + v * v);
    if (d > 0) {
        // Squares of tiny components would lose bits below the double range.
        if (!(d > 1e-100)) return false;
        u = u / d * scaleX;
        v = v / d * scaleY;
    }
    return RoundedRotationOfTurn(u, v, 0x1p-48, ad, s, c, rx, ry);
}

}  // namespace

void SwirlImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst, double strengthX,
                double strengthY, RenderContext& ctx) {
    SwirlImage(src, warpMap, dst, strengthX, strengthY, ctx,
               std::vector<ColumnSpan>(static_cast<size_t>(dst.Height), {0, dst.Width}));
}

void SwirlImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst, double strengthX,
                double strengthY, RenderContext& ctx, std::span<const ColumnSpan> window) {
    if (src.PixelCount() == 0) return;
    const int32_t w = dst.Width;
    const int32_t h = dst.Height;
    const int32_t hw = w / 2;
    const int32_t hh = h / 2;
    ParallelRows(
        ctx, h, kBandRows,
        [&](int64_t y0, int64_t y1) {
            // The turns' sines and cosines are taken a run of pixels at a time.
            constexpr int32_t kRun = 32;
            double thetas[kRun], angles[kRun], sines[kRun], cosines[kRun];
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                FloatPixel* out = dst.Row(y);
                const int32_t wx0 = std::clamp(window[static_cast<size_t>(y)].x0, 0, w);
                const int32_t wx1 = std::clamp(window[static_cast<size_t>(y)].x1, wx0, w);
                std::fill(out, out + wx0, kOpaqueBlack);
                std::fill(out + wx1, out + w, kOpaqueBlack);
                for (int32_t x = wx0; x < wx1; ++x) {
                    const int32_t k = (x - wx0) % kRun;
                    if (k == 0) {
                        const int32_t n = std::min(kRun, wx1 - x);
                        for (int32_t i = 0; i < n; ++i) {
                            const FloatPixel q = GetPixel(warpMap, x + i, y, Wrap::Off);
                            thetas[i] = static_cast<double>(q.R * 0.00392156862745098L * 360.0L);
                            angles[i] = TurnRadians(thetas[i]);
                        }
                        SinesAndCosines(angles, sines, cosines, static_cast<size_t>(n));
                    }
                    const FloatPixel q = GetPixel(warpMap, x, y, Wrap::Off);
                    const double theta = thetas[k];
                    int64_t rx = 0, ry = 0;
                    if (!SwirlOffsetOfEstimate(q, x, y, hw, hh, strengthX * (w / 512.0),
                                               strengthY * (h / 512.0), angles[k], sines[k],
                                               cosines[k], rx, ry)) {
                        SwirlOffset(q, x, y, hw, hh, strengthX, strengthY, w, h, theta, rx, ry);
                    }
                    int64_t nx = rx + x;
                    int64_t ny = ry + y;
                    if (nx < 1) nx = 1;
                    if (nx > w - 2) nx = w - 2;
                    if (ny < 1) ny = 1;
                    if (ny > h - 2) ny = h - 2;
                    SetPixel(
                        dst, x, y,
                        GetPixel(src, static_cast<int32_t>(nx), static_cast<int32_t>(ny), Wrap::On),
                        Wrap::Off);
                }
            }
        },
        [&](int64_t y) {
            ctx.SetPercent(y, h);
            if (ctx.Aborted()) return true;
            ctx.ProcessPendingEvents();
            return false;
        });
}

// A pixel's offset is its two components scaled to unit length (each quotient u / d within a
// few ulps of 1 at most) times the strengths by the size over 512, turned and rounded: its
// length is at most the hypotenuse of the two scales (plus those ulps) plus a half from the
// rounding, provided the warp map's value there is finite. The fetched position is then
// clamped into 1 .. size - 2, which only moves it toward the inside.
std::vector<ColumnSpan> SwirlReach(const FloatImage& src, double strengthX, double strengthY,
                                   RenderContext& ctx) {
    const int32_t w = src.Width;
    const int32_t h = src.Height;
    std::vector<ColumnSpan> whole(static_cast<size_t>(h), ColumnSpan{0, w});
    const double reach =
        std::hypot(std::fabs(strengthX * (w / 512.0)), std::fabs(strengthY * (h / 512.0))) *
            (1 + 1e-6) +
        2;
    if (w < 3 || h < 3 || !(reach < static_cast<double>(w) + h)) return whole;
    const int64_t d = static_cast<int64_t>(std::ceil(reach));
    // The least and the largest column of each row that differs from opaque black.
    std::vector<ColumnSpan> content(static_cast<size_t>(h));
    ParallelForBands(ctx, h, kBandRows, [&](int64_t y0, int64_t y1) {
        for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
            const FloatPixel* row = src.Row(y);
            const auto black = [](const FloatPixel& p) {
                return std::bit_cast<std::array<uint32_t, 4>>(p) ==
                       std::bit_cast<std::array<uint32_t, 4>>(kOpaqueBlack);
            };
            int32_t lo = 0;
            while (lo < w && black(row[lo])) ++lo;
            int32_t hi = w;
            while (hi > lo && black(row[hi - 1])) --hi;
            content[static_cast<size_t>(y)] = {lo, hi};
        }
    });
    const auto clamp = [](int64_t v, int64_t n) { return std::clamp<int64_t>(v, 1, n - 2); };
    std::vector<ColumnSpan> rows(static_cast<size_t>(h));
    // Each row on its own: the walks below go over whole rows.
    ParallelForBands(ctx, h, kBandRows, [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
            // The rows a pixel of row y may fetch from, and the hull of their content.
            int64_t lo = w, hi = -1;
            for (int64_t t = clamp(y - d, h); t <= clamp(y + d, h); ++t) {
                const ColumnSpan& c = content[static_cast<size_t>(t)];
                if (c.x0 >= c.x1) continue;
                lo = std::min<int64_t>(lo, c.x0);
                hi = std::max<int64_t>(hi, c.x1 - 1);
            }
            // The columns x whose reachable columns, clamp(x - d) .. clamp(x + d), meet lo .. hi:
            // a run, since both ends grow with x.
            int64_t x0 = 0;
            while (x0 < w && !(clamp(x0 - d, w) <= hi && clamp(x0 + d, w) >= lo)) ++x0;
            int64_t x1 = x0;
            while (x1 < w && clamp(x1 - d, w) <= hi && clamp(x1 + d, w) >= lo) ++x1;
            rows[static_cast<size_t>(y)] = {static_cast<int32_t>(x0), static_cast<int32_t>(x1)};
        }
    });
    return rows;
}

}  // namespace globeforge
