#include "generate/patterns.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <memory>
#include <numeric>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "generate/channel_ops.h"
#include "generate/curves.h"
#include "generate/distance.h"
#include "image/pixel_block.h"

namespace globeforge {

namespace {

template <typename T>
using Table = std::vector<T, PixelBlockAllocator<T>>;

// Sizes a table whose entries are all written before they are read: one that must grow
// keeps nothing, so its old entries are not copied into the new block (at 2048 x 1024 such
// copies were about 15 ms of the render's thread). It grows as resize would, with headroom.
template <typename T>
void ResizeUnkept(Table<T>& table, size_t count) {
    if (count > table.capacity()) {
        const size_t grown = std::max(count, 2 * table.size());
        table.clear();
        table.reserve(grown);
    }
    table.resize(count);
}

// Rows per band of the pattern passes, and the smallest disc worth handing to the pool.
constexpr int64_t kPatternBandRows = 8;
constexpr int32_t kParallelRadius = 24;
constexpr int64_t kDistanceBand = 512;

// Asks for every cache line of the bytes [begin, end) to be brought into this core's cache,
// for writing when kWrite is 1.
template <int kWrite>
void PrefetchLines(const void* begin, const void* end) {
    constexpr uintptr_t kLine = 64;
    const auto stop = reinterpret_cast<uintptr_t>(end);
    for (uintptr_t a = reinterpret_cast<uintptr_t>(begin) & ~(kLine - 1); a < stop; a += kLine) {
        __builtin_prefetch(reinterpret_cast<const void*>(a), kWrite);
    }
}

// Asks for the count entries from data on to be brought into this core's cache for writing,
// when they fit it: lines that another core holds are otherwise taken back one by one as
// they are written, each a wait of its own.
template <typename T>
void PrefetchForWrite(const T* data, size_t count) {
    constexpr size_t kMostBytes = size_t{256} << 10;
    if (count * sizeof(T) <= kMostBytes) PrefetchLines<1>(data, data + count);
}

// Runs fn over bands of rows, on the context's threads when there is one and the work is
// large enough to share.
void ForBands(RenderContext* ctx, int64_t rows, bool large,
              const std::function<void(int64_t, int64_t)>& fn,
              int64_t bandRows = kPatternBandRows) {
    if (ctx && large) {
        ParallelForBands(*ctx, rows, bandRows, fn);
    } else if (rows > 0) {
        fn(0, rows);
    }
}

// Every sum of two squares a^2 + b^2 up to a limit, ascending, once each, with its square
// root: a disc whose classes are not clipped by the image has exactly the squared distances
// of this list up to r^2, so a carving evaluates its domes from the list instead of marking
// and scanning every integer below r^2 for each dome. A clipped dome also evaluates the
// distances it lacks; their values are written and never read.
class SquareSums {
  public:
    // Extends the list to every sum up to nMax.
    void Reach(int64_t nMax) {
        if (nMax <= reached_) return;
        std::vector<uint8_t> marks(static_cast<size_t>(nMax) + 1, 0);
        for (int64_t a = 0; a * a <= nMax; ++a) {
            for (int64_t b = 0; b <= a && a * a + b * b <= nMax; ++b) {
                marks[static_cast<size_t>(a * a + b * b)] = 1;
            }
        }
        sums_.clear();
        roots_.clear();
        for (int64_t n = 0; n <= nMax; ++n) {
            if (!marks[static_cast<size_t>(n)]) continue;
            sums_.push_back(n);
            roots_.push_back(std::sqrt(static_cast<double>(n)));
        }
        reached_ = nMax;
    }

    // How many listed sums lie below nEnd.
    size_t CountBelow(int64_t nEnd) const {
        return static_cast<size_t>(std::lower_bound(sums_.begin(), sums_.end(), nEnd) -
                                   sums_.begin());
    }

    // byN[n] = the profile's float at sqrt(n) for the listed n from the i0-th to before the
    // i1-th: profile(d, out, count) gives count of them at once.
    template <typename Profile>
    void Evaluate(size_t i0, size_t i1, float* byN, Profile& profile) const {
        constexpr size_t kBatch = 256;
        float values[kBatch];
        for (size_t i = i0; i < i1; i += kBatch) {
            const size_t k = std::min(kBatch, i1 - i);
            profile(roots_.data() + i, values, k);
            for (size_t j = 0; j < k; ++j) byN[static_cast<size_t>(sums_[i + j])] = values[j];
        }
    }

  private:
    int64_t reached_ = -1;
    std::vector<int64_t> sums_;
    std::vector<double> roots_;
};

// How many squared distances' values a table is handed out from at a time (128 KB of floats).
constexpr int64_t kHandOutBlock = int64_t{1} << 15;

// The largest s with s^2 <= m, for m >= 0.
inline int64_t FloorSqrt(int64_t m) {
    auto s = static_cast<int64_t>(std::sqrt(static_cast<double>(m)));
    while (s * s > m) --s;
    while ((s + 1) * (s + 1) <= m) ++s;
    return s;
}

// The t >= 0 with nLo <= t^2 + s2 < nHi, as [first, end): a table row's entries within one
// block of squared distances (s2 < nHi).
inline std::pair<int64_t, int64_t> RunInBlock(int64_t nLo, int64_t nHi, int64_t s2) {
    return {nLo <= s2 ? 0 : FloorSqrt(nLo - s2 - 1) + 1, FloorSqrt(nHi - 1 - s2) + 1};
}

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

// What the centred disc of a brush depends on: its profile and the brush.
struct DiscKey {
    bool ring;
    uint64_t parameterBits;  // the bias or exponent
    int32_t width, height;
    bool useR, useG, useB;
    friend bool operator==(const DiscKey&, const DiscKey&) = default;
};

// One random dome of a carving: its draws, then its classes and their values. Its profile
// values per squared distance n lie at byN[at + n].
struct CarvedDome {
    int32_t cx = 0, cy = 0, r = 0;
    double e = 0;
    DiscClasses<float> disc;
    bool carved = false;
    size_t at = 0;
};

// What a carving needs besides the image; kept between the carvings of a render, so that
// redrawing a brush does not allocate (and fault in) fresh tables every time.
struct Carving {
    std::vector<CarvedDome> domes;
    SquareSums sums;
    Table<float> byN;
    Table<float> plane;
    // The storage of large domes' tables, largest last, for the next large domes: a fresh
    // table above glibc's mmap threshold (32 MB, reached by 16K brushes) is faulted in page
    // by page every time.
    std::vector<Table<float>> spareTables;

    // Keeps the largest of the spare tables and table within kKeptTableBytes.
    void KeepTable(Table<float>&& table);
};

// What the large domes' spare tables may hold between carvings.
constexpr size_t kKeptTableBytes = size_t{128} << 20;

void Carving::KeepTable(Table<float>&& table) {
    if (table.capacity() == 0) return;
    spareTables.push_back(std::move(table));
    std::sort(
        spareTables.begin(), spareTables.end(),
        [](const Table<float>& a, const Table<float>& b) { return a.capacity() < b.capacity(); });
    size_t bytes = 0;
    for (size_t k = spareTables.size(); k-- > 0;) {
        bytes += spareTables[k].capacity() * sizeof(float);
        if (bytes > kKeptTableBytes) {
            spareTables.erase(spareTables.begin(),
                              spareTables.begin() + static_cast<ptrdiff_t>(k + 1));
            break;
        }
    }
}

// The last centred disc computed in a render: the brushes of a pass mostly share one, so a
// redraw usually finds it here and only the carving remains. Also the carving's tables.
// Which channel a carving can work on alone, in a plane of one float per pixel
// (PlaneChannelOf).
enum class PlaneChannel { None, Gray, R, G, B };

// A disc pixel's value in a plane of the channel (Gray takes R, which equals G and B).
float PlaneValue(PlaneChannel channel, const FloatPixel& p) {
    return channel == PlaneChannel::G ? p.G : channel == PlaneChannel::B ? p.B : p.R;
}

// Whether the pixel's channels other than the plane's are all +0 (Gray has none other).
bool OthersZero(PlaneChannel channel, const FloatPixel& p) {
    const auto zero = [](float v) { return std::bit_cast<uint32_t>(v) == 0; };
    return channel == PlaneChannel::Gray ||
           ((channel == PlaneChannel::R || zero(p.R)) &&
            (channel == PlaneChannel::G || zero(p.G)) && (channel == PlaneChannel::B || zero(p.B)));
}

struct PatternMemo {
    std::optional<DiscKey> key;
    std::optional<DiscClasses<FloatPixel>> disc;
    bool discFilled = false;                  // disc holds the current key's classes
    std::optional<PlaneChannel> channel;      // of the disc, once asked
    std::optional<DiscClasses<float>> plane;  // the disc's carved channel, as a quadrant
    bool planeMade = false;                   // plane is of the current disc
    Carving carving;
    // The image of the innermost DeferredBrush; the image whose pixels are still only in
    // carving.plane (clipped), and the plane's channel.
    const FloatImage* deferred = nullptr;
    FloatImage* pending = nullptr;
    PlaneChannel pendingChannel = PlaneChannel::None;
};

PatternMemo& MemoOf(RenderContext& ctx) {
    if (!ctx.patternMemo) ctx.patternMemo = std::make_shared<PatternMemo>();
    return *static_cast<PatternMemo*>(ctx.patternMemo.get());
}

// The pixel of the centred disc whose profile value is f.
FloatPixel DiscPixel(const DiscKey& key, float f) {
    const FloatPixel pixel{key.useR ? f : 0.0f, key.useG ? f : 0.0f, key.useB ? f : 0.0f, f};
    // A pixel with alpha 0 (on the rim) is skipped by the blend: it stays black.
    return pixel.A == 0.0f ? kOpaqueBlack : BlendPixel(kOpaqueBlack, pixel, BlendMode::Norm);
}

// The classes of the centred disc of radius Width div 2 whose value at distance d is the
// profile's float (profile.Floats for many distances), laid on opaque black with the Norm
// blend: every disc pixel is still opaque black when its class is blended, so the blend is
// computed once per class. The brushes of a pass mostly share one disc, so a redraw usually
// finds it in the render's memo; without a context it is made in local.
template <typename Profile>
const DiscClasses<FloatPixel>& CentredDisc(const FloatImage& image, const DiscKey& key,
                                           RenderContext* ctx, Profile&& profile,
                                           std::optional<DiscClasses<FloatPixel>>& local) {
    PatternMemo* memo = ctx ? &MemoOf(*ctx) : nullptr;
    if (memo && memo->key == key && memo->discFilled) return *memo->disc;
    auto& slot = memo ? memo->disc : local;
    if (memo && memo->key != key) {
        memo->key.reset();
        memo->channel.reset();
        memo->planeMade = false;
    }
    if (memo) memo->discFilled = false;
    // A disc of the last key keeps its storage for the new one: at 16K a disc's tables are
    // hundreds of MB, which a fresh allocation would fault in page by page on every redraw
    // whose profile differs.
    if (slot) {
        slot->Reset(image.Width, image.Height, image.Width / 2, image.Height / 2, image.Width / 2);
    } else {
        slot.emplace(image.Width, image.Height, image.Width / 2, image.Height / 2, image.Width / 2);
    }
    SquareSums localSums;
    Table<float> localValues;
    slot->Fill(
        ctx, memo ? memo->carving.sums : localSums, memo ? memo->carving.byN : localValues,
        [&](const double* d, float* out, size_t count) { profile.Floats(d, out, count); },
        [&](float f) { return DiscPixel(key, f); });
    if (memo) {
        memo->key = key;
        memo->discFilled = true;
    }
    return *slot;
}

// For a carving in a plane, the centred disc's plane made straight from its values by
// squared distance, without its classes in full colour (which only the plane would read),
// as QuadrantFrom would make it: true when the memo then holds the key's plane and its
// channel. The channel test looks at the value of every listed squared distance the disc
// reaches, the classes' ones among them, so it may refuse a disc PlaneChannelOf would
// accept (the caller then takes the classes' way), never the reverse.
template <typename Profile>
bool PlaneStraight(const FloatImage& image, const DiscKey& key, RenderContext& ctx,
                   const Profile& profile) {
    PatternMemo& memo = MemoOf(ctx);
    if (memo.key == key) {
        return memo.planeMade && memo.channel && *memo.channel != PlaneChannel::None;
    }
    const int picks = (key.useR ? 1 : 0) + (key.useG ? 1 : 0) + (key.useB ? 1 : 0);
    if (picks == 2 || picks == 0) return false;
    const PlaneChannel channel = picks == 3 ? PlaneChannel::Gray
                                 : key.useR ? PlaneChannel::R
                                 : key.useG ? PlaneChannel::G
                                            : PlaneChannel::B;
    memo.key.reset();
    memo.channel.reset();
    memo.planeMade = false;
    memo.discFilled = false;
    if (!memo.plane) memo.plane.emplace();
    DiscClasses<float>& plane = *memo.plane;
    const int32_t r = image.Width / 2;
    plane.Reset(image.Width, image.Height, r, image.Height / 2, r, true);
    const int64_t nEnd = plane.DistanceCount();
    SquareSums& sums = memo.carving.sums;
    Table<float>& byN = memo.carving.byN;
    sums.Reach(nEnd - 1);
    if (byN.size() < static_cast<size_t>(nEnd)) ResizeUnkept(byN, static_cast<size_t>(nEnd));
    const bool large = r >= kParallelRadius;
    const auto listed = static_cast<int64_t>(sums.CountBelow(nEnd));
    std::atomic<bool> refused = false;
    // Each profile value goes into byN as its disc pixel's value in the plane.
    const auto value = [&](const double* d, float* out, size_t count) {
        profile.Floats(d, out, count);
        bool others = false;
        for (size_t i = 0; i < count; ++i) {
            const FloatPixel p = DiscPixel(key, out[i]);
            others |= !OthersZero(channel, p);
            out[i] = PlaneValue(channel, p);
        }
        if (others) refused.store(true, std::memory_order_relaxed);
    };
    ForBands(
        &ctx, listed, large,
        [&](int64_t i0, int64_t i1) {
            sums.Evaluate(static_cast<size_t>(i0), static_cast<size_t>(i1), byN.data(), value);
        },
        kDistanceBand);
    if (refused.load(std::memory_order_relaxed)) return false;
    ForBands(
        &ctx, plane.HandOutBlocks(), large,
        [&](int64_t k0, int64_t k1) { plane.HandOutQuadrant(byN.data(), k0, k1); }, 1);
    memo.key = key;
    memo.channel = channel;
    memo.planeMade = true;
    return true;
}

// Opaque black with the centred disc on it.
void PaintCentredDisc(FloatImage& image, const DiscClasses<FloatPixel>& disc, RenderContext* ctx) {
    ForBands(ctx, image.Height, image.Width / 2 >= kParallelRadius, [&](int64_t y0, int64_t y1) {
        std::fill(image.Row(static_cast<int32_t>(y0)), image.Row(static_cast<int32_t>(y1)),
                  kOpaqueBlack);
        disc.Paint(image.Data(), y0, y1, [](FloatPixel& p, const FloatPixel& v) { p = v; });
    });
}

// Which channel a carving can work on alone, in a plane of one float per pixel: all three
// when they are chosen (the disc's R, G and B are equal bit for bit, and carving and
// clipping treat them alike), or the one chosen channel when the disc's other channels are
// +0 everywhere (so carving and clipping leave them +0). A then takes the carved value.
PlaneChannel PlaneChannelOf(bool useR, bool useG, bool useB, const DiscClasses<FloatPixel>& disc,
                            RenderContext* ctx) {
    if (useR && useG && useB) return PlaneChannel::Gray;
    const auto others = [&](PlaneChannel c) {
        return disc.AllValues(ctx, [&](const FloatPixel& p) { return OthersZero(c, p); });
    };
    if (useR && !useG && !useB && others(PlaneChannel::R)) return PlaneChannel::R;
    if (!useR && useG && !useB && others(PlaneChannel::G)) return PlaneChannel::G;
    if (!useR && !useG && useB && others(PlaneChannel::B)) return PlaneChannel::B;
    return PlaneChannel::None;
}

// A carved plane's rows y0 <= y < y1 clipped below 0 and written into the image.
template <PlaneChannel kChannel>
void ExpandPlane(const float* plane, FloatImage& image, int64_t y0, int64_t y1) {
    const size_t end = static_cast<size_t>(y1) * image.Width;
    FloatPixel* out = image.Data();
    for (size_t i = static_cast<size_t>(y0) * image.Width; i < end; ++i) {
        const float v = plane[i] < 0.0f ? 0.0f : plane[i];
        if constexpr (kChannel == PlaneChannel::R) {
            out[i] = {v, 0.0f, 0.0f, v};
        } else if constexpr (kChannel == PlaneChannel::G) {
            out[i] = {0.0f, v, 0.0f, v};
        } else if constexpr (kChannel == PlaneChannel::B) {
            out[i] = {0.0f, 0.0f, v, v};
        } else {
            out[i] = {v, v, v, v};
        }
    }
}

// A carved plane's rows y0 <= y < y1 clipped below 0 in place: the values ExpandPlane writes.
void ClipPlane(float* plane, int32_t width, int64_t y0, int64_t y1) {
    const size_t end = static_cast<size_t>(y1) * width;
    // Every value stored, so the loop runs in vectors; -0 and NaN are kept, as the test
    // keeps them.
    for (size_t i = static_cast<size_t>(y0) * width; i < end; ++i) {
        plane[i] = plane[i] < 0.0f ? 0.0f : plane[i];
    }
}

void ExpandPlane(const float* plane, FloatImage& image, PlaneChannel channel, int64_t y0,
                 int64_t y1) {
    switch (channel) {
        case PlaneChannel::R:
            return ExpandPlane<PlaneChannel::R>(plane, image, y0, y1);
        case PlaneChannel::G:
            return ExpandPlane<PlaneChannel::G>(plane, image, y0, y1);
        case PlaneChannel::B:
            return ExpandPlane<PlaneChannel::B>(plane, image, y0, y1);
        default:
            return ExpandPlane<PlaneChannel::Gray>(plane, image, y0, y1);
    }
}

// Calls fn.template operator()<useR, useG, useB>() with the flags as constants, so the pixel
// loops test no flag per pixel.
template <typename Fn>
void WithChannels(bool useR, bool useG, bool useB, Fn&& fn) {
    switch ((useR ? 4 : 0) | (useG ? 2 : 0) | (useB ? 1 : 0)) {
        case 0:
            return fn.template operator()<false, false, false>();
        case 1:
            return fn.template operator()<false, false, true>();
        case 2:
            return fn.template operator()<false, true, false>();
        case 3:
            return fn.template operator()<false, true, true>();
        case 4:
            return fn.template operator()<true, false, false>();
        case 5:
            return fn.template operator()<true, false, true>();
        case 6:
            return fn.template operator()<true, true, false>();
        default:
            return fn.template operator()<true, true, true>();
    }
}

// Clips the colour channels below 0 and copies the last chosen channel into A, in the rows
// y0 <= y < y1.
template <bool kR, bool kG, bool kB>
void ClipAndCopyAlpha(FloatImage& image, int64_t y0, int64_t y1) {
    FloatPixel* p = image.Row(static_cast<int32_t>(y0));
    const size_t n = static_cast<size_t>(y1 - y0) * image.Width;
    for (size_t i = 0; i < n; ++i) {
        if (p[i].R < 0.0f) p[i].R = 0.0f;
        if (p[i].G < 0.0f) p[i].G = 0.0f;
        if (p[i].B < 0.0f) p[i].B = 0.0f;
        if constexpr (kB) {
            p[i].A = p[i].B;
        } else if constexpr (kG) {
            p[i].A = p[i].G;
        } else if constexpr (kR) {
            p[i].A = p[i].R;
        }
    }
}

// The domes of one carving are computed side by side, and every band of rows then
// subtracts them in the drawn order, so each pixel sees the same subtractions as one dome
// after the other would give it. They go in groups whose tables stay within this many
// squared distances (64 MB of values), which bounds the memory a large brush needs
// at once; each dome of a group is worked out on one thread, so a group must hold several
// domes even of an 8K brush for the threads to share them (a 16K brush's largest domes
// fill a group alone, and are shared out by themselves).
constexpr size_t kCarveGroupArea = size_t{1} << 24;
// The smallest dome worth sharing out among threads by itself.
constexpr int32_t kSharedDomeRadius = 256;
// A dome table larger than this radius is not kept for the next carving.
constexpr int32_t kKeptRadius = 512;
// Values by squared distance kept for the next carving or centred disc: a 16K brush's
// disc needs just over kCarveGroupArea of them.
constexpr size_t kKeptValues = size_t{1} << 25;

// With a base disc and a plane channel, the image's content is not read: the disc is laid
// into a plane of the chosen channel band by band, carved there and written out at the
// clip, so the image is written once instead of passed over by every dome.
void Carve(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double bias,
           Lcg32& rng, RenderContext* ctx, const DiscClasses<float>* base = nullptr,
           PlaneChannel channel = PlaneChannel::None) {
    if (count == 0) return;
    const int32_t w = image.Width;
    const int32_t h = image.Height;
    Carving local;
    Carving& carving = ctx ? MemoOf(*ctx).carving : local;
    std::vector<CarvedDome>& domes = carving.domes;
    domes.resize(static_cast<size_t>(std::max(count, 0)));
    const bool planed = base != nullptr && channel != PlaneChannel::None;
    // Every pixel of the plane is written before it is read (an image still waiting in it was
    // written out before this carving began).
    if (planed) ResizeUnkept(carving.plane, static_cast<size_t>(w) * static_cast<size_t>(h));
    // Under a DeferredBrush the clipped plane is kept in place of the image.
    const bool defer = planed && ctx && MemoOf(*ctx).deferred == &image;
    for (CarvedDome& dome : domes) {
        // Draws, in this order: cx, cy, r, e.
        dome.cx = rng.Random(w);
        dome.cy = rng.Random(h);
        const int32_t rDrawn = rng.Random(w / 2);
        dome.r = rDrawn == 0 ? 1 : rDrawn;
        dome.e = static_cast<double>(static_cast<Extended>(rng.RandomReal()) * bias);
    }
    std::vector<size_t> order;
    size_t groupEnd = 0;
    for (size_t groupStart = 0;; groupStart = groupEnd) {
        // A dome's squared distances are at most r^2.
        size_t room = 0;
        int32_t rMax = 0;
        for (groupEnd = groupStart; groupEnd < domes.size(); ++groupEnd) {
            CarvedDome& dome = domes[groupEnd];
            const size_t distances = static_cast<size_t>(int64_t{dome.r} * dome.r + 1);
            if (groupEnd > groupStart && room + distances > kCarveGroupArea) break;
            dome.at = room;
            room += distances;
            rMax = std::max(rMax, dome.r);
        }
        const bool large = rMax >= kParallelRadius;
        const auto group = std::span(domes).subspan(groupStart, groupEnd - groupStart);
        if (carving.byN.size() < room) ResizeUnkept(carving.byN, room);
        carving.sums.Reach(int64_t{rMax} * rMax);
        // Domes are clipped at the edges, not wrapped. Each dome is worked out on one
        // thread, its profile values and its table one after the other while
        // they are in cache; the largest first, so that the last to finish are small.
        order.resize(group.size());
        std::iota(order.begin(), order.end(), size_t{0});
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return group[a].r > group[b].r; });
        // The largest spare tables go to the largest domes.
        for (const size_t k : order) {
            if (carving.spareTables.empty() || group[k].r <= kKeptRadius) break;
            group[k].disc.GiveValues(std::move(carving.spareTables.back()));
            carving.spareTables.pop_back();
        }
        // A dome's classes, profile values and table; the values and the table in
        // bands of the context's threads when shared, else on the calling thread.
        const auto workOut = [&](CarvedDome& dome, bool shared) {
            dome.disc.Reset(w, h, dome.cx, dome.cy, dome.r, planed);
            dome.carved = !dome.disc.Empty();
            if (!dome.carved) return;
            float* byN = carving.byN.data() + dome.at;
            // In the last carving other threads mostly wrote or read this stretch of byN and
            // this table; asked for now, their lines arrive while the profile is evaluated.
            if (!shared) {
                PrefetchForWrite(byN, static_cast<size_t>(dome.disc.DistanceCount()));
                dome.disc.PrefetchValuesForWrite();
            }
            const BiasCurve profile(255, 0, 0, dome.r, dome.e);
            const auto value = [&](const double* d, float* out, size_t values) {
                profile.Floats(d, out, values);
            };
            const auto listed =
                static_cast<int64_t>(carving.sums.CountBelow(dome.disc.DistanceCount()));
            ForBands(
                ctx, listed, shared,
                [&](int64_t i0, int64_t i1) {
                    carving.sums.Evaluate(static_cast<size_t>(i0), static_cast<size_t>(i1), byN,
                                          value);
                },
                kDistanceBand);
            const auto same = [](float v) { return v; };
            ForBands(
                ctx, dome.disc.HandOutBlocks(), shared,
                [&](int64_t k0, int64_t k1) {
                    if (planed) {
                        dome.disc.HandOutQuadrant(byN, k0, k1);
                    } else {
                        dome.disc.HandOut(byN, k0, k1, same);
                    }
                },
                1);
        };
        // A dome larger than the rest of its group together would keep one thread busy
        // while the others wait (at 16K a group often holds a single dome): such domes are
        // shared out one by one, the rest go to the threads whole.
        size_t sharedCount = 0;
        if (ctx && large) {
            size_t rest = room;
            for (const size_t k : order) {
                const size_t distances = static_cast<size_t>(int64_t{group[k].r} * group[k].r + 1);
                if (group[k].r < kSharedDomeRadius || 2 * distances <= rest) break;
                rest -= distances;
                ++sharedCount;
            }
        }
        for (size_t s = 0; s < sharedCount; ++s) workOut(group[order[s]], true);
        ForBands(
            ctx, static_cast<int64_t>(group.size() - sharedCount), large,
            [&](int64_t k0, int64_t k1) {
                for (int64_t k = k0; k < k1; ++k) {
                    workOut(group[order[sharedCount + static_cast<size_t>(k)]], false);
                }
            },
            1);
        // The SubDirect blend of (v, v, v, 255) on the chosen channels: a float minus a
        // float rounds the same whether the difference is formed in extended precision
        // first or not, and a channel that is not chosen loses +0, which keeps it. The last
        // group also clips and copies A, row band by row band.
        const bool last = groupEnd == domes.size();
        if (planed) {
            ForBands(ctx, h, large || last || groupStart == 0, [&](int64_t y0, int64_t y1) {
                float* plane = carving.plane.data();
                if (groupStart == 0) {
                    base->FillOutside(plane, y0, y1, 0.0f);
                    base->PaintQuadrant(plane, y0, y1, [](float& p, float v) { p = v; });
                }
                // A dome's table rows are asked for while the dome before it is painted:
                // with several threads most were written on another core, and each such
                // line read on demand stalls the subtraction.
                const auto carvedFrom = [&](size_t k) {
                    while (k < group.size() && !group[k].carved) ++k;
                    return k;
                };
                size_t k = carvedFrom(0);
                if (k < group.size()) group[k].disc.PrefetchQuadrant(y0, y1);
                while (k < group.size()) {
                    const size_t after = carvedFrom(k + 1);
                    if (after < group.size()) group[after].disc.PrefetchQuadrant(y0, y1);
                    group[k].disc.PaintQuadrant(plane, y0, y1,
                                                [](float& p, float v) { p = p - v; });
                    k = after;
                }
                if (last && defer) ClipPlane(plane, w, y0, y1);
                if (last && !defer) ExpandPlane(plane, image, channel, y0, y1);
            });
        } else {
            // A chosen channel's copy into A overwrites the domes' A = 255 everywhere, so
            // that store is only made when no channel is chosen.
            WithChannels(useR, useG, useB, [&]<bool kR, bool kG, bool kB>() {
                ForBands(ctx, h, large || last, [&](int64_t y0, int64_t y1) {
                    for (const CarvedDome& dome : group) {
                        if (!dome.carved) continue;
                        dome.disc.Paint(image.Data(), y0, y1, [](FloatPixel& p, float v) {
                            if constexpr (kR) p.R = p.R - v;
                            if constexpr (kG) p.G = p.G - v;
                            if constexpr (kB) p.B = p.B - v;
                            if constexpr (!kR && !kG && !kB) p.A = 255.0f;
                        });
                    }
                    if (last) ClipAndCopyAlpha<kR, kG, kB>(image, y0, y1);
                });
            });
        }
        for (CarvedDome& dome : group) {
            if (dome.r > kKeptRadius) {
                carving.KeepTable(dome.disc.TakeValues());
                dome.disc = {};
            }
        }
        if (last) break;
    }
    if (carving.byN.size() > kKeptValues) carving.byN = {};
    if (!ctx) carving.plane = {};
    if (defer) {
        MemoOf(*ctx).pending = &image;
        MemoOf(*ctx).pendingChannel = channel;
    }
}

// The ring profile: five bands, each an S-curve from its inner to its outer value.
class RingCurve {
  public:
    RingCurve(int32_t r, double exponent)
        : b1_(r * 0.2L),
          b2_(r * 0.4L),
          b3_(r * 0.6L),
          b4_(r * 0.8L),
          bounds_{DoubleAbove(b1_), DoubleAbove(b2_), DoubleAbove(b3_), DoubleAbove(b4_)},
          bands_{FixedInOutCurve(255, 128, 0, static_cast<double>(b1_), exponent),
                 FixedInOutCurve(128, 192, static_cast<double>(b1_), static_cast<double>(b2_),
                                 exponent),
                 FixedInOutCurve(192, 64, static_cast<double>(b2_), static_cast<double>(b3_),
                                 exponent),
                 FixedInOutCurve(64, 128, static_cast<double>(b3_), static_cast<double>(b4_),
                                 exponent),
                 FixedInOutCurve(128, 0, static_cast<double>(b4_), r, exponent)} {}

    // The value at distance d rounded to float.
    float Float(double d) const { return CurveAt(d).Float(d); }

    // Float for count distances, each run of distances within one curve at once (the discs
    // ask in increasing order, so the runs are long).
    void Floats(const double* d, float* out, size_t count) const {
        for (size_t i = 0; i < count;) {
            const FixedCurve& curve = CurveAt(d[i]);
            size_t end = i + 1;
            while (end < count && &CurveAt(d[end]) == &curve) ++end;
            curve.Floats(d + i, out + i, end - i);
            i = end;
        }
    }

  private:
    // The smallest double not below b: a double d is below b exactly when it is below this,
    // so the bands are found in double compares instead of extended ones.
    static double DoubleAbove(Extended b) {
        const double d = static_cast<double>(b);
        return static_cast<Extended>(d) < b ? std::nextafter(d, HUGE_VAL) : d;
    }

    const FixedCurve& CurveAt(double d) const {
        // The band bounds are extended products; a distance that equals a bound exactly
        // belongs to the outer band.
        if (d < bounds_[0]) return bands_[0].CurveAt(d);
        if (d < bounds_[1]) return bands_[1].CurveAt(d);
        if (d < bounds_[2]) return bands_[2].CurveAt(d);
        if (d < bounds_[3]) return bands_[3].CurveAt(d);
        return bands_[4].CurveAt(d);
    }

    Extended b1_, b2_, b3_, b4_;
    double bounds_[4];
    FixedInOutCurve bands_[5];
};

uint64_t Bits(double v) {
    return std::bit_cast<uint64_t>(v);
}

// The centred disc, then the carving: in a plane of one channel where the channels allow,
// else laid on the image and carved there.
// Writes the image whose pixels are still only in the carving plane, if there is one.
void WritePending(PatternMemo& memo, RenderContext& ctx) {
    FloatImage* image = memo.pending;
    if (!image) return;
    const float* plane = memo.carving.plane.data();
    ParallelForBands(ctx, image->Height, kPatternBandRows, [&](int64_t y0, int64_t y1) {
        ExpandPlane(plane, *image, memo.pendingChannel, y0, y1);
    });
    memo.pending = nullptr;
}

template <typename Profile>
void Pattern(FloatImage& image, const DiscKey& key, int32_t count, double bias, Lcg32& rng,
             RenderContext* ctx, const Profile& profile) {
    if (ctx) {
        // The plane is about to be carved again: an image still waiting in it is written
        // first, unless it is the one being drawn over.
        PatternMemo& memo = MemoOf(*ctx);
        if (memo.pending != &image) WritePending(memo, *ctx);
        memo.pending = nullptr;
    }
    if (ctx && count != 0 && PlaneStraight(image, key, *ctx, profile)) {
        PatternMemo& memo = MemoOf(*ctx);
        Carve(image, key.useR, key.useG, key.useB, count, bias, rng, ctx, &*memo.plane,
              *memo.channel);
        return;
    }
    std::optional<DiscClasses<FloatPixel>> local;
    const DiscClasses<FloatPixel>& disc = CentredDisc(image, key, ctx, profile, local);
    PlaneChannel channel = PlaneChannel::None;
    if (count != 0) {
        // The disc's channels are checked once per disc, not per redraw.
        std::optional<PlaneChannel>* kept = ctx ? &MemoOf(*ctx).channel : nullptr;
        if (kept && kept->has_value()) {
            channel = **kept;
        } else {
            channel = PlaneChannelOf(key.useR, key.useG, key.useB, disc, ctx);
            if (kept) *kept = channel;
        }
    }
    if (channel == PlaneChannel::None) {
        PaintCentredDisc(image, disc, ctx);
        Carve(image, key.useR, key.useG, key.useB, count, bias, rng, ctx);
        return;
    }
    std::optional<DiscClasses<float>> localPlane;
    std::optional<DiscClasses<float>>& plane = ctx ? MemoOf(*ctx).plane : localPlane;
    bool localMade = false;
    bool& made = ctx ? MemoOf(*ctx).planeMade : localMade;
    if (!made) {
        if (!plane) plane.emplace();
        plane->QuadrantFrom(disc, ctx,
                            [channel](const FloatPixel& v) { return PlaneValue(channel, v); });
        made = true;
    }
    Carve(image, key.useR, key.useG, key.useB, count, bias, rng, ctx, &*plane, channel);
}

void Dome(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double bias,
          Lcg32& rng, RenderContext* ctx) {
    Pattern(image, {false, Bits(bias), image.Width, image.Height, useR, useG, useB}, count, bias,
            rng, ctx, BiasCurve(255, 0, 0, image.Width / 2, bias));
}

void Ring(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double exponent,
          Lcg32& rng, RenderContext* ctx) {
    Pattern(image, {true, Bits(exponent), image.Width, image.Height, useR, useG, useB}, count,
            exponent, rng, ctx, RingCurve(image.Width / 2, exponent));
}

}  // namespace

DeferredBrush::DeferredBrush(FloatImage& brush, RenderContext& ctx) : brush_(brush), ctx_(ctx) {
    // Another brush still waiting is written before this one takes the plane over.
    PatternMemo& memo = MemoOf(ctx_);
    WritePending(memo, ctx_);
    previous_ = memo.deferred;
    memo.deferred = &brush_;
}

DeferredBrush::~DeferredBrush() {
    TakePlane(SourceLayout::General);
    MemoOf(ctx_).deferred = previous_;
}

const float* DeferredBrush::TakePlane(SourceLayout layout) {
    PatternMemo& memo = MemoOf(ctx_);
    if (memo.pending != &brush_) return nullptr;
    const PlaneChannel channel = memo.pendingChannel;
    const float* plane = memo.carving.plane.data();
    const bool serves = (layout == SourceLayout::Gray && channel == PlaneChannel::Gray) ||
                        (layout == SourceLayout::OnlyR && channel == PlaneChannel::R) ||
                        (layout == SourceLayout::OnlyG && channel == PlaneChannel::G) ||
                        (layout == SourceLayout::OnlyB && channel == PlaneChannel::B);
    if (serves) return plane;
    WritePending(memo, ctx_);
    return nullptr;
}

const float* DeferredBrush::TakeValues(SourceLayout layout, std::vector<float>& storage) {
    if (const float* plane = TakePlane(layout)) return plane;
    storage.resize(brush_.PixelCount());
    const FloatPixel* p = brush_.Data();
    for (size_t i = 0; i < storage.size(); ++i) {
        storage[i] = layout == SourceLayout::OnlyG   ? p[i].G
                     : layout == SourceLayout::OnlyB ? p[i].B
                                                     : p[i].R;
    }
    return storage.data();
}

SourceLayout PatternLayout(bool useR, bool useG, bool useB, int32_t count) {
    if (useR && useG && useB) return SourceLayout::Gray;
    if (count == 0) return SourceLayout::General;
    if (useR && !useG && !useB) return SourceLayout::OnlyR;
    if (!useR && useG && !useB) return SourceLayout::OnlyG;
    if (!useR && !useG && useB) return SourceLayout::OnlyB;
    return SourceLayout::General;
}

void CarveRandomDomes(FloatImage& image, bool useR, bool useG, bool useB, int32_t count,
                      double bias, Lcg32& rng) {
    Carve(image, useR, useG, useB, count, bias, rng, nullptr);
}

void CarveRandomDomes(FloatImage& image, bool useR, bool useG, bool useB, int32_t count,
                      double bias, RenderContext& ctx) {
    Carve(image, useR, useG, useB, count, bias, ctx.rng, &ctx);
}

void DomePattern(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double bias,
                 Lcg32& rng) {
    Dome(image, useR, useG, useB, count, bias, rng, nullptr);
}

void DomePattern(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double bias,
                 RenderContext& ctx) {
    Dome(image, useR, useG, useB, count, bias, ctx.rng, &ctx);
}

void RingPattern(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double exponent,
                 Lcg32& rng) {
    Ring(image, useR, useG, useB, count, exponent, rng, nullptr);
}

void RingPattern(FloatImage& image, bool useR, bool useG, bool useB, int32_t count, double exponent,
                 RenderContext& ctx) {
    Ring(image, useR, useG, useB, count, exponent, ctx.rng, &ctx);
}

}  // namespace globeforge
