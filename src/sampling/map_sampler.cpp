#include "sampling/map_sampler.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <utility>

#include "core/parallel.h"

namespace globeforge {

namespace {

constexpr double kPi = std::numbers::pi;
// More taps along a row than this and the sample moves to a coarser level instead.
constexpr int kMaxRowTaps = 8;

// The source pixels a destination pixel of a box reduction covers, with the share of each:
// pixel i of n' covers [i n / n', (i + 1) n / n') of the n source pixels.
struct BoxTaps {
    std::vector<int32_t> first;  // per destination pixel, its first source pixel
    std::vector<int32_t> count;
    std::vector<float> weights;  // count[i] weights per pixel, at offsets[i]
    std::vector<size_t> offsets;
};

BoxTaps MakeBoxTaps(int32_t n, int32_t reduced) {
    BoxTaps t;
    const double scale = static_cast<double>(n) / reduced;
    for (int32_t i = 0; i < reduced; ++i) {
        const double a = i * scale;
        const double b = (i + 1) * scale;
        const int32_t first = static_cast<int32_t>(std::floor(a));
        const int32_t last = std::min(n - 1, static_cast<int32_t>(std::ceil(b)) - 1);
        t.first.push_back(first);
        t.count.push_back(last - first + 1);
        t.offsets.push_back(t.weights.size());
        for (int32_t s = first; s <= last; ++s) {
            const double overlap = std::min<double>(b, s + 1) - std::max<double>(a, s);
            t.weights.push_back(static_cast<float>(overlap / scale));
        }
    }
    return t;
}

// One level from the one before it, in bands of rows.
void ReduceLevel(const FloatImage& src, FloatImage& dst, RenderContext& ctx) {
    const BoxTaps tx = MakeBoxTaps(src.Width, dst.Width);
    const BoxTaps ty = MakeBoxTaps(src.Height, dst.Height);
    ParallelForBands(ctx, dst.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        std::vector<float> row(static_cast<size_t>(src.Width) * 4);
        for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
            // Columns first: the weighted sum of the source rows this row covers.
            std::fill(row.begin(), row.end(), 0.0f);
            for (int32_t k = 0; k < ty.count[y]; ++k) {
                const float wy = ty.weights[ty.offsets[y] + k];
                const FloatPixel* s = src.Row(ty.first[y] + k);
                for (int32_t x = 0; x < src.Width; ++x) {
                    float* r = &row[static_cast<size_t>(x) * 4];
                    r[0] += wy * s[x].R;
                    r[1] += wy * s[x].G;
                    r[2] += wy * s[x].B;
                    r[3] += wy * s[x].A;
                }
            }
            FloatPixel* d = dst.Row(y);
            for (int32_t x = 0; x < dst.Width; ++x) {
                FloatPixel p{0, 0, 0, 0};
                for (int32_t k = 0; k < tx.count[x]; ++k) {
                    const float wx = tx.weights[tx.offsets[x] + k];
                    const float* r = &row[static_cast<size_t>(tx.first[x] + k) * 4];
                    p.R += wx * r[0];
                    p.G += wx * r[1];
                    p.B += wx * r[2];
                    p.A += wx * r[3];
                }
                d[x] = p;
            }
        }
    });
}

inline FloatPixel Mix(const FloatPixel& a, const FloatPixel& b, float t) {
    return {a.R + (b.R - a.R) * t, a.G + (b.G - a.G) * t, a.B + (b.B - a.B) * t,
            a.A + (b.A - a.A) * t};
}

}  // namespace

LonLat LonLatOf(const SphereDirection& d) {
    const double horizontal = std::sqrt(d.x * d.x + d.y * d.y);
    return {std::atan2(d.y, d.x), std::atan2(d.z, horizontal)};
}

SphereDirection DirectionOf(double lon, double lat) {
    const double c = std::cos(lat);
    return {c * std::cos(lon), c * std::sin(lon), std::sin(lat)};
}

std::optional<MapSampler> MapSampler::Build(const FloatImage& map, RenderContext& ctx,
                                            std::string* error) {
    MapSampler sampler;
    sampler.base_ = &map;
    return BuildLevels(std::move(sampler), ctx, error);
}

std::optional<MapSampler> MapSampler::Build(FloatImage&& map, RenderContext& ctx,
                                            std::string* error) {
    MapSampler sampler;
    try {
        sampler.owned_ = std::make_unique<FloatImage>(std::move(map));
    } catch (const std::bad_alloc&) {
        if (error) *error = "not enough memory for the map pyramid";
        return std::nullopt;
    }
    sampler.base_ = sampler.owned_.get();
    return BuildLevels(std::move(sampler), ctx, error);
}

std::optional<MapSampler> MapSampler::BuildLevels(MapSampler sampler, RenderContext& ctx,
                                                  std::string* error) {
    if (sampler.base_->Width < 1 || sampler.base_->Height < 1) {
        if (error) *error = "the map is empty";
        return std::nullopt;
    }
    try {
        while (true) {
            const FloatImage& last =
                sampler.levels_.empty() ? *sampler.base_ : sampler.levels_.back();
            if (last.Width == 1 && last.Height == 1) break;
            std::optional<FloatImage> next =
                NewImage(std::max(1, (last.Width + 1) / 2), std::max(1, (last.Height + 1) / 2));
            if (!next) {
                if (error) *error = "not enough memory for the map pyramid";
                return std::nullopt;
            }
            ReduceLevel(last, *next, ctx);
            sampler.levels_.push_back(std::move(*next));
        }
    } catch (const std::bad_alloc&) {
        if (error) *error = "not enough memory for the map pyramid";
        return std::nullopt;
    }
    return sampler;
}

FloatPixel MapSampler::SampleLevel(int level, double u, double v, int taps, double tapStep) const {
    const FloatImage& image = Level(level);
    const int32_t w = image.Width;
    const BilinearRows rows = BilinearRowsAt(v, image.Height);
    const float fy = rows.fy;
    const FloatPixel* row0 = image.Row(rows.y0);
    const FloatPixel* row1 = image.Row(rows.y1);

    FloatPixel sum{0, 0, 0, 0};
    // u is within [0, 1) and the taps stay within a turn of it, so one width added keeps x
    // positive and a truncation is the floor.
    const double start = u - 0.5 * tapStep * (taps - 1);
    for (int k = 0; k < taps; ++k) {
        const double x = (start + k * tapStep) * w - 0.5 + w;
        const int32_t xi = static_cast<int32_t>(x);
        const float fx = static_cast<float>(x - xi);
        int32_t x0 = xi - w;
        while (x0 < 0) x0 += w;
        while (x0 >= w) x0 -= w;
        const int32_t x1 = x0 + 1 < w ? x0 + 1 : 0;
        const FloatPixel top = Mix(row0[x0], row0[x1], fx);
        const FloatPixel bottom = Mix(row1[x0], row1[x1], fx);
        const FloatPixel p = Mix(top, bottom, fy);
        sum.R += p.R;
        sum.G += p.G;
        sum.B += p.B;
        sum.A += p.A;
    }
    if (taps == 1) return sum;
    const float inv = 1.0f / static_cast<float>(taps);
    return {sum.R * inv, sum.G * inv, sum.B * inv, sum.A * inv};
}

FloatPixel MapSampler::Sample(double lon, double lat, double footprint) const {
    return SampleUV(lon / (2 * kPi), 0.5 - lat / kPi, footprint);
}

FloatPixel MapSampler::SampleUV(double u, double v, double footprint) const {
    v = std::clamp(v, 0.0, 1.0);
    return SampleUV(u, v, footprint, std::sin(kPi * std::min(v, 1.0 - v)));
}

FloatPixel MapSampler::SampleUV(double u, double v, double footprint, double cosLat) const {
    u = std::isfinite(u) ? u - std::floor(u) : 0.0;
    if (u >= 1.0) u = 0.0;  // a tiny negative u rounds up to 1
    v = std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.5;
    const double w0 = Width();
    const double h0 = Height();
    // The footprint in level-0 pixels across the rows and along them; a row at latitude
    // lat spans cos(lat) of the equator's length.
    cosLat = std::max(cosLat, 1e-6);
    // A turn of footprint at most keeps the taps within a turn of u.
    const double f = std::isfinite(footprint) ? std::clamp(footprint, 0.0, 2 * kPi) : 0.0;
    const double across = f / kPi * h0;
    const double along = f / (2 * kPi * cosLat) * w0;
    int taps = 1;
    double size = std::max(across, along);
    double tapStep = 0;
    if (along >= 1.5 * across && across > 0) {
        // Average taps along the row rather than blurring the rows together.
        const double ratio = along / across;
        taps = static_cast<int>(std::min<double>(kMaxRowTaps, std::nearbyint(ratio)));
        size = std::max(across, along / kMaxRowTaps);
        tapStep = std::min(f / (2 * kPi * cosLat), 1.0) / taps;
    }
    const double lod = size > 1.0 ? std::log2(size) : 0.0;
    const int last = LevelCount() - 1;
    if (lod >= last) return SampleLevel(last, u, v, 1, 0);
    const int l0 = static_cast<int>(lod);
    // The two levels are blended over the middle quarter of each step only: elsewhere one
    // level does, which halves the reads there, and the weight still moves continuously
    // from one level to the next.
    const float t = std::clamp((static_cast<float>(lod - l0) - 0.375f) * 4.0f, 0.0f, 1.0f);
    if (t == 0.0f) return SampleLevel(l0, u, v, taps, tapStep);
    if (t == 1.0f) return SampleLevel(l0 + 1, u, v, taps, tapStep);
    return Mix(SampleLevel(l0, u, v, taps, tapStep), SampleLevel(l0 + 1, u, v, taps, tapStep), t);
}

}  // namespace globeforge
