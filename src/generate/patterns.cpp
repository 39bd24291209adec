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

// Opaque black with one centred disc of radius Width div 2 whose value at distance d is
// profile(d, r), laid on with the Norm blend (so the stored colour is v * v / 256).
template <typename Profile>
void DrawCentredDisc(FloatImage& image, bool useR, bool useG, bool useB, Profile&& profile) {
    FillImage(image, kOpaqueBlack);
    const int32_t cx = image.Width / 2;
    const int32_t cy = image.Height / 2;
    const int32_t r = image.Width / 2;
    for (int32_t y = 0; y < image.Height; ++y) {
        for (int32_t x = 0; x < image.Width; ++x) {
            const double d = Distance(int64_t{x} - cx, int64_t{y} - cy);
            if (d > r) continue;
            const double v = profile(d, r);
            const float a = static_cast<float>(v);
            BlendPixelAt(image, x, y, ChannelPixel(useR, useG, useB, v, a), Wrap::On,
                         BlendMode::Norm);
        }
    }
}

}  // namespace

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
        // Domes are clipped at the edges, not wrapped: only the part of the bounding square
        // inside the image is visited.
        const int64_t y0 = std::max<int64_t>(int64_t{cy} - r, 0);
        const int64_t y1 = std::min<int64_t>(int64_t{cy} + r, int64_t{h} - 1);
        const int64_t x0 = std::max<int64_t>(int64_t{cx} - r, 0);
        const int64_t x1 = std::min<int64_t>(int64_t{cx} + r, int64_t{w} - 1);
        for (int64_t y = y0; y <= y1; ++y) {
            for (int64_t x = x0; x <= x1; ++x) {
                const double d = Distance(x - cx, y - cy);
                if (d > r) continue;
                const double v = CurveBias(255, 0, 0, r, d, e);
                BlendPixelAt(image, static_cast<int32_t>(x), static_cast<int32_t>(y),
                             ChannelPixel(useR, useG, useB, v, 255.0f), Wrap::Off,
                             BlendMode::SubDirect);
            }
        }
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
    DrawCentredDisc(image, useR, useG, useB,
                    [bias](double d, int32_t r) { return CurveBias(255, 0, 0, r, d, bias); });
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
