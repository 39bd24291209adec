#include "generate/curves.h"

#include <algorithm>
#include <limits>

#if defined(__x86_64__) && defined(__GLIBC__)
#include <immintrin.h>
#define GLOBEFORGE_VECTOR_MATH 1

// glibc's vector math library: log and exp of two (SSE2) or four (AVX2) doubles at once.
extern "C" {
__m128d _ZGVbN2v_log(__m128d);
__m128d _ZGVbN2v_exp(__m128d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_log(__m256d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_exp(__m256d);
}
#endif

namespace globeforge {

namespace {

#ifdef GLOBEFORGE_VECTOR_MATH

// Counts that are not a multiple of the vector width end with a lane or three of 1.0
// (ln 1 = 0, exp 0 = 1) whose results are dropped.
__attribute__((target("avx2"))) void LogsAndExpsAvx2(const double* base, double exponent, double* y,
                                                     double* e, size_t count) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d p = _mm256_set1_pd(exponent);
    for (size_t i = 0; i < count; i += 4) {
        double lane[4] = {1.0, 1.0, 1.0, 1.0};
        std::copy_n(base + i, std::min<size_t>(4, count - i), lane);
        const __m256d logs = _ZGVdN4v_log(_mm256_andnot_pd(sign, _mm256_loadu_pd(lane)));
        const __m256d ys = _mm256_mul_pd(p, logs);
        double yOut[4], eOut[4];
        _mm256_storeu_pd(yOut, ys);
        _mm256_storeu_pd(eOut, _ZGVdN4v_exp(ys));
        std::copy_n(yOut, std::min<size_t>(4, count - i), y + i);
        std::copy_n(eOut, std::min<size_t>(4, count - i), e + i);
    }
}

void LogsAndExpsSse2(const double* base, double exponent, double* y, double* e, size_t count) {
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d p = _mm_set1_pd(exponent);
    for (size_t i = 0; i < count; i += 2) {
        double lane[2] = {1.0, 1.0};
        std::copy_n(base + i, std::min<size_t>(2, count - i), lane);
        const __m128d logs = _ZGVbN2v_log(_mm_andnot_pd(sign, _mm_loadu_pd(lane)));
        const __m128d ys = _mm_mul_pd(p, logs);
        double yOut[2], eOut[2];
        _mm_storeu_pd(yOut, ys);
        _mm_storeu_pd(eOut, _ZGVbN2v_exp(ys));
        std::copy_n(yOut, std::min<size_t>(2, count - i), y + i);
        std::copy_n(eOut, std::min<size_t>(2, count - i), e + i);
    }
}

#endif

}  // namespace

void ScaledLogsAndExps(const double* base, double exponent, double* y, double* e, size_t count) {
#ifdef GLOBEFORGE_VECTOR_MATH
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return LogsAndExpsAvx2(base, exponent, y, e, count);
    return LogsAndExpsSse2(base, exponent, y, e, count);
#else
    for (size_t i = 0; i < count; ++i) {
        y[i] = exponent * std::log(std::fabs(base[i]));
        e[i] = std::exp(y[i]);
    }
#endif
}

float CurveFloat(bool out, double y0, double y1, double x0, double x1, double x, double p) {
    const auto exact = [&] {
        return static_cast<float>(out ? CurveOut(y0, y1, x0, x1, x, p)
                                      : CurveIn(y0, y1, x0, x1, x, p));
    };
    const double d = x1 - x0;
    if (d == 0.0) return exact();
    const double t = x - x0;
    const double base = out ? (x1 - t) - x0 : t;
    const PowerBracket interval = BracketAbsPower(d, p);
    const PowerBracket power = BracketAbsPower(base, p);
    if (!interval.valid || !power.valid) return exact();
    const double c = y1 - y0;
    const double quotients[2] = {c / interval.lo, c / interval.hi};
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    double m = 0;
    for (const double q : quotients) {
        for (const double pw : {power.lo, power.hi}) {
            const double r = pw * q + y0;
            const double v = out ? y0 + (y1 - r) : r;
            low = std::min(low, v);
            high = std::max(high, v);
            m = std::max(m, std::fabs(pw * q));
        }
    }
    const double slack = (m + std::fabs(y0) + std::fabs(y1)) * 0x1p-44;
    const float a = static_cast<float>(low - slack);
    const float b = static_cast<float>(high + slack);
    if (std::isfinite(a) && std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b)) return a;
    return exact();
}

void FixedCurve::Floats(const double* x, float* out, size_t count) const {
    if (empty_ || !std::isfinite(q_)) {
        for (size_t i = 0; i < count; ++i) out[i] = Float(x[i]);
        return;
    }
    constexpr size_t kChunk = 64;
    double base[kChunk], y[kChunk], e[kChunk];
    for (size_t start = 0; start < count; start += kChunk) {
        const size_t n = std::min(kChunk, count - start);
        for (size_t i = 0; i < n; ++i) base[i] = PowerBase(x[start + i]);
        ScaledLogsAndExps(base, p_, y, e, n);
        for (size_t i = 0; i < n; ++i) {
            float f;
            out[start + i] = FloatFromBracket(BracketFromExp(base[i], y[i], e[i]), f)
                                 ? f
                                 : ExactFloat(x[start + i]);
        }
    }
}

}  // namespace globeforge
