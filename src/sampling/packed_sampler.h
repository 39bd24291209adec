// The globe's maps in the compact form its frames read. A frame reads the ground and the
// cloud layer at every lit pixel, so the texels are small and hold together what is read
// together: the ground's linear colour, gloss and relief slopes in one 16-byte texel, the
// cloud's premultiplied colour and opacity in 8 bytes. Colours are 16-bit linear fixed point,
// far finer than the 8-bit sRGB the picture is encoded to; slopes stay float, their range
// is open.
//
// Sampling follows MapSampler (same pyramid, bilinear within a level, level blend over the
// middle quarter of each step, taps along the row near the poles); the level comes from the
// footprint's binary exponent and the blend weight from a parabola in its mantissa instead of
// a logarithm. MapSampler stays the full-precision path for map outputs.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>
#include <optional>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/parallel.h"
#include "sampling/map_sampler.h"

namespace globeforge {

// Ground: linear albedo R, G, B and gloss on 0..65535, slopes east and north at relief 1.
struct SurfaceTexel {
    uint16_t color[4];
    float slope[2];
};
// Clouds: linear colour premultiplied by opacity, and opacity, on 0..65535.
struct CloudTexel {
    uint16_t color[4];
};

// Four floats blended together, in one SSE register where there is one. Every operation is
// a single rounded float operation per lane, as the scalar fallback does.
struct Lanes {
#if defined(__SSE2__)
    __m128 v;
#else
    float v[4];
#endif
};

#if defined(__SSE2__)
inline Lanes LoadU16(const uint16_t* p) {
    const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return {_mm_cvtepi32_ps(_mm_unpacklo_epi16(raw, _mm_setzero_si128()))};
}
inline Lanes LoadFloat2(const float* p) {
    return {_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)))};
}
inline Lanes Broadcast(float s) {
    return {_mm_set1_ps(s)};
}
inline Lanes operator+(Lanes a, Lanes b) {
    return {_mm_add_ps(a.v, b.v)};
}
inline Lanes operator*(Lanes a, Lanes b) {
    return {_mm_mul_ps(a.v, b.v)};
}
inline Lanes Mix(Lanes a, Lanes b, Lanes t) {
    return {_mm_add_ps(a.v, _mm_mul_ps(_mm_sub_ps(b.v, a.v), t.v))};
}
inline void Store(Lanes a, float* out) {
    _mm_storeu_ps(out, a.v);
}
#else
inline Lanes LoadU16(const uint16_t* p) {
    return {{static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]),
             static_cast<float>(p[3])}};
}
inline Lanes LoadFloat2(const float* p) {
    return {{p[0], p[1], 0.0f, 0.0f}};
}
inline Lanes Broadcast(float s) {
    return {{s, s, s, s}};
}
inline Lanes operator+(Lanes a, Lanes b) {
    return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}};
}
inline Lanes operator*(Lanes a, Lanes b) {
    return {{a.v[0] * b.v[0], a.v[1] * b.v[1], a.v[2] * b.v[2], a.v[3] * b.v[3]}};
}
inline Lanes Mix(Lanes a, Lanes b, Lanes t) {
    Lanes r;
    for (int i = 0; i < 4; ++i) r.v[i] = a.v[i] + (b.v[i] - a.v[i]) * t.v[i];
    return r;
}
inline void Store(Lanes a, float* out) {
    std::memcpy(out, a.v, sizeof a.v);
}
#endif

// A texel as groups of four lanes: the fixed-point colour first, then any float extras.
template <class Texel>
struct TexelLanes;
template <>
struct TexelLanes<SurfaceTexel> {
    static constexpr int kGroups = 2;
    static void Load(const SurfaceTexel& t, Lanes* out) {
        out[0] = LoadU16(t.color);
        out[1] = LoadFloat2(t.slope);
    }
};
template <>
struct TexelLanes<CloudTexel> {
    static constexpr int kGroups = 1;
    static void Load(const CloudTexel& t, Lanes* out) { out[0] = LoadU16(t.color); }
};

// The levels and taps one read takes.
struct PackedFooting {
    int level = 0;       // the finer of the levels read
    float weight = 0;    // of the next coarser level, blended in when above 0
    int taps = 1;        // along the row
    double tapStep = 0;  // between taps, in turns
};

// What a read of the ground gives: colour and gloss on 0..1, slopes.
struct SurfaceSample {
    float color[4];
    float slope[4];  // east, north, 0, 0
};
// What a read of the clouds gives: premultiplied colour and opacity on 0..1.
struct CloudSample {
    float color[4];
};

template <class Texel>
class PackedSampler {
  public:
    static constexpr int kGroups = TexelLanes<Texel>::kGroups;
    using Sample = std::conditional_t<kGroups == 2, SurfaceSample, CloudSample>;

    // Packs every level of a float pyramid; pack(level, x, y) makes one texel. Rows are packed
    // in bands on ctx's threads. nullopt when memory runs out.
    template <class Pack>
    static std::optional<PackedSampler> FromPyramid(const MapSampler& pyramid, RenderContext& ctx,
                                                    Pack&& pack) {
        PackedSampler s;
        try {
            for (int i = 0; i < pyramid.LevelCount(); ++i) {
                const FloatImage& image = pyramid.Level(i);
                Level level;
                level.width = image.Width;
                level.height = image.Height;
                // Left uninitialised: every texel is written below.
                level.texels.reset(new Texel[static_cast<size_t>(image.Width) * image.Height]);
                Texel* texels = level.texels.get();
                ParallelForBands(ctx, image.Height, kBandRows, [&](int64_t y0, int64_t y1) {
                    for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                        for (int32_t x = 0; x < image.Width; ++x) {
                            texels[static_cast<size_t>(y) * image.Width + x] = pack(i, x, y);
                        }
                    }
                });
                s.levels_.push_back(std::move(level));
            }
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
        s.acrossScale_ = s.levels_[0].height / std::numbers::pi;
        s.alongScale_ = s.levels_[0].width / (2 * std::numbers::pi);
        return s;
    }

    // The filtered value around map position (u, v), as MapSampler::SampleUV; secLat is
    // 1 / cos(latitude) at v, at most 1e6.
    Sample SampleUV(double u, double v, double footprint, double secLat) const {
        return Read(Choose(footprint, secLat), u, v);
    }

    // The two halves of SampleUV: which levels and taps a footprint needs at latitude
    // acos(1 / secLat), and the read itself. A choice holds for every sampler of the same
    // level-0 size (SameSize).
    PackedFooting Choose(double footprint, double secLat) const {
        const double f = std::isfinite(footprint) ? std::clamp(footprint, 0.0, 2 * kPi) : 0.0;
        const double across = f * acrossScale_;
        const double along = f * alongScale_ * secLat;
        PackedFooting c;
        double size = std::max(across, along);
        if (along >= 1.5 * across && across > 0) {
            // Taps along the row rather than blurring the rows together.
            const double ratio = along / across;
            c.taps = ratio >= kMaxRowTaps ? kMaxRowTaps : static_cast<int>(std::nearbyint(ratio));
            size = std::max(across, along / kMaxRowTaps);
            c.tapStep = std::min(f * secLat / (2 * kPi), 1.0) / c.taps;
        }
        if (!(size > 1.0)) return c;
        // The level below the footprint from the exponent, the position within the step
        // from the mantissa m (1 <= m < 2): no logarithm.
        uint64_t bits;
        std::memcpy(&bits, &size, sizeof bits);
        const int l0 = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
        const int last = static_cast<int>(levels_.size()) - 1;
        if (l0 >= last) {
            c.level = last;
            c.taps = 1;
            c.tapStep = 0;
            return c;
        }
        bits = (bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL;
        double m;
        std::memcpy(&m, &bits, sizeof m);
        // The two levels are blended where log2(m) is within 0.375 .. 0.625 only, with the
        // weight 4 (log2(m) - 0.375) taken from the parabola through the ends and the middle
        // of that stretch (within 0.001 of it).
        constexpr double kBlendStart = 1.2968395546510096;  // 2^0.375
        constexpr double kBlendMiddle = std::numbers::sqrt2;
        constexpr double kBlendEnd = 1.5422108254079407;  // 2^0.625
        constexpr double kSlope = 0.5 / (kBlendMiddle - kBlendStart);
        constexpr double kCurve =
            (0.5 / (kBlendEnd - kBlendMiddle) - kSlope) / (kBlendEnd - kBlendStart);
        c.level = m < kBlendEnd ? l0 : l0 + 1;
        if (m >= kBlendStart && m < kBlendEnd) {
            const double t = (m - kBlendStart) * (kSlope + (m - kBlendMiddle) * kCurve);
            c.weight = std::clamp(static_cast<float>(t), 0.0f, 1.0f);
        }
        return c;
    }

    Sample Read(const PackedFooting& c, double u, double v) const {
        if (!(u >= 0.0 && u < 1.0)) {
            u = std::isfinite(u) ? u - std::floor(u) : 0.0;
            if (u >= 1.0) u = 0.0;  // a tiny negative u rounds up to 1
        }
        v = std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.5;
        Lanes a[kGroups];
        SampleLevel(levels_[static_cast<size_t>(c.level)], u, v, c.taps, c.tapStep, a);
        if (c.weight > 0.0f) {
            Lanes b[kGroups];
            SampleLevel(levels_[static_cast<size_t>(c.level) + 1], u, v, c.taps, c.tapStep, b);
            const Lanes weight = Broadcast(c.weight);
            for (int g = 0; g < kGroups; ++g) a[g] = Mix(a[g], b[g], weight);
        }
        return Finish(a);
    }

    template <class Other>
    bool SameSize(const PackedSampler<Other>& other) const {
        return Width() == other.Width() && Height() == other.Height();
    }
    int32_t Width() const { return levels_[0].width; }
    int32_t Height() const { return levels_[0].height; }

    int LevelCount() const { return static_cast<int>(levels_.size()); }

  private:
    static constexpr double kPi = std::numbers::pi;
    static constexpr int kMaxRowTaps = 8;  // as MapSampler

    struct Level {
        int32_t width = 0;
        int32_t height = 0;
        std::unique_ptr<Texel[]> texels;
    };

    static void SampleLevel(const Level& level, double u, double v, int taps, double tapStep,
                            Lanes* out) {
        const int32_t w = level.width;
        const BilinearRows rows = BilinearRowsAt(v, level.height);
        const Lanes fy = Broadcast(rows.fy);
        const Texel* row0 = level.texels.get() + static_cast<size_t>(rows.y0) * w;
        const Texel* row1 = level.texels.get() + static_cast<size_t>(rows.y1) * w;
        // u is within [0, 1) and the taps within half a turn of it, so one width added keeps
        // x positive (a truncation is the floor) and one step wraps the column.
        const double start = u - 0.5 * tapStep * (taps - 1);
        const auto tap = [&](int k, Lanes* to) {
            const double x = (start + k * tapStep) * w - 0.5 + w;
            const int32_t xi = static_cast<int32_t>(x);
            const Lanes fx = Broadcast(static_cast<float>(x - xi));
            int32_t x0 = xi - w;
            if (x0 < 0) {
                x0 += w;
            } else if (x0 >= w) {
                x0 -= w;
            }
            const int32_t x1 = x0 + 1 < w ? x0 + 1 : 0;
            Lanes t00[kGroups], t01[kGroups], t10[kGroups], t11[kGroups];
            TexelLanes<Texel>::Load(row0[x0], t00);
            TexelLanes<Texel>::Load(row0[x1], t01);
            TexelLanes<Texel>::Load(row1[x0], t10);
            TexelLanes<Texel>::Load(row1[x1], t11);
            for (int g = 0; g < kGroups; ++g) {
                to[g] = Mix(Mix(t00[g], t01[g], fx), Mix(t10[g], t11[g], fx), fy);
            }
        };
        tap(0, out);
        for (int k = 1; k < taps; ++k) {
            Lanes p[kGroups];
            tap(k, p);
            for (int g = 0; g < kGroups; ++g) out[g] = out[g] + p[g];
        }
        if (taps > 1) {
            const Lanes inv = Broadcast(1.0f / static_cast<float>(taps));
            for (int g = 0; g < kGroups; ++g) out[g] = out[g] * inv;
        }
    }

    static Sample Finish(const Lanes* a) {
        Sample s;
        Store(a[0] * Broadcast(1.0f / 65535.0f), s.color);
        if constexpr (kGroups == 2) Store(a[1], s.slope);
        return s;
    }

    std::vector<Level> levels_;
    double acrossScale_ = 0;  // level-0 rows per radian of latitude
    double alongScale_ = 0;   // level-0 columns per radian of longitude
};

// 0..1 to 16-bit fixed point.
inline uint16_t ToFixed16(float v) {
    return static_cast<uint16_t>(std::clamp(v, 0.0f, 1.0f) * 65535.0f + 0.5f);
}

}  // namespace globeforge
