#include "generate/channel_ops.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "core/parallel.h"

namespace globeforge {

namespace {

template <typename Fn>
void ForEachPixel(FloatImage& image, Fn&& fn) {
    FloatPixel* p = image.Data();
    const size_t n = image.PixelCount();
    for (size_t i = 0; i < n; ++i) fn(p[i]);
}

void Invert(FloatPixel& p) {
    p.R = static_cast<float>(255.0L - p.R);
    p.G = static_cast<float>(255.0L - p.G);
    p.B = static_cast<float>(255.0L - p.B);
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
    ForEachPixel(image, Invert);
}

namespace {

// Calls fn(first pixel, pixel count) for the pixels of each band of rows.
template <typename Fn>
void ForEachBand(FloatImage& image, RenderContext& ctx, Fn&& fn) {
    ParallelForBands(ctx, image.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        fn(image.Row(static_cast<int32_t>(y0)), static_cast<size_t>(y1 - y0) * image.Width);
    });
}

}  // namespace

void FillImage(FloatImage& image, const FloatPixel& pixel, RenderContext& ctx) {
    ForEachBand(image, ctx, [&](FloatPixel* p, size_t n) { std::fill_n(p, n, pixel); });
}

std::optional<FloatImage> NewFilledImage(int32_t width, int32_t height, const FloatPixel& fill,
                                         RenderContext& ctx) {
    std::optional<FloatImage> image = ctx.NewImage(width, height);
    if (image) FillImage(*image, fill, ctx);
    return image;
}

void CopyImage(FloatImage& dst, const FloatImage& src, RenderContext& ctx) {
    if (&dst == &src) return;
    if (!ResizeImage(dst, src.Width, src.Height)) return;
    ForEachBand(dst, ctx,
                [&](FloatPixel* p, size_t n) { std::copy_n(src.Data() + (p - dst.Data()), n, p); });
}

void ScaleColor(FloatImage& image, double factor, RenderContext& ctx) {
    const Extended f = factor;
    ForEachBand(image, ctx, [f](FloatPixel* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            p[i].R = static_cast<float>(p[i].R * f);
            p[i].G = static_cast<float>(p[i].G * f);
            p[i].B = static_cast<float>(p[i].B * f);
        }
    });
}

void InvertColor(FloatImage& image, RenderContext& ctx) {
    ForEachBand(image, ctx, [](FloatPixel* p, size_t n) {
        for (size_t i = 0; i < n; ++i) Invert(p[i]);
    });
}

void NormalizeImage(FloatImage& image, RenderContext& ctx) {
    if (image.PixelCount() == 0) return;
    // One pass keeps the first of the lowest (highest) values, comparing with <, starting
    // from the R of pixel (0, 0): a NaN there makes the scale NaN and changes nothing;
    // later NaNs never win. Each band keeps its own first lowest and highest, and merging
    // them in row order with the same comparisons gives the one-pass result.
    const float first = image.Data()[0].R;
    if (first != first) return;
    struct Range {
        bool any = false;
        float lo = 0, hi = 0;
    };
    const size_t bands = static_cast<size_t>((image.Height + kBandRows - 1) / kBandRows);
    std::vector<Range> ranges(bands);
    ParallelForBands(ctx, image.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        Range& range = ranges[static_cast<size_t>(y0 / kBandRows)];
        const FloatPixel* p = image.Row(static_cast<int32_t>(y0));
        const size_t n = static_cast<size_t>(y1 - y0) * image.Width;
        for (size_t i = 0; i < n; ++i) {
            for (const float v : {p[i].R, p[i].G, p[i].B}) {
                if (v != v) continue;
                if (!range.any) {
                    range = {true, v, v};
                    continue;
                }
                if (v < range.lo) range.lo = v;
                if (range.hi < v) range.hi = v;
            }
        }
    });
    float lo = first;
    float hi = first;
    for (const Range& range : ranges) {
        if (!range.any) continue;
        if (range.lo < lo) lo = range.lo;
        if (hi < range.hi) hi = range.hi;
    }
    const double scale = static_cast<double>((static_cast<Extended>(hi) - lo) / 256.0L);
    if (!(scale > 0)) return;
    ForEachBand(image, ctx, [lo, scale](FloatPixel* p, size_t n) {
        const auto normalized = [&](float v) {
            return static_cast<float>((static_cast<Extended>(v) - lo) / scale);
        };
        for (size_t i = 0; i < n; ++i) {
            const uint32_t r = std::bit_cast<uint32_t>(p[i].R);
            // Most layers are gray: equal channels give equal results, worked out once.
            if (r == std::bit_cast<uint32_t>(p[i].G) && r == std::bit_cast<uint32_t>(p[i].B)) {
                p[i].R = p[i].G = p[i].B = normalized(p[i].R);
                continue;
            }
            p[i].R = normalized(p[i].R);
            p[i].G = normalized(p[i].G);
            p[i].B = normalized(p[i].B);
        }
    });
}

}  // namespace globeforge
