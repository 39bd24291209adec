// A stretch blend prepared once and painted band by band. Preparing computes every
// destination column's and row's wrapped position and source position (accumulated by
// repeated addition exactly as StretchBlendNearest and StretchBlendBilinear accumulate them);
// painting a band of destination rows then replays the blend for the rows of that band only,
// in the order the whole blend would reach them (rows top to bottom, a wrapped row again
// each time the rectangle reaches it, columns left to right). So painting all bands, in any
// order and on any thread, gives the very pixels the one-call blend gives.
//
// The pixel kernels are chosen once per plan: by blend mode, by sampling, and by the source
// layout (see source_layout.h).
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <variant>
#include <vector>

#include "image/channel_planes.h"
#include "image/float_image.h"
#include "image/live_spans.h"
#include "image/scalar_image.h"
#include "image/source_layout.h"
#include "image/stretch_taps.h"

namespace globeforge {

// What a plan paints a band from:
// - the source image itself;
// - a plane of the source's one value per pixel, for a source whose value is its own alpha in
//   every pixel (a gray layout with A equal to R, G and B, or a one-channel layout): a quarter
//   of the bytes to read. It paints nothing for General;
// - an opaque gray source held as a ScalarImage, for a bilinear AddDirect plan, onto a
//   ScalarImage only.
// An image or a plane may come with its LiveSpans (found from it as it is now): the plan then
// paints only the columns whose taps reach them.
class StretchSource {
  public:
    // Not explicit: callers pass their images and planes as they are.
    StretchSource(const FloatImage& image) : of_(&image) {}
    StretchSource(const float* plane) : of_(plane) {}
    StretchSource(const ScalarImage& image) : of_(&image) {}
    StretchSource(const FloatImage& image, const LiveSpans* live) : of_(&image), live_(live) {}
    StretchSource(const float* plane, const LiveSpans* live) : of_(plane), live_(live) {}

  private:
    friend class StretchPlan;
    std::variant<const FloatImage*, const float*, const ScalarImage*> of_;
    const LiveSpans* live_ = nullptr;
};

// What a plan paints a band into:
// - a FloatImage;
// - the one channel of the destination that a one-channel layout (OnlyR, OnlyG or OnlyB)
//   blends, held as a ChannelPlane, from a value plane: that channel comes out as it would in
//   the FloatImage, and the destination's A, which such a blend overwrites, is not kept. It
//   paints nothing for the other layouts and for Norm, which reads the destination's A;
// - a gray destination held as GrayPlanes, from a gray source (an image, or a plane of values
//   that are their own alpha): R, G and B go through the same steps, so one value stands for
//   them. It paints nothing for the other layouts and for Norm;
// - a ScalarImage, from a ScalarImage.
class StretchTarget {
  public:
    // Not explicit, as StretchSource's.
    StretchTarget(FloatImage& image) : of_(&image) {}
    StretchTarget(const ChannelPlane& plane) : of_(plane) {}
    StretchTarget(const GrayPlanes& planes) : of_(planes) {}
    StretchTarget(ScalarImage& image) : of_(&image) {}

  private:
    friend class StretchPlan;
    std::variant<FloatImage*, ChannelPlane, GrayPlanes, ScalarImage*> of_;
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

    // Paints the destination rows y0 <= y < y1 of the blend, in the window of destination
    // columns x0 <= x < x1: the pixels there come out as the whole rows would leave them, the
    // others are not touched. src and dst must have the sizes the plan was made for, and src
    // the layout; a source and target the plan cannot pair (see above) paint nothing.
    void PaintBand(StretchSource src, StretchTarget dst, int32_t y0, int32_t y1, int32_t x0 = 0,
                   int32_t x1 = std::numeric_limits<int32_t>::max()) const;

    bool Empty() const { return empty_; }

  private:
    using Column = StretchColumn;
    using Row = StretchRow;
    using ColumnRuns = std::span<const std::span<const Column>>;

    // Columns j with from <= j < to.
    struct ColumnRange {
        uint32_t from, to;
    };
    // Column ranges where the source columns of each tap only grow, at most kMaxSegments.
    static constexpr size_t kMaxSegments = 4;
    static constexpr size_t kMaxLiveRanges = 2 * LiveSpans::kPerRow * kMaxSegments;
    static constexpr uint32_t kJoinColumns = 8;

    template <typename Fn>
    void ForEachRowInBand(int32_t y0, int32_t y1, Fn&& fn) const;
    ColumnRuns WindowRuns(int32_t x0, int32_t x1) const;
    void FindSegments();
    // The ranges of columns, in order, outside which every tap of row is zero in live.
    size_t LiveColumns(const LiveSpans& live, const Row& row, ColumnRange* out) const;

    // Paints the rows y0 <= y < y1, in the runs of columns, with the plan's kernel; with
    // live, only the columns LiveColumns gives.
    template <typename Source, typename Dest>
    void Paint(const Source& src, Dest& dst, int32_t y0, int32_t y1, ColumnRuns runs,
               const LiveSpans* live) const;
    void PaintScalar(const ScalarImage& src, ScalarImage& dst, int32_t y0, int32_t y1,
                     ColumnRuns runs) const;

    SourceLayout layout_;
    int32_t srcWidth_ = 0;
    int32_t srcHeight_ = 0;
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
    // The segments of columns_ in which each tap's source column only grows; empty when
    // there are more than kMaxSegments (live spans are then not used).
    struct Segment {
        uint32_t from, to;
    };
    std::vector<Segment> segments_;
};

}  // namespace globeforge
