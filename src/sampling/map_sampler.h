// Filtered reads of an equirectangular map from any direction on the sphere: a pyramid of
// box-filtered levels, bilinear within a level and blended between the two levels nearest
// the footprint's size, so a large map seen small does not shimmer. Longitude wraps across 0/360;
// latitude is clamped at the poles. Near the poles, where a pixel row spans little longitude,
// several taps along the row are averaged instead of blurring the whole sample.
//
// Map geometry: pixel column x covers longitudes [x, x + 1) / width x 360 degrees east, row y
// covers latitudes from 90 - y / height x 180 down to 90 - (y + 1) / height x 180 degrees;
// pixel centres sit half a pixel in. Directions are unit vectors in the planet's frame:
// +X toward longitude 0 latitude 0, +Y toward longitude 90 east, +Z toward the north pole.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/progress.h"
#include "image/float_image.h"

namespace globeforge {

struct SphereDirection {
    double x, y, z;
};

// Longitude (radians east, -pi .. pi) and latitude (radians north) of a direction; the
// direction need not be unit length but must not be zero.
struct LonLat {
    double lon, lat;
};
LonLat LonLatOf(const SphereDirection& d);
SphereDirection DirectionOf(double lon, double lat);

// The two rows of an h-row level a bilinear read at v blends, clamped at the poles, and the
// weight of the second; MapSampler and PackedSampler pick them alike.
struct BilinearRows {
    int32_t y0, y1;
    float fy;
};
inline BilinearRows BilinearRowsAt(double v, int32_t h) {
    double y = v * h - 0.5;
    y = std::clamp(y, 0.0, static_cast<double>(h - 1));
    const int32_t y0 = static_cast<int32_t>(y);
    return {y0, std::min(y0 + 1, h - 1), static_cast<float>(y - y0)};
}

class MapSampler {
  public:
    // Builds the pyramid of map. The map becomes level 0 and is borrowed: it must outlive
    // the sampler and stay unchanged. The coarser levels are computed in bands of rows on
    // ctx's threads (the result does not depend on their number). nullopt, with error set,
    // for an empty map or when memory runs out.
    static std::optional<MapSampler> Build(const FloatImage& map, RenderContext& ctx,
                                           std::string* error = nullptr);
    // The same, with the sampler owning level 0.
    static std::optional<MapSampler> Build(FloatImage&& map, RenderContext& ctx,
                                           std::string* error = nullptr);

    MapSampler(MapSampler&&) noexcept = default;
    MapSampler& operator=(MapSampler&&) noexcept = default;

    // The filtered value around (lon, lat) in radians, every channel as stored in the map.
    // footprint is the angular diameter, in radians, of the patch of sphere one output
    // sample stands for: 0 (or anything below a map pixel) reads level 0 bilinearly.
    FloatPixel Sample(double lon, double lat, double footprint) const;
    FloatPixel Sample(const SphereDirection& d, double footprint) const {
        const LonLat ll = LonLatOf(d);
        return Sample(ll.lon, ll.lat, footprint);
    }
    // The same from map coordinates: u = longitude / 2 pi (any real, wrapped), v = 0 at the
    // north pole .. 1 at the south pole (clamped).
    FloatPixel SampleUV(double u, double v, double footprint) const;
    // The same when the caller knows cos(latitude) at v already.
    FloatPixel SampleUV(double u, double v, double footprint, double cosLat) const;

    int32_t Width() const { return Level(0).Width; }
    int32_t Height() const { return Level(0).Height; }
    int LevelCount() const { return static_cast<int>(levels_.size()) + 1; }
    const FloatImage& Level(int i) const { return i == 0 ? *base_ : levels_[i - 1]; }

  private:
    MapSampler() = default;
    static std::optional<MapSampler> BuildLevels(MapSampler sampler, RenderContext& ctx,
                                                 std::string* error);
    FloatPixel SampleLevel(int level, double u, double v, int taps, double tapStep) const;

    std::unique_ptr<FloatImage> owned_;  // level 0 when the sampler owns it
    const FloatImage* base_ = nullptr;   // level 0
    std::vector<FloatImage> levels_;     // levels 1.., each half the size of the one before
};

}  // namespace globeforge
