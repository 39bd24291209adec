#include "generate/cloud_layer.h"

#include <algorithm>
#include <utility>

#include "generate/channel_ops.h"
#include "generate/ground_layer.h"
#include "generate/patterns.h"

namespace globeforge {

namespace {

// The cloud settings are held to the window's ranges 1..100. Values outside can only come
// from a hand-edited settings line: a CloudXWarp of 0 would divide by zero in the stamp
// height ratio, and huge values would make the stamps or their count grow without bound.
int32_t ClampSetting(int32_t value) {
    return std::clamp(value, 1, 100);
}

int32_t BaseStampCount(const RenderParams& params) {
    return 40 * ClampSetting(params.CloudQuantity);
}

using enum PatternShape;

// The warp filters, one a row: count, shape, pattern count, exponent and its change per
// draw, then the StampSizes (pLat, sMax and sMin divisors, pSize, wEq divisor, wPole factor,
// pWide, width and height warp divisors, halved size). Each brush takes one real draw for
// its exponent or bias before the pattern makes its own draws.
constexpr std::array<WarpFilterSpec, 3> kCloudFilters = {{
    {800, Ring, 12, 2.0, 3.0, {2.0, 2, 0, 4.0, 1.0, 12.0, 2.0}},
    {300, Dome, 12, 2.0, -1.0, {3.0, 4, 0, 4.0, 2.0, 4.0, 3.0, 50.0L, 20.0L, true}},
    {250, Ring, 12, 3.0, -1.0, {2.0, 6, 0, 3.0, 2.0, 4.0, 2.0, 40.0L, 30.0L}},
}};

}  // namespace

std::array<StampPass, 4> CloudStampPasses(const RenderParams& params, int32_t layerWidth) {
    const int32_t xWarp = ClampSetting(params.CloudXWarp);
    const int32_t yWarp = ClampSetting(params.CloudYWarp);
    const int32_t baseCount = BaseStampCount(params);
    const double w = layerWidth;

    StampPass base =
        BaseStampPass(baseCount, {baseCount * 0.5L, baseCount * 0.8L, -2.0, -2.0, 24, 2.0},
                      {2.0, 10, 0, 4.0, 3.0, 2.0, 2.0, 20.0L}, w, xWarp, yWarp);
    // Base stamps are drawn from half their size times this: raising CloudXWarp widens
    // them and flattens them at once.
    const double ratio = static_cast<double>((2.0L * yWarp) / (xWarp / 2.0L));
    base.height = [ratio](int32_t, int32_t size) {
        return Round((size / 2) * static_cast<Extended>(ratio));
    };
    return LayerStampPasses(std::move(base), kCloudFilters, w, xWarp, yWarp);
}

void GenerateCloudPattern(const RenderParams& params, FloatImage& layer, BrushCache& brushes,
                          RenderContext& ctx) {
    // No normalisation of the base pattern: the layer builder normalises the final density.
    const StampedLayer stamped = {
        std::nullopt,
        "雲・基本パターン作成終了",
        {{{"雲・歪みフィルタ1作成終了", "雲・歪みフィルタ2作成終了", "雲・歪みフィルタ3作成終了"},
          "雲・歪みフィルタ合成終了",
          "cloud"},
         static_cast<double>(ClampSetting(params.CloudXWarp) / 10.0L),
         static_cast<double>(ClampSetting(params.CloudYWarp) / 20.0L),
         "雲・基本画像作成終了",
         "warped clouds"}};
    GenerateStampedLayer(params, CloudStampPasses(params, layer.Width), layer, brushes, stamped,
                         ctx);
}

std::optional<FloatImage> BuildCloudLayer(const RenderParams& params, BrushCache& brushes,
                                          RenderContext& ctx) {
    const int32_t w = params.OutputResolutionX * params.OverSampling;
    const int32_t h = params.OutputResolutionY * params.OverSampling;

    // Resampled to the layer size, oversampling included, as the ground's picture is.
    std::optional<FloatImage> picture;
    if (!LoadLayerPicture(params.LoadCloudAlpha, w, h, picture, ctx)) return std::nullopt;
    if (picture && params.CloudAlphaReverse) InvertColor(*picture, ctx);
    // No clouds wanted: nothing to build and nothing drawn.
    if (!params.CloudAutoCreate && !picture) return std::nullopt;

    std::optional<FloatImage> layer = NewBlackLayer(w, h, "cloud", ctx);
    if (!layer) return std::nullopt;
    if (params.CloudAutoCreate) {
        GenerateCloudPattern(params, *layer, brushes, ctx);
        if (!ctx.failure.empty()) return std::nullopt;
    }
    if (ctx.Aborted()) return std::nullopt;

    NormalizeImage(*layer, ctx);
    return LayerOverPicture(std::move(layer), std::move(picture), params.CloudAutoCreate,
                            params.CloudTransparency, params.CloudMixtureMode, "雲基本画像作成終了",
                            ctx);
}

}  // namespace globeforge
