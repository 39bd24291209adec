#include "exact/rotation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace globeforge {
namespace {

// RoundedRotationOfTurn with sines and cosines 4 ulp off (as the vector forms may be) and
// the x component 2^-48 of its size off: false, or the extended turn's integers.
bool TurnEstimateAgrees(double x, double y, Extended degrees, int k, int64_t ex, int64_t ey,
                        bool& decided) {
    const double ad = TurnRadians(degrees);
    const double s = std::sin(ad), c = std::cos(ad);
    // 4 ulp of v (none for a zero, which has no exponent to take an ulp from).
    const auto ulps4 = [](double v) {
        return v == 0 ? 0.0 : 4 * std::ldexp(1.0, std::ilogb(v) - 52);
    };
    const double s4 = s + ulps4(s) * (k % 2 ? 1 : -1);
    const double c4 = c - ulps4(c) * (k % 3 ? 1 : -1);
    const double xe = x * (1 + (k % 2 ? 0x1p-48 : -0x1p-48));
    int64_t rx = 0, ry = 0;
    decided = RoundedRotationOfTurn(xe, y, 0x1p-48, ad, s4, c4, rx, ry);
    return !decided || (rx == ex && ry == ey);
}

TEST(RoundedRotation, SameIntegersAsTheExtendedTurn) {
    int decided = 0;
    std::mt19937 gen(9);
    std::uniform_real_distribution<double> length(-300.0, 300.0);
    std::uniform_real_distribution<double> angle(-5000.0, 5000.0);
    for (int i = 0; i < 100000; ++i) {
        double x = length(gen), y = length(gen);
        const Extended degrees = angle(gen);
        if (i % 4 == 0) {
            // Half-integer results, where only the exact turn can decide.
            x = std::floor(x) + 0.5;
            y = 0.0;
        }
        int64_t rx = 0, ry = 0;
        RoundedRotation(x, y, i % 4 == 0 ? 0.0L : degrees, rx, ry);
        const Vector2 turned = RotateVector(x, y, i % 4 == 0 ? 0.0L : degrees);
        ASSERT_EQ(rx, Round(turned.x)) << x << " " << y;
        ASSERT_EQ(ry, Round(turned.y)) << x << " " << y;
        bool d;
        ASSERT_TRUE(TurnEstimateAgrees(x, y, i % 4 == 0 ? 0.0L : degrees, i, Round(turned.x),
                                       Round(turned.y), d))
            << x << " " << y;
        decided += d;
    }
    EXPECT_GT(decided, 50000);
    int64_t rx = 1, ry = 1;
    RoundedRotation(0.0, 0.0, 123.0L, rx, ry);
    EXPECT_EQ(rx, 0);
    EXPECT_EQ(ry, 0);
}

// Vectors whose turned x component lands within a few ulps of a half integer, where the
// double turn alone often rounds the other way: the bound must leave them to the extended
// turn.
TEST(RoundedRotation, HalfIntegerTurnsNeedTheBound) {
    std::mt19937 gen(31);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int doubleWrong = 0;
    for (int i = 0; i < 4000; ++i) {
        const Extended degrees = 10000 * unit(gen) - 5000;
        const Turn turn = TurnOf(degrees);
        if (!(std::fabs(turn.c) > 0.1L)) continue;
        const double y = 600 * unit(gen) - 300;
        const Extended half = std::floor(600 * unit(gen) - 300) + 0.5L;
        double x = static_cast<double>((half + y * turn.s) / turn.c);
        for (int k = 0; k < 4; ++k) x = std::nextafter(x, -INFINITY);
        for (int k = 0; k < 8; ++k, x = std::nextafter(x, INFINITY)) {
            const Vector2 turned = RotateVector(x, y, degrees);
            const int64_t ex = Round(turned.x), ey = Round(turned.y);
            const double ad = TurnRadians(degrees);
            const double s = std::sin(ad), c = std::cos(ad);
            doubleWrong += Round(x * c - y * s) != ex;
            int64_t rx = 0, ry = 0;
            RoundedRotation(x, y, degrees, rx, ry);
            ASSERT_EQ(rx, ex) << x << " " << y << " " << static_cast<double>(degrees);
            ASSERT_EQ(ry, ey) << x << " " << y << " " << static_cast<double>(degrees);
            bool d;
            ASSERT_TRUE(TurnEstimateAgrees(x, y, degrees, k, ex, ey, d)) << x << " " << y;
        }
    }
    EXPECT_GT(doubleWrong, 100);
}

}  // namespace
}  // namespace globeforge
