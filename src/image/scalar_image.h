// A single-valued image: one float per pixel, for rasters whose R, G and B always hold the
// same value and whose A is always opaque (the crater stamps and the polar crater image).
// It stands for the FloatImage (v, v, v, 255) and gives the same values bit for bit at a
// quarter of the memory; the operations below are those FloatImage operations restricted to
// such images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "image/float_image.h"

namespace globeforge {

class ScalarImage : public PixelGrid<float> {
  private:
    friend std::optional<ScalarImage> NewScalarImage(int32_t width, int32_t height);
};

// A new image with unspecified content; nullopt when the size is negative, beyond
// kMaxImagePixels or the memory cannot be had.
std::optional<ScalarImage> NewScalarImage(int32_t width, int32_t height);

// The value of every pixel := value.
void FillScalarImage(ScalarImage& image, float value);

// R of every pixel of a FloatImage whose pixels are all (v, v, v, 255); nullopt when the
// memory cannot be had.
std::optional<ScalarImage> ScalarFromGray(const FloatImage& image);

// ScalarFromGray for the rows y0 <= y < y1 of image, into the same rows of out, an image of
// the same size.
void GrayRowsInto(const FloatImage& image, ScalarImage& out, int32_t y0, int32_t y1);

// The FloatImage (v, v, v, 255) that image stands for, at most maxPixels pixels: a larger
// image is shown through every k-th row and column (the smallest k that fits), which is all
// a preview needs. nullopt when the memory cannot be had.
std::optional<FloatImage> GrayForDisplay(const ScalarImage& image, uint64_t maxPixels);

// SampleBilinear of the gray image: the same value bit for bit, since an opaque pixel never
// takes its neighbour's colour.
float SampleBilinear(const ScalarImage& image, double x, double y);

// ScaleColor of the gray image: every value times factor in extended precision.
void ScaleValues(ScalarImage& image, Extended factor);

}  // namespace globeforge
