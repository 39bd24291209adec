#include "exact/decide.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace globeforge {
namespace {

uint32_t Bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

TEST(Round, HalvesToEvenSaturatesAndNaNIsZero) {
    EXPECT_EQ(Round(0.5L), 0);
    EXPECT_EQ(Round(1.5L), 2);
    EXPECT_EQ(Round(2.5L), 2);
    EXPECT_EQ(Round(-0.5L), 0);
    EXPECT_EQ(Round(-1.5L), -2);
    EXPECT_EQ(Round(-2.5L), -2);
    // One extended ulp off a half decides, where a double would have collapsed it.
    EXPECT_EQ(Round(2.5L + 0x1p-62L), 3);
    EXPECT_EQ(Round(-2.5L - 0x1p-62L), -3);
    EXPECT_EQ(Round(2147483646.5L), 2147483646);
    EXPECT_EQ(Round(2147483647.0L), 2147483647);
    EXPECT_EQ(Round(3e9L), 2147483647);
    EXPECT_EQ(Round(std::numeric_limits<Extended>::infinity()), 2147483647);
    EXPECT_EQ(Round(-2147483648.4L), -2147483647 - 1);
    EXPECT_EQ(Round(-3e9L), -2147483647 - 1);
    EXPECT_EQ(Round(-std::numeric_limits<Extended>::infinity()), -2147483647 - 1);
    EXPECT_EQ(Round(std::numeric_limits<Extended>::quiet_NaN()), 0);
}

// Intervals around the float grid's hostile points: a tie, either side of it, signed zeros,
// the denormal range, the overflow threshold and non-finite ends.
std::vector<Range> HostileRanges() {
    const double one = 1.0, tie = 1.0 + 0x1p-24, max = std::numeric_limits<float>::max();
    const double overflow = max + 0x1p103;  // halfway to the next binade: rounds to infinity
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return {{one, one},
            {one, one + 0x1p-30},
            {tie, tie},
            {tie - 0x1p-40, tie},
            {tie, tie + 0x1p-40},
            {tie - 0x1p-40, tie + 0x1p-40},
            {-1e-50, -1e-60},
            {-1e-50, 1e-50},
            {-0.0, 0.0},
            {0x1p-149, 0x1p-149 * 1.25},
            {0x1p-150, 0x1p-150 * 1.5},
            {max, max * (1 + 0x1p-40)},
            {overflow - 0x1p60, overflow},
            {inf, inf},
            {nan, nan},
            {one, nan}};
}

TEST(Decide, DecidesExactlyWhereBothEndsGiveOneFiniteFloat) {
    std::vector<bool> decided;
    for (const Range& r : HostileRanges()) {
        float out;
        const bool d = Decide(r, out);
        decided.push_back(d);
        EXPECT_EQ(Bits(out), Bits(static_cast<float>(r.lo)));
        if (d) {
            EXPECT_EQ(Bits(out), Bits(static_cast<float>(r.hi)));
        }
    }
    EXPECT_EQ(decided, (std::vector<bool>{true, true, true, true, false, false, true, false, false,
                                          true, false, true, false, false, false, false}));
    // The estimate form is its interval's.
    float out;
    EXPECT_TRUE(Decide(Estimate{1.0 + 0x1p-25, 0x1p-27}, out));
    EXPECT_EQ(out, 1.0f);
    EXPECT_TRUE(Decide(Estimate{1.0 + 0x1p-25, 0x1p-25}, out));  // up to the tie: even
    EXPECT_FALSE(Decide(Estimate{1.0 + 0x1p-25, 0x1p-25 + 0x1p-40}, out));
    EXPECT_TRUE(Decided(-1e-50, 1e-60, out));
    EXPECT_EQ(Bits(out), Bits(-0.0f));
}

TEST(Decide, RangesOfBracketsAndHulls) {
    const Range between = RangeBetween(3.0, 2.0, 0.5);
    EXPECT_EQ(between.lo, 1.5);
    EXPECT_EQ(between.hi, 3.5);
    Hull hull;
    for (const double v : {2.0, -1.0, 5.0}) hull.Add(v);
    const Range widened = hull.Widened(1.0);
    EXPECT_EQ(widened.lo, -2.0);
    EXPECT_EQ(widened.hi, 6.0);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) __m128 Decide4Avx2Of(const Range* r, int& decided) {
    return Decide4Avx2(_mm256_set_pd(r[3].lo, r[2].lo, r[1].lo, r[0].lo),
                       _mm256_set_pd(r[3].hi, r[2].hi, r[1].hi, r[0].hi), decided);
}
// Eight ranges from r on: the decided mask, the floats into lanes.
__attribute__((target("avx512f"))) int Decide8Avx512Of(const Range* r, float* lanes) {
    double lo[8], hi[8];
    for (int k = 0; k < 8; ++k) {
        lo[k] = r[k].lo;
        hi[k] = r[k].hi;
    }
    __mmask8 decided;
    _mm256_storeu_ps(lanes, Decide8Avx512(_mm512_loadu_pd(lo), _mm512_loadu_pd(hi), decided));
    return decided;
}
#endif

TEST(Decide, FourLanesDecideAsTheScalarForm) {
    std::vector<Range> ranges = HostileRanges();
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    while (ranges.size() % 4 != 0 || ranges.size() < 64) {
        const double v = std::ldexp(1.0 + unit(gen), static_cast<int>(300 * unit(gen)) - 150);
        ranges.push_back({v, v * (1 + std::ldexp(1.0, -static_cast<int>(40 * unit(gen)) - 10))});
    }
    for (size_t i = 0; i < ranges.size(); i += 4) {
        const Range* r = ranges.data() + i;
        int expected = 0;
        float scalar[4];
        for (int k = 0; k < 4; ++k) expected |= Decide(r[k], scalar[k]) << k;
        float lanes[4];
#ifdef __SSE2__
        int decided;
        _mm_storeu_ps(lanes,
                      Decide4(_mm_set_pd(r[1].lo, r[0].lo), _mm_set_pd(r[3].lo, r[2].lo),
                              _mm_set_pd(r[1].hi, r[0].hi), _mm_set_pd(r[3].hi, r[2].hi), decided));
        EXPECT_EQ(decided, expected) << i;
        for (int k = 0; k < 4; ++k) EXPECT_EQ(Bits(lanes[k]), Bits(scalar[k])) << i + k;
#endif
#if defined(__x86_64__)
        if (__builtin_cpu_supports("avx2")) {
            int avx;
            _mm_storeu_ps(lanes, Decide4Avx2Of(r, avx));
            EXPECT_EQ(avx, expected) << i;
            for (int k = 0; k < 4; ++k) EXPECT_EQ(Bits(lanes[k]), Bits(scalar[k])) << i + k;
        }
        // Eight lanes: this group and the next (the last group pairs with the first).
        if (__builtin_cpu_supports("avx512f")) {
            Range eight[8];
            for (int k = 0; k < 8; ++k)
                eight[k] = ranges[(i + static_cast<size_t>(k)) % ranges.size()];
            float wide[8];
            const int mask = Decide8Avx512Of(eight, wide);
            for (int k = 0; k < 8; ++k) {
                float f;
                const bool one = Decide(eight[k], f);
                EXPECT_EQ((mask >> k) & 1, one ? 1 : 0) << i + k;
                EXPECT_EQ(Bits(wide[k]), Bits(f)) << i + k;
            }
        }
#endif
    }
}

TEST(Decide, RoundedIntegersAndSurelyBelow) {
    int32_t out = 0;
    EXPECT_TRUE(DecideRound({2.5, 0.0}, out));
    EXPECT_EQ(out, 2);
    EXPECT_FALSE(DecideRound({2.5, 1e-9}, out));
    EXPECT_TRUE(DecideRound({-7.25, 0.2}, out));
    EXPECT_EQ(out, -7);
    EXPECT_TRUE(DecideRound({1e300, 1.0}, out));  // saturated, as Round saturates
    EXPECT_EQ(out, 2147483647);

    EXPECT_TRUE(SurelyBelow(1.0, 1.0 + 0x1p-48));
    EXPECT_FALSE(SurelyBelow(1.0, 1.0 + 0x1p-50));
    EXPECT_FALSE(SurelyBelow(-1.0, -1.0));
    EXPECT_FALSE(SurelyBelow(1.0, std::numeric_limits<double>::quiet_NaN()));
}

#ifdef __SSE2__
// The two-lane form against the scalar one on every pair of hostile values: signed zeros,
// subnormals, infinities, NaN and values either side of the margin.
TEST(Decide, SurelyBelow2MatchesScalar) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double denorm = std::numeric_limits<double>::denorm_min();
    const double big = std::numeric_limits<double>::max();
    const std::vector<double> values = {0.0,
                                        -0.0,
                                        denorm,
                                        -denorm,
                                        1.0,
                                        -1.0,
                                        1.0 + 0x1p-48,
                                        1.0 + 0x1p-49,
                                        1.0 + 0x1p-50,
                                        1.0 - 0x1p-52,
                                        0x1p-1022,
                                        big,
                                        -big,
                                        inf,
                                        -inf,
                                        nan,
                                        -nan,
                                        255.0,
                                        255.0 * (1 + 0x1p-47)};
    for (double b : values) {
        for (double v : values) {
            // Lane 1 takes the pair the other way round.
            const int expected = (SurelyBelow(b, v) ? 1 : 0) | (SurelyBelow(v, b) ? 2 : 0);
            EXPECT_EQ(SurelyBelow2(_mm_set_pd(v, b), _mm_set_pd(b, v)), expected) << b << " " << v;
        }
    }
}
#endif

}  // namespace
}  // namespace globeforge
