// Preparing a globe's maps: decoded to linear light, reduced, turned into relief slopes and
// packed into the pyramids the frames read.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "globe/globe.h"
#include "globe/globe_scene_data.h"
#include "globe/sphere_geometry.h"
#include "globe/srgb.h"
#include "image/sphere_slopes.h"
#include "sampling/map_sampler.h"
#include "sampling/packed_sampler.h"

namespace globeforge {

namespace {

using globe_detail::Decoder;
using globe_detail::kPi;
using globe_detail::SrgbDecoder;

// Relief 1 makes a full-range bump rise this fraction of the equator, like a normal map at
// strength 20.
constexpr double kBaseRelief = 0.2 * kNormalReliefAtFullStrength;
// Every map larger than this is box-reduced first: a globe never shows more detail, and the
// packed copies stay small.
constexpr int32_t kMaxSceneWidth = 4096;

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

constexpr const char* kNoMemory = "not enough memory for the globe";

std::nullopt_t Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return std::nullopt;
}

// The ground's linear colour with the gloss beside it, reduced and made a pyramid.
std::optional<MapSampler> GroundPyramid(const GlobeMaps& maps, RenderContext& ctx,
                                        std::string* error) {
    const SrgbDecoder& decode = Decoder();
    const FloatImage& color = *maps.color;
    const FloatImage* specular = maps.specular;
    std::optional<FloatImage> surface = PackMap(color, ctx, [&](int32_t x, int32_t y) {
        const FloatPixel c = color.At(x, y);
        const float gloss =
            specular ? std::clamp(ReadAligned(specular, color, x, y).R / 255.0f, 0.0f, 1.0f) : 0.0f;
        return FloatPixel{decode(c.R), decode(c.G), decode(c.B), gloss};
    });
    if (!surface) return Fail(error, kNoMemory);
    return MapSampler::Build(std::move(*surface), ctx, error);
}

// The relief slopes on the ground's grid as a pyramid, into relief (left empty without a
// bump or normal map). False, with error set, when they cannot be made.
bool BuildRelief(const GlobeMaps& maps, int32_t gridWidth, int32_t gridHeight, RenderContext& ctx,
                 std::string* error, std::optional<MapSampler>& relief) {
    if (Empty(maps.bump) && Empty(maps.normal)) return true;
    // Reduced first, so a very large map never needs a slope image of its own size; slopes
    // are measured on the sphere and come out alike at any size.
    const FloatImage& heights = Empty(maps.bump) ? *maps.normal : *maps.bump;
    std::optional<FloatImage> packed =
        PackMap(heights, ctx, [&heights](int32_t x, int32_t y) { return heights.At(x, y); });
    if (!packed) {
        Fail(error, kNoMemory);
        return false;
    }
    GlobeMaps reduced;
    (Empty(maps.bump) ? reduced.normal : reduced.bump) = &*packed;
    std::optional<FloatImage> slopes = SlopeImage(reduced, ctx);
    packed.reset();
    if (!slopes) {
        Fail(error, kNoMemory);
        return false;
    }
    if (slopes->Width != gridWidth || slopes->Height != gridHeight) {
        slopes = Regrid(*slopes, gridWidth, gridHeight, ctx, error);
        if (!slopes) return false;
    }
    relief = MapSampler::Build(std::move(*slopes), ctx, error);
    return relief.has_value();
}

// Colour, gloss and slopes share one texel: the frame reads them at the same place.
std::optional<PackedSampler<SurfaceTexel>> PackSurface(const MapSampler& ground,
                                                       const std::optional<MapSampler>& relief,
                                                       RenderContext& ctx) {
    return PackedSampler<SurfaceTexel>::FromPyramid(ground, ctx, [&](int i, int32_t x, int32_t y) {
        const FloatPixel& c = ground.Level(i).At(x, y);
        SurfaceTexel t{{ToFixed16(c.R), ToFixed16(c.G), ToFixed16(c.B), ToFixed16(c.A)},
                       {0.0f, 0.0f}};
        if (relief) {
            const FloatPixel& slope = relief->Level(i).At(x, y);
            t.slope[0] = slope.R;
            t.slope[1] = slope.G;
        }
        return t;
    });
}

// The cloud layer, premultiplied, as data.clouds. False, with error set, when it cannot be
// made.
bool PackClouds(const GlobeMaps& maps, RenderContext& ctx, std::string* error,
                GlobeScene::Data& data) {
    const SrgbDecoder& decode = Decoder();
    const FloatImage& cc = *maps.cloudColor;
    const FloatImage* ct = maps.cloudTransparency;
    const bool alphaMaps = maps.cloudAlphaMaps;
    std::optional<FloatImage> clouds = PackMap(cc, ctx, [&](int32_t x, int32_t y) {
        const float t = std::clamp(ReadAligned(ct, cc, x, y).R / 255.0f, 0.0f, 1.0f);
        const float opacity = alphaMaps ? t : 1.0f - t;
        const FloatPixel c = cc.At(x, y);
        // Premultiplied colour: the alpha maps' colour already is, the transparency maps'
        // colour is the cloud's own; the pyramid averages premultiplied values.
        const float k = alphaMaps ? 1.0f : opacity;
        return FloatPixel{decode(c.R) * k, decode(c.G) * k, decode(c.B) * k, opacity};
    });
    if (!clouds) {
        Fail(error, kNoMemory);
        return false;
    }
    const std::optional<MapSampler> pyramid = MapSampler::Build(std::move(*clouds), ctx, error);
    if (!pyramid) return false;
    const auto pack = [&](int i, int32_t x, int32_t y) {
        const FloatPixel& c = pyramid->Level(i).At(x, y);
        return CloudTexel{{ToFixed16(c.R), ToFixed16(c.G), ToFixed16(c.B), ToFixed16(c.A)}};
    };
    data.clouds = PackedSampler<CloudTexel>::FromPyramid(*pyramid, ctx, pack);
    if (!data.clouds) {
        Fail(error, kNoMemory);
        return false;
    }
    data.cloudsOnGroundGrid = data.clouds->SameSize(*data.surface);
    return true;
}

}  // namespace

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
    if (Empty(maps.color)) return Fail(error, "the globe needs a colour map");
    for (const FloatImage* map :
         {maps.bump, maps.normal, maps.specular, maps.cloudColor, maps.cloudTransparency}) {
        if (map && Empty(map)) return Fail(error, "a map of the globe is empty");
    }
    try {
        auto data = std::make_shared<Data>();
        std::optional<MapSampler> ground = GroundPyramid(maps, ctx, error);
        if (!ground) return std::nullopt;
        data->specular = maps.specular != nullptr;
        std::optional<MapSampler> relief;
        if (!BuildRelief(maps, ground->Width(), ground->Height(), ctx, error, relief))
            return std::nullopt;
        data->surface = PackSurface(*ground, relief, ctx);
        if (!data->surface) return Fail(error, kNoMemory);
        data->relief = relief.has_value();
        relief.reset();  // the float pyramids are not needed any more
        ground.reset();
        if (maps.cloudColor && maps.cloudTransparency && !PackClouds(maps, ctx, error, *data))
            return std::nullopt;
        GlobeScene scene;
        scene.data_ = std::move(data);
        return scene;
    } catch (const std::bad_alloc&) {
        return Fail(error, kNoMemory);
    }
}

}  // namespace globeforge
