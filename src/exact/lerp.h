// Lerps of two floats by a double fraction, t a + (1 - t) b in extended steps rounded once
// to float, decided in double wherever Decide proves the float (about all but one lerp in
// 2^24); the callers take the extended steps elsewhere.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "exact/decide.h"
#include "exact/extended.h"
#include "exact/lerp_extended.h"

namespace globeforge {

// 1 - t where the double difference is exact (t a multiple of 2^-53 in [0, 1], so the
// extended difference is the same number), else NaN, which leaves every decided lerp with it
// undecided.
inline double ExactRest(double t) {
    const double units = t * 0x1p53;
    if (!(t >= 0.0 && t <= 1.0) || units != std::floor(units)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return 1.0 - t;
}

// The bound of the point lerp: the two double products and their sum each round within
// 2^-53 of |t a| + |u b|, the extended steps within 2^-64 of it, so the extended sum lies
// within 2^-51 of that size of the double one; the slack is four times that.
constexpr double kLerpSlack = 0x1p-49;

// The estimate of LerpExtended(a, b, t) for finite a and b, from t and u = ExactRest(t).
inline Estimate LerpEstimate(float a, float b, double t, double u) {
    const double p1 = t * a;
    const double p2 = u * b;
    return {p1 + p2, (std::fabs(p1) + std::fabs(p2)) * kLerpSlack};
}

// LerpExtended(a, b, t) when double arithmetic decides it; u is ExactRest(t).
inline bool LerpDecided(float a, float b, double t, double u, float& out) {
    return Decide(LerpEstimate(a, b, t, u), out);
}

// The bound of the lerp over a range of fractions: the real value is linear in t, the
// extended steps stay within 2^-62 (|a| + |b|) of it and the double ones below (a difference,
// a product and a sum) within 2^-51 (|a| + |b|), so the ends widened by 2^-50 (|a| + |b|)
// hold every extended value.
constexpr double kLerpOverSlack = 0x1p-50;

// The float of LerpExtended(a, b, t) for every t in [t0, t1] (0 <= t0 <= t1 <= 1), when all
// of them round to one float. A zero is decided only between two +0: the sign of a zero sum
// depends on how it was formed. out may be set when false.
inline bool LerpDecidedOver(float a, float b, double t0, double t1, float& out) {
    const double d = static_cast<double>(a) - b;
    const double v0 = b + t0 * d;
    const double v1 = b + t1 * d;
    // |a| + |b| is a float sum: it rounds down by at most 2^-24, far inside the slack's room.
    const double widen = (std::fabs(a) + std::fabs(b)) * kLerpOverSlack;
    if (!Decide(RangeBetween(v0, v1, widen), out)) return false;
    // Two +0 give +0 whatever t is (+0 times a fraction, plus +0); other zeros may be -0.
    return !(out == 0.0f && (std::bit_cast<uint32_t>(a) | std::bit_cast<uint32_t>(b)) != 0);
}

#ifdef __SSE2__
// LerpDecided in four lanes: a and b four pairs of floats, t and u the fractions and rests
// of lanes 0-1 (Lo) and 2-3 (Hi). The same double steps and slack, so a lane is decided
// exactly when LerpDecided decides it; decided gets a bit per decided lane.
__attribute__((always_inline)) inline __m128 LerpDecided4(__m128 a, __m128 b, __m128d tLo,
                                                          __m128d tHi, __m128d uLo, __m128d uHi,
                                                          int& decided) {
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d scale = _mm_set1_pd(kLerpSlack);
    __m128d s[2], slack[2];
    for (int h = 0; h < 2; ++h) {
        const __m128d ah = _mm_cvtps_pd(h == 0 ? a : _mm_movehl_ps(a, a));
        const __m128d bh = _mm_cvtps_pd(h == 0 ? b : _mm_movehl_ps(b, b));
        const __m128d p1 = _mm_mul_pd(h == 0 ? tLo : tHi, ah);
        const __m128d p2 = _mm_mul_pd(h == 0 ? uLo : uHi, bh);
        s[h] = _mm_add_pd(p1, p2);
        slack[h] = _mm_mul_pd(_mm_add_pd(_mm_andnot_pd(sign, p1), _mm_andnot_pd(sign, p2)), scale);
    }
    return Decided4(s[0], slack[0], s[1], slack[1], decided);
}
#endif

#if defined(__x86_64__)
// LerpDecidedOver in four AVX2 lanes: four pairs of floats (the channels of two pixels, say)
// over one range of fractions. The same double steps, the same float sum in the slack and the
// same zero rule, so a lane is decided exactly when LerpDecidedOver decides it; decided gets a
// bit per decided lane. An infinite or NaN float makes its lane's slack so, which leaves it
// undecided.
__attribute__((target("avx2"), always_inline)) inline __m128 LerpDecidedOver4Avx2(
    __m128 a, __m128 b, double t0, double t1, int& decided) {
    const __m256d ad = _mm256_cvtps_pd(a);
    const __m256d bd = _mm256_cvtps_pd(b);
    const __m256d d = _mm256_sub_pd(ad, bd);
    const __m256d v0 = _mm256_add_pd(bd, _mm256_mul_pd(_mm256_set1_pd(t0), d));
    const __m256d v1 = _mm256_add_pd(bd, _mm256_mul_pd(_mm256_set1_pd(t1), d));
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 size = _mm_add_ps(_mm_andnot_ps(sign, a), _mm_andnot_ps(sign, b));
    const __m256d widen = _mm256_mul_pd(_mm256_cvtps_pd(size), _mm256_set1_pd(kLerpOverSlack));
    // RangeBetween's ends: min and max agree with std::min and std::max on finite values.
    int ends;
    const __m128 out = Decide4Avx2(_mm256_sub_pd(_mm256_min_pd(v0, v1), widen),
                                   _mm256_add_pd(_mm256_max_pd(v0, v1), widen), ends);
    // A zero is decided only between two +0.
    const __m128i zero = _mm_setzero_si128();
    const __m128i anyBits = _mm_or_si128(_mm_castps_si128(a), _mm_castps_si128(b));
    const __m128 outZero = _mm_cmpeq_ps(out, _mm_setzero_ps());
    const __m128i signedZero =
        _mm_andnot_si128(_mm_cmpeq_epi32(anyBits, zero), _mm_castps_si128(outZero));
    decided = ends & ~_mm_movemask_ps(_mm_castsi128_ps(signedZero));
    return out;
}

// LerpDecided in four AVX2 lanes, t and u the four fractions and rests.
__attribute__((target("avx2"), always_inline)) inline __m128 LerpDecided4Avx2(__m128 a, __m128 b,
                                                                              __m256d t, __m256d u,
                                                                              int& decided) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d p1 = _mm256_mul_pd(t, _mm256_cvtps_pd(a));
    const __m256d p2 = _mm256_mul_pd(u, _mm256_cvtps_pd(b));
    const __m256d slack =
        _mm256_mul_pd(_mm256_add_pd(_mm256_andnot_pd(sign, p1), _mm256_andnot_pd(sign, p2)),
                      _mm256_set1_pd(kLerpSlack));
    return Decided4Avx2(_mm256_add_pd(p1, p2), slack, decided);
}
#endif

}  // namespace globeforge
