#include "render/ground_maps.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "generate/channel_ops.h"
#include "generate/curves.h"
#include "render/map_frame.h"

namespace globeforge {

namespace {

// The values every ground builder derives from the parameters once per call.
struct GroundLevels {
    float s;         // sea level on the 0..255 height scale
    double I;        // ice quantity, 0..1
    double T;        // cloud transparency, 0..1
    int32_t half;    // the middle row
    int32_t iceRow;  // distance from the middle row beyond which the sea freezes
};

GroundLevels DeriveLevels(const RenderParams& params, int32_t height) {
    GroundLevels g;
    g.s = static_cast<float>(static_cast<Extended>(params.CoastLevel) / 100.0L * 255.0L);
    g.I = static_cast<double>(static_cast<Extended>(params.IceQuantity) / 100.0L);
    g.T = CloudTransparencyFraction(params);
    g.half = height / 2;
    g.iceRow = Round(static_cast<Extended>(g.half) - static_cast<Extended>(g.half) * g.I);
    return g;
}

double Channel(const FloatPixel& p, int k) {
    return k == 0 ? p.R : (k == 1 ? p.G : p.B);
}

// The snow line of one row: highest on the middle row, at sea level on the top row.
double SnowLine(const GroundLevels& g, int32_t d) {
    // A layer one row high has half = 0, where d / half has no value: that single row gets
    // no snow-line lift (t = 0), so the snow line sits at sea level. The empty-interval
    // result of CurveOut (its end value 1 - I) would instead put it near the top.
    const double t = g.half == 0 ? 0.0 : CurveOut(0.0, 1.0 - g.I, g.half, 0.0, d, 3.0);
    return static_cast<double>(static_cast<Extended>(g.s) + (255.0L - g.s) * t);
}

// CurveIn(y0, y1, x0, x1, x, p) from the powers |x1 - x0|^p and |x - x0|^p, for curves
// whose end value y1 changes from pixel to pixel while the powers are shared.
double CurveInFromPowers(double y0, double y1, double intervalPower, double termPower) {
    const double q = static_cast<double>((static_cast<Extended>(y1) - y0) / intervalPower);
    return static_cast<double>(static_cast<Extended>(termPower) * q + y0);
}

using Rgb = std::array<float, 3>;

FloatPixel Opaque(const Rgb& c) {
    return {c[0], c[1], c[2], 255.0f};
}

// The colours of three ramps sharing one power term, rounded to float.
auto RoundedRamp(const FixedCurve (&ramp)[3]) {
    return [&ramp](double power) {
        return Rgb{static_cast<float>(ramp[0].Apply(power)),
                   static_cast<float>(ramp[1].Apply(power)),
                   static_cast<float>(ramp[2].Apply(power))};
    };
}

// The colour ramps of one colour map. Land and sea ramps share their input interval and
// exponent across R, G and B, so one power serves the three channels; the snow and ice
// curves end at the pixel's own colour, but their powers are shared too.
class GroundPalette {
  public:
    GroundPalette(const RenderParams& params, const GroundLevels& g)
        : params_(params),
          g_(g),
          land_{Land(0), Land(1), Land(2)},
          sea_{Sea(0), Sea(1), Sea(2)},
          iceIntervalLog_(AbsPowerLog(static_cast<double>(g.iceRow) - g.half)) {}

    // What one row needs: its distance from the middle row, snow line and the powers and
    // logarithms that depend on the row alone.
    struct Row {
        int32_t d;
        double snowLine;
        bool emptySnowRamp;
        double snowIntervalPower;
        double iceTermBase;
        Extended iceTermLog;
    };
    Row RowOf(int32_t y) const {
        Row row;
        row.d = std::abs(y - g_.half);
        row.snowLine = SnowLine(g_, row.d);
        // An empty snow ramp (snow line at 255) leaves only heights above 255, which take
        // the ramp's top colour, IceColor; CurveIn's empty-interval result would be the
        // bare ground colour instead.
        row.emptySnowRamp = row.snowLine - 255.0 == 0.0;
        row.snowIntervalPower = AbsPower(row.snowLine - 255.0, 7.0);
        row.iceTermBase = static_cast<double>(row.d) - g_.half;
        row.iceTermLog = AbsPowerLog(row.iceTermBase);
        return row;
    }

    // The opaque ground colour of height h.
    FloatPixel Colour(const Row& row, double h) const {
        const bool ice = params_.IceQuantity > 0;
        if (h >= g_.s) {
            const bool snow = ice && h > row.snowLine;
            if (!snow) return Opaque(ChainedPower(land_[0].PowerBase(h), 3.0, RoundedRamp(land_)));
            // With s = 255 the ramp is empty; the curve then gives its end colour,
            // GroundColorHigh, which is the colour of the top of the ramp.
            const double power = land_[0].PowerTerm(h);
            if (row.emptySnowRamp) {
                return Opaque({static_cast<float>(params_.IceColor.R),
                               static_cast<float>(params_.IceColor.G),
                               static_cast<float>(params_.IceColor.B)});
            }
            const double col[3] = {land_[0].Apply(power), land_[1].Apply(power),
                                   land_[2].Apply(power)};
            return Opaque(ChainedPower(h - 255.0, 7.0, [&](double term) {
                Rgb c;
                for (int k = 0; k < 3; ++k) {
                    c[k] = static_cast<float>(CurveInFromPowers(
                        Channel(params_.IceColor, k), col[k], row.snowIntervalPower, term));
                }
                return c;
            }));
        }
        // With s = 0 only negative heights are sea; the empty ramp gives SeaColorShallow.
        // d never exceeds half, so d > iceRow keeps the ice interval non-empty.
        if (!ice || row.d <= g_.iceRow) {
            return Opaque(ChainedPower(sea_[0].PowerBase(h), 1.0, RoundedRamp(sea_)));
        }
        const double power = sea_[0].PowerTerm(h);
        const double p = static_cast<double>(2.0L + static_cast<Extended>(h) / 64.0L);
        const double interval =
            AbsPowerFromLog(static_cast<double>(g_.iceRow) - g_.half, iceIntervalLog_, p);
        const double term = AbsPowerFromLog(row.iceTermBase, row.iceTermLog, p);
        Rgb c;
        for (int k = 0; k < 3; ++k) {
            c[k] = static_cast<float>(CurveInFromPowers(Channel(params_.IceColor, k),
                                                        sea_[k].Apply(power), interval, term));
        }
        return Opaque(c);
    }

  private:
    FixedCurve Land(int k) const {
        return FixedCurve(FixedCurve::Kind::Out, Channel(params_.GroundColorLow, k),
                          Channel(params_.GroundColorHigh, k), g_.s, 255.0, 3.0);
    }
    FixedCurve Sea(int k) const {
        return FixedCurve(FixedCurve::Kind::In, Channel(params_.SeaColorDeep, k),
                          Channel(params_.SeaColorShallow, k), 0.0, g_.s, 1.0);
    }
    const RenderParams& params_;
    GroundLevels g_;
    FixedCurve land_[3];
    FixedCurve sea_[3];
    Extended iceIntervalLog_;
};

// Blends the cloud over one colour-map pixel.
void MixCloudColor(const RenderParams& params, const CloudShade& shade, FloatPixel& pixel,
                   double dens) {
    const FloatPixel cc = shade(dens);
    if (cc.A == 0.0f) return;  // BlendPixelAt leaves the pixel alone
    pixel = BlendPixel(pixel, cc, static_cast<BlendMode>(params.CloudMixtureMode));
}

}  // namespace

void BuildGroundColorMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                         bool mixClouds, RenderContext& ctx) {
    const bool mix = mixClouds && cloud != nullptr;
    const GroundLevels g = DeriveLevels(params, ground.Height);
    const GroundPalette palette(params, g);
    const CloudShade shade(
        params, 1.0L - g.T,
        params.CloudMixtureMode == kMixNorm ? AlphaFrom::Density : AlphaFrom::Uniform);
    std::optional<FloatImage> work = RunRows(
        ground.Width, ground.Height, "ground colour map", ctx, [&](FloatImage& w, int32_t y) {
            const GroundPalette::Row row = palette.RowOf(y);
            const FloatPixel* heights = ground.Row(y);
            FloatPixel* out = w.Row(y);
            for (int32_t x = 0; x < w.Width; ++x) {
                out[x] = palette.Colour(row, heights[x].R);
                if (mix) MixCloudColor(params, shade, out[x], GetPixel(*cloud, x, y, Wrap::Off).R);
            }
        });
    if (!work) return;
    FloatImage* result = FinishMap(params, params.ColorMapImage, *work, "ground colour map", ctx);
    if (!result) return;
    ctx.ReportProgress(*result, "地表・色テクスチャ作成完了");
}

void BuildGroundBumpMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                        bool mixClouds, RenderContext& ctx) {
    const bool mix = mixClouds && cloud != nullptr;
    const GroundLevels g = DeriveLevels(params, ground.Height);
    std::optional<FloatImage> work =
        RunRows(ground.Width, ground.Height, "ground bump map", ctx, [&](FloatImage& w, int32_t y) {
            for (int32_t x = 0; x < w.Width; ++x) {
                const float h = ground.At(x, y).R;
                // The sea is a flat floor at sea level.
                const float v = h >= g.s ? h : g.s;
                FloatPixel p{v, v, v, 255.0f};
                if (mix) {
                    const FloatPixel cp = GetPixel(*cloud, x, y, Wrap::Off);
                    if (cp.R >= 1.0f) {
                        p = {static_cast<float>(static_cast<Extended>(v) + cp.R),
                             static_cast<float>(static_cast<Extended>(v) + cp.G),
                             static_cast<float>(static_cast<Extended>(v) + cp.B), 255.0f};
                    }
                }
                w.At(x, y) = p;
            }
        });
    if (!work) return;
    NormalizeImage(*work, ctx);
    if (WorkIsResult(params, *work)) {
        params.BumpMapImage = std::move(work);
        ctx.ReportProgress(*params.BumpMapImage, "地表・バンプテクスチャ作成完了");
        return;
    }
    FloatImage* result = StoreResult(params, params.BumpMapImage, "ground bump map", ctx);
    if (!result) return;
    ReduceImage(*result, *work, params.OverSampling, ctx);
    ctx.ReportProgress(*work, "地表・バンプテクスチャ作成完了");
}

namespace {

// The specular pixel of height h (sea white, land black), dimmed by the clouds when mixed.
class SpecularPixel {
  public:
    SpecularPixel(const RenderParams& params, int32_t layerHeight, const FloatImage* cloud,
                  bool mixClouds)
        : s_(DeriveLevels(params, layerHeight).s), cloud_(mixClouds ? cloud : nullptr) {}

    FloatPixel operator()(float h, int32_t x, int32_t y) const {
        const float v = h >= s_ ? 0.0f : 255.0f;
        if (cloud_) {
            const FloatPixel cp = GetPixel(*cloud_, x, y, Wrap::Off);
            if (cp.R >= 1.0f) {
                // Clouds dim the sea's reflection but never below black.
                const auto dim = [v](float c) {
                    return static_cast<float>(std::max(0.0L, static_cast<Extended>(v) - c));
                };
                return {dim(cp.R), dim(cp.G), dim(cp.B), 255.0f};
            }
        }
        return {v, v, v, 255.0f};
    }

  private:
    float s_;
    const FloatImage* cloud_;
};

void FinishSpecular(RenderParams& params, std::optional<FloatImage> work, RenderContext& ctx) {
    if (!work) return;
    const bool direct = WorkIsResult(params, *work);
    FloatImage* result =
        FinishMap(params, params.SpecularMapImage, *work, "ground specular map", ctx);
    if (!result) return;
    // The work image is shown; when it became the result they are the same pixels.
    ctx.ReportProgress(direct ? *result : *work, "地表・スペキュラーテクスチャ作成完了");
}

}  // namespace

void BuildGroundSpecularMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                            bool mixClouds, RenderContext& ctx) {
    const SpecularPixel pixel(params, ground.Height, cloud, mixClouds);
    FinishSpecular(params,
                   RunRows(ground.Width, ground.Height, "ground specular map", ctx,
                           [&](FloatImage& w, int32_t y) {
                               const FloatPixel* heights = ground.Row(y);
                               FloatPixel* out = w.Row(y);
                               for (int32_t x = 0; x < w.Width; ++x) {
                                   out[x] = pixel(heights[x].R, x, y);
                               }
                           }),
                   ctx);
}

void BuildGroundSpecularMap(RenderParams& params, FloatImage&& ground, const FloatImage* cloud,
                            bool mixClouds, RenderContext& ctx) {
    const SpecularPixel pixel(params, ground.Height, cloud, mixClouds);
    FinishSpecular(params,
                   RunRowsInPlace(std::move(ground), ctx,
                                  [&](FloatImage& w, int32_t y) {
                                      FloatPixel* row = w.Row(y);
                                      for (int32_t x = 0; x < w.Width; ++x) {
                                          row[x] = pixel(row[x].R, x, y);
                                      }
                                  }),
                   ctx);
}

void ReduceImage(FloatImage& dst, const FloatImage& src, int32_t factor, RenderContext& ctx) {
    if (dst.Width == src.Width && dst.Height == src.Height) {
        CopyImage(dst, src, ctx);
        return;
    }
    // A factor below 1 would average nothing; treat it as a plain copy of the overlap.
    const int64_t f = std::max<int32_t>(factor, 1);
    const Extended area = static_cast<Extended>(f * f);
    const auto mean = [area](float sum) {
        const float m = static_cast<float>(static_cast<Extended>(sum) / area);
        return m > 255.0f ? 255.0f : m;
    };
    // Each destination pixel sums its own block, rows outer, in single precision: the bands
    // change nothing of that order.
    ParallelRows(
        ctx, dst.Height, kBandRows,
        [&](int64_t y0, int64_t y1) {
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                for (int32_t x = 0; x < dst.Width; ++x) {
                    float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;
                    for (int64_t i = 0; i < f; ++i) {
                        const int64_t sy = y * f + i;
                        if (sy >= src.Height) break;  // rows below src add nothing
                        for (int64_t j = 0; j < f; ++j) {
                            const int64_t sx = x * f + j;
                            if (sx >= src.Width) break;
                            const FloatPixel& p =
                                src.At(static_cast<int32_t>(sx), static_cast<int32_t>(sy));
                            r += p.R;
                            g += p.G;
                            b += p.B;
                            a += p.A;
                        }
                    }
                    dst.At(x, y) = {mean(r), mean(g), mean(b), mean(a)};
                }
            }
        },
        [&](int64_t) {
            ctx.ProcessPendingEvents();
            return false;
        });
}

}  // namespace globeforge
