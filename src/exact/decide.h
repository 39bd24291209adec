// Floats decided in double. The extended steps define every stored float; a double path
// may only say which float they give. It forms an estimate of the value before its rounding
// to float and a bound on the estimate's distance from the extended value (each caller
// proves its own bound), and Decide takes the float where both ends of the bound round to
// the same finite float. Elsewhere the caller runs the extended steps. See docs/exactness.md.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "exact/extended.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace globeforge {

// A double value known to hold the extended one within bound.
struct Estimate {
    double value;
    double bound;
};

// A double interval [lo, hi] known to hold the extended value.
struct Range {
    double lo;
    double hi;
};

// The interval of an estimate. Subtracting and adding the bound round at 2^-53 of the
// value, which every caller's bound covers with room to spare.
inline Range RangeOf(Estimate e) {
    return {e.value - e.bound, e.value + e.bound};
}

// The interval of a value monotonic in an input known to lie in a bracket, from its double
// estimates at the bracket's two ends (in either order), each within slack of the extended
// value there.
inline Range RangeBetween(double e0, double e1, double slack) {
    return {std::min(e0, e1) - slack, std::max(e0, e1) + slack};
}

// The interval spanned by estimates at the corners of a box of inputs, for a value that is
// monotonic along each input, one way over the whole box. Comparisons drop a NaN corner, so a
// caller's slack must turn infinite or NaN wherever a corner can be NaN (an inf - inf needs an
// infinite term).
struct Hull {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    void Add(double v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    Range Widened(double slack) const { return {lo - slack, hi + slack}; }
};

// The decision: true, with out the float, when both ends of r round to the same finite
// float, which is then the extended value's (rounding is monotonic). out is set either way.
inline bool Decide(Range r, float& out) {
    const float lo = static_cast<float>(r.lo);
    const float hi = static_cast<float>(r.hi);
    out = lo;
    return std::bit_cast<uint32_t>(lo) == std::bit_cast<uint32_t>(hi) && std::isfinite(lo);
}
inline bool Decide(Estimate e, float& out) {
    return Decide(RangeOf(e), out);
}

// Decide for an estimate s within slack of the extended value.
inline bool Decided(double s, double slack, float& out) {
    return Decide(Estimate{s, slack}, out);
}

// The integer Round gives the extended value, when both ends of the estimate's interval
// round to it. out is set either way.
inline bool DecideRound(Estimate e, int32_t& out) {
    out = Round(e.value - e.bound);
    return out == Round(e.value + e.bound);
}

// b >= 0 and b * (1 + 2^-50) < v * (1 - 2^-50): then every value within 2^-51 of its size
// of b lies below every value within 2^-51 of v (the two products round at 2^-53), so a
// bound b with that error proves the value it bounds below v.
inline bool SurelyBelow(double b, double v) {
    return b >= 0 && b * (1 + 0x1p-50) < v * (1 - 0x1p-50);
}

#ifdef __SSE2__
// SurelyBelow in two lanes: bit k set for lane k where it holds.
__attribute__((always_inline)) inline int SurelyBelow2(__m128d b, __m128d v) {
    const __m128d nonNegative = _mm_cmpge_pd(b, _mm_setzero_pd());
    const __m128d below = _mm_cmplt_pd(_mm_mul_pd(b, _mm_set1_pd(1 + 0x1p-50)),
                                       _mm_mul_pd(v, _mm_set1_pd(1 - 0x1p-50)));
    return _mm_movemask_pd(_mm_and_pd(nonNegative, below));
}

// Decide in four lanes: the intervals of lanes 0-1 (Lo) and 2-3 (Hi). Returns the floats of
// the low ends; decided gets a bit for each lane whose high end gives the same finite float.
__attribute__((always_inline)) inline __m128 Decide4(__m128d loLo, __m128d loHi, __m128d hiLo,
                                                     __m128d hiHi, int& decided) {
    const __m128 lo = _mm_movelh_ps(_mm_cvtpd_ps(loLo), _mm_cvtpd_ps(loHi));
    const __m128 hi = _mm_movelh_ps(_mm_cvtpd_ps(hiLo), _mm_cvtpd_ps(hiHi));
    const __m128i bits = _mm_castps_si128(lo);
    const __m128i exponent = _mm_set1_epi32(0x7f800000);
    const __m128i nonFinite = _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent);
    const __m128i same = _mm_cmpeq_epi32(bits, _mm_castps_si128(hi));
    decided = _mm_movemask_ps(_mm_castsi128_ps(_mm_andnot_si128(nonFinite, same)));
    return lo;
}

// Decided in four lanes: estimates s and slacks of lanes 0-1 (Lo) and 2-3 (Hi).
__attribute__((always_inline)) inline __m128 Decided4(__m128d sLo, __m128d slackLo, __m128d sHi,
                                                      __m128d slackHi, int& decided) {
    return Decide4(_mm_sub_pd(sLo, slackLo), _mm_sub_pd(sHi, slackHi), _mm_add_pd(sLo, slackLo),
                   _mm_add_pd(sHi, slackHi), decided);
}
#endif

#if defined(__x86_64__)
// Decide in four AVX2 lanes, as Decide4.
__attribute__((target("avx2"), always_inline)) inline __m128 Decide4Avx2(__m256d lo, __m256d hi,
                                                                         int& decided) {
    const __m128 flo = _mm256_cvtpd_ps(lo);
    const __m128i bits = _mm_castps_si128(flo);
    const __m128i exponent = _mm_set1_epi32(0x7f800000);
    const __m128i nonFinite = _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent);
    const __m128i same = _mm_cmpeq_epi32(bits, _mm_castps_si128(_mm256_cvtpd_ps(hi)));
    decided = _mm_movemask_ps(_mm_castsi128_ps(_mm_andnot_si128(nonFinite, same)));
    return flo;
}

// Decided in four AVX2 lanes.
__attribute__((target("avx2"), always_inline)) inline __m128 Decided4Avx2(__m256d s, __m256d slack,
                                                                          int& decided) {
    return Decide4Avx2(_mm256_sub_pd(s, slack), _mm256_add_pd(s, slack), decided);
}

// Decide in eight AVX-512 lanes, as Decide4: the floats of the low ends, and a mask bit for
// each lane whose high end gives the same finite float.
__attribute__((target("avx512f"), always_inline)) inline __m256 Decide8Avx512(__m512d lo,
                                                                              __m512d hi,
                                                                              __mmask8& decided) {
    // The zero-masking forms (all lanes kept) spare GCC 12 a false uninitialised warning.
    const __m256 flo = _mm512_maskz_cvtpd_ps(0xff, lo);
    const __m256i bits = _mm256_castps_si256(flo);
    const __m256i exponent = _mm256_set1_epi32(0x7f800000);
    const __m256i same =
        _mm256_cmpeq_epi32(bits, _mm256_castps_si256(_mm512_maskz_cvtpd_ps(0xff, hi)));
    const __m256i nonFinite = _mm256_cmpeq_epi32(_mm256_and_si256(bits, exponent), exponent);
    decided = static_cast<__mmask8>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_andnot_si256(nonFinite, same))));
    return flo;
}
#endif

}  // namespace globeforge
