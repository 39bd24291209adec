#include "app/preview_image.h"

#include <algorithm>
#include <vector>

#include "image/color_pack.h"

namespace globeforge {

QImage FloatImageToQImage(const FloatImage& image, int maxWidth, int maxHeight) {
    if (image.Width <= 0 || image.Height <= 0 || maxWidth <= 0 || maxHeight <= 0) return {};
    const int w = std::min(image.Width, maxWidth);
    const int h = std::min(image.Height, maxHeight);
    QImage out(w, h, QImage::Format_RGB888);
    if (out.isNull()) return {};

    // Source column of every output column, computed once for all rows.
    std::vector<int32_t> columns(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        columns[static_cast<size_t>(x)] = static_cast<int32_t>(int64_t{x} * image.Width / w);
    }
    for (int y = 0; y < h; ++y) {
        const FloatPixel* src = image.Row(static_cast<int32_t>(int64_t{y} * image.Height / h));
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const FloatPixel& p = src[columns[static_cast<size_t>(x)]];
            dst[3 * x] = FloatToByte(p.R);
            dst[3 * x + 1] = FloatToByte(p.G);
            dst[3 * x + 2] = FloatToByte(p.B);
        }
    }
    return out;
}

}  // namespace globeforge
