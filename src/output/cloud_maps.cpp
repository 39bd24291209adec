#include "output/cloud_maps.h"

#include "generate/curves.h"
#include "output/ground_maps.h"
#include "output/map_frame.h"

namespace globeforge {

namespace {

// R, G and B of every pixel times factor; A untouched.
void ScaleColor(FloatImage& image, double factor) {
    const Extended f = factor;
    FloatPixel* p = image.Data();
    for (size_t i = 0; i < image.PixelCount(); ++i) {
        p[i].R = static_cast<float>(p[i].R * f);
        p[i].G = static_cast<float>(p[i].G * f);
        p[i].B = static_cast<float>(p[i].B * f);
    }
}

// R, G and B of every pixel become 255 - value; A untouched.
void InvertColor(FloatImage& image) {
    FloatPixel* p = image.Data();
    for (size_t i = 0; i < image.PixelCount(); ++i) {
        p[i].R = static_cast<float>(255.0L - p[i].R);
        p[i].G = static_cast<float>(255.0L - p[i].G);
        p[i].B = static_cast<float>(255.0L - p[i].B);
    }
}

}  // namespace

void BuildCloudColorMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx) {
    const double oneMinusT = 1.0 - CloudTransparencyFraction(params);
    // Alpha maps carry the cloud's own opacity; transparency-mapping maps one uniform value.
    const AlphaFrom alphaFrom =
        params.OutputTransparencyMode ? AlphaFrom::Density : AlphaFrom::Uniform;
    std::optional<FloatImage> work = RunRows(
        cloud.Width, cloud.Height, "cloud colour map", ctx, [](int32_t) {},
        [&](FloatImage& w, int32_t x, int32_t y) {
            const FloatPixel cc = CloudPixel(params, cloud.At(x, y).R, oneMinusT, alphaFrom);
            BlendPixelAt(w, x, y, cc, Wrap::Off, BlendMode::Norm);
        });
    if (!work) return;
    FloatImage* result = StoreResult(params, params.CloudColorMapImage, "cloud colour map", ctx);
    if (!result) return;
    ReduceImage(*result, *work, params.OverSampling, ctx);
    ctx.ReportProgress(*work, "雲・色テクスチャ作成完了");
}

void BuildCloudBumpMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx) {
    FloatImage* result = StoreResult(params, params.CloudBumpMapImage, "cloud bump map", ctx);
    if (!result) return;
    ReduceImage(*result, cloud, params.OverSampling, ctx);
    NormalizeImage(*result);
    ctx.ReportProgress(*result, "雲・バンプテクスチャ作成完了");
}

void BuildCloudTransparencyMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx) {
    const double oneMinusT = 1.0 - CloudTransparencyFraction(params);
    std::optional<FloatImage> work = RunRows(
        cloud.Width, cloud.Height, "cloud transparency map", ctx, [](int32_t) {},
        [&](FloatImage& w, int32_t x, int32_t y) {
            // The exponent 10 makes even thin cloud nearly opaque.
            const double dens = cloud.At(x, y).R;
            const float v = static_cast<float>(
                static_cast<Extended>(CurveIn(255.0, 0.0, 255.0, 0.0, dens, 10.0)) * oneMinusT);
            SetPixel(w, x, y, {v, v, v, 255.0f}, Wrap::Off);
        });
    if (!work) return;
    FloatImage* result =
        StoreResult(params, params.CloudTransparencyMapImage, "cloud transparency map", ctx);
    if (!result) return;
    ReduceImage(*result, *work, params.OverSampling, ctx);
    // Normalising stretches the levels to 0..256, cancelling the 1 - T above unless the map
    // is flat; the scaling brings the transparency back.
    NormalizeImage(*result);
    ScaleColor(*result, oneMinusT);
    if (!params.OutputTransparencyMode) InvertColor(*result);
    ctx.ReportProgress(*work, "雲・透明度テクスチャ作成完了");
}

}  // namespace globeforge
