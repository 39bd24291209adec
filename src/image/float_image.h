// The floating-point RGBA image on which every stage of a render works: layers, brushes,
// warp maps, crater stamps and texture maps before they become files. Channels are on a
// 0..255 scale and are stored unclamped; only the conversion to bytes clamps them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "exact/extended.h"
#include "exact/lerp_extended.h"
#include "image/pixel_grid.h"

namespace globeforge {

// R, G, B, A as 32-bit floats. A single-valued layer (height, cloud density) keeps its
// value in R. A plain aggregate, so a new pixel block is not zero-filled for nothing.
struct FloatPixel {
    float R, G, B, A;
    friend bool operator==(const FloatPixel&, const FloatPixel&) = default;
};

inline constexpr FloatPixel kOpaqueBlack{0.0f, 0.0f, 0.0f, 255.0f};
inline constexpr FloatPixel kTransparentBlack{0.0f, 0.0f, 0.0f, 0.0f};

// Source and destination areas of the stretch operations: left column, top row, size.
struct ImageRect {
    int32_t X, Y, W, H;
};

// The numbers 0, 1 and 2 are the values of the mixture-mode settings, which are passed
// to the blends unchanged. 3 is not a mode.
enum class BlendMode : uint8_t { Add = 0, Sub = 1, Norm = 2, AddDirect = 4, SubDirect = 5 };

// Outside the image, Wrap::Off reads transparent black and drops writes; Wrap::On reduces
// both coordinates modulo the size.
enum class Wrap : bool { Off = false, On = true };

// An RGBA image; copies are made explicitly with CopyImage.
class FloatImage : public PixelGrid<FloatPixel> {
  private:
    friend std::optional<FloatImage> NewImage(int32_t width, int32_t height);
    friend bool ResizeImage(FloatImage& image, int32_t width, int32_t height);
};

// A new image with unspecified content; nullopt when the size is negative, too large or
// the memory cannot be had.
std::optional<FloatImage> NewImage(int32_t width, int32_t height);
// A new image filled with one pixel.
std::optional<FloatImage> NewFilledImage(int32_t width, int32_t height, const FloatPixel& fill);

// Gives the image a block of the new size keeping the overlapping top-left area. False,
// with the image unchanged, when memory cannot be had.
bool ResizeImage(FloatImage& image, int32_t width, int32_t height);
// dst becomes an exact copy of src; unchanged when dst cannot be resized.
void CopyImage(FloatImage& dst, const FloatImage& src);
void FillImage(FloatImage& image, const FloatPixel& pixel);

// Remainder of truncating division with the modulus added when negative.
inline int32_t WrapCoordinate(int32_t v, int32_t n) {
    int32_t r = v % n;
    return r < 0 ? r + n : r;
}

inline bool IsInside(const FloatImage& image, int32_t x, int32_t y) {
    return x >= 0 && y >= 0 && x < image.Width && y < image.Height;
}

inline FloatPixel GetPixel(const FloatImage& image, int32_t x, int32_t y, Wrap wrap) {
    if (!IsInside(image, x, y)) {
        if (wrap == Wrap::Off) return kTransparentBlack;
        x = WrapCoordinate(x, image.Width);
        y = WrapCoordinate(y, image.Height);
    }
    return image.At(x, y);
}

inline void SetPixel(FloatImage& image, int32_t x, int32_t y, const FloatPixel& pixel, Wrap wrap) {
    if (!IsInside(image, x, y)) {
        if (wrap == Wrap::Off) return;
        x = WrapCoordinate(x, image.Width);
        y = WrapCoordinate(y, image.Height);
    }
    image.At(x, y) = pixel;
}

// The blend formulas, computed in extended precision and stored as floats. Norm divides
// by 256, so an opaque source gives 255/256 of its colour; every mode but Norm takes the
// source's alpha. Any other mode value returns d unchanged.
inline FloatPixel BlendPixel(const FloatPixel& d, const FloatPixel& s, BlendMode mode) {
    const Extended sa = s.A;
    switch (mode) {
        case BlendMode::Add:
            return {static_cast<float>(d.R + sa * s.R / 255.0L),
                    static_cast<float>(d.G + sa * s.G / 255.0L),
                    static_cast<float>(d.B + sa * s.B / 255.0L), s.A};
        case BlendMode::Sub:
            return {static_cast<float>(d.R - sa * s.R / 255.0L),
                    static_cast<float>(d.G - sa * s.G / 255.0L),
                    static_cast<float>(d.B - sa * s.B / 255.0L), s.A};
        case BlendMode::Norm: {
            const Extended inv = 255.0L - sa;
            const Extended a = 255.0L * (1.0L - (1.0L - d.A / 255.0L) * (1.0L - sa / 255.0L));
            return {static_cast<float>((d.R * inv + s.R * sa) / 256.0L),
                    static_cast<float>((d.G * inv + s.G * sa) / 256.0L),
                    static_cast<float>((d.B * inv + s.B * sa) / 256.0L), static_cast<float>(a)};
        }
        case BlendMode::AddDirect:
            return {static_cast<float>(static_cast<Extended>(d.R) + s.R),
                    static_cast<float>(static_cast<Extended>(d.G) + s.G),
                    static_cast<float>(static_cast<Extended>(d.B) + s.B), s.A};
        case BlendMode::SubDirect:
            return {static_cast<float>(static_cast<Extended>(d.R) - s.R),
                    static_cast<float>(static_cast<Extended>(d.G) - s.G),
                    static_cast<float>(static_cast<Extended>(d.B) - s.B), s.A};
    }
    return d;
}

// A source alpha of exactly 0 changes nothing, whatever the mode.
inline void BlendPixelAt(FloatImage& image, int32_t x, int32_t y, const FloatPixel& pixel,
                         Wrap wrap, BlendMode mode) {
    if (pixel.A == 0.0f) return;
    if (!IsInside(image, x, y)) {
        if (wrap == Wrap::Off) return;
        x = WrapCoordinate(x, image.Width);
        y = WrapCoordinate(y, image.Height);
    }
    FloatPixel& d = image.At(x, y);
    d = BlendPixel(d, pixel, mode);
}

// A transparent pixel of a pair to be mixed takes the other's colour (keeping its own
// transparency), so transparent black does not darken the mix.
inline void BorrowColours(FloatPixel& a, FloatPixel& b) {
    if (a.A == 0.0f) {
        a.R = b.R;
        a.G = b.G;
        a.B = b.B;
    }
    if (b.A == 0.0f) {
        b.R = a.R;
        b.G = a.G;
        b.B = a.B;
    }
}
// t * a + (1 - t) * b, the colours borrowed as above.
inline FloatPixel LerpPixel(FloatPixel a, FloatPixel b, double t) {
    BorrowColours(a, b);
    return {LerpExtended(a.R, b.R, t), LerpExtended(a.G, b.G, t), LerpExtended(a.B, b.B, t),
            LerpExtended(a.A, b.A, t)};
}

// One axis of a bilinear sample: the two neighbouring indices after wrap-around and the
// fraction toward the second. A position beyond int32 wraps without overflowing, and a
// position that is not finite gives index 0 and fraction 0. n must be at least 1.
struct BilinearTap {
    int32_t i0, i1;
    double frac;
};
inline BilinearTap BilinearAxis(double v, int32_t n) {
    const double floorValue = std::floor(v);
    int32_t i0 = 0;
    if (floorValue >= -2147483648.0 && floorValue < 2147483647.0) {
        i0 = WrapCoordinate(static_cast<int32_t>(floorValue), n);
    } else if (std::isfinite(floorValue)) {
        double r = std::fmod(floorValue, static_cast<double>(n));
        if (r < 0) r += n;
        i0 = static_cast<int32_t>(r);
    }
    // v - floor(v) is exact in double, so the fraction needs no wider type.
    const double frac = std::isfinite(v) ? v - floorValue : 0.0;
    return {i0, i0 + 1 < n ? i0 + 1 : 0, frac};
}

// Bilinear sample with wrap-around on both axes; integer coordinates are pixel centres.
// The image must hold at least one pixel.
inline FloatPixel SampleBilinear(const FloatImage& image, double x, double y) {
    const BilinearTap tx = BilinearAxis(x, image.Width);
    const BilinearTap ty = BilinearAxis(y, image.Height);
    const FloatPixel* row0 = image.Row(ty.i0);
    const FloatPixel* row1 = image.Row(ty.i1);
    const FloatPixel top = LerpPixel(row0[tx.i1], row0[tx.i0], tx.frac);
    const FloatPixel bottom = LerpPixel(row1[tx.i1], row1[tx.i0], tx.frac);
    return LerpPixel(bottom, top, ty.frac);
}

// Resample srcRect of src onto dstRect of dst and blend each pixel in with BlendPixelAt.
// Positions start at the top-left of each footprint and accumulate in extended precision.
// wrap and mode govern the destination only.
void StretchBlendNearest(const FloatImage& src, const ImageRect& srcRect, FloatImage& dst,
                         const ImageRect& dstRect, Wrap wrap, BlendMode mode);
void StretchBlendBilinear(const FloatImage& src, const ImageRect& srcRect, FloatImage& dst,
                          const ImageRect& dstRect, Wrap wrap, BlendMode mode);
// The mean of 3 x 3 bilinear samples per destination pixel.
void StretchBlendSmooth(const FloatImage& src, const ImageRect& srcRect, FloatImage& dst,
                        const ImageRect& dstRect, Wrap wrap, BlendMode mode);

// Stretches R, G and B jointly so the lowest value becomes 0 and the highest 256. A flat
// image is left as it is; A is never touched.
void NormalizeImage(FloatImage& image);

}  // namespace globeforge
