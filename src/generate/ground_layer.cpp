#include "generate/ground_layer.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

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

}  // namespace

std::array<StampPass, 4> GroundStampPasses(const RenderParams& params, int32_t layerWidth) {
    const int32_t xWarp = ClampWarp(params.GroundXWarp);
    const int32_t yWarp = ClampWarp(params.GroundYWarp);
    const double w = layerWidth;
    std::array<StampPass, 4> passes;

    StampPass& base = passes[0];
    base.count = kBaseStamps;
    base.redrawBrush = [](int32_t i, FloatImage& brush, BrushCache& cache, RenderContext& ctx) {
        if (i < 1200) {
            DomePattern(brush, true, true, true, 8, 4.0, cache, ctx);
        } else if (i < 2000) {
            DomePattern(brush, true, true, true, 6, -4.0, cache, ctx);
        } else {
            RingPattern(brush, true, true, true, 14, 4.0, cache, ctx);
        }
    };
    base.pLat = 3.0;
    base.hemisphere = HemisphereRule::Alternate;
    base.sMax = w / 2;
    base.sMin = 0;
    base.pSize = 3.0;
    base.wEq = [](int32_t size) { return size / 8.0; };
    base.wPole = [](int32_t size) { return static_cast<double>(size); };
    base.pWide = 1.5;
    base.width = [xWarp](int32_t w0, int32_t) { return Round(w0 * (xWarp / 50.0L + 1.0L)); };
    base.height = [yWarp](int32_t, int32_t size) { return Round(size * (yWarp / 100.0L + 1.0L)); };
    // Stamps below the middle row add their value directly, those above weighted by their
    // own coverage, so the hemispheres differ in character.
    base.mode = [](int32_t i) { return i % 2 != 0 ? BlendMode::AddDirect : BlendMode::Add; };
    base.sampling = StampSampling::Nearest;
    base.brushLayout = PatternLayout(true, true, true, 8);

    StampPass& filter1 = passes[1] =
        WarpFilterPass(kBaseStamps / 4, PatternLayout(true, false, false, 16));
    filter1.redrawBrush = [](int32_t, FloatImage& brush, BrushCache& cache, RenderContext& ctx) {
        RingPattern(brush, true, false, false, 16, 2.0, cache, ctx);
    };
    filter1.pLat = 2.0;
    filter1.sMax = w / 2;
    filter1.sMin = w / 80;
    filter1.pSize = 2.0;
    filter1.wEq = [](int32_t size) { return size / 4.0; };
    filter1.wPole = [](int32_t size) { return static_cast<double>(size); };
    filter1.pWide = 2.0;
    filter1.width = [](int32_t w0, int32_t) { return w0; };
    filter1.height = [](int32_t, int32_t size) { return size; };
    // The first filter only adds, so its channel of the warp map is never negative.
    filter1.mode = [](int32_t i) { return i % 4 <= 1 ? BlendMode::Add : BlendMode::AddDirect; };

    StampPass& filter2 = passes[2] =
        WarpFilterPass(kBaseStamps / 40, PatternLayout(false, true, false, 16));
    filter2.redrawBrush = [](int32_t, FloatImage& brush, BrushCache& cache, RenderContext& ctx) {
        RingPattern(brush, false, true, false, 16, 2.0, cache, ctx);
    };
    filter2.pLat = 2.0;
    filter2.sMax = w / 2;
    filter2.sMin = 0;
    filter2.pSize = 2.0;
    filter2.wEq = [](int32_t size) { return size / 2.0; };
    filter2.wPole = [](int32_t size) { return 3.0 * size; };
    filter2.pWide = 2.0;
    filter2.width = [xWarp](int32_t w0, int32_t) { return Round(w0 * (xWarp / 50.0L + 1.0L)); };
    filter2.height = [yWarp](int32_t, int32_t size) {
        return Round(size * (yWarp / 10.0L + 1.0L));
    };

    StampPass& filter3 = passes[3] =
        WarpFilterPass(kBaseStamps / 40, PatternLayout(false, false, true, 16));
    filter3.redrawBrush = [](int32_t, FloatImage& brush, BrushCache& cache, RenderContext& ctx) {
        RingPattern(brush, false, false, true, 16, 2.0, cache, ctx);
    };
    filter3.pLat = 2.0;
    filter3.sMax = w / 1.5;
    filter3.sMin = 0;
    filter3.pSize = 2.5;
    filter3.wEq = [](int32_t size) { return size / 2.0; };
    filter3.wPole = [](int32_t size) { return static_cast<double>(size); };
    filter3.pWide = 2.0;
    filter3.width = [xWarp](int32_t w0, int32_t) { return Round(w0 * (xWarp / 5.0L + 1.0L)); };
    filter3.height = [yWarp](int32_t, int32_t size) {
        return Round(size * (yWarp / 100.0L + 1.0L));
    };

    return passes;
}

void GenerateGroundHeightmap(const RenderParams& params, FloatImage& layer, BrushCache& brushes,
                             RenderContext& ctx) {
    if (!params.WorkImage) {
        ctx.failure = "the ground generator has no brush image";
        return;
    }
    FloatImage& brush = *params.WorkImage;
    const int32_t w = layer.Width;
    const std::array<StampPass, 4> passes = GroundStampPasses(params, w);

    if (!RunStampPassOnGray(passes[0], brush, brushes, layer, ctx)) return;
    NormalizeImage(layer, ctx);
    ScaleColor(layer, static_cast<double>(params.GroundContr / 100.0L), ctx);
    ctx.ReportProgress(layer, "地表ハイトマップ・表面基本パターン作成終了");

    const LayerWarp warp = {
        {{"地表ハイトマップ・歪みフィルタ1作成終了", "地表ハイトマップ・歪みフィルタ2作成終了",
          "地表ハイトマップ・歪みフィルタ3作成終了"},
         "地表ハイトマップ・歪みフィルタ合成終了",
         "ground"},
        static_cast<double>(ClampWarp(params.GroundXWarp)),
        ClampWarp(params.GroundYWarp) / 2.0,
        "地表ハイトマップ・表面画像作成終了",
        "warped ground"};
    WarpStampedLayer(passes, brush, brushes, layer, warp, ctx);
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

std::optional<FloatImage> BuildGroundLayer(const RenderParams& params, BrushCache& brushes,
                                           bool sparesOutliveCraters, RenderContext& ctx) {
    const int32_t w = params.OutputResolutionX * params.OverSampling;
    const int32_t h = params.OutputResolutionY * params.OverSampling;

    // The picture is resampled to the layer size, oversampling included, so that the
    // generated relief is blended over all of it and the layer keeps one size whatever its
    // source.
    std::optional<FloatImage> picture;
    if (!LoadLayerPicture(params.LoadHeightmap, w, h, picture, ctx)) return std::nullopt;

    std::optional<FloatImage> layer = NewFilledImage(w, h, kOpaqueBlack, ctx);
    if (!layer) {
        ctx.failure = "not enough memory for the ground layer";
        return std::nullopt;
    }

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

    if (picture) {
        if (params.GroundAutoCreate) {
            BlendOverPicture(*layer, *picture, params.GroundTransparency, params.GroundMixtureMode);
        }
        layer = std::move(picture);
    }
    if (params.GroundAutoCreate) ctx.ReportProgress(*layer, "地表ハイトマップ画像作成終了");
    return layer;
}

}  // namespace globeforge
