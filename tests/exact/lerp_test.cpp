#include "exact/lerp.h"

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

struct Lerp {
    float a, b;
    double t;
};

// Fractions that are multiples of 2^-53 (so ExactRest gives the rest), with a and b across
// the float range, and t placed so that the lerp lands within a few units of 2^-53 of a tie
// of the float grid, where the double estimate alone often picks the wrong float. Then the
// extremes: signed zeros, denormals, the largest floats, t at and next to 0 and 1.
std::vector<Lerp> HostileLerps() {
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto grid = [](Extended t) {
        return std::ldexp(std::floor(std::ldexp(double(t), 53)), -53);
    };
    std::vector<Lerp> lerps;
    for (int i = 0; i < 1500; ++i) {
        const auto draw = [&] {
            return static_cast<float>(
                std::ldexp(1 + unit(gen), static_cast<int>(unit(gen) * 60) - 30));
        };
        const float a = draw();
        const float b = i % 3 == 0 ? -draw() : draw();
        const float v = LerpExtended(a, b, unit(gen));
        const Extended tie = (static_cast<Extended>(v) + std::nextafter(v, INFINITY)) / 2;
        const Extended t = (tie - b) / (static_cast<Extended>(a) - b);
        if (!(t > 0 && t < 1)) continue;
        for (int k = -6; k <= 6; ++k) {
            const double tk = grid(t) + k * 0x1p-53;
            if (tk >= 0 && tk <= 1) lerps.push_back({a, b, tk});
        }
    }
    const float max = std::numeric_limits<float>::max(), tiny = 0x1p-149f;
    const float values[] = {0.0f, -0.0f, tiny, -tiny, 0x1p-126f, 3 * tiny, max, -max, 1.0f, 255.0f};
    const double ts[] = {0.0, 0x1p-53, 0x1p-30, 0.5, 1 - 0x1p-53, 1.0, 0.25 + 0x1p-53};
    for (const float a : values) {
        for (const float b : values) {
            for (const double t : ts) lerps.push_back({a, b, t});
        }
    }
    return lerps;
}

TEST(LerpDecided, SameFloatsAsTheExtendedStepsAndItsSlackIsNeeded) {
    int doubleWrong = 0;
    for (const Lerp& l : HostileLerps()) {
        const float exact = LerpExtended(l.a, l.b, l.t);
        const double u = ExactRest(l.t);
        ASSERT_EQ(u, 1.0 - l.t);
        const Estimate e = LerpEstimate(l.a, l.b, l.t, u);
        doubleWrong += std::isfinite(exact) && Bits(static_cast<float>(e.value)) != Bits(exact);
        float out;
        if (LerpDecided(l.a, l.b, l.t, u, out)) {
            ASSERT_EQ(Bits(out), Bits(exact)) << l.a << " " << l.b << " " << l.t;
        }
    }
    // The cases reach where the double sum alone rounds the wrong way, so a slack dropped or
    // shrunk below the double steps' error fails above.
    EXPECT_GT(doubleWrong, 100);
}

TEST(LerpDecided, FractionsOffTheGridStayUndecided) {
    float out;
    for (const double t : {0x1p-60, 0.1, -0.25, 1.5, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_TRUE(std::isnan(ExactRest(t))) << t;
        EXPECT_FALSE(LerpDecided(1.0f, 2.0f, t, ExactRest(t), out)) << t;
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) __m128 LerpDecided4Avx2Of(const Lerp* l, int& decided) {
    return LerpDecided4Avx2(_mm_set_ps(l[3].a, l[2].a, l[1].a, l[0].a),
                            _mm_set_ps(l[3].b, l[2].b, l[1].b, l[0].b),
                            _mm256_set_pd(l[3].t, l[2].t, l[1].t, l[0].t),
                            _mm256_set_pd(1 - l[3].t, 1 - l[2].t, 1 - l[1].t, 1 - l[0].t), decided);
}
#endif

TEST(LerpDecided, FourLanesDecideAsTheScalarForm) {
    std::vector<Lerp> lerps = HostileLerps();
    lerps.resize(lerps.size() / 4 * 4);
    for (size_t i = 0; i < lerps.size(); i += 4) {
        const Lerp* l = lerps.data() + i;
        int expected = 0;
        float scalar[4], lanes[4];
        for (int k = 0; k < 4; ++k) {
            expected |= LerpDecided(l[k].a, l[k].b, l[k].t, 1 - l[k].t, scalar[k]) << k;
        }
#ifdef __SSE2__
        int decided;
        _mm_storeu_ps(lanes, LerpDecided4(_mm_set_ps(l[3].a, l[2].a, l[1].a, l[0].a),
                                          _mm_set_ps(l[3].b, l[2].b, l[1].b, l[0].b),
                                          _mm_set_pd(l[1].t, l[0].t), _mm_set_pd(l[3].t, l[2].t),
                                          _mm_set_pd(1 - l[1].t, 1 - l[0].t),
                                          _mm_set_pd(1 - l[3].t, 1 - l[2].t), decided));
        ASSERT_EQ(decided, expected) << i;
        for (int k = 0; k < 4; ++k) {
            if ((expected >> k) & 1) {
                ASSERT_EQ(Bits(lanes[k]), Bits(scalar[k])) << i + k;
            }
        }
#endif
#if defined(__x86_64__)
        if (__builtin_cpu_supports("avx2")) {
            int avx;
            _mm_storeu_ps(lanes, LerpDecided4Avx2Of(l, avx));
            ASSERT_EQ(avx, expected) << i;
            for (int k = 0; k < 4; ++k) {
                if ((expected >> k) & 1) {
                    ASSERT_EQ(Bits(lanes[k]), Bits(scalar[k])) << i + k;
                }
            }
        }
#endif
    }
}

TEST(LerpDecidedOver, SameFloatForEveryFractionInTheRangeAndItsSlackIsNeeded) {
    int doubleWrong = 0;
    const std::vector<Lerp> lerps = HostileLerps();
    for (size_t i = 0; i < lerps.size(); ++i) {
        const Lerp& l = lerps[i];
        // Single fractions, and ranges of a few grid steps up to the next case's fraction.
        const double t1 = i % 2 == 0 ? l.t : std::min(1.0, l.t + (i % 7) * 0x1p-53);
        const float exact = LerpExtended(l.a, l.b, l.t);
        const double estimate = l.b + l.t * (static_cast<double>(l.a) - l.b);
        doubleWrong += std::isfinite(exact) && Bits(static_cast<float>(estimate)) != Bits(exact);
        float out;
        if (!LerpDecidedOver(l.a, l.b, l.t, t1, out)) continue;
        for (const double t : {l.t, (l.t + t1) / 2, t1}) {
            ASSERT_EQ(Bits(out), Bits(LerpExtended(l.a, l.b, t))) << l.a << " " << l.b << " " << t;
        }
    }
    EXPECT_GT(doubleWrong, 100);
    // Zeros: two +0 decide +0, any -0 leaves the sign to the extended steps.
    float out;
    EXPECT_TRUE(LerpDecidedOver(0.0f, 0.0f, 0.25, 0.5, out));
    EXPECT_EQ(Bits(out), 0u);
    EXPECT_FALSE(LerpDecidedOver(-0.0f, 0.0f, 0.25, 0.5, out));
    EXPECT_FALSE(LerpDecidedOver(0x1p-149f, -0x1p-149f, 0.5, 0.5, out));
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) int LerpOver4Avx2Of(const float* a, const float* b, double t0,
                                                    double t1, float* out) {
    int decided;
    _mm_storeu_ps(out, LerpDecidedOver4Avx2(_mm_loadu_ps(a), _mm_loadu_ps(b), t0, t1, decided));
    return decided;
}
#endif

TEST(LerpDecidedOver, FourLanesDecideAsTheScalarForm) {
#if defined(__x86_64__)
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
    std::vector<Lerp> lerps = HostileLerps();
    // Zeros of both signs, infinities and NaN among the pairs.
    const float inf = std::numeric_limits<float>::infinity();
    for (const float z : {0.0f, -0.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN()}) {
        lerps.push_back({z, 0.0f, 0.5});
        lerps.push_back({0.0f, z, 0.25});
        lerps.push_back({z, z, 0.75});
    }
    int decidedLanes = 0;
    for (size_t i = 0; i + 4 <= lerps.size(); ++i) {
        // Each case's range, over its own pair and the next three.
        const double t0 = lerps[i].t;
        const double t1 = i % 2 == 0 ? t0 : std::min(1.0, t0 + (i % 7) * 0x1p-53);
        float a[4], b[4], lanes[4];
        for (int k = 0; k < 4; ++k) {
            a[k] = lerps[i + static_cast<size_t>(k)].a;
            b[k] = lerps[i + static_cast<size_t>(k)].b;
        }
        const int decided = LerpOver4Avx2Of(a, b, t0, t1, lanes);
        for (int k = 0; k < 4; ++k) {
            float scalar;
            const bool one = LerpDecidedOver(a[k], b[k], t0, t1, scalar);
            ASSERT_EQ((decided >> k) & 1, one ? 1 : 0) << a[k] << " " << b[k] << " " << t0;
            if (!one) continue;
            ++decidedLanes;
            ASSERT_EQ(Bits(lanes[k]), Bits(scalar)) << a[k] << " " << b[k] << " " << t0;
        }
    }
    EXPECT_GT(decidedLanes, 1000);
#else
    GTEST_SKIP() << "x86-64 only";
#endif
}

}  // namespace
}  // namespace globeforge
