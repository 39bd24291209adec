// The frame the map builders share: a work image filled row by row with progress and abort
// after every row, the output-sized result image stored in the record, and the cloud colour
// that both the ground colour map and the cloud colour map use.
#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "core/parallel.h"
#include "core/progress.h"
#include "core/render_params.h"
#include "generate/curves.h"
#include "image/float_image.h"
#include "render/ground_maps.h"

namespace globeforge {

// CloudTransparency as a fraction 0..1.
inline double CloudTransparencyFraction(const RenderParams& params) {
    return static_cast<double>(static_cast<Extended>(params.CloudTransparency) / 100.0L);
}

// Where a cloud pixel's alpha comes from: its own density, or one value for the whole map.
enum class AlphaFrom { Density, Uniform };

// 1 - T, an intermediate of the alpha products: extended, where it is exact.
inline Extended CloudOpacityFactor(const RenderParams& params) {
    return 1.0L - CloudTransparencyFraction(params);
}

// The cloud colour of a density: CloudLightColor at 0, CloudDarkColor at 255. The alpha is
// scaled by 1 - T either way.
inline FloatPixel CloudPixel(const RenderParams& params, double dens, Extended oneMinusT,
                             AlphaFrom alphaFrom) {
    const FloatPixel& light = params.CloudLightColor;
    const FloatPixel& dark = params.CloudDarkColor;
    FloatPixel cc;
    cc.R = static_cast<float>(CurveOut(light.R, dark.R, 0.0, 255.0, dens, 2.0));
    cc.G = static_cast<float>(CurveOut(light.G, dark.G, 0.0, 255.0, dens, 2.0));
    cc.B = static_cast<float>(CurveOut(light.B, dark.B, 0.0, 255.0, dens, 2.0));
    double opacity = 255.0;
    if (alphaFrom == AlphaFrom::Density) {
        // Clear sky must be fully transparent, so a Norm blend leaves the pixel alone; the
        // curve's rounding would leave about 1e-14 there, and any alpha above 0 makes Norm
        // scale the pixel by 255/256.
        opacity = dens == 0.0 ? 0.0 : CurveIn(255.0, 0.0, 255.0, 0.0, dens, 4.0);
    }
    cc.A = static_cast<float>(static_cast<Extended>(opacity) * oneMinusT);
    return cc;
}

// CloudPixel for many densities of one map: the same pixels, with the curves' interval
// powers taken once, the colour channels sharing one power term, and the powers bracketed
// (ChainedPower) wherever that decides the floats.
class CloudShade {
  public:
    CloudShade(const RenderParams& params, Extended oneMinusT, AlphaFrom alphaFrom)
        : colour_{Ramp(params.CloudLightColor.R, params.CloudDarkColor.R),
                  Ramp(params.CloudLightColor.G, params.CloudDarkColor.G),
                  Ramp(params.CloudLightColor.B, params.CloudDarkColor.B)},
          opacity_(FixedCurve::Kind::In, 255.0, 0.0, 255.0, 0.0, 4.0),
          oneMinusT_(oneMinusT),
          density_(alphaFrom == AlphaFrom::Density) {}

    FloatPixel operator()(double dens) const {
        const auto colour =
            ChainedPower(colour_[0].PowerBase(dens), colour_[0].Exponent(), [this](double power) {
                return std::array<float, 3>{static_cast<float>(colour_[0].Apply(power)),
                                            static_cast<float>(colour_[1].Apply(power)),
                                            static_cast<float>(colour_[2].Apply(power))};
            });
        float alpha = static_cast<float>(255.0L * oneMinusT_);
        if (density_) {
            alpha = dens == 0.0
                        ? static_cast<float>(0.0L * oneMinusT_)
                        : ChainedPower(opacity_.PowerBase(dens), 4.0, [this](double power) {
                              return static_cast<float>(
                                  static_cast<Extended>(opacity_.Apply(power)) * oneMinusT_);
                          });
        }
        return {colour[0], colour[1], colour[2], alpha};
    }

  private:
    static FixedCurve Ramp(float light, float dark) {
        return FixedCurve(FixedCurve::Kind::Out, light, dark, 0.0, 255.0, 2.0);
    }
    FixedCurve colour_[3];
    FixedCurve opacity_;
    Extended oneMinusT_;
    bool density_;
};

// Builds a width x height work image, first filled with opaque black: row(work, y) fills
// row y and must write nothing else, since bands of rows run on ctx.threads threads. After
// every row, in order, the percentage is set, pending events run and an abort ends the
// pass. Returns nothing after an abort, or when the image cannot be allocated (ctx.failure
// then says so).
template <typename RowFn>
std::optional<FloatImage> RunRows(int32_t width, int32_t height, const char* what,
                                  RenderContext& ctx, RowFn&& row) {
    std::optional<FloatImage> work = ctx.NewImage(width, height);
    if (!work) {
        ctx.failure = std::string("not enough memory for the ") + what;
        return std::nullopt;
    }
    const bool completed = ParallelRows(
        ctx, height, kBandRows,
        [&](int64_t y0, int64_t y1) {
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                std::fill_n(work->Row(y), width, kOpaqueBlack);
                row(*work, y);
            }
        },
        [&](int64_t y) { return ctx.StepDone(y, height); });
    if (!completed) return std::nullopt;
    return work;
}

// RunRows on an image the builder may consume (a layer no later step reads): its memory
// becomes the work image and row(work, y) reads the layer's row y before overwriting it.
// The rows must write every pixel, since nothing is filled first.
template <typename RowFn>
std::optional<FloatImage> RunRowsInPlace(FloatImage&& layer, RenderContext& ctx, RowFn&& row) {
    std::optional<FloatImage> work(std::move(layer));
    const int32_t height = work->Height;
    const bool completed = ParallelRows(
        ctx, height, kBandRows,
        [&](int64_t y0, int64_t y1) {
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) row(*work, y);
        },
        [&](int64_t y) { return ctx.StepDone(y, height); });
    if (!completed) return std::nullopt;
    return work;
}

// True when the builders' work image has the result's size, so the finished work image can
// become the result itself instead of being copied into it.
inline bool WorkIsResult(const RenderParams& params, const FloatImage& work) {
    return work.Width == params.OutputResolutionX && work.Height == params.OutputResolutionY;
}

// Creates the output-sized result in the record's field and returns it, or records the
// memory failure and returns null. Its pixels are left as they come (a spare image's old
// content): every caller reduces the work image into it, which writes each of them.
inline FloatImage* StoreResult(const RenderParams& params, std::optional<FloatImage>& field,
                               const char* what, RenderContext& ctx) {
    std::optional<FloatImage> image =
        ctx.NewImage(params.OutputResolutionX, params.OutputResolutionY);
    if (!image) {
        ctx.failure = std::string("not enough memory for the ") + what;
        return nullptr;
    }
    field = std::move(image);
    return &*field;
}

// Hands the finished work image on as the result when they have one size (oversampling 1:
// the reduction would copy it), else reduces it into a new result. Null after a failure.
inline FloatImage* FinishMap(RenderParams& params, std::optional<FloatImage>& field,
                             FloatImage& work, const char* what, RenderContext& ctx) {
    if (WorkIsResult(params, work)) {
        field = std::move(work);
        return &*field;
    }
    FloatImage* result = StoreResult(params, field, what, ctx);
    if (result) ReduceImage(*result, work, params.OverSampling, ctx);
    return result;
}

}  // namespace globeforge
