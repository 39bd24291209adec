#include "globe/srgb.h"

namespace globeforge::globe_detail {

SrgbDecoder::SrgbDecoder() {
    for (int i = 0; i <= kSteps; ++i) {
        const double c = static_cast<double>(i) / kSteps;
        table_[static_cast<size_t>(i)] =
            static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
    }
}

SrgbEncoder::SrgbEncoder() {
    for (int i = 0; i <= kSteps; ++i) {
        // Entries are taken on a square-root scale, which crowds them where sRGB is steep.
        const double s = static_cast<double>(i) / kSteps;
        const double c = s * s;
        const double e = c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
        table_[static_cast<size_t>(i)] =
            static_cast<uint8_t>(std::clamp(std::nearbyint(e * 255.0), 0.0, 255.0));
    }
}

const SrgbDecoder& Decoder() {
    static const SrgbDecoder decoder;
    return decoder;
}
const SrgbEncoder& Encoder() {
    static const SrgbEncoder encoder;
    return encoder;
}

}  // namespace globeforge::globe_detail
