// The bracket form: a value whose extended steps take an input the double path can only
// bracket (a power from double exp and log, say), decided from estimates at the corners of
// the bracket. The value must be monotonic in the input; the affine chains below are.
#pragma once

#include <algorithm>
#include <cmath>
#include <span>

#include "exact/decide.h"

#ifdef __x86_64__
#include <immintrin.h>
#endif

namespace globeforge {

// An input known to lie in [lo, hi], 0 <= lo.
struct Bracket {
    double lo;
    double hi;
};

// The float of r = x q + y0, or, flipped, of y0 + (y1 - r), formed in extended steps (and
// rounded to double where the caller's steps round), for an x anywhere in the bracket and q
// any of the candidates: the value is affine in x q, so over the box its extremes lie at the
// corners. The caller proves its extended steps within (max |x q| + |y0| + |y1|) scale of
// the double estimates at the corners. A NaN corner needs an infinite term, which makes the
// slack infinite or NaN, so the hull dropping it decides nothing wrong.
inline bool DecideAffineBracket(bool flipped, double y0, double y1, Bracket x,
                                std::span<const double> quotients, double scale, float& out) {
    Hull hull;
    double m = 0;
    for (const double q : quotients) {
        for (const double pw : {x.lo, x.hi}) {
            const double r = pw * q + y0;
            hull.Add(flipped ? y0 + (y1 - r) : r);
            m = std::max(m, std::fabs(pw * q));
        }
    }
    return Decide(hull.Widened((m + std::fabs(y0) + std::fabs(y1)) * scale), out);
}

#ifdef __x86_64__
// DecideAffineBracket in four AVX2 lanes with one quotient q and ends = |y0| + |y1| (summed
// once by the caller, so m rounds apart from the scalar form's); the low ends' floats, with
// decided as Decide4Avx2 sets it. A lane with an infinite term gets an infinite or NaN slack
// and stays undecided.
__attribute__((target("avx2"), always_inline)) inline __m128 DecideAffineBracket4Avx2(
    bool flipped, __m256d y0, __m256d y1, __m256d ends, __m256d lo, __m256d hi, __m256d q,
    double scale, int& decided) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d r0 = _mm256_add_pd(_mm256_mul_pd(lo, q), y0);
    const __m256d r1 = _mm256_add_pd(_mm256_mul_pd(hi, q), y0);
    const __m256d e0 = flipped ? _mm256_add_pd(y0, _mm256_sub_pd(y1, r0)) : r0;
    const __m256d e1 = flipped ? _mm256_add_pd(y0, _mm256_sub_pd(y1, r1)) : r1;
    const __m256d m = _mm256_add_pd(_mm256_andnot_pd(sign, _mm256_mul_pd(hi, q)), ends);
    const __m256d slack = _mm256_mul_pd(m, _mm256_set1_pd(scale));
    return Decide4Avx2(_mm256_sub_pd(_mm256_min_pd(e0, e1), slack),
                       _mm256_add_pd(_mm256_max_pd(e0, e1), slack), decided);
}

// DecideAffineBracket4Avx2 in eight AVX-512 lanes: the same estimates and slack per lane.
__attribute__((target("avx512f"), always_inline)) inline __m256 DecideAffineBracket8Avx512(
    bool flipped, __m512d y0, __m512d y1, __m512d ends, __m512d lo, __m512d hi, __m512d q,
    double scale, __mmask8& decided) {
    const __m512d r0 = _mm512_add_pd(_mm512_mul_pd(lo, q), y0);
    const __m512d r1 = _mm512_add_pd(_mm512_mul_pd(hi, q), y0);
    const __m512d e0 = flipped ? _mm512_add_pd(y0, _mm512_sub_pd(y1, r0)) : r0;
    const __m512d e1 = flipped ? _mm512_add_pd(y0, _mm512_sub_pd(y1, r1)) : r1;
    const __m512d m = _mm512_add_pd(_mm512_abs_pd(_mm512_mul_pd(hi, q)), ends);
    const __m512d slack = _mm512_mul_pd(m, _mm512_set1_pd(scale));
    // The zero-masking forms (all lanes kept) spare GCC 12 a false uninitialised warning.
    return Decide8Avx512(_mm512_sub_pd(_mm512_maskz_min_pd(0xff, e0, e1), slack),
                         _mm512_add_pd(_mm512_maskz_max_pd(0xff, e0, e1), slack), decided);
}
#endif

}  // namespace globeforge
