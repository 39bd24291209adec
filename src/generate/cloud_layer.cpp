#include "generate/cloud_layer.h"

#include <algorithm>

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

}  // namespace

std::array<StampPass, 4> CloudStampPasses(const RenderParams& params, int32_t layerWidth) {
    const int32_t xWarp = ClampSetting(params.CloudXWarp);
    const int32_t yWarp = ClampSetting(params.CloudYWarp);
    const int32_t baseCount = BaseStampCount(params);
    // Base stamps are drawn from half their size times this: raising CloudXWarp widens
    // them and flattens them at once.
    const double ratio = static_cast<double>((2.0L * yWarp) / (xWarp / 2.0L));
    const double w = layerWidth;
    std::array<StampPass, 4> passes;

    StampPass& base = passes[0];
    base.count = baseCount;
    base.redrawBrush = [baseCount](int32_t i, FloatImage& brush, BrushCache& cache,
                                   RenderContext& ctx) {
        if (i < baseCount * 0.5L) {
            DomePattern(brush, true, true, true, 8, -2.0, cache, ctx);
        } else if (i < baseCount * 0.8L) {
            DomePattern(brush, true, true, true, 6, -2.0, cache, ctx);
        } else {
            RingPattern(brush, true, true, true, 24, 2.0, cache, ctx);
        }
    };
    base.pLat = 2.0;
    base.hemisphere = HemisphereRule::Alternate;
    base.sMax = w / 10;
    base.sMin = 0;
    base.pSize = 4.0;
    base.wEq = [](int32_t size) { return size / 3.0; };
    base.wPole = [](int32_t size) { return 2.0 * size; };
    base.pWide = 2.0;
    base.width = [xWarp](int32_t w0, int32_t) { return Round(w0 * (xWarp / 20.0L + 1.0L)); };
    base.height = [ratio](int32_t, int32_t size) {
        return Round((size / 2) * static_cast<Extended>(ratio));
    };
    base.mode = [](int32_t i) { return i % 2 != 0 ? BlendMode::AddDirect : BlendMode::Add; };
    base.sampling = StampSampling::Nearest;
    base.brushLayout = PatternLayout(true, true, true, 8);

    // Each filter brush takes one real draw for its exponent or bias before the pattern
    // makes its own draws.
    StampPass& filter1 = passes[1] = WarpFilterPass(800, PatternLayout(true, false, false, 12));
    filter1.redrawBrush = [](int32_t, FloatImage& brush, BrushCache& cache, RenderContext& ctx) {
        const double draw = ctx.rng.RandomReal();
        RingPattern(brush, true, false, false, 12, 2 + 3 * draw, cache, ctx);
    };
    filter1.pLat = 2.0;
    filter1.sMax = w / 2;
    filter1.sMin = 0;
    filter1.pSize = 4.0;
    filter1.wEq = [](int32_t size) { return static_cast<double>(size); };
    filter1.wPole = [](int32_t size) { return 12.0 * size; };
    filter1.pWide = 2.0;
    filter1.width = [](int32_t w0, int32_t) { return w0; };
    filter1.height = [](int32_t, int32_t size) { return size; };

    StampPass& filter2 = passes[2] = WarpFilterPass(300, PatternLayout(false, true, false, 12));
    filter2.redrawBrush = [](int32_t, FloatImage& brush, BrushCache& cache, RenderContext& ctx) {
        const double draw = ctx.rng.RandomReal();
        DomePattern(brush, false, true, false, 12, 2 - draw, cache, ctx);
    };
    filter2.pLat = 3.0;
    filter2.sMax = w / 4;
    filter2.sMin = 0;
    filter2.pSize = 4.0;
    filter2.wEq = [](int32_t size) { return size / 2.0; };
    filter2.wPole = [](int32_t size) { return 4.0 * size; };
    filter2.pWide = 3.0;
    filter2.width = [xWarp](int32_t w0, int32_t) { return Round(w0 * (xWarp / 50.0L + 1.0L)); };
    filter2.height = [yWarp](int32_t, int32_t size) {
        return Round((size / 2) * (yWarp / 20.0L + 1.0L));
    };

    StampPass& filter3 = passes[3] = WarpFilterPass(250, PatternLayout(false, false, true, 12));
    filter3.redrawBrush = [](int32_t, FloatImage& brush, BrushCache& cache, RenderContext& ctx) {
        const double draw = ctx.rng.RandomReal();
        RingPattern(brush, false, false, true, 12, 3 - draw, cache, ctx);
    };
    filter3.pLat = 2.0;
    filter3.sMax = w / 6;
    filter3.sMin = 0;
    filter3.pSize = 3.0;
    filter3.wEq = [](int32_t size) { return size / 2.0; };
    filter3.wPole = [](int32_t size) { return 4.0 * size; };
    filter3.pWide = 2.0;
    filter3.width = [xWarp](int32_t w0, int32_t) { return Round(w0 * (xWarp / 40.0L + 1.0L)); };
    filter3.height = [yWarp](int32_t, int32_t size) {
        return Round(size * (yWarp / 30.0L + 1.0L));
    };

    return passes;
}

void GenerateCloudPattern(const RenderParams& params, FloatImage& layer, BrushCache& brushes,
                          RenderContext& ctx) {
    if (!params.WorkImage) {
        ctx.failure = "the cloud generator has no brush image";
        return;
    }
    FloatImage& brush = *params.WorkImage;
    const int32_t w = layer.Width;
    const std::array<StampPass, 4> passes = CloudStampPasses(params, w);

    // No normalisation here: the layer builder normalises the final density.
    if (!RunStampPassOnGray(passes[0], brush, brushes, layer, ctx)) return;
    ctx.ReportProgress(layer, "雲・基本パターン作成終了");

    const LayerWarp warp = {
        {{"雲・歪みフィルタ1作成終了", "雲・歪みフィルタ2作成終了", "雲・歪みフィルタ3作成終了"},
         "雲・歪みフィルタ合成終了",
         "cloud"},
        static_cast<double>(ClampSetting(params.CloudXWarp) / 10.0L),
        static_cast<double>(ClampSetting(params.CloudYWarp) / 20.0L),
        "雲・基本画像作成終了",
        "warped clouds"};
    WarpStampedLayer(passes, brush, brushes, layer, warp, ctx);
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

    std::optional<FloatImage> layer = NewFilledImage(w, h, kOpaqueBlack, ctx);
    if (!layer) {
        ctx.failure = "not enough memory for the cloud layer";
        return std::nullopt;
    }
    if (params.CloudAutoCreate) {
        GenerateCloudPattern(params, *layer, brushes, ctx);
        if (!ctx.failure.empty()) return std::nullopt;
    }
    if (ctx.Aborted()) return std::nullopt;

    NormalizeImage(*layer, ctx);
    if (picture) {
        if (params.CloudAutoCreate) {
            BlendOverPicture(*layer, *picture, params.CloudTransparency, params.CloudMixtureMode);
        }
        layer = std::move(picture);
    }
    if (params.CloudAutoCreate) ctx.ReportProgress(*layer, "雲基本画像作成終了");
    return layer;
}

}  // namespace globeforge
