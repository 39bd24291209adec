// Colour packing: one colour between its float form (FloatPixel) and the byte forms the
// rest of the world uses: the window's colour value (red in the low byte), the colour word
// (red, green, blue, alpha from the low byte up) and the bitmap pixel (blue, green, red).
// Turning a float channel into a byte is the only place where channels are clamped.
#pragma once

#include <cmath>
#include <cstdint>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "image/float_image.h"

namespace globeforge {

// Three bytes in memory order blue, green, red: one pixel of a 24-bit bitmap row.
struct BgrPixel {
    uint8_t B, G, R;
    friend bool operator==(const BgrPixel&, const BgrPixel&) = default;
};

// Above 255 gives 255; below 0 or NaN gives 0; otherwise rounded, halves to even.
inline uint8_t FloatToByte(float value) {
    if (value > 255.0f) return 255;
    if (!(value >= 0.0f)) return 0;  // also catches NaN
#ifdef __SSE2__
    // cvtss2si rounds in the current mode, as nearbyint does, without a library call.
    return static_cast<uint8_t>(_mm_cvtss_si32(_mm_set_ss(value)));
#else
    return static_cast<uint8_t>(std::nearbyint(value));
#endif
}

// Colour value (red bits 0-7, green 8-15, blue 16-23, the top byte ignored) to an opaque
// pixel.
inline FloatPixel ColorToPixel(uint32_t colorValue) {
    return {static_cast<float>(colorValue & 0xFF), static_cast<float>((colorValue >> 8) & 0xFF),
            static_cast<float>((colorValue >> 16) & 0xFF), 255.0f};
}

// Colour word (red, green, blue, alpha from the low byte up) to a pixel, alpha included.
inline FloatPixel ColorWordToPixel(uint32_t colorWord) {
    return {static_cast<float>(colorWord & 0xFF), static_cast<float>((colorWord >> 8) & 0xFF),
            static_cast<float>((colorWord >> 16) & 0xFF),
            static_cast<float>((colorWord >> 24) & 0xFF)};
}

// R, G and B through FloatToByte. Alpha is rounded without clamping and keeps its low
// 8 bits; nothing downstream reads it, since bitmap pixels carry no alpha.
inline uint32_t PixelToColorWord(const FloatPixel& pixel) {
    const uint32_t alpha = static_cast<uint32_t>(Round(pixel.A)) & 0xFF;
    return uint32_t{FloatToByte(pixel.R)} | (uint32_t{FloatToByte(pixel.G)} << 8) |
           (uint32_t{FloatToByte(pixel.B)} << 16) | (alpha << 24);
}

// Alpha is dropped.
inline BgrPixel PixelToBgr(const FloatPixel& pixel) {
    return {FloatToByte(pixel.B), FloatToByte(pixel.G), FloatToByte(pixel.R)};
}

inline FloatPixel BgrToPixel(const BgrPixel& bgr) {
    return {static_cast<float>(bgr.R), static_cast<float>(bgr.G), static_cast<float>(bgr.B),
            255.0f};
}

}  // namespace globeforge
