#include "image/scalar_image.h"

#include <algorithm>
#include <cassert>
#include <new>

namespace globeforge {

std::optional<ScalarImage> NewScalarImage(int32_t width, int32_t height) {
    return ScalarImage::NewGrid<ScalarImage>(width, height);
}

void FillScalarImage(ScalarImage& image, float value) {
    std::fill_n(image.Data(), image.PixelCount(), value);
}

namespace {
[[maybe_unused]] bool SameValue(float a, float b) {
    return a == b || (a != a && b != b);
}
}  // namespace

void GrayRowsInto(const FloatImage& image, ScalarImage& out, int32_t y0, int32_t y1) {
    assert(out.Width == image.Width && out.Height == image.Height);
    const FloatPixel* p = image.Row(y0);
    float* v = out.Row(y0);
    const size_t n = static_cast<size_t>(y1 - y0) * static_cast<size_t>(image.Width);
    for (size_t i = 0; i < n; ++i) {
        // Gray means R = G = B (NaN included, which hostile parameters can produce) and A = 255.
        assert(SameValue(p[i].G, p[i].R) && SameValue(p[i].B, p[i].R) && p[i].A == 255.0f);
        v[i] = p[i].R;
    }
}

std::optional<ScalarImage> ScalarFromGray(const FloatImage& image) {
    std::optional<ScalarImage> out = NewScalarImage(image.Width, image.Height);
    if (out) GrayRowsInto(image, *out, 0, image.Height);
    return out;
}

std::optional<FloatImage> GrayForDisplay(const ScalarImage& image, uint64_t maxPixels) {
    int64_t step = 1;
    const auto shown = [&](int64_t k) {
        const uint64_t w = static_cast<uint64_t>((image.Width + k - 1) / k);
        const uint64_t h = static_cast<uint64_t>((image.Height + k - 1) / k);
        return w * h;
    };
    while (shown(step) > std::max<uint64_t>(maxPixels, 1)) ++step;
    const int32_t w = static_cast<int32_t>((image.Width + step - 1) / step);
    const int32_t h = static_cast<int32_t>((image.Height + step - 1) / step);
    std::optional<FloatImage> out = NewImage(w, h);
    if (!out) return std::nullopt;
    for (int32_t y = 0; y < h; ++y) {
        const float* src = image.Row(static_cast<int32_t>(y * step));
        FloatPixel* dst = out->Row(y);
        for (int32_t x = 0; x < w; ++x) {
            const float v = src[x * step];
            dst[x] = {v, v, v, 255.0f};
        }
    }
    return out;
}

float SampleBilinear(const ScalarImage& image, double x, double y) {
    const BilinearTap tx = BilinearAxis(x, image.Width);
    const BilinearTap ty = BilinearAxis(y, image.Height);
    const float* row0 = image.Row(ty.i0);
    const float* row1 = image.Row(ty.i1);
    // LerpPixel(a, b, t) = t a + (1 - t) b channel by channel; opaque pixels keep their own
    // colour, so the gray value follows the same arithmetic alone.
    const Extended tx1 = tx.frac;
    const Extended tx0 = 1.0L - tx1;
    const float top = static_cast<float>(tx1 * row0[tx.i1] + tx0 * row0[tx.i0]);
    const float bottom = static_cast<float>(tx1 * row1[tx.i1] + tx0 * row1[tx.i0]);
    const Extended ty1 = ty.frac;
    const Extended ty0 = 1.0L - ty1;
    return static_cast<float>(ty1 * bottom + ty0 * top);
}

void ScaleValues(ScalarImage& image, Extended factor) {
    float* v = image.Data();
    for (size_t i = 0; i < image.PixelCount(); ++i) v[i] = static_cast<float>(v[i] * factor);
}

}  // namespace globeforge
