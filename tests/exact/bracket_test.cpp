#include "exact/bracket.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace globeforge {
namespace {

uint32_t Bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

// The chain's extended steps as the curves take them: r = x q + y0 rounded to double, and
// flipped, y0 + (y1 - r) rounded to double; then the float.
float Chain(bool flipped, double y0, double y1, double x, double q) {
    const double r = static_cast<double>(static_cast<Extended>(x) * q + y0);
    if (!flipped) return static_cast<float>(r);
    return static_cast<float>(
        static_cast<double>(static_cast<Extended>(y0) + (static_cast<Extended>(y1) - r)));
}

struct Case {
    bool flipped;
    double y0, y1, x, q;
};

// Inputs x anywhere, and placed a few ulps either side of where the chain crosses a tie of
// the float grid.
std::vector<Case> HostileCases() {
    std::mt19937 gen(29);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Case> cases;
    for (int i = 0; i < 3000; ++i) {
        const double scale = std::ldexp(1.0, static_cast<int>(unit(gen) * 40) - 20);
        const double y0 = (unit(gen) - 0.5) * 800 * scale, y1 = (unit(gen) - 0.5) * 800 * scale;
        const double q = (unit(gen) - 0.5) * 10 * scale;
        const bool flipped = i % 2 == 1;
        const double anywhere = 100 * unit(gen);
        cases.push_back({flipped, y0, y1, anywhere, q});
        const float v = Chain(flipped, y0, y1, anywhere, q);
        const Extended tie = (static_cast<Extended>(v) + std::nextafter(v, INFINITY)) / 2;
        double x = static_cast<double>(flipped ? (y1 - tie) / q : (tie - y0) / q);
        if (!(x > 0 && std::isfinite(x))) continue;
        for (int k = 0; k < 6; ++k) x = std::nextafter(x, 0.0);
        for (int k = 0; k < 12; ++k, x = std::nextafter(x, INFINITY)) {
            cases.push_back({flipped, y0, y1, x, q});
        }
    }
    return cases;
}

TEST(DecideAffineBracket, SameFloatsAsTheExtendedChainAndTheSlackIsNeeded) {
    int doubleWrong = 0, decided = 0;
    for (const Case& c : HostileCases()) {
        const float exact = Chain(c.flipped, c.y0, c.y1, c.x, c.q);
        float out;
        // No slack: the estimate alone, wrong near ties.
        if (DecideAffineBracket(c.flipped, c.y0, c.y1, {c.x, c.x}, {&c.q, 1}, 0.0, out)) {
            doubleWrong += Bits(out) != Bits(exact);
        }
        // FixedCurve's slack on an exact input, and CurveFloat's on a bracket of both.
        if (DecideAffineBracket(c.flipped, c.y0, c.y1, {c.x, c.x}, {&c.q, 1}, 0x1p-46, out)) {
            ++decided;
            ASSERT_EQ(Bits(out), Bits(exact)) << c.y0 << " " << c.y1 << " " << c.x << " " << c.q;
        }
        const Bracket x{c.x * (1 - 1e-13), c.x * (1 + 1e-13)};
        const double qs[2] = {c.q * (1 - 1e-14), c.q * (1 + 1e-14)};
        if (DecideAffineBracket(c.flipped, c.y0, c.y1, x, qs, 0x1p-44, out)) {
            for (const double xi : {x.lo, c.x, x.hi}) {
                for (const double q : {qs[0], c.q, qs[1]}) {
                    ASSERT_EQ(Bits(out), Bits(Chain(c.flipped, c.y0, c.y1, xi, q)))
                        << c.y0 << " " << c.y1 << " " << xi << " " << q;
                }
            }
        }
    }
    EXPECT_GT(doubleWrong, 100);
    EXPECT_GT(decided, 1000);
}

#if defined(__x86_64__)
// Four cases of one flip in the lanes, as FixedCurve::FloatsAvx2 forms them.
__attribute__((target("avx2"))) __m128 Bracket4Of(const Case* c, int& decided) {
    double y0[4], y1[4], x[4], q[4];
    for (int k = 0; k < 4; ++k) {
        y0[k] = c[k].y0;
        y1[k] = c[k].y1;
        x[k] = c[k].x;
        q[k] = c[k].q;
    }
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d y0s = _mm256_loadu_pd(y0), y1s = _mm256_loadu_pd(y1);
    const __m256d ends = _mm256_add_pd(_mm256_andnot_pd(sign, y0s), _mm256_andnot_pd(sign, y1s));
    const __m256d xs = _mm256_loadu_pd(x);
    return DecideAffineBracket4Avx2(c[0].flipped, y0s, y1s, ends, xs, xs, _mm256_loadu_pd(q),
                                    0x1p-46, decided);
}
// Eight cases of one flip, as FixedCurve::FloatsAvx512 forms them: the decided mask.
__attribute__((target("avx512f"))) int Bracket8Of(const Case* c, float* lanes) {
    double y0[8], y1[8], x[8], q[8];
    for (int k = 0; k < 8; ++k) {
        y0[k] = c[k].y0;
        y1[k] = c[k].y1;
        x[k] = c[k].x;
        q[k] = c[k].q;
    }
    const __m512d y0s = _mm512_loadu_pd(y0), y1s = _mm512_loadu_pd(y1);
    const __m512d ends = _mm512_add_pd(_mm512_abs_pd(y0s), _mm512_abs_pd(y1s));
    const __m512d xs = _mm512_loadu_pd(x);
    __mmask8 decided;
    _mm256_storeu_ps(lanes, DecideAffineBracket8Avx512(c[0].flipped, y0s, y1s, ends, xs, xs,
                                                       _mm512_loadu_pd(q), 0x1p-46, decided));
    return decided;
}
#endif

TEST(DecideAffineBracket, FourLanesSameFloatsAsTheExtendedChain) {
#if defined(__x86_64__)
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
    std::vector<Case> cases = HostileCases();
    // Lanes of one kind: the four-lane form takes one flip for all of them.
    std::vector<Case> grouped;
    for (const bool flipped : {false, true}) {
        for (const Case& c : cases) {
            if (c.flipped == flipped) grouped.push_back(c);
        }
        grouped.resize(grouped.size() / 4 * 4);
    }
    int decidedLanes = 0, decidedWide = 0;
    for (size_t i = 0; i < grouped.size(); i += 4) {
        int decided;
        float lanes[4];
        _mm_storeu_ps(lanes, Bracket4Of(grouped.data() + i, decided));
        for (int k = 0; k < 4; ++k) {
            const Case& c = grouped[i + k];
            if (!((decided >> k) & 1)) continue;
            ++decidedLanes;
            ASSERT_EQ(Bits(lanes[k]), Bits(Chain(c.flipped, c.y0, c.y1, c.x, c.q))) << i + k;
        }
        // Eight lanes decide the lanes four do (the same steps), when the eight share a flip.
        if (i % 8 != 0 || i + 8 > grouped.size() || grouped[i].flipped != grouped[i + 7].flipped ||
            !__builtin_cpu_supports("avx512f")) {
            continue;
        }
        float wide[8];
        const int mask = Bracket8Of(grouped.data() + i, wide);
        int upper;
        _mm_storeu_ps(lanes, Bracket4Of(grouped.data() + i + 4, upper));
        EXPECT_EQ(mask, decided | upper << 4) << i;
        for (int k = 0; k < 8; ++k) {
            const Case& c = grouped[i + static_cast<size_t>(k)];
            if (!((mask >> k) & 1)) continue;
            ++decidedWide;
            ASSERT_EQ(Bits(wide[k]), Bits(Chain(c.flipped, c.y0, c.y1, c.x, c.q))) << i + k;
        }
    }
    EXPECT_GT(decidedLanes, 1000);
    if (__builtin_cpu_supports("avx512f")) {
        EXPECT_GT(decidedWide, 1000);
    }
#else
    GTEST_SKIP() << "x86-64 only";
#endif
}

}  // namespace
}  // namespace globeforge
