// The tables a brush pattern's discs are computed in, and what fills them: storage that
// keeps its pages between redraws, the sums of two squares a disc's distances come from, and
// the banding that shares the work among the context's threads.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "core/progress.h"
#include "image/pixel_block.h"

namespace globeforge::pattern_detail {

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
inline void ForBands(RenderContext* ctx, int64_t rows, bool large,
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

}  // namespace globeforge::pattern_detail
