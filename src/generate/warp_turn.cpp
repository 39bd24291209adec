#include "generate/warp_turn.h"

#include <algorithm>
#include <cmath>

#include "exact/extended.h"
#include "exact/rotation.h"
#include "generate/curves.h"
#include "generate/vector_math.h"

namespace globeforge::warp_turn {

namespace {

// The logarithm of the interval length, the same for every pixel, taken once.
const Extended kLog512 = AbsPowerLog(512.0);

// The bounds of the estimates assume the C library's double exp, log, sin and cos within 2
// ulps (4 for the vector forms), and its extended ones within 2 ulps of the extended format.
const double kLn512 = std::log(512.0);
const double kDegToRad = static_cast<double>(DegToRad(1.0L));

}  // namespace

double TurnAngle(double qR, double p) {
    const double t = qR - 0.0;
    const double m = 512.0 - t;
    const double q = static_cast<double>((static_cast<Extended>(720.0) - (-720.0)) /
                                         AbsPowerFromLog(512.0, kLog512, p));
    const double r = static_cast<double>(static_cast<Extended>(AbsPower(m - 0.0, p)) * q + -720.0);
    return static_cast<double>(static_cast<Extended>(-720.0) + (static_cast<Extended>(720.0) - r));
}

TurnEstimate EstimateTurn(double m, double p) {
    // The turn: 720 - 1440 (m / 512)^p. The exact steps round P = 512^p, 1440 / P, m^p, the
    // product less 720 and the angle to double, each within 2^-53 (the extended powers
    // within 2^-60 more); the estimate's exponents carry the logarithm's 2 ulps and the
    // product's half (3 with room), e^t turns an absolute error of t into a relative one, and the
    // quotient, product and difference round once each. Both lie within the bound below of the real
    // angle.
    if (!(m > 0.0 && m < 0x1p20)) return {0.0, 0.0, false};
    const double tA = p * std::log(m);
    const double tP = p * kLn512;
    if (!(std::fabs(tA) < 500.0 && std::fabs(tP) < 500.0)) return {0.0, 0.0, false};
    const double product = std::exp(tA) * (1440.0 / std::exp(tP));
    const double theta = 720.0 - product;
    const double thetaError =
        (std::fabs(product) * (3.0 * (std::fabs(tA) + std::fabs(tP)) + 8.0) + 4096.0) * kEps;
    // DegToRad in double: the constant and the product each within 2^-53.
    const double a = theta * kDegToRad;
    return {a, thetaError * 0.0175 + std::fabs(a) * 2.0 * kEps + 0x1p-60, std::isfinite(a)};
}

namespace {

#ifdef GLOBEFORGE_VECTOR_MATH
// EstimateTurn for eight pixels at a time in AVX-512 lanes, with the vector log and exp (4
// ulp), and the sines and cosines of the turns. In units of 2^-52: the exponents carry 4.5
// |t| (the logarithm's 4 ulp and the product's rounding; ln 512 is within 2.5 |tP|), the
// exponentials add 4 each and the quotient and product 0.5 each, so the double product lies
// within (4.5 |tA| + 2.5 |tP| + 9) of its size of the real one; the exact steps round five
// times (the power, quotient and product, 1.5 of the product's size, and 720 less it and the
// angle, 0.5 of 720 + |product| each), and the double difference once. Both turns lie within
// |product| (4.5 |tA| + 2.5 |tP| + 12) + 1080 of the real one; the bound below is about twice
// that. Lanes without an estimate get the angle 0.
__attribute__((target("avx512f"))) void EstimateTurnsAvx512(const double* m, const double* p,
                                                            TurnEstimate* turns, double* sines,
                                                            double* cosines, int32_t count) {
    const __m512d zero = _mm512_setzero_pd();
    for (int32_t i = 0; i < count; i += 8) {
        const int32_t n = std::min(8, count - i);
        const auto lanes = static_cast<__mmask8>((1u << n) - 1);
        const __m512d ms = _mm512_mask_loadu_pd(_mm512_set1_pd(1.0), lanes, m + i);
        const __m512d ps = _mm512_mask_loadu_pd(zero, lanes, p + i);
        const __m512d tA = _mm512_mul_pd(ps, _ZGVeN8v_log(ms));
        const __m512d tP = _mm512_mul_pd(ps, _mm512_set1_pd(kLn512));
        const __m512d product = _mm512_mul_pd(
            _ZGVeN8v_exp(tA), _mm512_div_pd(_mm512_set1_pd(1440.0), _ZGVeN8v_exp(tP)));
        const __m512d theta = _mm512_sub_pd(_mm512_set1_pd(720.0), product);
        const __m512d size = _mm512_add_pd(_mm512_abs_pd(tA), _mm512_abs_pd(tP));
        const __m512d thetaError = _mm512_mul_pd(
            _mm512_add_pd(_mm512_mul_pd(_mm512_abs_pd(product),
                                        _mm512_add_pd(_mm512_mul_pd(size, _mm512_set1_pd(8.0)),
                                                      _mm512_set1_pd(24.0))),
                          _mm512_set1_pd(4096.0)),
            _mm512_set1_pd(kEps));
        const __m512d a = _mm512_mul_pd(theta, _mm512_set1_pd(kDegToRad));
        const __m512d error = _mm512_add_pd(
            _mm512_add_pd(_mm512_mul_pd(thetaError, _mm512_set1_pd(0.0175)),
                          _mm512_mul_pd(_mm512_abs_pd(a), _mm512_set1_pd(2.0 * kEps))),
            _mm512_set1_pd(0x1p-60));
        const __m512d limit = _mm512_set1_pd(500.0);
        const __mmask8 valid =
            _mm512_cmp_pd_mask(ms, zero, _CMP_GT_OQ) &
            _mm512_cmp_pd_mask(ms, _mm512_set1_pd(0x1p20), _CMP_LT_OQ) &
            _mm512_cmp_pd_mask(_mm512_abs_pd(tA), limit, _CMP_LT_OQ) &
            _mm512_cmp_pd_mask(_mm512_abs_pd(tP), limit, _CMP_LT_OQ) &
            _mm512_cmp_pd_mask(_mm512_abs_pd(a), _mm512_set1_pd(HUGE_VAL), _CMP_LT_OQ);
        const __m512d angle = _mm512_mask_blend_pd(valid, zero, a);
        double as[8], errors[8], s[8], c[8];
        _mm512_storeu_pd(as, angle);
        _mm512_storeu_pd(errors, error);
        _mm512_storeu_pd(s, _ZGVeN8v_sin(angle));
        _mm512_storeu_pd(c, _ZGVeN8v_cos(angle));
        for (int32_t k = 0; k < n; ++k) {
            turns[i + k] = {as[k], errors[k], ((valid >> k) & 1) != 0};
            sines[i + k] = s[k];
            cosines[i + k] = c[k];
        }
    }
}
#endif

}  // namespace

void EstimateTurns(const double* m, const double* p, TurnEstimate* turns, double* sines,
                   double* cosines, int32_t count, bool widest) {
#ifdef GLOBEFORGE_VECTOR_MATH
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    if (avx512 && widest) return EstimateTurnsAvx512(m, p, turns, sines, cosines, count);
#else
    (void)widest;
#endif
    double angles[64];
    for (int32_t first = 0; first < count; first += 64) {
        const int32_t n = std::min(64, count - first);
        for (int32_t i = 0; i < n; ++i) {
            turns[first + i] = EstimateTurn(m[first + i], p[first + i]);
            angles[i] = turns[first + i].valid ? turns[first + i].a : 0.0;
        }
        SinesAndCosines(angles, sines + first, cosines + first, static_cast<size_t>(n));
    }
}

}  // namespace globeforge::warp_turn
