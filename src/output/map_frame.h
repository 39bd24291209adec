// The frame the map builders share: a work image filled row by row with progress and abort
// after every row, the output-sized result image stored in the record, and the cloud colour
// that both the ground colour map and the cloud colour map use.
#pragma once

#include <optional>
#include <string>

#include "generate/curves.h"
#include "image/float_image.h"
#include "render/progress.h"
#include "render/render_params.h"

namespace globeforge {

// CloudTransparency as a fraction 0..1.
inline double CloudTransparencyFraction(const RenderParams& params) {
    return static_cast<double>(static_cast<Extended>(params.CloudTransparency) / 100.0L);
}

// Where a cloud pixel's alpha comes from: its own density, or one value for the whole map.
enum class AlphaFrom { Density, Uniform };

// The cloud colour of a density: CloudLightColor at 0, CloudDarkColor at 255. The alpha is
// scaled by 1 - T either way.
inline FloatPixel CloudPixel(const RenderParams& params, double dens, double oneMinusT,
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

// Builds a width x height work image, first filled with opaque black: rowStart(y) runs before
// each row, pixel(work, x, y) for each pixel. After every row the percentage is set, pending
// events run and an abort ends the pass. Returns nothing after an abort, or when the image
// cannot be allocated (ctx.failure then says so).
template <typename RowStart, typename PixelFn>
std::optional<FloatImage> RunRows(int32_t width, int32_t height, const char* what,
                                  RenderContext& ctx, RowStart&& rowStart, PixelFn&& pixel) {
    std::optional<FloatImage> work = NewFilledImage(width, height, kOpaqueBlack);
    if (!work) {
        ctx.failure = std::string("not enough memory for the ") + what;
        return std::nullopt;
    }
    for (int32_t y = 0; y < height; ++y) {
        rowStart(y);
        for (int32_t x = 0; x < width; ++x) pixel(*work, x, y);
        if (ctx.StepDone(y, height)) return std::nullopt;
    }
    return work;
}

// Creates the output-sized result (opaque black) in the record's field and returns it, or
// records the memory failure and returns null.
inline FloatImage* StoreResult(const RenderParams& params, std::optional<FloatImage>& field,
                               const char* what, RenderContext& ctx) {
    std::optional<FloatImage> image =
        NewFilledImage(params.OutputResolutionX, params.OutputResolutionY, kOpaqueBlack);
    if (!image) {
        ctx.failure = std::string("not enough memory for the ") + what;
        return nullptr;
    }
    field = std::move(image);
    return &*field;
}

}  // namespace globeforge
