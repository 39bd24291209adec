// What a source image's channels hold. The stretch plans pick their pixel kernels by it, and
// the brush patterns say by it which one plane of values a brush can be read from.
#pragma once

#include <cstdint>

namespace globeforge {

enum class SourceLayout : uint8_t {
    General,  // anything
    Gray,     // R, G and B equal bit for bit in every pixel
    OnlyR,    // G and B are +0, A equals R and is not negative, in every pixel
    OnlyG,    // R and B are +0, A equals G and is not negative
    OnlyB,    // R and G are +0, A equals B and is not negative
};

}  // namespace globeforge
