#include "generate/curves.h"

#include <algorithm>
#include <limits>

#include "generate/vector_math.h"

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

// Counts that are not a multiple of the vector width end with a lane or three of 0 whose
// results are dropped.
__attribute__((target("avx2"))) void SinesAndCosinesAvx2(const double* a, double* s, double* c,
                                                         size_t count) {
    for (size_t i = 0; i < count; i += 4) {
        const size_t n = std::min<size_t>(4, count - i);
        double lane[4] = {0.0, 0.0, 0.0, 0.0};
        std::copy_n(a + i, n, lane);
        const __m256d v = _mm256_loadu_pd(lane);
        double sOut[4], cOut[4];
        _mm256_storeu_pd(sOut, _ZGVdN4v_sin(v));
        _mm256_storeu_pd(cOut, _ZGVdN4v_cos(v));
        std::copy_n(sOut, n, s + i);
        std::copy_n(cOut, n, c + i);
    }
}

void SinesAndCosinesSse2(const double* a, double* s, double* c, size_t count) {
    for (size_t i = 0; i < count; i += 2) {
        const size_t n = std::min<size_t>(2, count - i);
        double lane[2] = {0.0, 0.0};
        std::copy_n(a + i, n, lane);
        const __m128d v = _mm_loadu_pd(lane);
        double sOut[2], cOut[2];
        _mm_storeu_pd(sOut, _ZGVbN2v_sin(v));
        _mm_storeu_pd(cOut, _ZGVbN2v_cos(v));
        std::copy_n(sOut, n, s + i);
        std::copy_n(cOut, n, c + i);
    }
}

#endif

}  // namespace

void SinesAndCosines(const double* a, double* s, double* c, size_t count) {
#ifdef GLOBEFORGE_VECTOR_MATH
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return SinesAndCosinesAvx2(a, s, c, count);
    return SinesAndCosinesSse2(a, s, c, count);
#else
    for (size_t i = 0; i < count; ++i) {
        s[i] = std::sin(a[i]);
        c[i] = std::cos(a[i]);
    }
#endif
}

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
    // The exact steps (values under 2m, q within a few 2^-53 of its quotient) stay within
    // 2^-48 m of the corner values; the slack is 2^-44 m.
    float f;
    if (DecideAffineBracket(out, y0, y1, {power.lo, power.hi}, quotients, 0x1p-44, f)) return f;
    return exact();
}

#ifdef GLOBEFORGE_VECTOR_MATH
// FloatFromBracket(BracketFromExp(...)) in four lanes: the same bracket, estimates and slack
// (the sum m rounds in another order, well inside the slack's room); a lane it does not
// decide (an invalid bracket, a non-finite value, ends that round to two floats) takes the
// exact steps. The last group repeats its last value in the spare lanes.
__attribute__((target("avx2"))) size_t FixedCurve::FloatsAvx2(const double* x, float* out,
                                                              size_t count) const {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d x0 = _mm256_set1_pd(x0_), x1 = _mm256_set1_pd(x1_);
    const __m256d y0 = _mm256_set1_pd(y0_), y1 = _mm256_set1_pd(y1_);
    const __m256d p = _mm256_set1_pd(p_), q = _mm256_set1_pd(q_);
    const __m256d ends = _mm256_add_pd(_mm256_andnot_pd(sign, y0), _mm256_andnot_pd(sign, y1));
    size_t fallbacks = 0;
    for (size_t i = 0; i < count; i += 4) {
        const size_t n = std::min<size_t>(4, count - i);
        __m256d xs;
        if (n == 4) {
            xs = _mm256_loadu_pd(x + i);
        } else {
            double lane[4];
            for (size_t k = 0; k < 4; ++k) lane[k] = x[i + std::min(k, n - 1)];
            xs = _mm256_loadu_pd(lane);
        }
        const __m256d t = _mm256_sub_pd(xs, x0);
        const __m256d base = out_ ? _mm256_sub_pd(_mm256_sub_pd(x1, t), x0) : t;
        const __m256d y = _mm256_mul_pd(p, _ZGVdN4v_log(_mm256_andnot_pd(sign, base)));
        const __m256d e = _ZGVdN4v_exp(y);
        const __m256d absY = _mm256_andnot_pd(sign, y);
        const __m256d tolerance =
            _mm256_mul_pd(_mm256_add_pd(absY, one), _mm256_set1_pd(kPowerTolerance));
        const __m256d lo = _mm256_mul_pd(e, _mm256_sub_pd(one, tolerance));
        const __m256d hi = _mm256_mul_pd(e, _mm256_add_pd(one, tolerance));
        // Lanes with a zero base (exactly 0 on the exact path) or a power too large for the
        // bracket take the exact steps; an infinite m makes the slack infinite, which leaves
        // its lane undecided. The slack 2^-46 m is FloatFromBracket's.
        const __m256d valid = _mm256_and_pd(_mm256_cmp_pd(absY, _mm256_set1_pd(600.0), _CMP_LT_OQ),
                                            _mm256_cmp_pd(base, _mm256_setzero_pd(), _CMP_NEQ_OQ));
        int decided;
        const __m128 low =
            DecideAffineBracket4Avx2(out_, y0, y1, ends, lo, hi, q, 0x1p-46, decided);
        const int validMask = _mm256_movemask_pd(valid);
        const int mask = decided & validMask;
        if (mask == 0xf && n == 4) {
            _mm_storeu_ps(out + i, low);
            continue;
        }
        float values[4];
        double los[4], his[4];
        _mm_storeu_ps(values, low);
        _mm256_storeu_pd(los, lo);
        _mm256_storeu_pd(his, hi);
        for (size_t k = 0; k < n; ++k) {
            if ((mask >> k) & 1) {
                out[i + k] = values[k];
                continue;
            }
            ++fallbacks;
            out[i + k] = FallbackFloat(x[i + k], {los[k], his[k], ((validMask >> k) & 1) != 0});
        }
    }
    return fallbacks;
}

// FloatsAvx2 in eight lanes, the same bracket, estimates and slack per lane. The lanes the
// decision leaves are taken after each stretch of values, so the vector loop does not branch.
__attribute__((target("avx512f"))) size_t FixedCurve::FloatsAvx512(const double* x, float* out,
                                                                   size_t count) const {
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d x0 = _mm512_set1_pd(x0_), x1 = _mm512_set1_pd(x1_);
    const __m512d y0 = _mm512_set1_pd(y0_), y1 = _mm512_set1_pd(y1_);
    const __m512d p = _mm512_set1_pd(p_), q = _mm512_set1_pd(q_);
    const __m512d ends = _mm512_add_pd(_mm512_abs_pd(y0), _mm512_abs_pd(y1));
    constexpr size_t kStretch = 64;
    double los[kStretch], his[kStretch];
    __mmask8 left[kStretch / 8];
    size_t fallbacks = 0;
    for (size_t start = 0; start < count; start += kStretch) {
        const size_t stretch = std::min(kStretch, count - start);
        bool any = false;
        for (size_t j = 0; j < stretch; j += 8) {
            const size_t i = start + j;
            const size_t n = std::min<size_t>(8, count - i);
            const auto lanes = static_cast<__mmask8>((1u << n) - 1);
            const __m512d xs = _mm512_mask_loadu_pd(_mm512_set1_pd(x[i + n - 1]), lanes, x + i);
            const __m512d t = _mm512_sub_pd(xs, x0);
            const __m512d base = out_ ? _mm512_sub_pd(_mm512_sub_pd(x1, t), x0) : t;
            const __m512d y = _mm512_mul_pd(p, _ZGVeN8v_log(_mm512_abs_pd(base)));
            const __m512d e = _ZGVeN8v_exp(y);
            const __m512d absY = _mm512_abs_pd(y);
            const __m512d tolerance =
                _mm512_mul_pd(_mm512_add_pd(absY, one), _mm512_set1_pd(kPowerTolerance));
            const __m512d lo = _mm512_mul_pd(e, _mm512_sub_pd(one, tolerance));
            const __m512d hi = _mm512_mul_pd(e, _mm512_add_pd(one, tolerance));
            const __mmask8 valid = _mm512_cmp_pd_mask(absY, _mm512_set1_pd(600.0), _CMP_LT_OQ) &
                                   _mm512_cmp_pd_mask(base, _mm512_setzero_pd(), _CMP_NEQ_OQ);
            __mmask8 decided;
            const __m256 low =
                DecideAffineBracket8Avx512(out_, y0, y1, ends, lo, hi, q, 0x1p-46, decided);
            if (n == 8) {
                _mm256_storeu_ps(out + i, low);
            } else {
                float values[8];
                _mm256_storeu_ps(values, low);
                std::copy_n(values, n, out + i);
            }
            // A lane the bracket cannot serve gets NaN ends: the fallback then takes the
            // exact steps throughout.
            const __m512d nan = _mm512_set1_pd(std::numeric_limits<double>::quiet_NaN());
            _mm512_storeu_pd(los + j, _mm512_mask_blend_pd(valid, nan, lo));
            _mm512_storeu_pd(his + j, _mm512_mask_blend_pd(valid, nan, hi));
            left[j / 8] = static_cast<__mmask8>(lanes & ~(decided & valid));
            any |= left[j / 8] != 0;
        }
        if (!any) continue;
        for (size_t j = 0; j < stretch; ++j) {
            if (!((left[j / 8] >> (j % 8)) & 1)) continue;
            const bool valid = !std::isnan(los[j]);
            out[start + j] = FallbackFloat(x[start + j], {los[j], his[j], valid});
            ++fallbacks;
        }
    }
    return fallbacks;
}
#endif

size_t FixedCurve::FloatsOneByOne(const double* x, float* out, size_t count) const {
    constexpr size_t kChunk = 64;
    double base[kChunk], y[kChunk], e[kChunk];
    size_t fallbacks = 0;
    for (size_t start = 0; start < count; start += kChunk) {
        const size_t n = std::min(kChunk, count - start);
        for (size_t i = 0; i < n; ++i) base[i] = PowerBase(x[start + i]);
        ScaledLogsAndExps(base, p_, y, e, n);
        for (size_t i = 0; i < n; ++i) {
            float f;
            const PowerBracket bracket = BracketFromExp(base[i], y[i], e[i]);
            if (FloatFromBracket(bracket, f)) {
                out[start + i] = f;
                continue;
            }
            ++fallbacks;
            out[start + i] = FallbackFloat(x[start + i], bracket);
        }
    }
    return fallbacks;
}

size_t FixedCurve::Floats(const double* x, float* out, size_t count, Lanes lanes) const {
    if (empty_ || !std::isfinite(q_)) {
        for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>((*this)(x[i]));
        return count;
    }
#ifdef GLOBEFORGE_VECTOR_MATH
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx512 && lanes == Lanes::Widest) return FloatsAvx512(x, out, count);
    if (avx2 && lanes != Lanes::One) return FloatsAvx2(x, out, count);
#else
    (void)lanes;
#endif
    return FloatsOneByOne(x, out, count);
}

}  // namespace globeforge
