// What a source image's channels hold. The stretch plans pick their pixel kernels by it (the
// brushes of the generators are gray, R = G = B, or carry one channel, and a stretch of such
// a source needs one blend computation per pixel instead of three), and the brush patterns
// say by it which one plane of values a brush can be read from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/float_image.h"

namespace globeforge {

// Found once per source by FindSourceLayout.
enum class SourceLayout : uint8_t {
    General,  // anything
    Gray,     // R, G and B equal bit for bit in every pixel
    OnlyR,    // G and B are +0, A equals R and is not negative, in every pixel
    OnlyG,    // R and B are +0, A equals G and is not negative
    OnlyB,    // R and G are +0, A equals B and is not negative
};
SourceLayout FindSourceLayout(const FloatImage& image);

// The same in parts: the set of layouts count pixels satisfy (bit 1 << layout for each),
// which the parts of an image combine with &, and the layout a combined set stands for.
uint32_t SourceLayoutsOf(const FloatPixel* pixels, size_t count);
SourceLayout PickSourceLayout(uint32_t layouts);

}  // namespace globeforge
