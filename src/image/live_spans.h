// Where a stretch source holds anything to blend. A stamp's brush is mostly transparent (the
// corners around a disc, the hole of a ring), and every kernel skips a sample whose taps are
// all zero: such a sample blends nothing. So a plan that knows the columns of each source row
// that are not zero paints only the destination columns whose taps reach them, and the pixels
// come out as the whole rows leave them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image/float_image.h"

namespace globeforge {

// For each row of a source, a few spans of columns that together hold every sample that is
// not zero (a plane's value other than +0 or -0, an image's pixel with any channel other than
// that). The spans may hold zeros as well: they are kept coarse, at most kPerRow a row.
class LiveSpans {
  public:
    static constexpr int kPerRow = 4;
    struct Span {
        int32_t x0, x1;  // columns x0 <= x < x1
    };

    // Sizes the spans for a source of width x height; every row is then to be found.
    void Reset(int32_t width, int32_t height);
    // Finds the spans of the rows y0 <= y < y1 of a plane (width floats a row) or an image of
    // the size given to Reset. Rows apart may be found on different threads.
    void FindRows(const float* plane, int32_t y0, int32_t y1);
    void FindRows(const FloatImage& image, int32_t y0, int32_t y1);

    std::span<const Span> Row(int32_t y) const {
        return {spans_.data() + static_cast<size_t>(y) * kPerRow, count_[static_cast<size_t>(y)]};
    }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }

  private:
    // Records the spans of row y from a test of its groups of kGroup columns.
    template <typename GroupLive>
    void FindRow(int32_t y, const GroupLive& groupLive);
    template <size_t floatsPer>
    void FindRowsOf(const float* data, int32_t y0, int32_t y1);
    template <size_t floatsPer>
    void FindRowsAvx2(const float* data, int32_t y0, int32_t y1);

    int32_t width_ = 0;
    int32_t height_ = 0;
    std::vector<Span> spans_;
    std::vector<uint8_t> count_;
};

}  // namespace globeforge
