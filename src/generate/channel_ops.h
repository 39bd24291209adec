// Whole-image channel operations used between the stamping passes: setting the coverage
// before a blend, clipping, scaling and inverting the colour channels. A is left alone by
// every operation except FillAlpha.
#pragma once

#include <cstdint>

#include "core/progress.h"
#include "exact/extended.h"
#include "image/float_image.h"

namespace globeforge {

inline int32_t IntMax(int32_t a, int32_t b) {
    return a > b ? a : b;
}

// A of every pixel := value; R, G, B unchanged.
void FillAlpha(FloatImage& image, Extended value);

// R, G and B each set to 0 where below 0.
void ClipNegative(FloatImage& image);

// R, G and B multiplied by factor.
void ScaleColor(FloatImage& image, double factor);

// R, G, B := 255 - value.
void InvertColor(FloatImage& image);

// The whole-image operations of the float image in bands of rows on ctx.threads threads,
// with the same results: FillImage, CopyImage, ScaleColor, InvertColor and NormalizeImage
// (whose lowest and highest values are merged band by band in row order, so even a tie
// between +0 and -0 resolves as in one pass).
void FillImage(FloatImage& image, const FloatPixel& pixel, RenderContext& ctx);
std::optional<FloatImage> NewFilledImage(int32_t width, int32_t height, const FloatPixel& fill,
                                         RenderContext& ctx);
void CopyImage(FloatImage& dst, const FloatImage& src, RenderContext& ctx);
void ScaleColor(FloatImage& image, double factor, RenderContext& ctx);
void InvertColor(FloatImage& image, RenderContext& ctx);
void NormalizeImage(FloatImage& image, RenderContext& ctx);

}  // namespace globeforge
