// MaxStamp: a pattern stretched over a square raises an image wherever it is higher, as the
// domes of a crater's ridges are painted. Its pieces are exposed for callers that paint many
// squares in bands on several threads: each square is worked out once, painted band by band.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "exact/extended.h"
#include "image/float_image.h"

namespace globeforge {

// Raises image to amplitude x pattern.R, the pattern stretched over the square of the given
// radius around (cx, cy), wherever that is higher. Pixels with a negative A (the bowl) are
// never raised.
void MaxStamp(FloatImage& image, const FloatImage& pattern, Extended amplitude, Extended radius,
              Extended cx, Extended cy);

// Where a MaxStamp lands, worked out once for all the bands it is painted in: its square
// and, for the columns and rows inside the image, the bilinear taps of their positions
// (each position the sum of the steps before it, in extended precision).
struct MaxStampColumn {
    int32_t x;
    BilinearTap tap;
    double rest;  // ExactRest(tap.frac)
};
struct MaxStampSquare {
    bool empty = true;
    Extended amplitude = 0;
    double amplitudeUp = 0;  // the amplitude rounded up to a double, for bounds
    int64_t y0 = 0, y1 = 0;
    std::vector<MaxStampColumn> columns;
    int64_t firstRow = 0;           // the first row inside the image
    std::vector<BilinearTap> rows;  // of the rows firstRow, firstRow + 1, ...
    // For each block of MaxStampBounds::kBlock image columns the square reaches, from the
    // first: the least and the largest pattern column its columns' taps read.
    std::vector<std::pair<int32_t, int32_t>> blockTaps;
    std::pair<int32_t, int32_t> allTaps;  // the same over every column
};
MaxStampSquare MaxStampSquareOf(const FloatImage& image, const FloatImage& pattern,
                                Extended amplitude, Extended radius, Extended cx, Extended cy);

// The R of every pixel of an opaque pattern (every A 255), else nothing: the samples of an
// opaque pattern read only R, and a quarter of the bytes stays in cache where the whole
// pixels would not.
std::vector<float> OpaqueR(const FloatImage& pattern);

// What lets many MaxStamps of one pattern pass over blocks of pixels they cannot raise. A
// sample never exceeds the largest texel it reads, and the stamps only ever raise pixels, so
// a block whose least pixel (its floor) stays above the amplitude times the largest texel its
// taps read keeps every pixel: the per-pixel bound would keep each of them, and on an image
// whose G and B equal R keeping changes nothing. It serves patterns whose rows rise to one
// peak and fall after it (the crater's dome), where the largest texel of a run of columns is
// the one nearest the peak.
class MaxStampBounds {
  public:
    static constexpr int32_t kBlock = 16;

    // opaqueR: the pattern's R, width x height. Nothing when a row has no single peak.
    static std::optional<MaxStampBounds> Of(const FloatImage& image, const float* opaqueR,
                                            int32_t width, int32_t height);

    // Takes every block's floor of the image rows y0 <= y < y1; false when a pixel's G or B
    // differs from its R (bit for bit), where a kept pixel would still change.
    bool TakeFloors(const FloatImage& image, int64_t y0, int64_t y1);

    float* Floors(int64_t y) { return floors_.data() + static_cast<size_t>(y) * blocks_; }

    // Pattern row y and the column of its peak: the largest of its texels lo .. hi is the
    // one at the peak clamped to lo .. hi.
    const float* Texels(int32_t y) const { return texels_ + static_cast<size_t>(y) * width_; }
    int32_t Peak(int32_t y) const { return peaks_[static_cast<size_t>(y)]; }

    // The least R of block b of an image row, over the pixels a stamp may raise (A >= 0,
    // R not NaN); +inf when there is none.
    static float Floor(const FloatPixel* row, int32_t b, int32_t width);

  private:
    MaxStampBounds() = default;

    const float* texels_ = nullptr;
    int32_t width_ = 0;
    int32_t blocks_ = 0;
    std::vector<int32_t> peaks_;  // per pattern row, the column of its peak
    std::vector<float> floors_;
};

// Paints a square's MaxStamp in the image rows rowLo <= y < rowHi. opaqueR: OpaqueR(pattern),
// or null for a pattern that is not opaque. With bounds (an opaque pattern on an image whose
// pixels all have G = B = R), whole blocks of a row that the stamp cannot raise are passed
// over, and the floors of the blocks it visits are taken again.
void MaxStampRows(FloatImage& image, const FloatImage& pattern, const float* opaqueR,
                  const MaxStampSquare& square, int64_t rowLo = 0,
                  int64_t rowHi = std::numeric_limits<int32_t>::max(),
                  MaxStampBounds* bounds = nullptr);

}  // namespace globeforge
