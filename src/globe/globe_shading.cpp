#include "globe/globe_shading.h"

#include <algorithm>
#include <cmath>

#include "globe/sunlight.h"

namespace globeforge::globe_detail {

namespace {

// The cloud shell's height above the ground, in planet radii.
constexpr double kCloudHeight = 0.008;
// The highlight: strength and Blinn exponent (a power of two, taken by squaring).
constexpr float kSpecularStrength = 0.6f;
constexpr int kSpecularSquarings = 6;  // exponent 64
// How much light a fully opaque cloud keeps from the ground below it, and how blurred the
// shadow is (an angular footprint added to the sample).
constexpr float kShadowDepth = 0.75f;
constexpr double kShadowBlur = 0.006;

// The map position of a point q close above the surface point n (at map position u, v), by
// its offset in n's tangent plane: cheaper than the inverse trigonometry, and exact enough
// for the few hundredths of a radian the cloud shell is away. secLat is 1 / cos(latitude).
inline UV NearbyUV(const Vec3& q, const Vec3& n, const Vec3& east, const Vec3& north, double secLat,
                   double u, double v) {
    const double invUp = 1.0 / Dot(q, n);
    const double dLon = Dot(q, east) * invUp * secLat;
    const double dLat = Dot(q, north) * invUp;
    return {u + dLon * kInvTwoPi, v - dLat * kInvPi};
}

// The directions of growing longitude and latitude at a ray's ground point.
struct Tangents {
    Vec3 east, north;
};
inline Tangents TangentsOf(const Ray& ray) {
    const Vec3& n = ray.n;
    const double cosLon = ray.horizontal > 1e-12 ? n.x * ray.invHorizontal : 1.0;
    const double sinLon = ray.horizontal > 1e-12 ? n.y * ray.invHorizontal : 0.0;
    return {{-sinLon, cosLon, 0.0}, {-n.z * cosLon, -n.z * sinLon, ray.horizontal}};
}

void PlanReads(const GlobeScene::Data& scene, const Frame& f, const Ray& ray, ReadPlan& plan) {
    plan.ground = scene.surface->Choose(ray.footprint, ray.secLat);
    if (!f.clouds) return;
    const Vec3& n = ray.n;
    const Vec3& pc = ray.pc;
    const Vec3& d = ray.d;
    const Tangents t = TangentsOf(ray);
    const double shell = 1.0 + kCloudHeight;
    // The shadow: where the sun's ray from this point crosses the shell.
    const double ps = Dot(n, f.sun);
    const double ts = -ps + std::sqrt(ps * ps + shell * shell - 1.0);
    plan.toSun = NearbyUV(n + f.sun * ts, n, t.east, t.north, ray.secLat, ray.u, ray.v);
    plan.shadow = scene.clouds->Choose(ray.footprint + kShadowBlur, ray.secLat);
    // The cloud seen along the view ray, on the shell above the ground point.
    const double ds = Dot(pc, d);
    const double tc = -ds - std::sqrt(std::max(0.0, ds * ds - 1.0 + shell * shell));
    const Vec3 cc = pc + d * tc;
    const Vec3 cw = f.right * cc.x + f.up * cc.y + f.back * cc.z;
    plan.cloud = NearbyUV(cw, n, t.east, t.north, ray.secLat, ray.u, ray.v);
}

void ReadMaps(const GlobeScene::Data& scene, const Frame& f, const Ray& ray, const ReadPlan& plan,
              GroundReads& reads) {
    reads.ground = scene.surface->Read(plan.ground, ray.u, ray.v);
    if (!f.clouds) return;
    reads.shadow = scene.clouds->Read(plan.shadow, plan.toSun.u, plan.toSun.v).color[3];
    reads.cloud =
        scene.cloudsOnGroundGrid
            ? scene.clouds->Read(plan.ground, plan.cloud.u, plan.cloud.v)
            : scene.clouds->SampleUV(plan.cloud.u, plan.cloud.v, ray.footprint, ray.secLat);
}

// The lit ground under a ray, its clouds over it and the glow over both.
Shade ShadeGround(const GlobeScene::Data& scene, const Frame& f, const Ray& ray,
                  const GroundReads& reads) {
    const Vec3& d = ray.d;
    const Vec3& n = ray.n;
    const SurfaceSample& s = reads.ground;
    // The normal: the sphere's, tilted by the relief slopes along east and north.
    Vec3 normal = n;
    if (scene.relief && f.relief > 0.0f) {
        const Tangents t = TangentsOf(ray);
        normal =
            Normalized(n - t.east * (s.slope[0] * f.relief) - t.north * (s.slope[1] * f.relief));
    }
    const float day = DaySide(ray.sunCos);
    const float diffuse = SoftCosine(static_cast<float>(Dot(normal, f.sun))) * day;
    const float gloss = s.color[3];
    float highlight = 0.0f;
    if (scene.specular && gloss > 0.0f) {
        // Blinn highlight toward the viewer; seen from far away, the viewer is in one direction.
        const Vec3 half =
            f.perspective ? Normalized(f.sun + f.right * (-d.x) + f.up * (-d.y) + f.back * (-d.z))
                          : f.farHalf;
        float h = static_cast<float>(std::max(0.0, Dot(normal, half)));
        for (int i = 0; i < kSpecularSquarings; ++i) h *= h;
        highlight = kSpecularStrength * gloss * h * day;
    }
    // Under the cloud shadow the ground keeps part of the light.
    const float light =
        f.clouds ? 1.0f - kShadowDepth * std::clamp(reads.shadow, 0.0f, 1.0f) : 1.0f;
    const float lit = diffuse * light;
    Rgb ground{s.color[0] * lit, s.color[1] * lit, s.color[2] * lit};
    const float spec = highlight * light;
    ground.r += spec;
    ground.g += spec;
    ground.b += spec;
    if (f.clouds) {
        const CloudSample& cloud = reads.cloud;
        const float a = std::clamp(cloud.color[3], 0.0f, 1.0f);
        const float cloudLit = SoftCosine(ray.sunCos) * day;
        ground = {ground.r * (1.0f - a) + cloud.color[0] * cloudLit,
                  ground.g * (1.0f - a) + cloud.color[1] * cloudLit,
                  ground.b * (1.0f - a) + cloud.color[2] * cloudLit};
    }
    // The disc over the glow: the glow stays visible as a rim light on top of the ground.
    const float cover = ray.cover;
    const Rgb out{ground.r * cover + ray.glow.r, ground.g * cover + ray.glow.g,
                  ground.b * cover + ray.glow.b};
    return {out, ray.alpha};
}

}  // namespace

void ShadeRow(const GlobeScene::Data& scene, const Frame& f, int32_t width, const Ray* rays,
              ReadPlan* plans, GroundReads* reads, Shade* shades) {
    for (int32_t x = 0; x < width; ++x) {
        const Ray& ray = rays[static_cast<size_t>(x)];
        if (ray.ground) PlanReads(scene, f, ray, plans[static_cast<size_t>(x)]);
    }
    for (int32_t x = 0; x < width; ++x) {
        const Ray& ray = rays[static_cast<size_t>(x)];
        if (ray.ground) {
            ReadMaps(scene, f, ray, plans[static_cast<size_t>(x)], reads[static_cast<size_t>(x)]);
        }
    }
    for (int32_t x = 0; x < width; ++x) {
        const Ray& ray = rays[static_cast<size_t>(x)];
        shades[static_cast<size_t>(x)] =
            ray.ground ? ShadeGround(scene, f, ray, reads[static_cast<size_t>(x)])
                       : Shade{ray.glow, ray.alpha};
    }
}

}  // namespace globeforge::globe_detail
