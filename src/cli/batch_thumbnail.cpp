#include "cli/batch_thumbnail.h"

#include <algorithm>
#include <optional>

#include "image/image_files.h"

namespace globeforge {

bool WritePlanetThumbnail(const RenderParams& params, const std::string& path,
                          RenderContext& /*ctx*/, std::string* why) {
    if (!params.ColorMapImage) {
        if (why) *why = "no colour map was built";
        return false;
    }
    // The flat colour map, averaged down into the middle of the square.
    const FloatImage& map = *params.ColorMapImage;
    const int32_t w = kThumbnailSize, h = kThumbnailSize / 2;
    std::optional<FloatImage> out = NewFilledImage(w, kThumbnailSize, {0, 0, 0, 255});
    if (!out) {
        if (why) *why = "out of memory";
        return false;
    }
    for (int32_t y = 0; y < h; ++y) {
        const int32_t y0 = static_cast<int32_t>(int64_t{y} * map.Height / h);
        const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(int64_t{y + 1} * map.Height / h));
        for (int32_t x = 0; x < w; ++x) {
            const int32_t x0 = static_cast<int32_t>(int64_t{x} * map.Width / w);
            const int32_t x1 =
                std::max(x0 + 1, static_cast<int32_t>(int64_t{x + 1} * map.Width / w));
            double r = 0, g = 0, b = 0;
            for (int32_t sy = y0; sy < std::min(y1, map.Height); ++sy) {
                for (int32_t sx = x0; sx < std::min(x1, map.Width); ++sx) {
                    const FloatPixel& p = map.At(sx, sy);
                    r += p.R;
                    g += p.G;
                    b += p.B;
                }
            }
            const double n = static_cast<double>(y1 - y0) * (x1 - x0);
            out->At(x, y + h / 2) = {static_cast<float>(r / n), static_cast<float>(g / n),
                                     static_cast<float>(b / n), 255.0f};
        }
    }
    return SaveImageFile(*out, path, why);
}

}  // namespace globeforge
