#include "image/float_image.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace globeforge {

namespace {

template <typename SampleFn>
void StretchBlend(const ImageRect& srcRect, FloatImage& dst, const ImageRect& dstRect, Wrap wrap,
                  BlendMode mode, SampleFn&& sample) {
    if (srcRect.W <= 0 || srcRect.H <= 0 || dstRect.W <= 0 || dstRect.H <= 0) return;
    const Extended stepX = static_cast<Extended>(srcRect.W) / dstRect.W;
    const Extended stepY = static_cast<Extended>(srcRect.H) / dstRect.H;
    Extended sy = srcRect.Y;
    const int64_t yEnd = int64_t{dstRect.Y} + dstRect.H;
    const int64_t xEnd = int64_t{dstRect.X} + dstRect.W;
    for (int64_t y = dstRect.Y; y < yEnd; ++y) {
        Extended sx = srcRect.X;
        for (int64_t x = dstRect.X; x < xEnd; ++x) {
            const FloatPixel p = sample(sx, sy, stepX, stepY);
            BlendPixelAt(dst, static_cast<int32_t>(x), static_cast<int32_t>(y), p, wrap, mode);
            sx += stepX;
        }
        sy += stepY;
    }
}

}  // namespace

std::optional<FloatImage> NewImage(int32_t width, int32_t height) {
    return FloatImage::NewGrid<FloatImage>(width, height);
}

std::optional<FloatImage> NewFilledImage(int32_t width, int32_t height, const FloatPixel& fill) {
    auto image = NewImage(width, height);
    if (image) FillImage(*image, fill);
    return image;
}

bool ResizeImage(FloatImage& image, int32_t width, int32_t height) {
    if (width == image.Width && height == image.Height && image.pixels_) return true;
    auto block = NewGridBlock<FloatPixel>(width, height);
    if (!block) return false;
    const int32_t rows = std::min(height, image.Height);
    const int32_t cols = std::min(width, image.Width);
    for (int32_t y = 0; y < rows; ++y) {
        std::copy_n(image.Row(y), cols, block.get() + static_cast<size_t>(y) * width);
    }
    image.pixels_ = std::move(block);
    image.Width = width;
    image.Height = height;
    return true;
}

void CopyImage(FloatImage& dst, const FloatImage& src) {
    if (&dst == &src) return;
    if (!ResizeImage(dst, src.Width, src.Height)) return;
    std::copy_n(src.Data(), src.PixelCount(), dst.Data());
}

void FillImage(FloatImage& image, const FloatPixel& pixel) {
    std::fill_n(image.Data(), image.PixelCount(), pixel);
}

void StretchBlendNearest(const FloatImage& src, const ImageRect& srcRect, FloatImage& dst,
                         const ImageRect& dstRect, Wrap wrap, BlendMode mode) {
    StretchBlend(srcRect, dst, dstRect, wrap, mode,
                 [&](Extended sx, Extended sy, Extended, Extended) {
                     return GetPixel(src, Round(sx), Round(sy), Wrap::Off);
                 });
}

void StretchBlendBilinear(const FloatImage& src, const ImageRect& srcRect, FloatImage& dst,
                          const ImageRect& dstRect, Wrap wrap, BlendMode mode) {
    if (src.PixelCount() == 0) return;
    StretchBlend(srcRect, dst, dstRect, wrap, mode,
                 [&](Extended sx, Extended sy, Extended, Extended) {
                     return SampleBilinear(src, static_cast<double>(sx), static_cast<double>(sy));
                 });
}

void StretchBlendSmooth(const FloatImage& src, const ImageRect& srcRect, FloatImage& dst,
                        const ImageRect& dstRect, Wrap wrap, BlendMode mode) {
    if (src.PixelCount() == 0) return;
    StretchBlend(srcRect, dst, dstRect, wrap, mode,
                 [&](Extended sx, Extended sy, Extended stepX, Extended stepY) {
                     Extended r = 0, g = 0, b = 0, a = 0;
                     for (int i = 0; i < 3; ++i) {
                         for (int j = 0; j < 3; ++j) {
                             const FloatPixel p =
                                 SampleBilinear(src, static_cast<double>(sx + i * stepX / 3.0L),
                                                static_cast<double>(sy + j * stepY / 3.0L));
                             r += p.R;
                             g += p.G;
                             b += p.B;
                             a += p.A;
                         }
                     }
                     return FloatPixel{static_cast<float>(r / 9.0L), static_cast<float>(g / 9.0L),
                                       static_cast<float>(b / 9.0L), static_cast<float>(a / 9.0L)};
                 });
}

void NormalizeImage(FloatImage& image) {
    const size_t n = image.PixelCount();
    if (n == 0) return;
    FloatPixel* p = image.Data();
    float lo = p[0].R;
    float hi = p[0].R;
    for (size_t i = 0; i < n; ++i) {
        lo = std::min({lo, p[i].R, p[i].G, p[i].B});
        hi = std::max({hi, p[i].R, p[i].G, p[i].B});
    }
    const double scale = static_cast<double>((static_cast<Extended>(hi) - lo) / 256.0L);
    if (!(scale > 0)) return;
    for (size_t i = 0; i < n; ++i) {
        p[i].R = static_cast<float>((static_cast<Extended>(p[i].R) - lo) / scale);
        p[i].G = static_cast<float>((static_cast<Extended>(p[i].G) - lo) / scale);
        p[i].B = static_cast<float>((static_cast<Extended>(p[i].B) - lo) / scale);
    }
}

}  // namespace globeforge
