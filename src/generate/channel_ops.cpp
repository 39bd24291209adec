#include "generate/channel_ops.h"

namespace globeforge {

namespace {

template <typename Fn>
void ForEachPixel(FloatImage& image, Fn&& fn) {
    FloatPixel* p = image.Data();
    const size_t n = image.PixelCount();
    for (size_t i = 0; i < n; ++i) fn(p[i]);
}

}  // namespace

void FillAlpha(FloatImage& image, Extended value) {
    const float a = static_cast<float>(value);
    ForEachPixel(image, [a](FloatPixel& p) { p.A = a; });
}

void ClipNegative(FloatImage& image) {
    ForEachPixel(image, [](FloatPixel& p) {
        if (p.R < 0.0f) p.R = 0.0f;
        if (p.G < 0.0f) p.G = 0.0f;
        if (p.B < 0.0f) p.B = 0.0f;
    });
}

void ScaleColor(FloatImage& image, double factor) {
    const Extended f = factor;
    ForEachPixel(image, [f](FloatPixel& p) {
        p.R = static_cast<float>(p.R * f);
        p.G = static_cast<float>(p.G * f);
        p.B = static_cast<float>(p.B * f);
    });
}

void InvertColor(FloatImage& image) {
    ForEachPixel(image, [](FloatPixel& p) {
        p.R = static_cast<float>(255.0L - p.R);
        p.G = static_cast<float>(255.0L - p.G);
        p.B = static_cast<float>(255.0L - p.B);
    });
}

}  // namespace globeforge
