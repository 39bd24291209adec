// The globe's sRGB transfer: channels decoded to linear light for shading, and the shaded
// linear light encoded back to bytes, both by tables.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace globeforge::globe_detail {

// sRGB decoding of a 0..255 channel, by table with linear interpolation between entries.
class SrgbDecoder {
  public:
    SrgbDecoder();
    float operator()(float v255) const {
        const float t = std::clamp(v255, 0.0f, 255.0f) * (kSteps / 255.0f);
        const int i = std::min(static_cast<int>(t), kSteps - 1);
        const float f = t - static_cast<float>(i);
        return table_[static_cast<size_t>(i)] +
               (table_[static_cast<size_t>(i) + 1] - table_[static_cast<size_t>(i)]) * f;
    }

  private:
    static constexpr int kSteps = 1024;
    std::array<float, kSteps + 1> table_;
};

// Linear light 0..1 to an sRGB byte, by a table fine enough that the step between entries
// is below a third of a byte everywhere.
class SrgbEncoder {
  public:
    SrgbEncoder();
    uint8_t operator()(float linear) const {
        if (!(linear > 0.0f)) return 0;
        if (linear >= 1.0f) return 255;
        return table_[static_cast<size_t>(std::sqrt(linear) * kSteps + 0.5f)];
    }

  private:
    static constexpr int kSteps = 8192;
    std::array<uint8_t, kSteps + 1> table_;
};

const SrgbDecoder& Decoder();
const SrgbEncoder& Encoder();

}  // namespace globeforge::globe_detail
