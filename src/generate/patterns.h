// Brush patterns: one radial stamp (a smooth dome or a disc of concentric rings) drawn into
// a small image and pitted with random domes, so that every redraw gives a different brush.
// A chosen channel receives the pattern value, the others 0. After carving, A carries the
// value of the last chosen channel (R, G, B order), so the brush is its own coverage when
// it is stretched onto a layer.
//
// Every function that draws takes the generator explicitly; the order of its draws is part
// of what a seed means.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/progress.h"
#include "generate/brush_cache.h"
#include "generate/curves.h"
#include "image/float_image.h"
#include "image/source_layout.h"
#include "random/lcg32.h"

namespace globeforge {

// CurveBias(y0, y1, x0, x1, x, bias) for many x with the other arguments fixed, as the
// domes need it once per pixel: the power of the interval length is computed once. The
// arithmetic is CurveBias's, step for step, so the results are identical.
class BiasCurve {
  public:
    BiasCurve(double y0, double y1, double x0, double x1, double bias)
        : curve_(bias >= 0 ? FixedCurve::Kind::Out : FixedCurve::Kind::In, y0, y1, x0, x1,
                 bias >= 0 ? bias + 1 : std::fabs(bias) + 1) {}
    double operator()(double x) const { return curve_(x); }
    // static_cast<float>((*this)(x)), mostly computed faster (see FixedCurve::Float).
    float Float(double x) const { return curve_.Float(x); }
    void Floats(const double* x, float* out, size_t count) const { curve_.Floats(x, out, count); }

  private:
    FixedCurve curve_;
};

// Subtracts count random domes from the chosen channels, clips below 0 and copies the last
// chosen channel into A. Four draws per dome: cx, cy, radius, bias factor. A count of 0
// changes nothing at all; a negative count carves nothing but still clips and copies.
void CarveRandomDomes(FloatImage& image, bool useR, bool useG, bool useB, int32_t count,
                      double bias, Lcg32& rng);
void CarveRandomDomes(FloatImage& image, bool useR, bool useG, bool useB, int32_t count,
                      double bias, BrushCache& cache, RenderContext& ctx);

enum class PatternShape { Dome, Ring };

// Opaque black, one centred radial stamp of radius Width div 2 shaped by shaping, then
// CarveRandomDomes with shaping as the bias. A Dome is shaped by its bias; a Ring has a
// five-band profile (255, 128, 192, 64, 128, 0 from centre to rim) whose bands the exponent
// shapes. The overloads taking a render context draw from ctx.rng and share the pixel work
// among ctx.threads threads, with the same result; with a cache, they keep their discs and
// tables in it for the next redraw, and may leave a DeferredBrush of the cache unwritten.
// Without one, nothing is kept.
void DrawPattern(PatternShape shape, FloatImage& image, bool useR, bool useG, bool useB,
                 int32_t count, double shaping, Lcg32& rng);
void DrawPattern(PatternShape shape, FloatImage& image, bool useR, bool useG, bool useB,
                 int32_t count, double shaping, BrushCache& cache, RenderContext& ctx);
void DrawPattern(PatternShape shape, FloatImage& image, bool useR, bool useG, bool useB,
                 int32_t count, double shaping, RenderContext& ctx);

// DrawPattern of a Dome or a Ring, with any of its sources of draws (rng; cache and ctx; ctx).
template <typename... Source>
void DomePattern(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double bias,
                 Source&... source) {
    DrawPattern(PatternShape::Dome, image, useR, useG, useB, count, bias, source...);
}
template <typename... Source>
void RingPattern(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double exponent,
                 Source&... source) {
    DrawPattern(PatternShape::Ring, image, useR, useG, useB, count, exponent, source...);
}

// The layout every brush DomePattern and RingPattern draw with these channels and count has,
// whatever the draws, so a stamp pass need not scan its brush for it. All three channels go
// through the same operations on the same values, so they stay equal bit for bit. One channel
// with a nonzero count: the others are (0 x (255 - a) + 0 x a) / 256 in the disc, a sum of
// zeros of which at most one is -0, so +0, and +0 elsewhere; carving leaves them alone, clips
// the channel to +0 or more and copies it into A. A count of 0 leaves A at 255: General.
SourceLayout PatternLayout(bool useR, bool useG, bool useB, int32_t count);

}  // namespace globeforge
