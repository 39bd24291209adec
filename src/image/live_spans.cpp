#include "image/live_spans.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace globeforge {

namespace {

// Columns are tested in groups; a span starts and ends on a group's edge (or the row's end),
// and spans fewer than kMergeGap columns apart become one.
constexpr int32_t kGroup = 8;
constexpr int32_t kMergeGap = 16;
constexpr int32_t kBlock = 4 * kGroup;

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

#if defined(__x86_64__)
// GroupNotZero in AVX2 for a whole group or block: its floats ORed, their sign bits masked
// off.
template <size_t floatsPer>
struct GroupNotZeroAvx2 {
    const float* row;
    template <size_t columns>
    __attribute__((target("avx2"))) bool Whole(const float* p) const {
        __m256i any = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        for (size_t i = 8; i < columns * floatsPer; i += 8) {
            any = _mm256_or_si256(any, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i)));
        }
        return _mm256_testz_si256(any, _mm256_set1_epi32(0x7fffffff)) == 0;
    }
    __attribute__((target("avx2"))) bool operator()(int32_t x, int32_t end) const {
        const float* p = row + static_cast<size_t>(x) * floatsPer;
        if (end - x == kGroup) return Whole<kGroup>(p);
        if (end - x == kBlock) return Whole<kBlock>(p);
        return GroupNotZero<floatsPer>(row, x, end);
    }
};
#endif

}  // namespace

void LiveSpans::Reset(int32_t width, int32_t height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    spans_.resize(static_cast<size_t>(height_) * kPerRow);
    count_.assign(static_cast<size_t>(height_), 0);
}

template <typename GroupLive>
__attribute__((always_inline)) inline void LiveSpans::FindRow(int32_t y,
                                                              const GroupLive& groupLive) {
    Span* out = spans_.data() + static_cast<size_t>(y) * kPerRow;
    int n = 0;
    for (int32_t x = 0; x < width_;) {
        // Brushes are mostly zero: a block of groups is passed over at once where it can be.
        const int32_t blockEnd = std::min(x + kBlock, width_);
        if (!groupLive(x, blockEnd)) {
            x = blockEnd;
            continue;
        }
        for (; x < blockEnd; x += kGroup) {
            const int32_t end = std::min(x + kGroup, width_);
            if (!groupLive(x, end)) continue;
            // Past kPerRow spans the last one grows over the gap: zeros inside a span are
            // allowed.
            if (n > 0 && (x - out[n - 1].x1 < kMergeGap || n == kPerRow)) {
                out[n - 1].x1 = end;
            } else {
                out[n++] = {x, end};
            }
        }
    }
    count_[static_cast<size_t>(y)] = static_cast<uint8_t>(n);
}

#if defined(__x86_64__)
template <size_t floatsPer>
__attribute__((target("avx2"))) void LiveSpans::FindRowsAvx2(const float* data, int32_t y0,
                                                             int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) {
        FindRow(y, GroupNotZeroAvx2<floatsPer>{data + static_cast<size_t>(y) * width_ * floatsPer});
    }
}
#endif

template <size_t floatsPer>
void LiveSpans::FindRowsOf(const float* data, int32_t y0, int32_t y1) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return FindRowsAvx2<floatsPer>(data, y0, y1);
#endif
    for (int32_t y = y0; y < y1; ++y) {
        const float* row = data + static_cast<size_t>(y) * width_ * floatsPer;
        FindRow(y, [&](int32_t x, int32_t end) { return GroupNotZero<floatsPer>(row, x, end); });
    }
}

void LiveSpans::FindRows(const float* plane, int32_t y0, int32_t y1) {
    FindRowsOf<1>(plane, y0, y1);
}

void LiveSpans::FindRows(const FloatImage& image, int32_t y0, int32_t y1) {
    FindRowsOf<4>(&image.Data()->R, y0, y1);
}

}  // namespace globeforge
