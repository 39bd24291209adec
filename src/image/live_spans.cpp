#include "image/live_spans.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace globeforge {

namespace {

// Columns are tested in groups; a span starts and ends on a group's edge (or the row's end),
// and spans fewer than kMergeGap columns apart become one.
constexpr int32_t kGroup = 8;
constexpr int32_t kMergeGap = 16;

// Whether a float is anything but +0 or -0 (a NaN counts).
inline bool NotZero(float v) {
    return (std::bit_cast<uint32_t>(v) << 1) != 0;
}

// Whether any of the n floats at p is not zero; n is a constant for a whole group.
inline bool AnyNotZero(const float* p, size_t n) {
    size_t i = 0;
#ifdef __SSE2__
    __m128i any = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    }
    // The sign bits drop out, so -0 counts as zero.
    any = _mm_slli_epi32(any, 1);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(any, _mm_setzero_si128())) != 0xffff) return true;
#endif
    for (; i < n; ++i) {
        if (NotZero(p[i])) return true;
    }
    return false;
}

// Whether any of the floats of columns x <= c < end is not zero, in a row of floatsPer floats
// a column.
template <size_t floatsPer>
inline bool GroupNotZero(const float* row, int32_t x, int32_t end) {
    const float* p = row + static_cast<size_t>(x) * floatsPer;
    if (end - x == kGroup) return AnyNotZero(p, kGroup * floatsPer);
    return AnyNotZero(p, static_cast<size_t>(end - x) * floatsPer);
}

}  // namespace

void LiveSpans::Reset(int32_t width, int32_t height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    spans_.resize(static_cast<size_t>(height_) * kPerRow);
    count_.assign(static_cast<size_t>(height_), 0);
}

template <typename GroupLive>
void LiveSpans::FindRow(int32_t y, const GroupLive& groupLive) {
    Span* out = spans_.data() + static_cast<size_t>(y) * kPerRow;
    int n = 0;
    for (int32_t x = 0; x < width_; x += kGroup) {
        const int32_t end = std::min(x + kGroup, width_);
        if (!groupLive(x, end)) continue;
        // Past kPerRow spans the last one grows over the gap: zeros inside a span are allowed.
        if (n > 0 && (x - out[n - 1].x1 < kMergeGap || n == kPerRow)) {
            out[n - 1].x1 = end;
        } else {
            out[n++] = {x, end};
        }
    }
    count_[static_cast<size_t>(y)] = static_cast<uint8_t>(n);
}

void LiveSpans::FindRows(const float* plane, int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) {
        const float* row = plane + static_cast<size_t>(y) * width_;
        FindRow(y, [&](int32_t x, int32_t end) { return GroupNotZero<1>(row, x, end); });
    }
}

void LiveSpans::FindRows(const FloatImage& image, int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) {
        const float* row = &image.Row(y)->R;
        FindRow(y, [&](int32_t x, int32_t end) { return GroupNotZero<4>(row, x, end); });
    }
}

}  // namespace globeforge
