#include "globe/globe.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <numbers>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/parallel.h"
#include "render/normal_map.h"
#include "sampling/map_sampler.h"
#include "sampling/packed_sampler.h"

namespace globeforge {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180.0;
constexpr double kInvPi = 1.0 / kPi;
constexpr double kInvTwoPi = 0.5 / kPi;

// The look of the globe. Heights: the cloud shell above the ground and the atmosphere's
// thickness, in planet radii.
constexpr double kCloudHeight = 0.008;
constexpr double kAtmosphereThickness = 0.035;
// The width of the soft terminator, as a cosine of the sun's angle.
constexpr float kTerminator = 0.06f;
// Relief 1 makes a full-range bump rise this fraction of the equator, like a normal map at
// strength 20.
constexpr double kBaseRelief = 0.2 * kNormalReliefAtFullStrength;
// The highlight: strength and Blinn exponent (a power of two, taken by squaring).
constexpr float kSpecularStrength = 0.6f;
constexpr int kSpecularSquarings = 6;  // exponent 64
// How much light a fully opaque cloud keeps from the ground below it, and how blurred the
// shadow is (an angular footprint added to the sample).
constexpr float kShadowDepth = 0.75f;
constexpr double kShadowBlur = 0.006;
// Every map larger than this is box-reduced first: a globe never shows more detail, and the
// packed copies stay small.
constexpr int32_t kMaxSceneWidth = 4096;

// sRGB decoding of a 0..255 channel, by table with linear interpolation between entries.
class SrgbDecoder {
  public:
    SrgbDecoder() {
        for (int i = 0; i <= kSteps; ++i) {
            const double c = static_cast<double>(i) / kSteps;
            table_[static_cast<size_t>(i)] =
                static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
    }
    float operator()(float v255) const {
        const float t = std::clamp(v255, 0.0f, 255.0f) * (kSteps / 255.0f);
        const int i = std::min(static_cast<int>(t), kSteps - 1);
        const float f = t - static_cast<float>(i);
        return table_[static_cast<size_t>(i)] +
               (table_[static_cast<size_t>(i) + 1] - table_[static_cast<size_t>(i)]) * f;
    }

  private:
    static constexpr int kSteps = 1024;
    std::array<float, kSteps + 1> table_;
};

// Linear light 0..1 to an sRGB byte, by a table fine enough that the step between entries
// is below a third of a byte everywhere.
class SrgbEncoder {
  public:
    SrgbEncoder() {
        for (int i = 0; i <= kSteps; ++i) {
            // Entries are taken on a square-root scale, which crowds them where sRGB is steep.
            const double s = static_cast<double>(i) / kSteps;
            const double c = s * s;
            const double e = c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
            table_[static_cast<size_t>(i)] =
                static_cast<uint8_t>(std::clamp(std::nearbyint(e * 255.0), 0.0, 255.0));
        }
    }
    uint8_t operator()(float linear) const {
        if (!(linear > 0.0f)) return 0;
        if (linear >= 1.0f) return 255;
        return table_[static_cast<size_t>(std::sqrt(linear) * kSteps + 0.5f)];
    }

  private:
    static constexpr int kSteps = 8192;
    std::array<uint8_t, kSteps + 1> table_;
};

const SrgbDecoder& Decoder() {
    static const SrgbDecoder decoder;
    return decoder;
}
const SrgbEncoder& Encoder() {
    static const SrgbEncoder encoder;
    return encoder;
}

struct Vec3 {
    double x, y, z;
};
inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double Dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Normalized(Vec3 a) {
    return a * (1.0 / std::sqrt(Dot(a, a)));
}

// A C1 ramp that equals c above kTerminator and fades to 0 at -kTerminator.
inline float SoftCosine(float c) {
    if (c >= kTerminator) return c;
    if (c <= -kTerminator) return 0.0f;
    const float t = c + kTerminator;
    return t * t * (0.25f / kTerminator);
}
// 0 on the night side, 1 on the day side, smooth across the terminator band.
inline float DaySide(float c) {
    const float t = std::clamp((c + kTerminator) * (0.5f / kTerminator), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// Resizes a map to at most kMaxSceneWidth wide by whole-pixel box averaging, applying fn to
// each source pixel first; the result is what the scene samples.
template <class Fn>
std::optional<FloatImage> PackMap(const FloatImage& map, RenderContext& ctx, Fn&& fn) {
    int32_t factor = 1;
    while (map.Width / factor > kMaxSceneWidth) factor *= 2;
    const int32_t w = std::max(1, map.Width / factor);
    const int32_t h = std::max(1, map.Height / factor);
    std::optional<FloatImage> out = NewImage(w, h);
    if (!out) return std::nullopt;
    ParallelForBands(ctx, h, kBandRows, [&](int64_t y0, int64_t y1) {
        for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                FloatPixel sum{0, 0, 0, 0};
                int32_t n = 0;
                for (int32_t j = 0; j < factor; ++j) {
                    const int32_t sy = y * factor + j;
                    if (sy >= map.Height) break;
                    for (int32_t i = 0; i < factor; ++i) {
                        const int32_t sx = x * factor + i;
                        if (sx >= map.Width) break;
                        const FloatPixel p = fn(sx, sy);
                        sum.R += p.R;
                        sum.G += p.G;
                        sum.B += p.B;
                        sum.A += p.A;
                        ++n;
                    }
                }
                const float inv = 1.0f / static_cast<float>(n);
                out->At(x, y) = {sum.R * inv, sum.G * inv, sum.B * inv, sum.A * inv};
            }
        }
    });
    return out;
}

// Reads a map at the position another map's pixel (x, y) stands for, so maps of different
// sizes line up.
inline FloatPixel ReadAligned(const FloatImage* map, const FloatImage& reference, int32_t x,
                              int32_t y) {
    if (map->Width == reference.Width && map->Height == reference.Height) return map->At(x, y);
    const int32_t mx = static_cast<int32_t>(int64_t{x} * map->Width / reference.Width);
    const int32_t my = static_cast<int32_t>(int64_t{y} * map->Height / reference.Height);
    return map->At(mx, my);
}

// East and north slopes (rise per run, at relief 1) of a height map, or of a tangent-space
// normal map, as R and G of an image of the same size.
std::optional<FloatImage> SlopeImage(const GlobeMaps& maps, RenderContext& ctx) {
    if (maps.bump) {
        const FloatImage& bump = *maps.bump;
        std::optional<FloatImage> out = NewImage(bump.Width, bump.Height);
        if (!out) return std::nullopt;
        const SlopeFrame frame = MakeSlopeFrame(kBaseRelief, bump.Width, bump.Height);
        ParallelForBands(ctx, bump.Height, kBandRows, [&](int64_t y0, int64_t y1) {
            std::vector<float> above, row, below;
            const auto heights = [&bump](int32_t y, std::vector<float>& to) {
                to.resize(static_cast<size_t>(bump.Width));
                for (int32_t x = 0; x < bump.Width; ++x)
                    to[static_cast<size_t>(x)] = bump.At(x, y).R;
            };
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                if (y > 0) heights(y - 1, above);
                heights(y, row);
                if (y + 1 < bump.Height) heights(y + 1, below);
                ForEachRowSlope(frame, y, y > 0 ? above.data() : nullptr, row.data(),
                                y + 1 < bump.Height ? below.data() : nullptr,
                                [&](int32_t x, double east, double north) {
                                    out->At(x, y) = {static_cast<float>(east),
                                                     static_cast<float>(north), 0.0f, 0.0f};
                                });
            }
        });
        return out;
    }
    const FloatImage& normal = *maps.normal;
    std::optional<FloatImage> out = NewImage(normal.Width, normal.Height);
    if (!out) return std::nullopt;
    ParallelForBands(ctx, normal.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
            for (int32_t x = 0; x < normal.Width; ++x) {
                const FloatPixel p = normal.At(x, y);
                const float nx = p.R / 127.5f - 1.0f;
                const float ny = p.G / 127.5f - 1.0f;
                const float nz = std::max(p.B / 127.5f - 1.0f, 0.05f);
                out->At(x, y) = {-nx / nz, -ny / nz, 0.0f, 0.0f};
            }
        }
    });
    return out;
}

bool Empty(const FloatImage* map) {
    return !map || map->Width < 1 || map->Height < 1;
}

// A map read through its own pyramid at the pixel centres of a width x height grid, so maps
// of different sizes can share one texel.
std::optional<FloatImage> Regrid(const FloatImage& map, int32_t width, int32_t height,
                                 RenderContext& ctx, std::string* error) {
    std::optional<MapSampler> sampler = MapSampler::Build(map, ctx, error);
    if (!sampler) return std::nullopt;
    std::optional<FloatImage> out = NewImage(width, height);
    if (!out) {
        if (error) *error = "not enough memory for the globe";
        return std::nullopt;
    }
    const double footprint = kPi / height;
    ParallelForBands(ctx, height, kBandRows, [&](int64_t y0, int64_t y1) {
        for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                out->At(x, y) = sampler->SampleUV((x + 0.5) / width, (y + 0.5) / height, footprint);
            }
        }
    });
    return out;
}

}  // namespace

struct GlobeScene::Data {
    std::optional<PackedSampler<SurfaceTexel>> surface;
    std::optional<PackedSampler<CloudTexel>> clouds;
    bool relief = false;
    bool specular = false;
    bool cloudsOnGroundGrid = false;  // the clouds can take the ground's level choice
};

bool GlobeScene::HasClouds() const {
    return data_->clouds.has_value();
}
bool GlobeScene::HasRelief() const {
    return data_->relief;
}
bool GlobeScene::HasSpecular() const {
    return data_->specular;
}

std::optional<GlobeScene> GlobeScene::Prepare(const GlobeMaps& maps, RenderContext& ctx,
                                              std::string* error) {
    const auto fail = [error](const char* why) {
        if (error) *error = why;
        return std::nullopt;
    };
    if (Empty(maps.color)) return fail("the globe needs a colour map");
    for (const FloatImage* map :
         {maps.bump, maps.normal, maps.specular, maps.cloudColor, maps.cloudTransparency}) {
        if (map && Empty(map)) return fail("a map of the globe is empty");
    }
    try {
        auto data = std::make_shared<Data>();
        const SrgbDecoder& decode = Decoder();
        const FloatImage& color = *maps.color;
        const FloatImage* specular = maps.specular;
        std::optional<FloatImage> surface = PackMap(color, ctx, [&](int32_t x, int32_t y) {
            const FloatPixel c = color.At(x, y);
            const float gloss =
                specular ? std::clamp(ReadAligned(specular, color, x, y).R / 255.0f, 0.0f, 1.0f)
                         : 0.0f;
            return FloatPixel{decode(c.R), decode(c.G), decode(c.B), gloss};
        });
        if (!surface) return fail("not enough memory for the globe");
        const int32_t gridWidth = surface->Width;
        const int32_t gridHeight = surface->Height;
        std::optional<MapSampler> ground = MapSampler::Build(std::move(*surface), ctx, error);
        if (!ground) return std::nullopt;
        data->specular = specular != nullptr;
        std::optional<MapSampler> relief;

        if (!Empty(maps.bump) || !Empty(maps.normal)) {
            // Reduced first, so a very large map never needs a slope image of its own size;
            // slopes are measured on the sphere and come out alike at any size.
            const FloatImage& heights = Empty(maps.bump) ? *maps.normal : *maps.bump;
            std::optional<FloatImage> packed = PackMap(
                heights, ctx, [&heights](int32_t x, int32_t y) { return heights.At(x, y); });
            if (!packed) return fail("not enough memory for the globe");
            GlobeMaps reduced;
            (Empty(maps.bump) ? reduced.normal : reduced.bump) = &*packed;
            std::optional<FloatImage> slopes = SlopeImage(reduced, ctx);
            packed.reset();
            if (!slopes) return fail("not enough memory for the globe");
            if (slopes->Width != gridWidth || slopes->Height != gridHeight) {
                slopes = Regrid(*slopes, gridWidth, gridHeight, ctx, error);
                if (!slopes) return std::nullopt;
            }
            relief = MapSampler::Build(std::move(*slopes), ctx, error);
            if (!relief) return std::nullopt;
        }
        // Colour, gloss and slopes share one texel: the frame reads them at the same place.
        data->surface = PackedSampler<SurfaceTexel>::FromPyramid(
            *ground, ctx, [&](int i, int32_t x, int32_t y) {
                const FloatPixel& c = ground->Level(i).At(x, y);
                SurfaceTexel t{{ToFixed16(c.R), ToFixed16(c.G), ToFixed16(c.B), ToFixed16(c.A)},
                               {0.0f, 0.0f}};
                if (relief) {
                    const FloatPixel& slope = relief->Level(i).At(x, y);
                    t.slope[0] = slope.R;
                    t.slope[1] = slope.G;
                }
                return t;
            });
        if (!data->surface) return fail("not enough memory for the globe");
        data->relief = relief.has_value();
        relief.reset();  // the float pyramids are not needed any more
        ground.reset();

        if (maps.cloudColor && maps.cloudTransparency) {
            const FloatImage& cc = *maps.cloudColor;
            const FloatImage* ct = maps.cloudTransparency;
            const bool alphaMaps = maps.cloudAlphaMaps;
            std::optional<FloatImage> clouds = PackMap(cc, ctx, [&](int32_t x, int32_t y) {
                const float t = std::clamp(ReadAligned(ct, cc, x, y).R / 255.0f, 0.0f, 1.0f);
                const float opacity = alphaMaps ? t : 1.0f - t;
                const FloatPixel c = cc.At(x, y);
                // Premultiplied colour: the alpha maps' colour already is, the transparency
                // maps' colour is the cloud's own; the pyramid averages premultiplied values.
                const float k = alphaMaps ? 1.0f : opacity;
                return FloatPixel{decode(c.R) * k, decode(c.G) * k, decode(c.B) * k, opacity};
            });
            if (!clouds) return fail("not enough memory for the globe");
            const std::optional<MapSampler> pyramid =
                MapSampler::Build(std::move(*clouds), ctx, error);
            if (!pyramid) return std::nullopt;
            const auto pack = [&](int i, int32_t x, int32_t y) {
                const FloatPixel& c = pyramid->Level(i).At(x, y);
                return CloudTexel{{ToFixed16(c.R), ToFixed16(c.G), ToFixed16(c.B), ToFixed16(c.A)}};
            };
            data->clouds = PackedSampler<CloudTexel>::FromPyramid(*pyramid, ctx, pack);
            if (!data->clouds) return fail("not enough memory for the globe");
            data->cloudsOnGroundGrid = data->clouds->SameSize(*data->surface);
        }
        GlobeScene scene;
        scene.data_ = std::move(data);
        return scene;
    } catch (const std::bad_alloc&) {
        return fail("not enough memory for the globe");
    }
}

std::string CheckGlobeOptions(const GlobeCamera& camera, const GlobeSun& sun,
                              const GlobeOptions& options) {
    const auto side = [](const char* what, int32_t v) {
        return std::string("the globe ") + what + " must be 1 to " + std::to_string(kMaxGlobeSide) +
               " pixels (got " + std::to_string(v) + ")";
    };
    if (options.width < 1 || options.width > kMaxGlobeSide) return side("width", options.width);
    if (options.height < 1 || options.height > kMaxGlobeSide) return side("height", options.height);
    if (!std::isfinite(camera.longitude)) return "the view longitude must be a number";
    if (!(camera.latitude >= -90 && camera.latitude <= 90))
        return "the view latitude must be -90 to 90 degrees";
    if (!(camera.distance == 0 || (camera.distance > 1.01 && std::isfinite(camera.distance))))
        return "the camera distance must be 0 (far away) or above 1.01 planet radii";
    if (!(camera.zoom > 0.001 && camera.zoom <= 1000))
        return "the zoom must be above 0.001 and at most 1000";
    if (!std::isfinite(sun.azimuth)) return "the sun azimuth must be a number";
    if (!(sun.elevation >= -90 && sun.elevation <= 90))
        return "the sun elevation must be -90 to 90 degrees";
    if (!(options.relief >= 0 && options.relief <= 100)) return "the relief must be 0 to 100";
    if (!(options.atmosphere >= 0 && options.atmosphere <= 100))
        return "the atmosphere strength must be 0 to 100";
    return {};
}

namespace {

// Everything a frame computes once: the camera's axes in the planet's frame, the sun, the
// projection.
struct Frame {
    Vec3 right, up, back;  // camera x, y and z (toward the viewer) in planet coordinates
    Vec3 sun;              // toward the sun, planet coordinates
    Vec3 sunCamera;        // toward the sun, camera coordinates
    Vec3 farHalf;          // between the sun and the viewer (orthographic only)
    bool perspective;
    double distance;    // of the camera, planet radii (perspective only)
    double scale;       // image-plane units per pixel
    double cx, cy;      // the image centre in pixels
    double pixelAngle;  // orthographic: planet radii per pixel; perspective: radians per pixel
    double coverScale;  // impact parameter difference -> pixels, for the limb's coverage
    float relief;
    std::array<float, 3> glow;  // linear atmosphere colour times strength
    bool clouds;
    bool transparent;
};

Frame MakeFrame(const GlobeCamera& camera, const GlobeSun& sun, const GlobeOptions& options,
                bool clouds) {
    Frame f;
    const double lon = camera.longitude * kDegree;
    const double lat = camera.latitude * kDegree;
    f.back = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
    f.right = {-std::sin(lon), std::cos(lon), 0.0};
    f.up = {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)};
    const double az = sun.azimuth * kDegree;
    const double el = sun.elevation * kDegree;
    f.sunCamera = {std::cos(el) * std::sin(az), std::sin(el), std::cos(el) * std::cos(az)};
    f.sun = f.right * f.sunCamera.x + f.up * f.sunCamera.y + f.back * f.sunCamera.z;
    // The view direction summed as a perspective pixel sums its own.
    f.farHalf = Normalized(f.sun + f.right * 0.0 + f.up * 0.0 + f.back * 1.0);
    const double shorter = std::min(options.width, options.height);
    f.cx = options.width / 2.0;
    f.cy = options.height / 2.0;
    f.perspective = camera.distance > 0;
    f.distance = camera.distance;
    if (f.perspective) {
        // The planet's apparent radius, as the tangent of its angle, fills zoom of the half side.
        const double apparent = std::tan(std::asin(1.0 / camera.distance));
        f.scale = apparent / (camera.zoom * shorter / 2.0);
        f.pixelAngle = f.scale;
        // Near the limb one pixel moves the impact parameter by about distance x scale.
        f.coverScale = 1.0 / (camera.distance * f.scale);
    } else {
        f.scale = 1.0 / (camera.zoom * shorter / 2.0);
        f.pixelAngle = f.scale;
        f.coverScale = 1.0 / f.scale;
    }
    f.relief = static_cast<float>(options.relief);
    const SrgbDecoder& decode = Decoder();
    const auto strength = static_cast<float>(options.atmosphere);
    f.glow = {decode(options.atmosphereColor.r) * strength,
              decode(options.atmosphereColor.g) * strength,
              decode(options.atmosphereColor.b) * strength};
    f.clouds = clouds;
    f.transparent = options.transparentBackground;
    return f;
}

struct Rgb {
    float r, g, b;
};

// One pixel: linear colour (premultiplied by coverage) and alpha.
struct Shade {
    Rgb c;
    float alpha;
};

struct UV {
    double u, v;
};

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

// What a pixel's ray finds before any map is read: the glow and the disc's coverage and, on
// the day side, the ground point and where it lies on the map. A row's rays are traced first
// and shaded after, which keeps the long arithmetic of neighbouring pixels independent.
struct Ray {
    Rgb glow;     // the atmosphere, premultiplied
    float alpha;  // of the glow; of glow and disc once the disc is drawn over it
    float cover;
    bool ground;  // a lit ground point to shade
    float sunCos;
    Vec3 d, pc, n;  // ray direction and ground point (camera coordinates), normal (planet)
    double horizontal, invHorizontal, secLat;
    double u, v, footprint;
};

// Lanes of doubles for tracing rays: a plain double traces one pixel, D2 two pixels in an SSE2
// register. One template traces both with the same operations in the same order, so a pixel
// gets the same bytes whichever way it was traced.
template <class V>
V Splat(double s);
template <>
inline double Splat<double>(double s) {
    return s;
}
inline double Sqrt(double a) {
    return std::sqrt(a);
}
inline double Min(double a, double b) {
    return a < b ? a : b;
}
inline double Max(double a, double b) {
    return a > b ? a : b;
}
inline double Abs(double a) {
    return std::fabs(a);
}
inline double Select(bool m, double a, double b) {
    return m ? a : b;
}
inline bool AnyLane(bool m) {
    return m;
}
inline double LaneOf(double a, int) {
    return a;
}

#if defined(__SSE2__)
struct D2 {
    __m128d v;
};
struct M2 {
    __m128d m;
};
template <>
inline D2 Splat<D2>(double s) {
    return {_mm_set1_pd(s)};
}
inline D2 operator+(D2 a, D2 b) {
    return {_mm_add_pd(a.v, b.v)};
}
inline D2 operator-(D2 a, D2 b) {
    return {_mm_sub_pd(a.v, b.v)};
}
inline D2 operator*(D2 a, D2 b) {
    return {_mm_mul_pd(a.v, b.v)};
}
inline D2 operator/(D2 a, D2 b) {
    return {_mm_div_pd(a.v, b.v)};
}
inline D2 Sqrt(D2 a) {
    return {_mm_sqrt_pd(a.v)};
}
inline D2 Min(D2 a, D2 b) {
    return {_mm_min_pd(a.v, b.v)};
}
inline D2 Max(D2 a, D2 b) {
    return {_mm_max_pd(a.v, b.v)};
}
inline D2 Abs(D2 a) {
    return {_mm_andnot_pd(_mm_set1_pd(-0.0), a.v)};
}
inline M2 operator<(D2 a, D2 b) {
    return {_mm_cmplt_pd(a.v, b.v)};
}
inline M2 operator>(D2 a, D2 b) {
    return {_mm_cmpgt_pd(a.v, b.v)};
}
inline M2 operator>=(D2 a, D2 b) {
    return {_mm_cmpge_pd(a.v, b.v)};
}
inline D2 Select(M2 m, D2 a, D2 b) {
    return {_mm_or_pd(_mm_and_pd(m.m, a.v), _mm_andnot_pd(m.m, b.v))};
}
inline bool AnyLane(M2 m) {
    return _mm_movemask_pd(m.m) != 0;
}
inline double LaneOf(D2 a, int i) {
    return _mm_cvtsd_f64(i == 0 ? a.v : _mm_unpackhi_pd(a.v, a.v));
}
#endif

template <class V>
struct V3 {
    V x, y, z;
};
template <class V>
inline V3<V> Splat3(const Vec3& a) {
    return {Splat<V>(a.x), Splat<V>(a.y), Splat<V>(a.z)};
}
template <class V>
inline V Dot(const V3<V>& a, const V3<V>& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
// a x + b y + c z, as Vec3 sums it.
template <class V>
inline V3<V> Combine(const Vec3& a, V x, const Vec3& b, V y, const Vec3& c, V z) {
    return {Splat<V>(a.x) * x + Splat<V>(b.x) * y + Splat<V>(c.x) * z,
            Splat<V>(a.y) * x + Splat<V>(b.y) * y + Splat<V>(c.y) * z,
            Splat<V>(a.z) * x + Splat<V>(b.z) * y + Splat<V>(c.z) * z};
}

// atan2 within 1e-10 radians, far below a texel of any map: an odd polynomial once the angle is
// folded to within pi/8 of 0 or pi/4. It costs a fraction of the library's, which is exact to
// the last bit, and every lit pixel takes two. 0 where both arguments are 0.
template <class V>
V Atan2(V y, V x) {
    const V zero = Splat<V>(0.0);
    const V ax = Abs(x);
    const V ay = Abs(y);
    const V lo = Min(ax, ay);
    const V hi = Max(ax, ay);
    const auto fold = lo > Splat<V>(0.41421356237309503) * hi;  // tan(pi/8)
    const V a = Select(fold, lo - hi, lo) / Select(fold, lo + hi, hi);
    const V s = a * a;
    const V p =
        Splat<V>(-0.3333333327925298) +
        s * (Splat<V>(0.19999977258511561) +
             s * (Splat<V>(-0.14284151188664146) +
                  s * (Splat<V>(0.11071364962298416) +
                       s * (Splat<V>(-0.08624675822412099) + s * Splat<V>(0.050481378629274716)))));
    V r = Select(fold, Splat<V>(kPi / 4), zero) + (a + a * s * p);
    r = Select(ay > ax, Splat<V>(kPi / 2) - r, r);
    r = Select(x < zero, Splat<V>(kPi) - r, r);
    r = Select(y < zero, zero - r, r);
    return Select(hi > zero, r, zero);
}

// Traces the rays of pixels px (one per lane) of row py into rays[0..lanes).
template <class V>
void TraceRays(const Frame& f, V px, double py, Ray* rays) {
    constexpr int kLanes = sizeof(V) / sizeof(double);
    const V zero = Splat<V>(0.0);
    const V one = Splat<V>(1.0);
    // The viewing ray in camera coordinates: direction d (toward the planet) and its closest
    // approach to the centre, at the impact parameter b.
    const V sx = (px + Splat<V>(0.5) - Splat<V>(f.cx)) * Splat<V>(f.scale);
    const V sy = Splat<V>((f.cy - py - 0.5) * f.scale);
    V3<V> d, closest;
    V along;
    if (f.perspective) {
        const V inv = one / Sqrt(sx * sx + sy * sy + one);
        d = {sx * inv, sy * inv, Splat<V>(-1.0) * inv};
        along = Splat<V>(f.distance) * inv;
        closest = {d.x * along, d.y * along, Splat<V>(f.distance) + d.z * along};
    } else {
        d = {zero, zero, Splat<V>(-1.0)};
        along = Splat<V>(4.0);
        closest = {sx, sy, zero};
    }
    const V b = Sqrt(Dot(closest, closest));

    // Atmosphere: a glow that rises toward the limb from inside and fades within a thin
    // shell outside, brighter where the sun lights the limb.
    const bool glowOn = f.glow[0] + f.glow[1] + f.glow[2] > 0.0f;
    V g = zero;
    V lit = zero;
    if (glowOn) {
        const V t = one - (b - one) / Splat<V>(kAtmosphereThickness);
        const V cosView = Sqrt(Max(one - b * b, zero));
        const V rim = (one - cosView) * (one - cosView);
        g = Select(b >= one, t * t, Min(rim * rim * Splat<V>(0.9) + Splat<V>(0.02), one));
        // Where on the limb this pixel lies, toward the sun or away.
        const V invB = one / b;
        const V3<V> limb{closest.x * invB, closest.y * invB, closest.z * invB};
        lit =
            Select(b > Splat<V>(1e-9), Dot(limb, Splat3<V>(f.sunCamera)), Splat<V>(f.sunCamera.z));
    }
    // Coverage of the ground disc, from the distance to its edge in pixels.
    const V cover = Min(Max((one - b) * Splat<V>(f.coverScale) + Splat<V>(0.5), zero), one);

    const auto glowOf = [&](int i, Ray& ray) {
        Rgb out{0, 0, 0};
        float alpha = 0;
        if (glowOn && LaneOf(b, i) < 1.0 + kAtmosphereThickness) {
            const float day = DaySide(static_cast<float>(LaneOf(lit, i) * 0.5 + 0.15));
            const float k = static_cast<float>(LaneOf(g, i)) * day;
            out = {f.glow[0] * k, f.glow[1] * k, f.glow[2] * k};
            alpha = std::min(1.0f, std::max({out.r, out.g, out.b}));
        }
        ray.glow = out;
        ray.alpha = alpha;
        ray.cover = static_cast<float>(LaneOf(cover, i));
        ray.ground = false;
    };
    if (!AnyLane(cover > zero)) {
        for (int i = 0; i < kLanes; ++i) glowOf(i, rays[i]);
        return;
    }

    // The surface point, taken just inside the limb for pixels the edge crosses.
    const V bb = Min(b, Splat<V>(1.0 - 1e-7));
    const V inward = Select(b > Splat<V>(1e-12), bb / b, one);
    const V depth = Sqrt(one - bb * bb);
    const V3<V> pc{closest.x * inward - d.x * depth, closest.y * inward - d.y * depth,
                   closest.z * inward - d.z * depth};  // camera coordinates
    const V3<V> n = Combine(f.right, pc.x, f.up, pc.y, f.back, pc.z);
    const V sunCos = Dot(n, Splat3<V>(f.sun));

    const V horizontal = Sqrt(n.x * n.x + n.y * n.y);
    const V u = Atan2(n.y, n.x) * Splat<V>(kInvTwoPi);
    const V v = Splat<V>(0.5) - Atan2(n.z, horizontal) * Splat<V>(kInvPi);
    const V invHorizontal = Select(horizontal > Splat<V>(1e-12), one / horizontal, zero);
    const V secLat = Select(horizontal > Splat<V>(1e-6), invHorizontal, Splat<V>(1e6));
    // The patch of sphere a pixel covers: its size on the image plane at the point, spread
    // by the slant (geometric mean of the two axes).
    const V viewCos = Max(zero - Dot(pc, d), Splat<V>(1e-3));
    const V distanceToPoint = f.perspective ? along - depth : one;
    const V footprint = Splat<V>(f.pixelAngle) * distanceToPoint / Sqrt(viewCos);

    for (int i = 0; i < kLanes; ++i) {
        Ray& ray = rays[i];
        glowOf(i, ray);
        if (ray.cover <= 0.0f) continue;
        // The night side beyond the terminator gets neither sun nor highlight nor lit
        // cloud: its ground is black under the glow, so no map is read there.
        ray.alpha = ray.cover + (1.0f - ray.cover) * ray.alpha;
        ray.sunCos = static_cast<float>(LaneOf(sunCos, i));
        if (ray.sunCos <= -kTerminator) continue;
        ray.ground = true;
        ray.d = {LaneOf(d.x, i), LaneOf(d.y, i), LaneOf(d.z, i)};
        ray.pc = {LaneOf(pc.x, i), LaneOf(pc.y, i), LaneOf(pc.z, i)};
        ray.n = {LaneOf(n.x, i), LaneOf(n.y, i), LaneOf(n.z, i)};
        ray.horizontal = LaneOf(horizontal, i);
        ray.invHorizontal = LaneOf(invHorizontal, i);
        ray.secLat = LaneOf(secLat, i);
        ray.u = LaneOf(u, i);
        ray.v = LaneOf(v, i);
        ray.footprint = LaneOf(footprint, i);
    }
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

// What the maps say about a lit ground point: the ground, the cloud seen above it and the
// cloud cover toward the sun. A row's reads are made together, apart from the shading, so
// the reads of neighbouring pixels overlap instead of each waiting for its texels.
struct GroundReads {
    SurfaceSample ground;
    CloudSample cloud;
    float shadow;  // opacity of the cloud toward the sun
};

// Where a lit ground point's reads go: computed for a whole row first, so the reads find
// their addresses ready.
struct ReadPlan {
    PackedFooting ground;  // also the cloud's when it shares the ground's grid
    PackedFooting shadow;
    UV cloud, toSun;
};

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

std::optional<GlobeImage> RenderGlobe(const GlobeScene& scene, const GlobeCamera& camera,
                                      const GlobeSun& sun, const GlobeOptions& options,
                                      RenderContext& ctx, std::string* error) {
    if (std::string problem = CheckGlobeOptions(camera, sun, options); !problem.empty()) {
        if (error) *error = std::move(problem);
        return std::nullopt;
    }
    GlobeImage image;
    try {
        image.rgba.resize(static_cast<size_t>(options.width) * options.height * 4);
    } catch (const std::bad_alloc&) {
        if (error) *error = "not enough memory for the globe picture";
        return std::nullopt;
    }
    image.width = options.width;
    image.height = options.height;
    const GlobeScene::Data& data = scene.data();
    const Frame f = MakeFrame(camera, sun, options, options.clouds && data.clouds.has_value());
    const SrgbEncoder& encode = Encoder();
    ParallelForBands(ctx, options.height, kBandRows, [&](int64_t y0, int64_t y1) {
        std::vector<Ray> rays(static_cast<size_t>(options.width));
        std::vector<ReadPlan> plans(static_cast<size_t>(options.width));
        std::vector<GroundReads> reads(static_cast<size_t>(options.width));
        for (int64_t y = y0; y < y1; ++y) {
            uint8_t* row = image.rgba.data() + static_cast<size_t>(y) * options.width * 4;
            int32_t traced = 0;
#if defined(__SSE2__)
            for (; traced + 1 < options.width; traced += 2) {
                TraceRays(f, D2{_mm_set_pd(traced + 1, traced)}, static_cast<double>(y),
                          &rays[static_cast<size_t>(traced)]);
            }
#endif
            for (; traced < options.width; ++traced) {
                TraceRays(f, static_cast<double>(traced), static_cast<double>(y),
                          &rays[static_cast<size_t>(traced)]);
            }
            for (int32_t x = 0; x < options.width; ++x) {
                const Ray& ray = rays[static_cast<size_t>(x)];
                if (ray.ground) PlanReads(data, f, ray, plans[static_cast<size_t>(x)]);
            }
            for (int32_t x = 0; x < options.width; ++x) {
                const Ray& ray = rays[static_cast<size_t>(x)];
                if (ray.ground) {
                    ReadMaps(data, f, ray, plans[static_cast<size_t>(x)],
                             reads[static_cast<size_t>(x)]);
                }
            }
            for (int32_t x = 0; x < options.width; ++x) {
                const Ray& ray = rays[static_cast<size_t>(x)];
                const Shade s = ray.ground
                                    ? ShadeGround(data, f, ray, reads[static_cast<size_t>(x)])
                                    : Shade{ray.glow, ray.alpha};
                uint8_t* p = row + static_cast<size_t>(x) * 4;
                if (f.transparent) {
                    // Straight alpha: the colour the covered part of the pixel has.
                    const float inv = s.alpha > 0.0f ? 1.0f / s.alpha : 0.0f;
                    p[0] = encode(s.c.r * inv);
                    p[1] = encode(s.c.g * inv);
                    p[2] = encode(s.c.b * inv);
                    p[3] = static_cast<uint8_t>(
                        std::nearbyint(std::clamp(s.alpha, 0.0f, 1.0f) * 255.0f));
                } else {
                    p[0] = encode(s.c.r);
                    p[1] = encode(s.c.g);
                    p[2] = encode(s.c.b);
                    p[3] = 255;
                }
            }
        }
    });
    return image;
}

std::optional<GlobeImage> RenderGlobe(const GlobeMaps& maps, const GlobeCamera& camera,
                                      const GlobeSun& sun, const GlobeOptions& options,
                                      RenderContext& ctx, std::string* error) {
    if (std::string problem = CheckGlobeOptions(camera, sun, options); !problem.empty()) {
        if (error) *error = std::move(problem);
        return std::nullopt;
    }
    std::optional<GlobeScene> scene = GlobeScene::Prepare(maps, ctx, error);
    if (!scene) return std::nullopt;
    return RenderGlobe(*scene, camera, sun, options, ctx, error);
}

}  // namespace globeforge
