#include "generate/ground_layer.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "generate/channel_ops.h"
#include "generate/craters.h"
#include "generate/patterns.h"
#include "image/image_files.h"

namespace globeforge {

namespace {

constexpr int32_t kBaseStamps = 2400;

// The window's range for the warp strengths. Larger values (possible from a settings line
// typed by hand) grow every filter stamp without bound and would keep a render busy for
// hours, so the generator holds them to what the window can produce.
int32_t ClampWarp(int32_t value) {
    return std::clamp(value, 1, 100);
}

using enum PatternShape;

// The warp filters, one a row: count, shape, pattern count, exponent and its change per
// draw, the StampSizes (pLat, sMax and sMin divisors, pSize, wEq divisor, wPole factor,
// pWide, width and height warp divisors), add only. The first only adds, so its channel of
// the warp map is never negative.
constexpr std::array<WarpFilterSpec, 3> kGroundFilters = {{
    {kBaseStamps / 4, Ring, 16, 2.0, 0, {2.0, 2, 80, 2.0, 4.0, 1.0, 2.0}, true},
    {kBaseStamps / 40, Ring, 16, 2.0, 0, {2.0, 2, 0, 2.0, 2.0, 3.0, 2.0, 50.0L, 10.0L}},
    {kBaseStamps / 40, Ring, 16, 2.0, 0, {2.0, 1.5, 0, 2.5, 2.0, 1.0, 2.0, 5.0L, 100.0L}},
}};

}  // namespace

std::array<StampPass, 4> GroundStampPasses(const RenderParams& params, int32_t layerWidth) {
    const int32_t xWarp = ClampWarp(params.GroundXWarp);
    const int32_t yWarp = ClampWarp(params.GroundYWarp);
    const double w = layerWidth;

    StampPass base = BaseStampPass(kBaseStamps, {1200, 2000, 4.0, -4.0, 14, 4.0},
                                   {3.0, 2, 0, 3.0, 8.0, 1.0, 1.5, 50.0L, 100.0L}, w, xWarp, yWarp);
    return LayerStampPasses(std::move(base), kGroundFilters, w, xWarp, yWarp);
}

void GenerateGroundHeightmap(const RenderParams& params, FloatImage& layer, BrushCache& brushes,
                             RenderContext& ctx) {
    const StampedLayer stamped = {
        static_cast<double>(params.GroundContr / 100.0L),
        "地表ハイトマップ・表面基本パターン作成終了",
        {{{"地表ハイトマップ・歪みフィルタ1作成終了", "地表ハイトマップ・歪みフィルタ2作成終了",
           "地表ハイトマップ・歪みフィルタ3作成終了"},
          "地表ハイトマップ・歪みフィルタ合成終了",
          "ground"},
         static_cast<double>(ClampWarp(params.GroundXWarp)),
         ClampWarp(params.GroundYWarp) / 2.0,
         "地表ハイトマップ・表面画像作成終了",
         "warped ground"}};
    GenerateStampedLayer(params, GroundStampPasses(params, layer.Width), layer, brushes, stamped,
                         ctx);
}

std::optional<FloatImage> NewBlackLayer(int32_t width, int32_t height, const char* name,
                                        RenderContext& ctx) {
    std::optional<FloatImage> layer = NewFilledImage(width, height, kOpaqueBlack, ctx);
    if (!layer) ctx.failure = std::string("not enough memory for the ") + name + " layer";
    return layer;
}

bool LoadLayerPicture(const std::string& fileName, int32_t width, int32_t height,
                      std::optional<FloatImage>& picture, RenderContext& ctx) {
    picture.reset();
    if (fileName.empty()) return true;
    std::error_code error;
    if (!std::filesystem::exists(fileName, error)) return true;
    // The picture and its decoding need blocks of other sizes.
    ctx.ReleaseSpares();
    std::optional<FloatImage> loaded = NewImage(0, 0);
    if (!loaded) {
        ctx.failure = "not enough memory to load " + fileName;
        return false;
    }
    // An unreadable file counts as no file, without a message.
    if (!LoadImageFile(*loaded, fileName)) return true;
    std::optional<FloatImage> resampled = NewFilledImage(width, height, kOpaqueBlack);
    if (!resampled) {
        ctx.failure = "not enough memory to resample " + fileName;
        return false;
    }
    StretchBlendSmooth(*loaded, {0, 0, loaded->Width, loaded->Height}, *resampled,
                       {0, 0, width, height}, Wrap::Off, BlendMode::Norm);
    picture = std::move(resampled);
    return true;
}

void BlendOverPicture(FloatImage& layer, FloatImage& picture, int32_t transparency,
                      int32_t mixtureMode) {
    FillAlpha(layer, 255.0L - transparency / 100.0L * 255.0L);
    const ImageRect whole{0, 0, picture.Width, picture.Height};
    StretchBlendNearest(layer, whole, picture, whole, Wrap::Off,
                        static_cast<BlendMode>(mixtureMode));
}

std::optional<FloatImage> LayerOverPicture(std::optional<FloatImage> layer,
                                           std::optional<FloatImage> picture, bool generated,
                                           int32_t transparency, int32_t mixtureMode,
                                           const char* doneMessage, RenderContext& ctx) {
    if (picture) {
        if (generated) BlendOverPicture(*layer, *picture, transparency, mixtureMode);
        layer = std::move(picture);
    }
    if (generated) ctx.ReportProgress(*layer, doneMessage);
    return layer;
}

std::optional<FloatImage> BuildGroundLayer(const RenderParams& params, BrushCache& brushes,
                                           bool sparesOutliveCraters, RenderContext& ctx) {
    const int32_t w = params.OutputResolutionX * params.OverSampling;
    const int32_t h = params.OutputResolutionY * params.OverSampling;

    // The picture is resampled to the layer size, oversampling included, so that the
    // generated relief is blended over all of it and the layer keeps one size whatever its
    // source.
    std::optional<FloatImage> picture;
    if (!LoadLayerPicture(params.LoadHeightmap, w, h, picture, ctx)) return std::nullopt;

    std::optional<FloatImage> layer = NewBlackLayer(w, h, "ground", ctx);
    if (!layer) return std::nullopt;

    if (params.GroundAutoCreate) {
        GenerateGroundHeightmap(params, *layer, brushes, ctx);
        if (!ctx.failure.empty()) return std::nullopt;
        // After an abort the layer is discarded, so the craters are not started.
        if (params.NumberOfCraters > 0 && !ctx.Aborted()) {
            // The craters' images have other sizes.
            if (!sparesOutliveCraters) ctx.ReleaseSpares();
            PlaceCraters(params, *layer, ctx);
            if (!ctx.failure.empty()) return std::nullopt;
            NormalizeImage(*layer, ctx);
        }
    }
    if (ctx.Aborted()) return std::nullopt;

    return LayerOverPicture(std::move(layer), std::move(picture), params.GroundAutoCreate,
                            params.GroundTransparency, params.GroundMixtureMode,
                            "地表ハイトマップ画像作成終了", ctx);
}

}  // namespace globeforge
