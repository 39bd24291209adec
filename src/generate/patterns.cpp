#include "generate/patterns.h"

#include <algorithm>
#include <cmath>

#include "generate/channel_ops.h"
#include "generate/curves.h"

namespace globeforge {

namespace {

// Distances are the double square root of the exact integer sum of squares.
double Distance(int64_t dx, int64_t dy) {
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

FloatPixel ChannelPixel(bool useR, bool useG, bool useB, double v, float alpha) {
    const float f = static_cast<float>(v);
    return {useR ? f : 0.0f, useG ? f : 0.0f, useB ? f : 0.0f, alpha};
}

// The distinct pixels inside image at offsets (+-dx, +-dy) and (+-dy, +-dx) from (cx, cy),
// 0 <= dy <= dx: the pixels of a disc that share one distance from its centre.
struct MirrorSet {
    int32_t count = 0;
    int32_t x[8];
    int32_t y[8];
};

MirrorSet MirrorsInside(const FloatImage& image, int32_t cx, int32_t cy, int32_t dx, int32_t dy) {
    MirrorSet set;
    const auto add = [&](int64_t ox, int64_t oy) {
        const int64_t x = int64_t{cx} + ox;
        const int64_t y = int64_t{cy} + oy;
        if (x < 0 || y < 0 || x >= image.Width || y >= image.Height) return;
        set.x[set.count] = static_cast<int32_t>(x);
        set.y[set.count] = static_cast<int32_t>(y);
        ++set.count;
    };
    const auto addFour = [&](int32_t a, int32_t b) {  // (+-a, +-b) for a > 0, b > 0
        add(a, b);
        add(-a, b);
        add(a, -b);
        add(-a, -b);
    };
    if (dx == 0) {
        add(0, 0);
    } else if (dy == 0) {
        add(dx, 0);
        add(-dx, 0);
        add(0, dx);
        add(0, -dx);
    } else if (dx == dy) {
        addFour(dx, dx);
    } else {
        addFour(dx, dy);
        addFour(dy, dx);
    }
    return set;
}

// Calls fn(mirrors, d) once per distance class of a disc of radius r around (cx, cy) that
// has pixels inside the image. The profile of a disc depends on the distance alone, so
// each value is computed once per octant instead of once per pixel; every pixel is still
// visited exactly once.
template <typename Fn>
void ForEachDiscPixelClass(const FloatImage& image, int32_t cx, int32_t cy, int32_t r, Fn&& fn) {
    for (int32_t dy = 0; dy <= r; ++dy) {
        for (int32_t dx = dy; dx <= r; ++dx) {
            const double d = Distance(dx, dy);
            if (d > r) break;
            const MirrorSet mirrors = MirrorsInside(image, cx, cy, dx, dy);
            if (mirrors.count > 0) fn(mirrors, d);
        }
    }
}

// Opaque black with one centred disc of radius Width div 2 whose value at distance d is
// profile(d, r), laid on with the Norm blend (so the stored colour is v * v / 256).
template <typename Profile>
void DrawCentredDisc(FloatImage& image, bool useR, bool useG, bool useB, Profile&& profile) {
    FillImage(image, kOpaqueBlack);
    const int32_t r = image.Width / 2;
    ForEachDiscPixelClass(
        image, image.Width / 2, image.Height / 2, r, [&](const MirrorSet& mirrors, double d) {
            const double v = profile(d, r);
            const FloatPixel pixel = ChannelPixel(useR, useG, useB, v, static_cast<float>(v));
            for (int32_t k = 0; k < mirrors.count; ++k) {
                BlendPixelAt(image, mirrors.x[k], mirrors.y[k], pixel, Wrap::On, BlendMode::Norm);
            }
        });
}

}  // namespace

BiasCurve::BiasCurve(double y0, double y1, double x0, double x1, double bias)
    : y0_(y0),
      y1_(y1),
      x0_(x0),
      x1_(x1),
      exponent_(bias >= 0 ? bias + 1 : std::fabs(bias) + 1),
      out_(bias >= 0),
      empty_(x1 - x0 == 0.0) {
    if (!empty_) {
        const double d = x1 - x0;
        q_ = static_cast<double>((static_cast<Extended>(y1) - y0) / AbsPower(d, exponent_));
    }
}

double BiasCurve::operator()(double x) const {
    if (empty_) return y1_;
    if (!out_) {
        const double t = x - x0_;
        return static_cast<double>(static_cast<Extended>(AbsPower(t, exponent_)) * q_ + y0_);
    }
    // The mirror form: evaluated at x1 - (x - x0) and reflected.
    const double t = x - x0_;
    const double m = x1_ - t;
    const double tm = m - x0_;
    const double r = static_cast<double>(static_cast<Extended>(AbsPower(tm, exponent_)) * q_ + y0_);
    return static_cast<double>(static_cast<Extended>(y0_) + (static_cast<Extended>(y1_) - r));
}

void CarveRandomDomes(FloatImage& image, bool useR, bool useG, bool useB, int32_t count,
                      double bias, Lcg32& rng) {
    if (count == 0) return;
    const int32_t w = image.Width;
    const int32_t h = image.Height;
    for (int32_t i = 0; i < count; ++i) {
        // Draws, in this order: cx, cy, r, e.
        const int32_t cx = rng.Random(w);
        const int32_t cy = rng.Random(h);
        const int32_t rDrawn = rng.Random(w / 2);
        const int32_t r = rDrawn == 0 ? 1 : rDrawn;
        const double e = rng.RandomReal() * bias;
        // Domes are clipped at the edges, not wrapped.
        const BiasCurve profile(255, 0, 0, r, e);
        ForEachDiscPixelClass(image, cx, cy, r, [&](const MirrorSet& mirrors, double d) {
            const double v = profile(d);
            const FloatPixel pixel = ChannelPixel(useR, useG, useB, v, 255.0f);
            for (int32_t k = 0; k < mirrors.count; ++k) {
                BlendPixelAt(image, mirrors.x[k], mirrors.y[k], pixel, Wrap::Off,
                             BlendMode::SubDirect);
            }
        });
    }
    ClipNegative(image);
    if (!useR && !useG && !useB) return;
    FloatPixel* p = image.Data();
    const size_t n = image.PixelCount();
    for (size_t k = 0; k < n; ++k) {
        if (useR) p[k].A = p[k].R;
        if (useG) p[k].A = p[k].G;
        if (useB) p[k].A = p[k].B;
    }
}

void DomePattern(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double bias,
                 Lcg32& rng) {
    const BiasCurve profile(255, 0, 0, image.Width / 2, bias);
    DrawCentredDisc(image, useR, useG, useB, [&profile](double d, int32_t) { return profile(d); });
    CarveRandomDomes(image, useR, useG, useB, count, bias, rng);
}

void RingPattern(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double exponent,
                 Lcg32& rng) {
    DrawCentredDisc(image, useR, useG, useB, [exponent](double d, int32_t r) {
        // The band bounds are extended products; a distance that equals a bound exactly
        // belongs to the outer band.
        const Extended b1 = r * 0.2L;
        const Extended b2 = r * 0.4L;
        const Extended b3 = r * 0.6L;
        const Extended b4 = r * 0.8L;
        const Extended de = d;
        if (de < b1) return CurveInOut(255, 128, 0, static_cast<double>(b1), d, exponent);
        if (de < b2) {
            return CurveInOut(128, 192, static_cast<double>(b1), static_cast<double>(b2), d,
                              exponent);
        }
        if (de < b3) {
            return CurveInOut(192, 64, static_cast<double>(b2), static_cast<double>(b3), d,
                              exponent);
        }
        if (de < b4) {
            return CurveInOut(64, 128, static_cast<double>(b3), static_cast<double>(b4), d,
                              exponent);
        }
        return CurveInOut(128, 0, static_cast<double>(b4), r, d, exponent);
    });
    CarveRandomDomes(image, useR, useG, useB, count, exponent, rng);
}

}  // namespace globeforge
