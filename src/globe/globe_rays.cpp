#include "globe/globe_rays.h"

#include <algorithm>

#include "globe/ray_lanes.h"
#include "globe/sunlight.h"

namespace globeforge::globe_detail {

namespace {

// The atmosphere's thickness, in planet radii.
constexpr double kAtmosphereThickness = 0.035;

// The viewing ray in camera coordinates: direction d (toward the planet) and its closest
// approach to the centre, at the impact parameter b.
template <class V>
struct ViewRay {
    V3<V> d, closest;
    V along;
    V b;
};

template <class V>
ViewRay<V> ViewRayOf(const Frame& f, V px, double py) {
    const V zero = Splat<V>(0.0);
    const V one = Splat<V>(1.0);
    const V sx = (px + Splat<V>(0.5) - Splat<V>(f.cx)) * Splat<V>(f.scale);
    const V sy = Splat<V>((f.cy - py - 0.5) * f.scale);
    ViewRay<V> r;
    if (f.perspective) {
        const V inv = one / Sqrt(sx * sx + sy * sy + one);
        r.d = {sx * inv, sy * inv, Splat<V>(-1.0) * inv};
        r.along = Splat<V>(f.distance) * inv;
        r.closest = {r.d.x * r.along, r.d.y * r.along, Splat<V>(f.distance) + r.d.z * r.along};
    } else {
        r.d = {zero, zero, Splat<V>(-1.0)};
        r.along = Splat<V>(4.0);
        r.closest = {sx, sy, zero};
    }
    r.b = Sqrt(Dot(r.closest, r.closest));
    return r;
}

// Atmosphere: a glow that rises toward the limb from inside and fades within a thin shell
// outside (g), brighter where the sun lights the limb (lit).
template <class V>
struct Glow {
    bool on;
    V g, lit;
};

template <class V>
Glow<V> GlowOf(const Frame& f, const ViewRay<V>& r) {
    const V zero = Splat<V>(0.0);
    const V one = Splat<V>(1.0);
    const V& b = r.b;
    Glow<V> glow{f.glow[0] + f.glow[1] + f.glow[2] > 0.0f, zero, zero};
    if (glow.on) {
        const V t = one - (b - one) / Splat<V>(kAtmosphereThickness);
        const V cosView = Sqrt(Max(one - b * b, zero));
        const V rim = (one - cosView) * (one - cosView);
        glow.g = Select(b >= one, t * t, Min(rim * rim * Splat<V>(0.9) + Splat<V>(0.02), one));
        // Where on the limb this pixel lies, toward the sun or away.
        const V invB = one / b;
        const V3<V> limb{r.closest.x * invB, r.closest.y * invB, r.closest.z * invB};
        glow.lit =
            Select(b > Splat<V>(1e-9), Dot(limb, Splat3<V>(f.sunCamera)), Splat<V>(f.sunCamera.z));
    }
    return glow;
}

// Lane i's glow and disc coverage into ray, as a ray that finds no ground.
template <class V>
void SetGlow(const Frame& f, const ViewRay<V>& r, const Glow<V>& glow, V cover, int i, Ray& ray) {
    Rgb out{0, 0, 0};
    float alpha = 0;
    if (glow.on && LaneOf(r.b, i) < 1.0 + kAtmosphereThickness) {
        const float day = DaySide(static_cast<float>(LaneOf(glow.lit, i) * 0.5 + 0.15));
        const float k = static_cast<float>(LaneOf(glow.g, i)) * day;
        out = {f.glow[0] * k, f.glow[1] * k, f.glow[2] * k};
        alpha = std::min(1.0f, std::max({out.r, out.g, out.b}));
    }
    ray.glow = out;
    ray.alpha = alpha;
    ray.cover = static_cast<float>(LaneOf(cover, i));
    ray.ground = false;
}

// The ground point of a ray that meets the disc: where it is, its normal and map position,
// and the patch of sphere the pixel covers there.
template <class V>
struct GroundPoint {
    V3<V> pc, n;  // camera coordinates; planet coordinates
    V sunCos, horizontal, u, v, invHorizontal, secLat, footprint;
};

template <class V>
GroundPoint<V> GroundPointOf(const Frame& f, const ViewRay<V>& r) {
    const V zero = Splat<V>(0.0);
    const V one = Splat<V>(1.0);
    const V& b = r.b;
    const V3<V>& d = r.d;
    GroundPoint<V> p;
    // The surface point, taken just inside the limb for pixels the edge crosses.
    const V bb = Min(b, Splat<V>(1.0 - 1e-7));
    const V inward = Select(b > Splat<V>(1e-12), bb / b, one);
    const V depth = Sqrt(one - bb * bb);
    p.pc = {r.closest.x * inward - d.x * depth, r.closest.y * inward - d.y * depth,
            r.closest.z * inward - d.z * depth};
    p.n = Combine(f.right, p.pc.x, f.up, p.pc.y, f.back, p.pc.z);
    p.sunCos = Dot(p.n, Splat3<V>(f.sun));

    p.horizontal = Sqrt(p.n.x * p.n.x + p.n.y * p.n.y);
    p.u = Atan2(p.n.y, p.n.x) * Splat<V>(kInvTwoPi);
    p.v = Splat<V>(0.5) - Atan2(p.n.z, p.horizontal) * Splat<V>(kInvPi);
    p.invHorizontal = Select(p.horizontal > Splat<V>(1e-12), one / p.horizontal, zero);
    p.secLat = Select(p.horizontal > Splat<V>(1e-6), p.invHorizontal, Splat<V>(1e6));
    // The patch of sphere a pixel covers: its size on the image plane at the point, spread
    // by the slant (geometric mean of the two axes).
    const V viewCos = Max(zero - Dot(p.pc, d), Splat<V>(1e-3));
    const V distanceToPoint = f.perspective ? r.along - depth : one;
    p.footprint = Splat<V>(f.pixelAngle) * distanceToPoint / Sqrt(viewCos);
    return p;
}

// Lane i's ground point into a ray that meets the lit ground.
template <class V>
void SetGround(const ViewRay<V>& r, const GroundPoint<V>& p, int i, Ray& ray) {
    ray.ground = true;
    ray.d = {LaneOf(r.d.x, i), LaneOf(r.d.y, i), LaneOf(r.d.z, i)};
    ray.pc = {LaneOf(p.pc.x, i), LaneOf(p.pc.y, i), LaneOf(p.pc.z, i)};
    ray.n = {LaneOf(p.n.x, i), LaneOf(p.n.y, i), LaneOf(p.n.z, i)};
    ray.horizontal = LaneOf(p.horizontal, i);
    ray.invHorizontal = LaneOf(p.invHorizontal, i);
    ray.secLat = LaneOf(p.secLat, i);
    ray.u = LaneOf(p.u, i);
    ray.v = LaneOf(p.v, i);
    ray.footprint = LaneOf(p.footprint, i);
}

// Traces the rays of pixels px (one per lane) of row py into rays[0..lanes).
template <class V>
void TraceRays(const Frame& f, V px, double py, Ray* rays) {
    constexpr int kLanes = sizeof(V) / sizeof(double);
    const V zero = Splat<V>(0.0);
    const V one = Splat<V>(1.0);
    const ViewRay<V> view = ViewRayOf(f, px, py);
    const Glow<V> glow = GlowOf(f, view);
    // Coverage of the ground disc, from the distance to its edge in pixels.
    const V cover = Min(Max((one - view.b) * Splat<V>(f.coverScale) + Splat<V>(0.5), zero), one);
    if (!AnyLane(cover > zero)) {
        for (int i = 0; i < kLanes; ++i) SetGlow(f, view, glow, cover, i, rays[i]);
        return;
    }
    const GroundPoint<V> point = GroundPointOf(f, view);
    for (int i = 0; i < kLanes; ++i) {
        Ray& ray = rays[i];
        SetGlow(f, view, glow, cover, i, ray);
        if (ray.cover <= 0.0f) continue;
        // The night side beyond the terminator gets neither sun nor highlight nor lit
        // cloud: its ground is black under the glow, so no map is read there.
        ray.alpha = ray.cover + (1.0f - ray.cover) * ray.alpha;
        ray.sunCos = static_cast<float>(LaneOf(point.sunCos, i));
        if (ray.sunCos <= -kTerminator) continue;
        SetGround(view, point, i, ray);
    }
}

}  // namespace

void TraceRow(const Frame& f, int64_t y, int32_t width, Ray* rays) {
    int32_t traced = 0;
#if defined(__SSE2__)
    for (; traced + 1 < width; traced += 2) {
        TraceRays(f, D2{_mm_set_pd(traced + 1, traced)}, static_cast<double>(y),
                  &rays[static_cast<size_t>(traced)]);
    }
#endif
    for (; traced < width; ++traced) {
        TraceRays(f, static_cast<double>(traced), static_cast<double>(y),
                  &rays[static_cast<size_t>(traced)]);
    }
}

}  // namespace globeforge::globe_detail
