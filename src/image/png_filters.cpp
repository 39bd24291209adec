#include "image/png_filters.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cstdlib>
#include <cstring>

namespace globeforge::png_detail {

namespace {

// PNG's Paeth predictor from the bytes left (a), above (b) and above left (c).
int Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

}  // namespace

int AdaptiveFilter(const uint8_t* row, const uint8_t* prev, size_t n) {
    constexpr size_t kBpp = 3;
    const auto magnitude = [](int d) {
        const unsigned v = static_cast<unsigned>(d) & 0xffu;
        return v < 128 ? v : 256 - v;
    };
    uint64_t sums[5] = {0, 0, 0, 0, 0};
    // The first pixel has no left neighbour: Sub keeps it, Average and Paeth take the byte
    // above alone (halved for Average).
    size_t i = 0;
    for (; i < kBpp && i < n; ++i) {
        sums[0] += magnitude(row[i]);
        sums[1] += magnitude(row[i]);
        sums[2] += magnitude(row[i] - prev[i]);
        sums[3] += magnitude(row[i] - (prev[i] >> 1));
        sums[4] += magnitude(row[i] - prev[i]);
    }
#ifdef __SSE2__
    // Sixteen bytes at a time; a byte's magnitude is the lesser of it and its negation.
    const __m128i zero = _mm_setzero_si128();
    const auto sumOf = [&](__m128i d) {
        const __m128i m = _mm_min_epu8(d, _mm_sub_epi8(zero, d));
        const __m128i halves = _mm_sad_epu8(m, zero);
        return static_cast<uint64_t>(_mm_cvtsi128_si32(halves)) +
               static_cast<uint64_t>(_mm_extract_epi16(halves, 4));
    };
    // Paeth's predictor on eight bytes widened to 16 bits.
    const auto paeth8 = [](__m128i a, __m128i b, __m128i c) {
        const auto abs16 = [](__m128i x) {
            return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
        };
        const __m128i pa = abs16(_mm_sub_epi16(b, c));
        const __m128i pb = abs16(_mm_sub_epi16(a, c));
        const __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
        // a where pa <= pb and pa <= pc; else b where pb <= pc; else c.
        const __m128i takeA = _mm_andnot_si128(
            _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc)), _mm_set1_epi16(-1));
        const __m128i takeB = _mm_andnot_si128(_mm_cmpgt_epi16(pb, pc), _mm_set1_epi16(-1));
        const __m128i bc = _mm_or_si128(_mm_and_si128(takeB, b), _mm_andnot_si128(takeB, c));
        return _mm_or_si128(_mm_and_si128(takeA, a), _mm_andnot_si128(takeA, bc));
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - kBpp));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i - kBpp));
        sums[0] += sumOf(x);
        sums[1] += sumOf(_mm_sub_epi8(x, a));
        sums[2] += sumOf(_mm_sub_epi8(x, b));
        // The floor of the mean: the rounded-up mean less the odd bit.
        const __m128i mean =
            _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
        sums[3] += sumOf(_mm_sub_epi8(x, mean));
        const __m128i lo = paeth8(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                  _mm_unpacklo_epi8(c, zero));
        const __m128i hi = paeth8(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                  _mm_unpackhi_epi8(c, zero));
        sums[4] += sumOf(_mm_sub_epi8(x, _mm_packus_epi16(lo, hi)));
    }
#endif
    for (; i < n; ++i) {
        const int a = row[i - kBpp], b = prev[i], c = prev[i - kBpp];
        sums[0] += magnitude(row[i]);
        sums[1] += magnitude(row[i] - a);
        sums[2] += magnitude(row[i] - b);
        sums[3] += magnitude(row[i] - ((a + b) >> 1));
        sums[4] += magnitude(row[i] - Paeth(a, b, c));
    }
    int best = 0;
    for (int f = 1; f < 5; ++f) {
        if (sums[f] < sums[best]) best = f;
    }
    return best;
}

void FilterRow(const uint8_t* row, const uint8_t* prev, size_t n, int filter, uint8_t* out) {
    out[0] = static_cast<uint8_t>(filter);
    ++out;
    // The first pixel has no left neighbour: a and c read as 0.
    const auto apply = [&](auto&& predict) {
        for (size_t i = 0; i < n && i < 3; ++i) {
            out[i] = static_cast<uint8_t>(row[i] - predict(0, prev[i], 0));
        }
        for (size_t i = 3; i < n; ++i) {
            out[i] = static_cast<uint8_t>(row[i] - predict(row[i - 3], prev[i], prev[i - 3]));
        }
    };
    switch (filter) {
        case 1:
            apply([](int a, int, int) { return a; });
            break;
        case 2:
            apply([](int, int b, int) { return b; });
            break;
        case 3:
            apply([](int a, int b, int) { return (a + b) >> 1; });
            break;
        case 4:
            apply(Paeth);
            break;
        default:
            std::memcpy(out, row, n);
            break;
    }
}

}  // namespace globeforge::png_detail
