// MaxStamp. Only the pixels inside the image are visited (the others read transparent black
// and drop their writes); the sample positions still advance over the whole square, and
// each column's bilinear taps are computed once. When every pattern pixel has A = 255
// (opaque), only R and A of the samples are computed: no neighbour lends its colour then,
// and G and B are never read.
#include "image/max_stamp.h"

#include <algorithm>
#include <bit>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "exact/decide.h"
#include "exact/lerp.h"

namespace globeforge {

namespace {

// A sample never exceeds its largest texel (a rounded mean of floats), so amplitude times
// the sample never exceeds amplitude times most; where that bound, widened by more than its
// roundings, stays below the pixel's r, the stamp cannot raise it. most and r are floats,
// amplitudeUp >= 0. most is tested apart: a negative most times a tiny amplitudeUp can
// round to -0, which SurelyBelow alone would take as a bound.
inline bool BelowBound(double most, double amplitudeUp, double r) {
    return most >= 0 && SurelyBelow(most * amplitudeUp, r);
}

// A pixel the stamp does not raise: its R in every colour channel.
inline void KeepGray(FloatPixel& p) {
    p = {p.R, p.R, p.R, p.A};
}

// One image row of a square's stamp: the pattern rows its taps read and the row it paints.
struct StampRow {
    BilinearTap ty;
    const FloatPixel* row0;
    const FloatPixel* row1;
    bool opaque;
    const float* rows0;  // of an opaque pattern, its R of rows ty.i0 and ty.i1
    const float* rows1;
    FloatPixel* out;
    Extended amplitude;
    double amplitudeUp;
    // The amplitude as a sum of two doubles, for products with it in double.
    double amplitudeHi, amplitudeLo;
};

// The extended steps of one pixel of the row.
inline void StampPixel(const StampRow& s, const MaxStampColumn& c) {
    FloatPixel& cur = s.out[c.x];
    float smpR, smpA;
    if (s.opaque) {
        const float r00 = s.rows0[c.tap.i0], r01 = s.rows0[c.tap.i1];
        const float r10 = s.rows1[c.tap.i0], r11 = s.rows1[c.tap.i1];
        const double most = std::max(std::max(r00, r01), std::max(r10, r11));
        if (cur.A < 0 || BelowBound(most, s.amplitudeUp, cur.R)) {
            KeepGray(cur);
            return;
        }
        // Every A is 255, and t 255 + (1 - t) 255 in extended precision lies within
        // 2^-61 of 255, which rounds to 255 as a float: only R needs the lerps.
        const float top = LerpExtended(r01, r00, c.tap.frac);
        const float bottom = LerpExtended(r11, r10, c.tap.frac);
        smpR = LerpExtended(bottom, top, s.ty.frac);
        smpA = 255.0f;
    } else {
        const FloatPixel top = LerpPixel(s.row0[c.tap.i1], s.row0[c.tap.i0], c.tap.frac);
        const FloatPixel bottom = LerpPixel(s.row1[c.tap.i1], s.row1[c.tap.i0], c.tap.frac);
        const FloatPixel smp = LerpPixel(bottom, top, s.ty.frac);
        smpR = smp.R;
        smpA = smp.A;
    }
    const double v = static_cast<double>(s.amplitude * smpR);
    if (v >= cur.R && cur.A >= 0) {
        const float vf = static_cast<float>(v);
        cur = {vf, vf, vf, smpA};
    } else {
        KeepGray(cur);
    }
}

#ifdef __SSE2__
// An opaque pattern row's texels at the left (i0) or right (i1) taps of four columns.
__attribute__((always_inline)) inline __m128 Taps4(const float* row, const MaxStampColumn* c,
                                                   bool right) {
    if (right)
        return _mm_set_ps(row[c[3].tap.i1], row[c[2].tap.i1], row[c[1].tap.i1], row[c[0].tap.i1]);
    return _mm_set_ps(row[c[3].tap.i0], row[c[2].tap.i0], row[c[1].tap.i0], row[c[0].tap.i0]);
}

// BelowBound in four lanes of pixel values curR and largest texels most: a bit per lane.
__attribute__((always_inline)) inline int BelowBound4(__m128 most, __m128 curR,
                                                      double amplitudeUp) {
    const __m128d bound = _mm_set1_pd(amplitudeUp);
    int below = 0;
    for (int h = 0; h < 2; ++h) {
        const __m128d r = _mm_cvtps_pd(h == 0 ? curR : _mm_movehl_ps(curR, curR));
        const __m128d m = _mm_cvtps_pd(h == 0 ? most : _mm_movehl_ps(most, most));
        const int under = _mm_movemask_pd(_mm_cmpge_pd(m, _mm_setzero_pd())) &
                          SurelyBelow2(_mm_mul_pd(m, bound), r);
        below |= under << (2 * h);
    }
    return below;
}

// amplitude x smp in four lanes against the pixel values curR. The product is within 2^-53
// of its size of the double sum of the amplitude's two parts' products, and v within 2^-53
// of it, so v lies within 2^-49 of the estimate's size of it. keep gets a bit per lane whose
// interval lies all below the pixel, raise one per lane whose interval lies all at or above
// it and rounds to one finite float, that float in values.
__attribute__((always_inline)) inline void Product4(__m128 smp, __m128 curR, double amplitudeHi,
                                                    double amplitudeLo, int& keep, int& raise,
                                                    float values[4]) {
    const __m128d hiPart = _mm_set1_pd(amplitudeHi), loPart = _mm_set1_pd(amplitudeLo);
    const __m128d sign = _mm_set1_pd(-0.0), slackScale = _mm_set1_pd(0x1p-49);
    __m128d lo[2], hi[2];
    int atOrAbove = 0;
    keep = 0;
    for (int h = 0; h < 2; ++h) {
        const __m128d r = _mm_cvtps_pd(h == 0 ? curR : _mm_movehl_ps(curR, curR));
        const __m128d s = _mm_cvtps_pd(h == 0 ? smp : _mm_movehl_ps(smp, smp));
        const __m128d p = _mm_add_pd(_mm_mul_pd(hiPart, s), _mm_mul_pd(loPart, s));
        const __m128d slack = _mm_mul_pd(_mm_andnot_pd(sign, p), slackScale);
        lo[h] = _mm_sub_pd(p, slack);
        hi[h] = _mm_add_pd(p, slack);
        keep |= _mm_movemask_pd(_mm_cmplt_pd(hi[h], r)) << (2 * h);
        atOrAbove |= _mm_movemask_pd(_mm_cmpge_pd(lo[h], r)) << (2 * h);
    }
    int decided;
    _mm_storeu_ps(values, Decide4(lo[0], lo[1], hi[0], hi[1], decided));
    raise = atOrAbove & decided;
}

// Four neighbouring pixels of an opaque stamp's row: the bound, the lerps and the product
// from double steps, a lane that anything leaves open by the extended steps. rowT and rowU:
// the row's fraction and its ExactRest in both lanes.
__attribute__((always_inline)) inline void StampOpaqueFour(const StampRow& s,
                                                           const MaxStampColumn* c, __m128d rowT,
                                                           __m128d rowU) {
    FloatPixel* cur = s.out + c[0].x;
    const __m128 r00 = Taps4(s.rows0, c, false), r01 = Taps4(s.rows0, c, true);
    const __m128 r10 = Taps4(s.rows1, c, false), r11 = Taps4(s.rows1, c, true);
    const __m128 curR = _mm_set_ps(cur[3].R, cur[2].R, cur[1].R, cur[0].R);
    const __m128 curA = _mm_set_ps(cur[3].A, cur[2].A, cur[1].A, cur[0].A);
    const __m128 most = _mm_max_ps(_mm_max_ps(r00, r01), _mm_max_ps(r10, r11));
    const int ordered =
        _mm_movemask_ps(_mm_and_ps(_mm_cmpord_ps(r00, r01), _mm_cmpord_ps(r10, r11)));
    // Pixels the bound keeps (the usual case away from the crest) first.
    const int below = BelowBound4(most, curR, s.amplitudeUp);
    const int kept = _mm_movemask_ps(_mm_cmplt_ps(curA, _mm_setzero_ps())) | (ordered & below);
    if (kept == 0xf) {
        for (int k = 0; k < 4; ++k) KeepGray(cur[k]);
        return;
    }
    const __m128d tLo = _mm_set_pd(c[1].tap.frac, c[0].tap.frac);
    const __m128d tHi = _mm_set_pd(c[3].tap.frac, c[2].tap.frac);
    const __m128d uLo = _mm_set_pd(c[1].rest, c[0].rest);
    const __m128d uHi = _mm_set_pd(c[3].rest, c[2].rest);
    int d1, d2, d3;
    const __m128 top = LerpDecided4(r01, r00, tLo, tHi, uLo, uHi, d1);
    const __m128 bottom = LerpDecided4(r11, r10, tLo, tHi, uLo, uHi, d2);
    const __m128 smp = LerpDecided4(bottom, top, rowT, rowT, rowU, rowU, d3);
    int keep, raise;
    float values[4];
    Product4(smp, curR, s.amplitudeHi, s.amplitudeLo, keep, raise, values);
    const int decided = ordered & d1 & d2 & d3;
    for (int k = 0; k < 4; ++k) {
        const int bit = 1 << k;
        if (kept & bit) {
            KeepGray(cur[k]);
        } else if (!(decided & bit)) {
            StampPixel(s, c[k]);
        } else if (keep & bit) {
            KeepGray(cur[k]);
        } else if (raise & bit) {
            cur[k] = {values[k], values[k], values[k], 255.0f};
        } else {
            StampPixel(s, c[k]);
        }
    }
}

// The columns j, j + 4, ... of an opaque stamp's row, four at a time while four remain
// before to; returns the first column left.
inline size_t StampOpaqueFours(const StampRow& s, const std::vector<MaxStampColumn>& columns,
                               size_t j, size_t to) {
    const double rowRest = ExactRest(s.ty.frac);
    const __m128d rowT = _mm_set1_pd(s.ty.frac), rowU = _mm_set1_pd(rowRest);
    for (; j + 4 <= to; j += 4) StampOpaqueFour(s, columns.data() + j, rowT, rowU);
    return j;
}
#endif

// The columns j <= k < to of the row.
inline void StampColumns(const StampRow& s, const std::vector<MaxStampColumn>& columns, size_t j,
                         size_t to) {
#ifdef __SSE2__
    if (s.opaque) j = StampOpaqueFours(s, columns, j, to);
#endif
    for (; j < to; ++j) StampPixel(s, columns[j]);
}

// The row y block by block of the image row: a block none of whose pixels the stamp can
// raise is not visited, and a visited block's floor is taken again. A row none of whose
// blocks it can raise is passed over at once.
void StampBlocks(const StampRow& s, const MaxStampSquare& square, MaxStampBounds& bounds, int64_t y,
                 int32_t imageWidth) {
    const std::vector<MaxStampColumn>& columns = square.columns;
    const int32_t p0 = bounds.Peak(s.ty.i0), p1 = bounds.Peak(s.ty.i1);
    const float* texels0 = bounds.Texels(s.ty.i0);
    const float* texels1 = bounds.Texels(s.ty.i1);
    const auto mostIn = [&](const std::pair<int32_t, int32_t>& taps) {
        return std::max(texels0[std::clamp(p0, taps.first, taps.second)],
                        texels1[std::clamp(p1, taps.first, taps.second)]);
    };
    float* floors = bounds.Floors(y);
    const int32_t xFirst = columns.front().x;
    const int32_t bFirst = xFirst / MaxStampBounds::kBlock;
    const int32_t bLast = columns.back().x / MaxStampBounds::kBlock;
    if (BelowBound(mostIn(square.allTaps), s.amplitudeUp,
                   *std::min_element(floors + bFirst, floors + bLast + 1))) {
        return;
    }
    for (int32_t b = bFirst; b <= bLast; ++b) {
        if (BelowBound(mostIn(square.blockTaps[static_cast<size_t>(b - bFirst)]), s.amplitudeUp,
                       floors[b])) {
            continue;
        }
        const size_t j = static_cast<size_t>(std::max(0, b * MaxStampBounds::kBlock - xFirst));
        const size_t to = std::min(columns.size(),
                                   static_cast<size_t>((b + 1) * MaxStampBounds::kBlock - xFirst));
        StampColumns(s, columns, j, to);
        floors[b] = MaxStampBounds::Floor(s.out, b, imageWidth);
    }
}

}  // namespace

std::optional<MaxStampBounds> MaxStampBounds::Of(const FloatImage& image, const float* opaqueR,
                                                 int32_t width, int32_t height) {
    MaxStampBounds bounds;
    bounds.texels_ = opaqueR;
    bounds.width_ = width;
    bounds.blocks_ = (image.Width + kBlock - 1) / kBlock;
    bounds.peaks_.resize(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const float* row = opaqueR + static_cast<size_t>(y) * width;
        int32_t i = 0;
        while (i + 1 < width && row[i] <= row[i + 1]) ++i;
        bounds.peaks_[static_cast<size_t>(y)] = i;
        for (int32_t k = i; k + 1 < width; ++k) {
            // A NaN fails both comparisons.
            if (!(row[k] >= row[k + 1])) return std::nullopt;
        }
        if (width > 0 && std::isnan(row[i])) return std::nullopt;
    }
    bounds.floors_.resize(static_cast<size_t>(bounds.blocks_) * image.Height);
    return bounds;
}

bool MaxStampBounds::TakeFloors(const FloatImage& image, int64_t y0, int64_t y1) {
    bool gray = true;
    for (int64_t y = y0; y < y1; ++y) {
        const FloatPixel* row = image.Row(static_cast<int32_t>(y));
        for (int32_t x = 0; x < image.Width; ++x) {
            const uint32_t r = std::bit_cast<uint32_t>(row[x].R);
            gray &=
                r == std::bit_cast<uint32_t>(row[x].G) && r == std::bit_cast<uint32_t>(row[x].B);
        }
        float* floors = Floors(y);
        for (int32_t b = 0; b < blocks_; ++b) floors[b] = Floor(row, b, image.Width);
    }
    return gray;
}

float MaxStampBounds::Floor(const FloatPixel* row, int32_t b, int32_t width) {
    const int32_t x0 = b * kBlock;
    const int32_t end = std::min(width, x0 + kBlock);
    float least = std::numeric_limits<float>::infinity();
    int32_t x = x0;
#ifdef __SSE2__
    __m128 lanes = _mm_set1_ps(least);
    for (; x + 4 <= end; x += 4) {
        __m128 r = _mm_loadu_ps(&row[x].R), g = _mm_loadu_ps(&row[x + 1].R);
        __m128 b4 = _mm_loadu_ps(&row[x + 2].R), a = _mm_loadu_ps(&row[x + 3].R);
        _MM_TRANSPOSE4_PS(r, g, b4, a);
        const __m128 counted = _mm_and_ps(_mm_cmpge_ps(a, _mm_setzero_ps()), _mm_cmpord_ps(r, r));
        lanes = _mm_min_ps(
            lanes, _mm_or_ps(_mm_and_ps(counted, r), _mm_andnot_ps(counted, _mm_set1_ps(least))));
    }
    float four[4];
    _mm_storeu_ps(four, lanes);
    least = std::min(std::min(four[0], four[1]), std::min(four[2], four[3]));
#endif
    for (; x < end; ++x) {
        const FloatPixel& p = row[x];
        if (p.A >= 0 && !std::isnan(p.R)) least = std::min(least, p.R);
    }
    return least;
}

MaxStampSquare MaxStampSquareOf(const FloatImage& image, const FloatImage& pattern,
                                Extended amplitude, Extended radius, Extended cx, Extended cy) {
    MaxStampSquare square;
    if (!(radius > 0) || !(amplitude > 0) || pattern.PixelCount() == 0) return square;
    square.amplitude = amplitude;
    square.amplitudeUp = static_cast<double>(amplitude);
    if (static_cast<Extended>(square.amplitudeUp) < amplitude) {
        square.amplitudeUp =
            std::nextafter(square.amplitudeUp, std::numeric_limits<double>::infinity());
    }
    const Extended stepX = pattern.Width / (2 * radius);
    const Extended stepY = pattern.Height / (2 * radius);
    square.y0 = Round(cy - radius);
    square.y1 = Round(cy + radius);
    const int64_t x0 = Round(cx - radius);
    const int64_t x1 = Round(cx + radius);
    square.columns.reserve(static_cast<size_t>(std::max<int64_t>(
        0, std::min<int64_t>(x1, image.Width - 1) - std::max<int64_t>(x0, 0) + 1)));
    Extended sx = 0;
    for (int64_t x = x0; x <= x1; ++x, sx += stepX) {
        if (x < 0 || x >= image.Width) continue;
        const BilinearTap tap = BilinearAxis(static_cast<double>(sx), pattern.Width);
        square.columns.push_back({static_cast<int32_t>(x), tap, ExactRest(tap.frac)});
    }
    // A square with no column inside the image paints nothing.
    if (square.columns.empty()) return square;
    const int32_t firstBlock = square.columns.front().x / MaxStampBounds::kBlock;
    for (const MaxStampColumn& c : square.columns) {
        const size_t b = static_cast<size_t>(c.x / MaxStampBounds::kBlock - firstBlock);
        const int32_t lo = std::min(c.tap.i0, c.tap.i1), hi = std::max(c.tap.i0, c.tap.i1);
        if (b == square.blockTaps.size()) {
            square.blockTaps.emplace_back(lo, hi);
        } else {
            square.blockTaps[b].first = std::min(square.blockTaps[b].first, lo);
            square.blockTaps[b].second = std::max(square.blockTaps[b].second, hi);
        }
    }
    square.allTaps = square.blockTaps.front();
    for (const auto& [lo, hi] : square.blockTaps) {
        square.allTaps = {std::min(square.allTaps.first, lo), std::max(square.allTaps.second, hi)};
    }
    square.firstRow = std::max<int64_t>(square.y0, 0);
    square.rows.reserve(static_cast<size_t>(std::max<int64_t>(
        0, std::min<int64_t>(square.y1, image.Height - 1) - square.firstRow + 1)));
    Extended sy = 0;
    for (int64_t y = square.y0; y <= square.y1 && y < image.Height; ++y, sy += stepY) {
        if (y < 0) continue;
        square.rows.push_back(BilinearAxis(static_cast<double>(sy), pattern.Height));
    }
    square.empty = square.rows.empty();
    return square;
}

std::vector<float> OpaqueR(const FloatImage& pattern) {
    const FloatPixel* p = pattern.Data();
    const size_t n = pattern.PixelCount();
    if (!std::all_of(p, p + n, [](const FloatPixel& q) { return q.A == 255.0f; })) return {};
    std::vector<float> r(n);
    for (size_t i = 0; i < n; ++i) r[i] = p[i].R;
    return r;
}

void MaxStampRows(FloatImage& image, const FloatImage& pattern, const float* opaqueR,
                  const MaxStampSquare& square, int64_t rowLo, int64_t rowHi,
                  MaxStampBounds* bounds) {
    // Most bands miss most squares: they leave before any set-up.
    if (square.empty || rowHi <= square.firstRow ||
        rowLo >= square.firstRow + static_cast<int64_t>(square.rows.size())) {
        return;
    }
    const bool opaque = opaqueR != nullptr;
    const Extended amplitude = square.amplitude;
    const double amplitudeHi = static_cast<double>(amplitude);
    const double amplitudeLo = static_cast<double>(amplitude - amplitudeHi);
    const int64_t rowEnd =
        std::min(rowHi, square.firstRow + static_cast<int64_t>(square.rows.size()));
    for (int64_t y = std::max(rowLo, square.firstRow); y < rowEnd; ++y) {
        const BilinearTap& ty = square.rows[static_cast<size_t>(y - square.firstRow)];
        const StampRow s{ty,
                         pattern.Row(ty.i0),
                         pattern.Row(ty.i1),
                         opaque,
                         opaque ? opaqueR + static_cast<size_t>(ty.i0) * pattern.Width : nullptr,
                         opaque ? opaqueR + static_cast<size_t>(ty.i1) * pattern.Width : nullptr,
                         image.Row(static_cast<int32_t>(y)),
                         amplitude,
                         square.amplitudeUp,
                         amplitudeHi,
                         amplitudeLo};
        if (bounds) {
            StampBlocks(s, square, *bounds, y, image.Width);
        } else {
            StampColumns(s, square.columns, 0, square.columns.size());
        }
    }
}

void MaxStamp(FloatImage& image, const FloatImage& pattern, Extended amplitude, Extended radius,
              Extended cx, Extended cy) {
    const std::vector<float> opaqueR = OpaqueR(pattern);
    MaxStampRows(image, pattern, opaqueR.empty() ? nullptr : opaqueR.data(),
                 MaxStampSquareOf(image, pattern, amplitude, radius, cx, cy));
}

}  // namespace globeforge
