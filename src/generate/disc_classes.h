// The classes of a disc: the pixels of a disc that share one distance from its centre, with
// one value each, painted into an image or a plane row by row.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/progress.h"
#include "generate/disc_tables.h"
#include "generate/distance.h"

namespace globeforge::pattern_detail {

// A disc of radius r around (cx, cy) as far as it lies in a width x height image: for every
// row offset dy the largest column offset inside the disc, and the values of a radial
// profile per distance class. The class (a, b), 0 <= b <= a, stands for the pixels at
// offsets (+-a, +-b) and (+-b, +-a), which share one distance, so each value is computed
// once for up to eight pixels. The classes are laid out row by row of b, so painting walks
// the image row by row.
template <typename Value>
class DiscClasses {
  public:
    DiscClasses() = default;
    DiscClasses(int32_t width, int32_t height, int32_t cx, int32_t cy, int32_t r) {
        Reset(width, height, cx, cy, r);
    }

    // Lays out the disc anew, keeping the storage of the tables for reuse. With quadrant,
    // the values are handed out to a table of every offset (dx, dy), dx, dy >= 0, instead
    // of the classes: each image row then reads one contiguous table row, both halves.
    void Reset(int32_t width, int32_t height, int32_t cx, int32_t cy, int32_t r,
               bool quadrant = false) {
        cx_ = cx;
        cy_ = cy;
        r_ = std::max(r, 0);
        width_ = width;
        height_ = height;
        extent_.clear();
        last_.clear();
        offset_.clear();
        // The values are not cleared: every entry is handed out before it is read, and a
        // table sized anew would be zeroed first.
        quadOffset_.clear();
        nEnd_ = 0;
        // Only offsets that reach the image matter.
        const int64_t dyMax =
            std::min<int64_t>(r_, std::max<int64_t>(cy, int64_t{height} - 1 - cy));
        const int64_t dxMax = std::min<int64_t>(r_, std::max<int64_t>(cx, int64_t{width} - 1 - cx));
        if (width <= 0 || height <= 0 || dyMax < 0 || dxMax < 0) {
            values_.clear();
            return;
        }
        extent_.resize(static_cast<size_t>(dyMax + 1));
        int64_t x = r_;
        for (int64_t dy = 0; dy <= dyMax; ++dy) {
            while (x >= 0 && Distance(x, dy) > r_) --x;
            extent_[static_cast<size_t>(dy)] = static_cast<int32_t>(x);
        }
        // Row b of the table holds the classes (a, b), b <= a <= last(b).
        const int64_t aMax = std::max(dxMax, dyMax);
        const int64_t bMax = std::min(dxMax, dyMax);
        offset_.assign(static_cast<size_t>(bMax + 2), 0);
        for (int64_t b = 0; b <= bMax; ++b) {
            const int64_t last = std::min<int64_t>(Extent(b), aMax);
            last_.push_back(static_cast<int32_t>(last));
            offset_[static_cast<size_t>(b + 1)] =
                offset_[static_cast<size_t>(b)] + std::max<int64_t>(last - b + 1, 0);
            if (last >= b) nEnd_ = std::max(nEnd_, last * last + b * b + 1);
        }
        if (!quadrant) {
            SizeValues(offset_.back());
            return;
        }
        // A quadrant row reaches as far as the disc and the image allow; its offsets are all
        // classes' offsets too, so every squared distance it needs is among the classes' ones.
        quadOffset_.assign(extent_.size() + 1, 0);
        for (size_t dy = 0; dy < extent_.size(); ++dy) {
            const int64_t reach = std::min<int64_t>(extent_[dy], dxMax);
            quadOffset_[dy + 1] = quadOffset_[dy] + std::max<int64_t>(reach + 1, 0);
        }
        SizeValues(quadOffset_.back());
    }

    // The values: value(d) for every class. A radial profile depends on the squared
    // distance n = a^2 + b^2 alone, and many classes share one n, so the profile is
    // evaluated once per distinct n (in bands of n), then handed out to the classes.
    // profile(d, out, count) gives the profile at count distances at once.
    // The distances come from sums, extended as far as the disc needs.
    // byN holds the values by squared distance meanwhile.
    template <typename Profile, typename ToValue>
    void Fill(RenderContext* ctx, SquareSums& sums, Table<float>& byN, Profile&& profile,
              ToValue&& toValue) {
        sums.Reach(nEnd_ - 1);
        // Only the listed entries are written, and the classes read only those.
        if (byN.size() < static_cast<size_t>(nEnd_)) ResizeUnkept(byN, static_cast<size_t>(nEnd_));
        const bool large = r_ >= kParallelRadius;
        ForBands(
            ctx, static_cast<int64_t>(sums.CountBelow(nEnd_)), large,
            [&](int64_t i0, int64_t i1) {
                sums.Evaluate(static_cast<size_t>(i0), static_cast<size_t>(i1), byN.data(),
                              profile);
            },
            kDistanceBand);
        ForBands(
            ctx, HandOutBlocks(), large,
            [&](int64_t k0, int64_t k1) { HandOut(byN.data(), k0, k1, toValue); }, 1);
    }

    // The steps of Fill, for callers that share them out themselves: the squared distances
    // of the classes lie below DistanceCount() (at most r^2 + 1), and the values are handed
    // out in HandOutBlocks() blocks of squared distances, which write disjoint entries.
    int64_t DistanceCount() const { return nEnd_; }
    int64_t HandOutBlocks() const { return (nEnd_ + kHandOutBlock - 1) / kHandOutBlock; }

    // The blocks k0 <= k < k1 of squared distances, one at a time, as HandOutQuadrant.
    template <typename Profiled, typename ToValue>
    void HandOut(const Profiled* byN, int64_t k0, int64_t k1, ToValue& toValue) {
        const int64_t rows = static_cast<int64_t>(last_.size());
        for (int64_t nLo = k0 * kHandOutBlock; nLo < nEnd_ && nLo < k1 * kHandOutBlock;
             nLo += kHandOutBlock) {
            const int64_t nHi = nLo + kHandOutBlock;
            for (int64_t b = 0; b < rows && 2 * b * b < nHi; ++b) {
                Value* row = values_.data() + offset_[static_cast<size_t>(b)] - b;
                const int64_t b2 = b * b;
                const auto [first, end] = RunInBlock(nLo, nHi, b2);
                const int64_t last = std::min<int64_t>(last_[static_cast<size_t>(b)], end - 1);
                for (int64_t a = std::max(b, first); a <= last; ++a) {
                    row[a] = toValue(byN[static_cast<size_t>(a * a + b2)]);
                }
            }
        }
    }

    // A quadrant table (see Reset) of the same disc as classes, value(class value) each, in
    // bands of rows on the context's threads (a brush whose profile is drawn anew on every
    // redraw makes one each time).
    template <typename Other, typename Pick>
    void QuadrantFrom(const DiscClasses<Other>& classes, RenderContext* ctx, Pick&& value) {
        Reset(classes.width_, classes.height_, classes.cx_, classes.cy_, classes.r_, true);
        const auto rows = static_cast<int64_t>(extent_.size());
        ForBands(ctx, rows, r_ >= kParallelRadius, [&](int64_t dy0, int64_t dy1) {
            for (int64_t dy = dy0; dy < dy1; ++dy) {
                Value* row = values_.data() + quadOffset_[static_cast<size_t>(dy)];
                const int64_t count =
                    quadOffset_[static_cast<size_t>(dy) + 1] - quadOffset_[static_cast<size_t>(dy)];
                for (int64_t dx = 0; dx < count; ++dx) {
                    row[dx] = value(classes.At(std::max(dx, dy), std::min(dx, dy)));
                }
            }
        });
    }

    // HandOut for a quadrant table, the blocks k0 <= k < k1 of squared distances. A large
    // disc's values are read one block at a time, so the block stays in cache: the reads of
    // a row are far apart in n, and a row's entries within one block are a run of dx.
    // Threads share a disc out by blocks, not rows, for the same reason.
    template <typename Profiled>
    void HandOutQuadrant(const Profiled* byN, int64_t k0, int64_t k1) {
        const int64_t rows = static_cast<int64_t>(extent_.size());
        for (int64_t nLo = k0 * kHandOutBlock; nLo < nEnd_ && nLo < k1 * kHandOutBlock;
             nLo += kHandOutBlock) {
            const int64_t nHi = nLo + kHandOutBlock;
            for (int64_t dy = 0; dy < rows && dy * dy < nHi; ++dy) {
                Value* row = values_.data() + quadOffset_[static_cast<size_t>(dy)];
                const int64_t count =
                    quadOffset_[static_cast<size_t>(dy) + 1] - quadOffset_[static_cast<size_t>(dy)];
                const int64_t dy2 = dy * dy;
                const auto [first, end] = RunInBlock(nLo, nHi, dy2);
                const int64_t stop = std::min(count, end);
                for (int64_t dx = first; dx < stop; ++dx) {
                    row[dx] = byN[static_cast<size_t>(dx * dx + dy2)];
                }
            }
        }
    }

    // Sets every pixel of the rows y0 <= y < y1 that the disc does not cover to value.
    template <typename Pixel>
    void FillOutside(Pixel* pixels, int64_t y0, int64_t y1, const Pixel& value) const {
        int64_t next = y0;  // the first row not yet filled
        ForEachRow(y0, y1, [&](int64_t y, int64_t, int64_t x0, int64_t x1) {
            std::fill(pixels + next * width_, pixels + y * width_ + x0, value);
            std::fill(pixels + y * width_ + x1 + 1, pixels + (y + 1) * width_, value);
            next = y + 1;
        });
        std::fill(pixels + next * width_, pixels + y1 * width_, value);
    }

    // Paint from a quadrant table: the same pixels, values and order.
    template <typename Pixel, typename Op>
    void PaintQuadrant(Pixel* pixels, int64_t y0, int64_t y1, Op&& op) const {
        ForEachRow(y0, y1, [&](int64_t y, int64_t dy, int64_t x0, int64_t x1) {
            const Value* q = values_.data() + quadOffset_[static_cast<size_t>(dy)];
            Pixel* row = pixels + y * width_ + cx_;
            for (int64_t k = cx_ - x0; k >= 1; --k) op(row[-k], q[k]);
            for (int64_t k = std::max<int64_t>(x0 - cx_, 0); k <= x1 - cx_; ++k) op(row[k], q[k]);
        });
    }

    // Asks for the table entries PaintQuadrant(pixels, y0, y1, op) will read to be brought
    // into this core's cache.
    void PrefetchQuadrant(int64_t y0, int64_t y1) const {
        ForEachRow(y0, y1, [&](int64_t, int64_t dy, int64_t x0, int64_t x1) {
            const Value* q = values_.data() + quadOffset_[static_cast<size_t>(dy)];
            PrefetchLines<0>(q, q + std::max<int64_t>(cx_ - x0, x1 - cx_) + 1);
        });
    }

    // Calls op(pixel, value) for every pixel of the disc in the image rows y0 <= y < y1, row
    // by row, left to right. Where |dx| >= dy the classes of a row lie side by side in the
    // table; in the middle of the row (|dx| < dy) each pixel finds its own table row.
    template <typename Pixel, typename Op>
    void Paint(Pixel* pixels, int64_t y0, int64_t y1, Op&& op) const {
        ForEachRow(y0, y1, [&](int64_t y, int64_t dy, int64_t x0, int64_t x1) {
            Pixel* row = pixels + y * width_;
            // The classes (dx, dy) for dx >= dy, indexed by dx.
            const Value* outer = dy < static_cast<int64_t>(last_.size())
                                     ? values_.data() + offset_[static_cast<size_t>(dy)] - dy
                                     : nullptr;
            const int64_t leftEnd = std::min(x1, int64_t{cx_} - std::max<int64_t>(dy, 1));
            for (int64_t x = x0; x <= leftEnd; ++x) op(row[x], outer[cx_ - x]);
            const int64_t midEnd = std::min(x1, int64_t{cx_} + dy - 1);
            for (int64_t x = std::max(x0, int64_t{cx_} - dy + 1); x <= midEnd; ++x) {
                const int64_t dx = x > cx_ ? x - cx_ : cx_ - x;
                op(row[x], At(dy, dx));
            }
            for (int64_t x = std::max(x0, int64_t{cx_} + dy); x <= x1; ++x) {
                op(row[x], outer[x - cx_]);
            }
        });
    }

    bool Empty() const { return extent_.empty(); }

    // PrefetchForWrite of the values' storage.
    void PrefetchValuesForWrite() const { PrefetchForWrite(values_.data(), values_.size()); }

    // The values' storage, to serve another disc.
    Table<Value> TakeValues() { return std::exchange(values_, Table<Value>()); }
    void GiveValues(Table<Value>&& values) { values_ = std::move(values); }

    // Whether pred holds for every value, in bands on the context's threads.
    template <typename Pred>
    bool AllValues(RenderContext* ctx, Pred&& pred) const {
        constexpr int64_t kValuesPerBand = int64_t{1} << 14;
        std::atomic<bool> all = true;
        ForBands(
            ctx, static_cast<int64_t>(values_.size()), r_ >= kParallelRadius,
            [&](int64_t i0, int64_t i1) {
                if (all.load(std::memory_order_relaxed) &&
                    !std::all_of(values_.begin() + i0, values_.begin() + i1, pred)) {
                    all = false;
                }
            },
            kValuesPerBand);
        return all;
    }

  private:
    template <typename>
    friend class DiscClasses;

    int64_t Extent(int64_t dy) const { return extent_[static_cast<size_t>(dy)]; }

    // The old values are never read again; growing storage keeps the vector's headroom,
    // which the next, larger disc often fits in.
    void SizeValues(int64_t count) { ResizeUnkept(values_, static_cast<size_t>(count)); }

    // fn(y, dy, x0, x1) for every image row y0 <= y < y1 the disc reaches, top to bottom:
    // dy = |y - cy|, and x0 <= x <= x1 the disc's columns within the image.
    template <typename Fn>
    void ForEachRow(int64_t y0, int64_t y1, Fn&& fn) const {
        const int64_t first = std::max<int64_t>(y0, int64_t{cy_} - r_);
        const int64_t end = std::min<int64_t>(y1, int64_t{cy_} + r_ + 1);
        for (int64_t y = first; y < end; ++y) {
            const int64_t dy = y > cy_ ? y - cy_ : cy_ - y;
            if (dy >= static_cast<int64_t>(extent_.size())) continue;
            const int64_t reach = Extent(dy);
            if (reach < 0) continue;
            fn(y, dy, std::max<int64_t>(0, int64_t{cx_} - reach),
               std::min<int64_t>(int64_t{width_} - 1, int64_t{cx_} + reach));
        }
    }
    const Value& At(int64_t a, int64_t b) const {
        return values_[static_cast<size_t>(offset_[static_cast<size_t>(b)] + a - b)];
    }

    int32_t cx_ = 0, cy_ = 0, r_ = 0, width_ = 0, height_ = 0;
    std::vector<int32_t> extent_;
    std::vector<int32_t> last_;
    std::vector<int64_t> offset_;
    Table<Value> values_;
    std::vector<int64_t> quadOffset_;  // row dy of a quadrant table, when there is one
    int64_t nEnd_ = 0;                 // one past the largest squared distance of a class
};

}  // namespace globeforge::pattern_detail
