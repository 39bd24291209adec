#include "output/ground_maps.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "generate/curves.h"
#include "output/map_frame.h"

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

FloatPixel OpaqueColor(const double (&col)[3]) {
    return {static_cast<float>(col[0]), static_cast<float>(col[1]), static_cast<float>(col[2]),
            255.0f};
}

// The snow line of one row: highest on the middle row, at sea level on the top row.
double SnowLine(const GroundLevels& g, int32_t d) {
    // A layer one row high has half = 0, where d / half has no value: that single row gets
    // no snow-line lift (t = 0), so the snow line sits at sea level. The empty-interval
    // result of CurveOut (its end value 1 - I) would instead put it near the top.
    const double t = g.half == 0 ? 0.0 : CurveOut(0.0, 1.0 - g.I, g.half, 0.0, d, 3.0);
    return static_cast<double>(static_cast<Extended>(g.s) + (255.0L - g.s) * t);
}

// The opaque ground colour of height h on a row at distance d from the middle.
FloatPixel GroundColor(const RenderParams& params, const GroundLevels& g, double h, int32_t d,
                       double snowLine) {
    double col[3];
    if (h >= g.s) {
        // With s = 255 the ramp is empty; CurveOut then returns its end colour,
        // GroundColorHigh, which is the colour of the top of the ramp.
        for (int k = 0; k < 3; ++k) {
            col[k] = CurveOut(Channel(params.GroundColorLow, k), Channel(params.GroundColorHigh, k),
                              g.s, 255.0, h, 3.0);
        }
        if (params.IceQuantity > 0 && h > snowLine) {
            // An empty snow ramp (snow line at 255) leaves only heights above 255, which
            // take the ramp's top colour, IceColor; CurveIn's empty-interval result would
            // be the bare ground colour instead.
            const bool emptyRamp = snowLine - 255.0 == 0.0;
            for (int k = 0; k < 3; ++k) {
                const double ice = Channel(params.IceColor, k);
                col[k] = emptyRamp ? ice : CurveIn(ice, col[k], 255.0, snowLine, h, 7.0);
            }
        }
    } else {
        // With s = 0 only negative heights are sea; the empty ramp gives SeaColorShallow.
        for (int k = 0; k < 3; ++k) {
            col[k] = CurveIn(Channel(params.SeaColorDeep, k), Channel(params.SeaColorShallow, k),
                             0.0, g.s, h, 1.0);
        }
        // d never exceeds half, so d > iceRow keeps the ice interval non-empty.
        if (params.IceQuantity > 0 && d > g.iceRow) {
            const double p = static_cast<double>(2.0L + static_cast<Extended>(h) / 64.0L);
            for (int k = 0; k < 3; ++k) {
                col[k] = CurveIn(Channel(params.IceColor, k), col[k], g.half, g.iceRow, d, p);
            }
        }
    }
    return OpaqueColor(col);
}

// Blends the cloud over one colour-map pixel.
void MixCloudColor(const RenderParams& params, FloatImage& work, int32_t x, int32_t y, double dens,
                   double oneMinusT) {
    const FloatPixel cc =
        CloudPixel(params, dens, oneMinusT,
                   params.CloudMixtureMode == kMixNorm ? AlphaFrom::Density : AlphaFrom::Uniform);
    BlendPixelAt(work, x, y, cc, Wrap::Off, static_cast<BlendMode>(params.CloudMixtureMode));
}

}  // namespace

void BuildGroundColorMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                         bool mixClouds, RenderContext& ctx) {
    const bool mix = mixClouds && cloud != nullptr;
    const GroundLevels g = DeriveLevels(params, ground.Height);
    const double oneMinusT = 1.0 - g.T;
    double snowLine = 0.0;
    std::optional<FloatImage> work = RunRows(
        ground.Width, ground.Height, "ground colour map", ctx,
        [&](int32_t y) { snowLine = SnowLine(g, std::abs(y - g.half)); },
        [&](FloatImage& w, int32_t x, int32_t y) {
            const double h = ground.At(x, y).R;
            SetPixel(w, x, y, GroundColor(params, g, h, std::abs(y - g.half), snowLine), Wrap::Off);
            if (mix) MixCloudColor(params, w, x, y, GetPixel(*cloud, x, y, Wrap::Off).R, oneMinusT);
        });
    if (!work) return;
    FloatImage* result = StoreResult(params, params.ColorMapImage, "ground colour map", ctx);
    if (!result) return;
    ReduceImage(*result, *work, params.OverSampling, ctx);
    ctx.ReportProgress(*result, "地表・色テクスチャ作成完了");
}

void BuildGroundBumpMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                        bool mixClouds, RenderContext& ctx) {
    const bool mix = mixClouds && cloud != nullptr;
    const GroundLevels g = DeriveLevels(params, ground.Height);
    std::optional<FloatImage> work = RunRows(
        ground.Width, ground.Height, "ground bump map", ctx, [](int32_t) {},
        [&](FloatImage& w, int32_t x, int32_t y) {
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
            SetPixel(w, x, y, p, Wrap::Off);
        });
    if (!work) return;
    FloatImage* result = StoreResult(params, params.BumpMapImage, "ground bump map", ctx);
    if (!result) return;
    NormalizeImage(*work);
    ReduceImage(*result, *work, params.OverSampling, ctx);
    ctx.ReportProgress(*work, "地表・バンプテクスチャ作成完了");
}

void BuildGroundSpecularMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                            bool mixClouds, RenderContext& ctx) {
    const bool mix = mixClouds && cloud != nullptr;
    const GroundLevels g = DeriveLevels(params, ground.Height);
    std::optional<FloatImage> work = RunRows(
        ground.Width, ground.Height, "ground specular map", ctx, [](int32_t) {},
        [&](FloatImage& w, int32_t x, int32_t y) {
            const float v = ground.At(x, y).R >= g.s ? 0.0f : 255.0f;
            FloatPixel p{v, v, v, 255.0f};
            if (mix) {
                const FloatPixel cp = GetPixel(*cloud, x, y, Wrap::Off);
                if (cp.R >= 1.0f) {
                    // Clouds dim the sea's reflection but never below black.
                    const auto dim = [v](float c) {
                        return static_cast<float>(std::max(0.0L, static_cast<Extended>(v) - c));
                    };
                    p = {dim(cp.R), dim(cp.G), dim(cp.B), 255.0f};
                }
            }
            SetPixel(w, x, y, p, Wrap::Off);
        });
    if (!work) return;
    FloatImage* result = StoreResult(params, params.SpecularMapImage, "ground specular map", ctx);
    if (!result) return;
    ReduceImage(*result, *work, params.OverSampling, ctx);
    ctx.ReportProgress(*work, "地表・スペキュラーテクスチャ作成完了");
}

void ReduceImage(FloatImage& dst, const FloatImage& src, int32_t factor, RenderContext& ctx) {
    if (dst.Width == src.Width && dst.Height == src.Height) {
        CopyImage(dst, src);
        return;
    }
    // A factor below 1 would average nothing; treat it as a plain copy of the overlap.
    const int64_t f = std::max<int32_t>(factor, 1);
    const Extended area = static_cast<Extended>(f * f);
    const auto mean = [area](float sum) {
        const float m = static_cast<float>(static_cast<Extended>(sum) / area);
        return m > 255.0f ? 255.0f : m;
    };
    for (int32_t y = 0; y < dst.Height; ++y) {
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
        ctx.ProcessPendingEvents();
    }
}

}  // namespace globeforge
