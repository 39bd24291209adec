#include "image/stretch_plan.h"

#include <algorithm>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "exact/lerp.h"
#include "image/stretch_kernels.h"
#include "image/stretch_row_lerps.h"
#include "image/stretch_rows.h"

namespace globeforge {

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// The destination coordinate the blend writes for position v of an axis n long, or -1 when
// the write is dropped: the conversion to int32 and the wrap rule of BlendPixelAt.
int32_t DestinationCoordinate(int64_t v, int32_t n, Wrap wrap) {
    const int32_t c = static_cast<int32_t>(v);
    if (c >= 0 && c < n) return c;
    if (wrap == Wrap::Off) return -1;
    return WrapCoordinate(c, n);
}

// Calls run.template operator()<M, L, S>() with the plan's mode, layout and sampling as
// constants: one kernel per plan, fixed for all its pixels. Any other mode value runs
// nothing, which leaves every pixel as it was.
template <typename Run>
void WithKernel(BlendMode mode, SourceLayout layout, StretchSampling sampling, const Run& run) {
    const auto bySampling = [&]<BlendMode M, SourceLayout L>() {
        if (sampling == StretchSampling::Nearest) {
            run.template operator()<M, L, StretchSampling::Nearest>();
        } else {
            run.template operator()<M, L, StretchSampling::Bilinear>();
        }
    };
    const auto byLayout = [&]<BlendMode M>() {
        switch (layout) {
            case SourceLayout::Gray:
                return bySampling.template operator()<M, SourceLayout::Gray>();
            case SourceLayout::OnlyR:
                return bySampling.template operator()<M, SourceLayout::OnlyR>();
            case SourceLayout::OnlyG:
                return bySampling.template operator()<M, SourceLayout::OnlyG>();
            case SourceLayout::OnlyB:
                return bySampling.template operator()<M, SourceLayout::OnlyB>();
            case SourceLayout::General:
                return bySampling.template operator()<M, SourceLayout::General>();
        }
    };
    switch (mode) {
        case BlendMode::Add:
            return byLayout.template operator()<BlendMode::Add>();
        case BlendMode::Sub:
            return byLayout.template operator()<BlendMode::Sub>();
        case BlendMode::Norm:
            return byLayout.template operator()<BlendMode::Norm>();
        case BlendMode::AddDirect:
            return byLayout.template operator()<BlendMode::AddDirect>();
        case BlendMode::SubDirect:
            return byLayout.template operator()<BlendMode::SubDirect>();
    }
}

// Whether a kernel paints from Source into Dest: a value plane holds no general source, a
// channel plane one channel and no alpha, and gray planes take gray sources and no Norm
// (which blends three channels apart).
template <typename Source, typename Dest, BlendMode M, SourceLayout L>
constexpr bool Pairs() {
    if constexpr (std::is_same_v<Source, stretch::ValuePlane> && L == SourceLayout::General) {
        return false;
    } else if constexpr (std::is_same_v<Dest, const ChannelPlane>) {
        return std::is_same_v<Source, stretch::ValuePlane> && L != SourceLayout::Gray &&
               M != BlendMode::Norm;
    } else if constexpr (std::is_same_v<Dest, const GrayPlanes>) {
        return L == SourceLayout::Gray && M != BlendMode::Norm;
    } else {
        return true;
    }
}

}  // namespace

StretchPlan::StretchPlan(int32_t srcWidth, int32_t srcHeight, SourceLayout layout,
                         const ImageRect& srcRect, int32_t dstWidth, int32_t dstHeight,
                         const ImageRect& dstRect, Wrap wrap, BlendMode mode,
                         StretchSampling sampling)
    : layout_(layout),
      srcWidth_(srcWidth),
      srcHeight_(srcHeight),
      mode_(mode),
      sampling_(sampling),
      wrap_(wrap),
      dstWidth_(dstWidth),
      dstHeight_(dstHeight) {
    if (srcRect.W <= 0 || srcRect.H <= 0 || dstRect.W <= 0 || dstRect.H <= 0) return;
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return;
    const Extended stepX = static_cast<Extended>(srcRect.W) / dstRect.W;
    const Extended stepY = static_cast<Extended>(srcRect.H) / dstRect.H;
    const bool nearest = sampling == StretchSampling::Nearest;

    Extended sx = srcRect.X;
    for (int64_t j = 0; j < dstRect.W; ++j, sx += stepX) {
        const int32_t dst = DestinationCoordinate(int64_t{dstRect.X} + j, dstWidth, wrap);
        if (dst < 0) continue;
        if (nearest) {
            // A source position outside the source reads transparent black: no blend.
            const int32_t s = Round(sx);
            if (s < 0 || s >= srcWidth) continue;
            columns_.push_back({dst, s, s, 0.0, 1.0});
        } else {
            const BilinearTap tap = BilinearAxis(static_cast<double>(sx), srcWidth);
            columns_.push_back({dst, tap.i0, tap.i1, tap.frac, ExactRest(tap.frac)});
        }
    }
    if (columns_.empty()) return;

    rows_.reserve(static_cast<size_t>(dstRect.H));
    Extended sy = srcRect.Y;
    for (int64_t i = 0; i < dstRect.H; ++i, sy += stepY) {
        Row row{DestinationCoordinate(int64_t{dstRect.Y} + i, dstHeight, wrap), 0, 0, 0.0, 1.0};
        if (nearest) {
            const int32_t s = Round(sy);
            if (s < 0 || s >= srcHeight) row.dst = -1;
            row.src0 = row.src1 = s;
        } else {
            const BilinearTap tap = BilinearAxis(static_cast<double>(sy), srcHeight);
            row.src0 = tap.i0;
            row.src1 = tap.i1;
            row.frac = tap.frac;
            row.rest = ExactRest(tap.frac);
        }
        rows_.push_back(row);
    }
    firstRow_ = dstRect.Y;
    rowsRepeat_ = dstRect.H > srcRect.H;
    empty_ = false;
    FindSegments();
}

void StretchPlan::FindSegments() {
    // A stretch reads its source columns left to right, but a bilinear tap past the last
    // column reads the first, and a rectangle reaching past the source starts over.
    segments_.clear();
    uint32_t start = 0;
    for (size_t j = 1; j <= columns_.size(); ++j) {
        if (j < columns_.size() && columns_[j].src0 >= columns_[j - 1].src0 &&
            columns_[j].src1 >= columns_[j - 1].src1) {
            continue;
        }
        if (segments_.size() == kMaxSegments) {
            segments_.clear();
            return;
        }
        segments_.push_back({start, static_cast<uint32_t>(j)});
        start = static_cast<uint32_t>(j);
    }
}

namespace {

// The first column in [from, to) whose key is at least x, for a key that only grows along
// the columns, searched from where evenly spread keys would put it.
template <typename Key>
uint32_t FirstReaching(const StretchColumn* columns, uint32_t from, uint32_t to, int32_t x,
                       const Key& key) {
    const int64_t k0 = key(columns[from]), k1 = key(columns[to - 1]);
    uint32_t j = from;
    if (x > k0 && k1 > k0) {
        const int64_t at = from + (x - k0) * int64_t{to - 1 - from} / (k1 - k0);
        j = static_cast<uint32_t>(std::min<int64_t>(at, to));
    }
    while (j < to && key(columns[j]) < x) ++j;
    while (j > from && key(columns[j - 1]) >= x) --j;
    return j;
}

}  // namespace

size_t StretchPlan::LiveColumns(const LiveSpans& live, const Row& row, ColumnRange* out) const {
    // The spans of the one or two source rows, merged in order.
    LiveSpans::Span spans[2 * LiveSpans::kPerRow];
    const std::span<const LiveSpans::Span> upper = live.Row(row.src0);
    const std::span<const LiveSpans::Span> lower =
        row.src1 != row.src0 ? live.Row(row.src1) : std::span<const LiveSpans::Span>();
    size_t count = 0;
    for (size_t i = 0, k = 0; i < upper.size() || k < lower.size();) {
        const bool fromUpper = k == lower.size() || (i < upper.size() && upper[i].x0 < lower[k].x0);
        const LiveSpans::Span span = fromUpper ? upper[i++] : lower[k++];
        if (count > 0 && span.x0 <= spans[count - 1].x1) {
            spans[count - 1].x1 = std::max(spans[count - 1].x1, span.x1);
        } else {
            spans[count++] = span;
        }
    }
    // In a segment both taps' columns only grow, and so do the lesser and the greater of
    // them: the columns with a tap in a span lie between the first whose greater tap
    // reaches the span and the first whose lesser tap is past it.
    const auto greater = [](const Column& c) { return std::max(c.src0, c.src1); };
    const auto lesser = [](const Column& c) { return std::min(c.src0, c.src1); };
    const Column* columns = columns_.data();
    size_t n = 0;
    for (const Segment& segment : segments_) {
        for (size_t k = 0; k < count; ++k) {
            const ColumnRange range{
                FirstReaching(columns, segment.from, segment.to, spans[k].x0, greater),
                FirstReaching(columns, segment.from, segment.to, spans[k].x1, lesser)};
            if (range.from >= range.to) continue;
            // Ranges close together become one: the columns between blend nothing.
            if (n > 0 && out[n - 1].to + kJoinColumns >= range.from) {
                out[n - 1].to = std::max(out[n - 1].to, range.to);
            } else {
                out[n++] = range;
            }
        }
    }
    return n;
}

template <typename Fn>
void StretchPlan::ForEachRowInBand(int32_t y0, int32_t y1, Fn&& fn) const {
    const int64_t n = static_cast<int64_t>(rows_.size());
    const auto visit = [&](int64_t from, int64_t to) {
        for (int64_t i = std::max<int64_t>(from, 0); i < std::min(to, n); ++i) {
            const Row& row = rows_[static_cast<size_t>(i)];
            if (row.dst >= y0 && row.dst < y1) fn(row);
        }
    };
    if (firstRow_ + n - 1 > std::numeric_limits<int32_t>::max()) {
        visit(0, n);  // positions beyond int32 convert modulo 2^32: no simple pattern
        return;
    }
    if (wrap_ == Wrap::Off) {
        visit(y0 - firstRow_, y1 - firstRow_);
        return;
    }
    // Row i lands on (firstRow + i) mod H: the rows of the band come back every H rows.
    const int64_t h = dstHeight_;
    const int64_t base = y0 - firstRow_;
    const int64_t span = int64_t{y1} - y0;
    for (int64_t lo = base + (FloorDiv(-base - span, h) + 1) * h; lo < n; lo += h) {
        visit(lo, lo + span);
    }
}

StretchPlan::ColumnRuns StretchPlan::WindowRuns(int32_t x0, int32_t x1) const {
    // The runs of columns that land in the window, in plan order: each pixel there meets
    // the blends it meets in a whole row, in the same order. Kept per thread so that the
    // buffer is reused; valid until the next band.
    thread_local std::vector<std::span<const Column>> runs;
    runs.clear();
    const std::span<const Column> all(columns_);
    if (x0 <= 0 && x1 >= dstWidth_) {
        runs.push_back(all);
        return runs;
    }
    for (size_t j = 0; j < columns_.size();) {
        const auto in = [&](size_t k) { return columns_[k].dst >= x0 && columns_[k].dst < x1; };
        if (!in(j)) {
            ++j;
            continue;
        }
        size_t end = j + 1;
        while (end < columns_.size() && in(end)) ++end;
        runs.push_back(all.subspan(j, end - j));
        j = end;
    }
    return runs;
}

template <typename Source, typename Dest>
void StretchPlan::Paint(const Source& src, Dest& dst, int32_t y0, int32_t y1, ColumnRuns runs,
                        const LiveSpans* live) const {
    if (live && (segments_.empty() || live->Width() != srcWidth_ || live->Height() != srcHeight_)) {
        live = nullptr;
    }
    // Each row of the band that reaches the destination, in each run of columns, in the
    // columns whose taps may be other than zero. The columns skipped would blend nothing.
    // Rows of a stamp taller than its source read the same source rows in turn.
    ColumnRange ranges[kMaxLiveRanges];
    size_t n = 0;
    int32_t rangesSrc0 = -1, rangesSrc1 = -1;
    const auto eachRun = [&](const auto& paintRow) {
        ForEachRowInBand(y0, y1, [&](const Row& row) {
            if (row.dst < 0) return;
            const auto out = dst.Row(row.dst);
            if (!live) {
                for (const auto& columns : runs) paintRow(out, row, columns);
                return;
            }
            if (row.src0 != rangesSrc0 || row.src1 != rangesSrc1) {
                n = LiveColumns(*live, row, ranges);
                rangesSrc0 = row.src0;
                rangesSrc1 = row.src1;
            }
            for (const std::span<const Column>& columns : runs) {
                const size_t from = static_cast<size_t>(columns.data() - columns_.data());
                const size_t to = from + columns.size();
                for (size_t k = 0; k < n; ++k) {
                    const size_t lo = std::max<size_t>(from, ranges[k].from);
                    const size_t hi = std::min<size_t>(to, ranges[k].to);
                    if (lo < hi) {
                        paintRow(out, row, std::span<const Column>(columns_).subspan(lo, hi - lo));
                    }
                }
            }
        });
    };
    WithKernel(mode_, layout_, sampling_, [&]<BlendMode M, SourceLayout L, StretchSampling S>() {
        if constexpr (!Pairs<Source, Dest, M, L>()) {
            return;
        } else {
            if constexpr (std::is_same_v<Source, stretch::ValuePlane> &&
                          S == StretchSampling::Bilinear) {
                if (rowsRepeat_) {
                    // Kept per thread so that its buffers are reused; valid for one plan.
                    thread_local stretch::RowLerpCache cache;
                    cache.Forget();
                    eachRun([&](auto out, const Row& row, std::span<const Column> columns) {
                        stretch::PaintRowLerps<M, L>(src, out, row, columns, cache);
                    });
                    return;
                }
            }
            eachRun([&](auto out, const Row& row, std::span<const Column> columns) {
                stretch::PaintRow<M, L, S>(src, out, row, columns);
            });
        }
    });
}

void StretchPlan::PaintScalar(const ScalarImage& src, ScalarImage& dst, int32_t y0, int32_t y1,
                              ColumnRuns runs) const {
    ForEachRowInBand(y0, y1, [&](const Row& row) {
        if (row.dst < 0) return;
        const float* in0 = src.Row(row.src0);
        const float* in1 = src.Row(row.src1);
        float* out = dst.Row(row.dst);
        const Extended ty1 = row.frac;
        const Extended ty0 = 1.0L - ty1;
        for (const std::span<const Column>& columns : runs) {
            for (const Column& c : columns) {
                // LerpPixel of opaque gray pixels, then the AddDirect blend (see BlendInto).
                const Extended tx1 = c.frac;
                const Extended tx0 = 1.0L - tx1;
                const float top = static_cast<float>(tx1 * in0[c.src1] + tx0 * in0[c.src0]);
                const float bottom = static_cast<float>(tx1 * in1[c.src1] + tx0 * in1[c.src0]);
                out[c.dst] = out[c.dst] + static_cast<float>(ty1 * bottom + ty0 * top);
            }
        }
    });
}

void StretchPlan::PaintBand(StretchSource src, StretchTarget dst, int32_t y0, int32_t y1,
                            int32_t x0, int32_t x1) const {
    if (empty_) return;
    const ColumnRuns runs = WindowRuns(x0, x1);
    std::visit(
        [&](auto from, auto into) {
            constexpr bool kScalarFrom = std::is_same_v<decltype(from), const ScalarImage*>;
            constexpr bool kScalarInto = std::is_same_v<decltype(into), ScalarImage*>;
            if constexpr (kScalarFrom || kScalarInto) {
                // Gray images pair with gray images only.
                if constexpr (kScalarFrom && kScalarInto) PaintScalar(*from, *into, y0, y1, runs);
            } else {
                // The destination image, or a view (const, its pixels not).
                auto& dest = [&]() -> auto& {
                    if constexpr (std::is_pointer_v<decltype(into)>) {
                        return *into;
                    } else {
                        return std::as_const(into);
                    }
                }
                ();
                if constexpr (std::is_same_v<decltype(from), const float*>) {
                    Paint(stretch::ValuePlane{from, srcWidth_}, dest, y0, y1, runs, src.live_);
                } else {
                    Paint(*from, dest, y0, y1, runs, src.live_);
                }
            }
        },
        src.of_, dst.of_);
}

}  // namespace globeforge
