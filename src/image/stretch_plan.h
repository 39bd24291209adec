// A stretch blend prepared once and painted band by band. Preparing computes every
// destination column's and row's wrapped position and source position (accumulated by
// repeated addition exactly as StretchBlendNearest and StretchBlendBilinear accumulate them);
// painting a band of destination rows then replays the blend for the rows of that band only,
// in the order the whole blend would reach them (rows top to bottom, a wrapped row again
// each time the rectangle reaches it, columns left to right). So painting all bands, in any
// order and on any thread, gives the very pixels the one-call blend gives.
//
// The pixel kernels are chosen once per plan: by blend mode, by sampling, and by the source
// layout, since the brushes of the generators are gray (R = G = B) or carry one channel
// (the others +0 and A equal to it), and such sources need one blend computation per pixel
// instead of three.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "image/float_image.h"
#include "image/scalar_image.h"
#include "image/source_layout.h"

namespace globeforge {

enum class StretchSampling : uint8_t { Nearest, Bilinear };

// The layout of a source image's channels (see SourceLayout), found once per source.
SourceLayout FindSourceLayout(const FloatImage& image);

// The same in parts: the set of layouts count pixels satisfy (bit 1 << layout for each),
// which the parts of an image combine with &, and the layout a combined set stands for.
uint32_t SourceLayoutsOf(const FloatPixel* pixels, size_t count);
SourceLayout PickSourceLayout(uint32_t layouts);

// One channel of an image held on its own, one float per pixel, row after row.
struct ChannelPlane {
    float* data = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;
    size_t PixelCount() const { return static_cast<size_t>(Width) * static_cast<size_t>(Height); }
    float* Row(int32_t y) const { return data + static_cast<size_t>(y) * Width; }
};

// A gray image (R, G and B equal bit for bit) held as two planes: the value and A.
struct GrayPlanes {
    float* value = nullptr;
    float* alpha = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;

    // One pixel of the planes, and a row of them.
    struct Ref {
        float& v;
        float& a;
    };
    struct RowRef {
        float* v;
        float* a;
        Ref operator[](size_t x) const { return {v[x], a[x]}; }
        RowRef operator+(size_t x) const { return {v + x, a + x}; }
    };
    size_t PixelCount() const { return static_cast<size_t>(Width) * static_cast<size_t>(Height); }
    RowRef Row(int32_t y) const {
        const size_t at = static_cast<size_t>(y) * Width;
        return {value + at, alpha + at};
    }
};

class StretchPlan {
  public:
    // Plans StretchBlendNearest or StretchBlendBilinear(src, srcRect, dst, dstRect, wrap,
    // mode) for a source of srcWidth x srcHeight (laid out as layout says) and a destination
    // of dstWidth x dstHeight. Planning an empty blend (a rectangle without area) gives a
    // plan that paints nothing.
    StretchPlan(int32_t srcWidth, int32_t srcHeight, SourceLayout layout, const ImageRect& srcRect,
                int32_t dstWidth, int32_t dstHeight, const ImageRect& dstRect, Wrap wrap,
                BlendMode mode, StretchSampling sampling);

    // Paints the destination rows y0 <= y < y1 of the blend. src and dst must have the sizes
    // the plan was made for, and src the layout.
    void PaintBand(const FloatImage& src, FloatImage& dst, int32_t y0, int32_t y1) const;
    // The same from a plane of the source's one value per pixel, for a source whose value
    // is its own alpha in every pixel (a gray layout with A equal to R, G and B, or a
    // one-channel layout): a quarter of the bytes to read. Paints nothing for General.
    void PaintBand(const float* plane, FloatImage& dst, int32_t y0, int32_t y1) const;
    // The same into the one channel of the destination that a one-channel layout (OnlyR,
    // OnlyG or OnlyB) blends, held as a plane: that channel comes out as it would in the
    // FloatImage, and the destination's A, which such a blend overwrites, is not kept.
    // Paints nothing for the other layouts and for Norm, which reads the destination's A.
    void PaintBand(const float* plane, const ChannelPlane& dst, int32_t y0, int32_t y1) const;
    // The same in the window of destination columns x0 <= x < x1 only: the pixels there come
    // out as the whole rows would leave them, the others are not touched.
    void PaintBand(const float* plane, const ChannelPlane& dst, int32_t y0, int32_t y1, int32_t x0,
                   int32_t x1) const;
    // The same from a gray source (each value its own alpha) onto a gray destination held
    // as GrayPlanes: R, G and B go through the same steps, so one value stands for them.
    // Paints nothing for the other layouts and for Norm.
    void PaintBand(const float* plane, const GrayPlanes& dst, int32_t y0, int32_t y1) const;
    // The same from a gray source image (its A its own).
    void PaintBand(const FloatImage& src, const GrayPlanes& dst, int32_t y0, int32_t y1) const;
    // The same for gray images: a bilinear AddDirect stretch from an opaque gray source.
    void PaintBand(const ScalarImage& src, ScalarImage& dst, int32_t y0, int32_t y1) const;

    bool Empty() const { return empty_; }

  private:
    struct Column {
        int32_t dst;   // destination column after the wrap rule
        int32_t src0;  // source column (nearest) or left bilinear tap
        int32_t src1;  // right bilinear tap
        double frac;   // bilinear fraction toward src1
        double rest;   // 1 - frac where that is exact in double, else NaN
    };
    struct Row {
        int32_t dst;  // destination row after the wrap rule, or -1 when dropped
        int32_t src0;
        int32_t src1;
        double frac;
        double rest;
    };

    template <typename Fn>
    void ForEachRowInBand(int32_t y0, int32_t y1, Fn&& fn) const;

    // Paints the rows y0 <= y < y1, in the window of columns x0 <= x < x1.
    template <typename Source, typename Dest>
    void Paint(const Source& src, Dest& dst, int32_t y0, int32_t y1, int32_t x0 = 0,
               int32_t x1 = std::numeric_limits<int32_t>::max()) const;

    SourceLayout layout_;
    int32_t srcWidth_ = 0;
    BlendMode mode_;
    StretchSampling sampling_;
    Wrap wrap_;
    bool empty_ = true;
    int32_t dstWidth_ = 0;
    int32_t dstHeight_ = 0;
    int64_t firstRow_ = 0;         // dstRect.Y
    bool rowsRepeat_ = false;      // a stretch taller than its source reads rows again
    std::vector<Column> columns_;  // only the columns that reach the destination
    std::vector<Row> rows_;        // every destination row of the rectangle
};

}  // namespace globeforge
