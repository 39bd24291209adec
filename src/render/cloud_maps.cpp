#include "render/cloud_maps.h"

#include "generate/channel_ops.h"
#include "generate/curves.h"
#include "render/ground_maps.h"
#include "render/map_frame.h"

namespace globeforge {

void BuildCloudColorMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx) {
    const Extended oneMinusT = CloudOpacityFactor(params);
    // Alpha maps carry the cloud's own opacity; transparency-mapping maps one uniform value.
    const CloudShade shade(params, oneMinusT,
                           params.OutputTransparencyMode ? AlphaFrom::Density : AlphaFrom::Uniform);
    std::optional<FloatImage> work =
        RunRows(cloud.Width, cloud.Height, "cloud colour map", ctx, [&](FloatImage& w, int32_t y) {
            const FloatPixel* density = cloud.Row(y);
            FloatPixel* out = w.Row(y);
            for (int32_t x = 0; x < w.Width; ++x) {
                const FloatPixel cc = shade(density[x].R);
                if (cc.A != 0.0f) out[x] = BlendPixel(out[x], cc, BlendMode::Norm);
            }
        });
    if (!work) return;
    const bool direct = WorkIsResult(params, *work);
    FloatImage* result =
        FinishMap(params, params.CloudColorMapImage, *work, "cloud colour map", ctx);
    if (!result) return;
    ctx.ReportProgress(direct ? *result : *work, "雲・色テクスチャ作成完了");
}

void BuildCloudBumpMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx) {
    FloatImage* result = StoreResult(params, params.CloudBumpMapImage, "cloud bump map", ctx);
    if (!result) return;
    ReduceImage(*result, cloud, params.OverSampling, ctx);
    NormalizeImage(*result, ctx);
    ctx.ReportProgress(*result, "雲・バンプテクスチャ作成完了");
}

namespace {

// The transparency of a density: 255 (1 - (|255 - dens| / 255)^10) (1 - T). The exponent 10
// makes even thin cloud nearly opaque.
class TransparencyPixel {
  public:
    explicit TransparencyPixel(Extended oneMinusT)
        : opacity_(FixedCurve::Kind::In, 255.0, 0.0, 255.0, 0.0, 10.0),
          oneMinusT_(oneMinusT),
          clear_(Value(0.0)) {}
    FloatPixel operator()(double dens) const {
        // Clear sky, the commonest density, is the one the double bracket can never decide
        // (the curve's two terms cancel there): its value is worked out once.
        const float v = dens == 0.0 ? clear_ : Value(dens);
        return {v, v, v, 255.0f};
    }

  private:
    float Value(double dens) const {
        return ChainedPower(opacity_.PowerBase(dens), 10.0, [this](double power) {
            return static_cast<float>(static_cast<Extended>(opacity_.Apply(power)) * oneMinusT_);
        });
    }

    FixedCurve opacity_;
    Extended oneMinusT_;
    float clear_;  // the value of density 0 (or -0: the same base)
};

void FinishTransparency(RenderParams& params, std::optional<FloatImage> work, Extended oneMinusT,
                        RenderContext& ctx) {
    if (!work) return;
    // Normalising stretches the levels to 0..256, cancelling the 1 - T above unless the map
    // is flat; the scaling brings the transparency back.
    const auto finish = [&](FloatImage& map) {
        NormalizeImage(map, ctx);
        ScaleColor(map, static_cast<double>(oneMinusT), ctx);
        if (!params.OutputTransparencyMode) InvertColor(map, ctx);
    };
    if (WorkIsResult(params, *work)) {
        // The work image is what is shown; shown first, it then becomes the map itself.
        ctx.ReportProgress(*work, "雲・透明度テクスチャ作成完了");
        finish(*work);
        params.CloudTransparencyMapImage = std::move(work);
        return;
    }
    FloatImage* result =
        StoreResult(params, params.CloudTransparencyMapImage, "cloud transparency map", ctx);
    if (!result) return;
    ReduceImage(*result, *work, params.OverSampling, ctx);
    finish(*result);
    ctx.ReportProgress(*work, "雲・透明度テクスチャ作成完了");
}

}  // namespace

void BuildCloudTransparencyMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx) {
    const Extended oneMinusT = CloudOpacityFactor(params);
    const TransparencyPixel pixel(oneMinusT);
    FinishTransparency(params,
                       RunRows(cloud.Width, cloud.Height, "cloud transparency map", ctx,
                               [&](FloatImage& w, int32_t y) {
                                   const FloatPixel* density = cloud.Row(y);
                                   FloatPixel* out = w.Row(y);
                                   for (int32_t x = 0; x < w.Width; ++x)
                                       out[x] = pixel(density[x].R);
                               }),
                       oneMinusT, ctx);
}

void BuildCloudTransparencyMap(RenderParams& params, FloatImage&& cloud, RenderContext& ctx) {
    const Extended oneMinusT = CloudOpacityFactor(params);
    const TransparencyPixel pixel(oneMinusT);
    FinishTransparency(params,
                       RunRowsInPlace(std::move(cloud), ctx,
                                      [&](FloatImage& w, int32_t y) {
                                          FloatPixel* row = w.Row(y);
                                          for (int32_t x = 0; x < w.Width; ++x)
                                              row[x] = pixel(row[x].R);
                                      }),
                       oneMinusT, ctx);
}

}  // namespace globeforge
