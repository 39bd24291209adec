// Lerps of two floats by a double fraction, rounded to float as the extended-precision steps
// t a + (1 - t) b round them, mostly from double arithmetic: the double result and a bound on
// its distance from the extended one decide the float wherever both ends of the bound round
// to the same float, and the callers take the extended steps elsewhere (about one lerp in
// 2^24).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// The float nearest to an extended result known to lie within slack of the double s: the
// float both ends of that interval round to, when they agree. Subtracting and adding slack
// rounds at 2^-53 of s, which the callers' slack covers with room to spare.
inline bool Decided(double s, double slack, float& out) {
    const float lo = static_cast<float>(s - slack);
    const float hi = static_cast<float>(s + slack);
    out = lo;
    return std::bit_cast<uint32_t>(lo) == std::bit_cast<uint32_t>(hi) && std::isfinite(lo);
}

// t a + u b for finite a and b, with u = 1 - t exact (see ExactRest), when double arithmetic
// decides its float. The two double products and their sum each round within 2^-53 of
// |t a| + |u b|, the extended steps within 2^-64 of it, so the extended result lies within
// 2^-51 of that sum of the double one; slack is 2^-49 of it.
inline bool LerpDecided(float a, float b, double t, double u, float& out) {
    const double p1 = t * a;
    const double p2 = u * b;
    return Decided(p1 + p2, (std::fabs(p1) + std::fabs(p2)) * 0x1p-49, out);
}

#ifdef __SSE2__
// Decided in four lanes: s and slack of lanes 0-1 (Lo) and 2-3 (Hi); the floats of s - slack,
// with a bit in decided for each lane where s + slack gives the same finite float.
__attribute__((always_inline)) inline __m128 Decided4(__m128d sLo, __m128d slackLo, __m128d sHi,
                                                      __m128d slackHi, int& decided) {
    const __m128 lo = _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(sLo, slackLo)),
                                    _mm_cvtpd_ps(_mm_sub_pd(sHi, slackHi)));
    const __m128 hi = _mm_movelh_ps(_mm_cvtpd_ps(_mm_add_pd(sLo, slackLo)),
                                    _mm_cvtpd_ps(_mm_add_pd(sHi, slackHi)));
    const __m128i bits = _mm_castps_si128(lo);
    const __m128i exponent = _mm_set1_epi32(0x7f800000);
    const __m128i nonFinite = _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent);
    const __m128i same = _mm_cmpeq_epi32(bits, _mm_castps_si128(hi));
    decided = _mm_movemask_ps(_mm_castsi128_ps(_mm_andnot_si128(nonFinite, same)));
    return lo;
}

// LerpDecided in four lanes: a and b four pairs of floats, t and u the fractions and rests
// of lanes 0-1 (Lo) and 2-3 (Hi). The same double steps and slack, so a lane is decided
// exactly when LerpDecided decides it; decided gets a bit per decided lane.
__attribute__((always_inline)) inline __m128 LerpDecided4(__m128 a, __m128 b, __m128d tLo,
                                                          __m128d tHi, __m128d uLo, __m128d uHi,
                                                          int& decided) {
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d scale = _mm_set1_pd(0x1p-49);
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

}  // namespace globeforge
