#include "generate/curves.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <iterator>
#include <random>
#include <vector>

namespace globeforge {

TEST(AbsPower, ZeroBaseIsZeroForEveryExponentAndSignIsDropped) {
    EXPECT_EQ(AbsPower(0, 0), 0.0);
    EXPECT_EQ(AbsPower(0, -1), 0.0);
    EXPECT_EQ(AbsPower(2, 0), 1.0);
    EXPECT_DOUBLE_EQ(AbsPower(-2, 3), 8.0);
}

TEST(Curves, WorkedValues) {
    EXPECT_DOUBLE_EQ(CurveIn(0, 10, 0, 100, 50, 2), 2.5);
    EXPECT_DOUBLE_EQ(CurveOut(0, 10, 0, 100, 50, 2), 7.5);
    EXPECT_DOUBLE_EQ(CurveInOut(0, 10, 0, 100, 25, 2), 1.25);
    EXPECT_DOUBLE_EQ(CurveInOut(0, 10, 0, 100, 75, 2), 8.75);
    EXPECT_DOUBLE_EQ(CurveBias(0, 10, 0, 100, 50, 1), 7.5);
    EXPECT_DOUBLE_EQ(CurveBias(0, 10, 0, 100, 50, -1), 2.5);
    EXPECT_DOUBLE_EQ(CurveBias(0, 10, 0, 100, 50, 0), 5.0);
    // Outside the interval the curve keeps going, with the absolute value taken.
    EXPECT_DOUBLE_EQ(CurveIn(0, 10, 0, 100, 200, 2), 40.0);
    EXPECT_DOUBLE_EQ(CurveIn(0, 10, 0, 100, -50, 2), 2.5);
    // A descending interval, as the stamp sizes use it: (W/2) * (r/1000)^3.
    EXPECT_DOUBLE_EQ(CurveOut(512, 0, 1000, 0, 500, 3), 64.0);
    // The midpoint belongs to the second half and gives the middle value.
    EXPECT_DOUBLE_EQ(CurveInOut(0, 10, 0, 100, 50, 3), 5.0);
}

TEST(Curves, EndPointsAndDegenerateExponents) {
    EXPECT_EQ(CurveIn(3, 9, 1, 5, 1, 2.5), 3.0);
    EXPECT_NEAR(CurveIn(3, 9, 1, 5, 5, 2.5), 9.0, 1e-12);
    EXPECT_NEAR(CurveOut(3, 9, 1, 5, 1, 2.5), 3.0, 1e-12);
    EXPECT_EQ(CurveOut(3, 9, 1, 5, 5, 2.5), 9.0);
    // p = 0: y0 at x0, y1 everywhere else.
    EXPECT_EQ(CurveIn(3, 9, 1, 5, 1, 0), 3.0);
    EXPECT_EQ(CurveIn(3, 9, 1, 5, 2, 0), 9.0);
    EXPECT_EQ(CurveIn(3, 9, 1, 5, 77, 0), 9.0);
    // An empty interval gives y1 instead of dividing by zero.
    EXPECT_EQ(CurveIn(3, 9, 4, 4, 4, 2), 9.0);
    EXPECT_EQ(CurveOut(3, 9, 4, 4, 4, 2), 9.0);
    EXPECT_EQ(CurveBias(255, 0, 0, 0, 0, 4), 0.0);
}

TEST(CurveBias, ExponentIsBiasPlusOneOnEitherSide) {
    EXPECT_DOUBLE_EQ(CurveBias(0, 10, 0, 100, 30, -0.5), CurveIn(0, 10, 0, 100, 30, 1.5));
    EXPECT_DOUBLE_EQ(CurveBias(0, 10, 0, 100, 30, 0.5), CurveOut(0, 10, 0, 100, 30, 1.5));
}

// Each width of the batch form (the ones the processor lacks take the next narrower).
constexpr FixedCurve::Lanes kAllLanes[] = {FixedCurve::Lanes::Widest, FixedCurve::Lanes::Four,
                                           FixedCurve::Lanes::One};

TEST(FixedCurve, SameValuesAsTheCurvesAndTheirFloats) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> any(-400.0, 400.0);
    std::uniform_real_distribution<double> exponent(0.0, 11.0);
    for (int round = 0; round < 300; ++round) {
        const double y0 = any(gen), y1 = any(gen), x0 = any(gen) / 4;
        const double x1 = round % 17 == 0 ? x0 : any(gen);  // some empty intervals
        const double p = round % 13 == 0 ? 1.0 : exponent(gen);
        const FixedCurve in(FixedCurve::Kind::In, y0, y1, x0, x1, p);
        const FixedCurve out(FixedCurve::Kind::Out, y0, y1, x0, x1, p);
        const FixedInOutCurve inOut(y0, y1, x0, x1, p);
        std::vector<double> xs;
        for (int k = 0; k < 39; ++k) {
            // Points on and near the ends and the middle, and anywhere.
            const double x = k < 3 ? (k == 0 ? x0 : k == 1 ? x1 : (x0 + x1) / 2) : any(gen);
            xs.push_back(x);
            ASSERT_EQ(std::bit_cast<uint64_t>(in(x)),
                      std::bit_cast<uint64_t>(CurveIn(y0, y1, x0, x1, x, p)));
            ASSERT_EQ(std::bit_cast<uint64_t>(out(x)),
                      std::bit_cast<uint64_t>(CurveOut(y0, y1, x0, x1, x, p)));
            ASSERT_EQ(std::bit_cast<uint64_t>(inOut(x)),
                      std::bit_cast<uint64_t>(CurveInOut(y0, y1, x0, x1, x, p)));
            ASSERT_EQ(std::bit_cast<uint32_t>(in.Float(x)),
                      std::bit_cast<uint32_t>(static_cast<float>(in(x))));
            ASSERT_EQ(std::bit_cast<uint32_t>(out.Float(x)),
                      std::bit_cast<uint32_t>(static_cast<float>(out(x))));
            ASSERT_EQ(out.Apply(out.PowerTerm(x)), out(x));
            ASSERT_EQ(std::bit_cast<uint32_t>(CurveFloat(false, y0, y1, x0, x1, x, p)),
                      std::bit_cast<uint32_t>(static_cast<float>(CurveIn(y0, y1, x0, x1, x, p))));
            ASSERT_EQ(std::bit_cast<uint32_t>(CurveFloat(true, y0, y1, x0, x1, x, p)),
                      std::bit_cast<uint32_t>(static_cast<float>(CurveOut(y0, y1, x0, x1, x, p))));
        }
        // The batch forms, over a count that leaves spare lanes.
        for (const FixedCurve* curve : {&in, &out}) {
            for (const auto lanes : kAllLanes) {
                std::vector<float> batch(xs.size());
                curve->Floats(xs.data(), batch.data(), xs.size(), lanes);
                for (size_t k = 0; k < xs.size(); ++k) {
                    ASSERT_EQ(std::bit_cast<uint32_t>(batch[k]),
                              std::bit_cast<uint32_t>(static_cast<float>((*curve)(xs[k]))));
                }
            }
        }
    }
}

TEST(FixedCurve, RingSegmentsOfRoundNumbersRoundThroughDouble) {
    // A ring's inner segment: round ends and whole powers put the extended value next to a
    // float's midpoint, where rounding it straight to float differs from the double the curve
    // returns. Every form must store the double's float.
    for (const double p : {2.0, 4.0}) {
        const FixedCurve in(FixedCurve::Kind::In, 255, 191.5, 0, 51.2, p);
        std::vector<double> d(2700);
        for (size_t n = 0; n < d.size(); ++n) d[n] = std::sqrt(static_cast<double>(n));
        for (const auto lanes : kAllLanes) {
            std::vector<float> batch(d.size());
            in.Floats(d.data(), batch.data(), d.size(), lanes);
            for (size_t n = 0; n < d.size(); ++n) {
                const float exact = static_cast<float>(in(d[n]));
                ASSERT_EQ(std::bit_cast<uint32_t>(in.Float(d[n])), std::bit_cast<uint32_t>(exact));
                ASSERT_EQ(std::bit_cast<uint32_t>(batch[n]), std::bit_cast<uint32_t>(exact)) << n;
            }
        }
    }
}

TEST(FixedCurve, FloatsOfDomeProfilesAtEveryDistance) {
    // The carved domes ask for the profile at the root of every integer squared distance,
    // with drawn exponents, up to the rim where the values approach 0 and the float grid is
    // finest: the shortcut through double estimates must never choose another float.
    std::mt19937 gen(23);
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    size_t fallbacks[std::size(kAllLanes)] = {}, values = 0;
    for (const int32_t r : {1, 2, 7, 64, 181, 300}) {
        for (const double bias : {4.0, -4.0, 2.0 + 3 * draw(gen), -2.0 * draw(gen), 0.0}) {
            const double e = bias * draw(gen);
            const FixedCurve curve(e >= 0 ? FixedCurve::Kind::Out : FixedCurve::Kind::In, 255, 0, 0,
                                   r, std::fabs(e) + 1);
            std::vector<double> d(static_cast<size_t>(r) * r + 1);
            for (size_t n = 0; n < d.size(); ++n) d[n] = std::sqrt(static_cast<double>(n));
            std::vector<uint32_t> exact(d.size());
            for (size_t n = 0; n < d.size(); ++n) {
                exact[n] = std::bit_cast<uint32_t>(static_cast<float>(curve(d[n])));
                ASSERT_EQ(std::bit_cast<uint32_t>(curve.Float(d[n])), exact[n]) << r << " " << n;
            }
            for (size_t l = 0; l < std::size(kAllLanes); ++l) {
                std::vector<float> batch(d.size());
                fallbacks[l] += curve.Floats(d.data(), batch.data(), d.size(), kAllLanes[l]);
                for (size_t n = 0; n < d.size(); ++n) {
                    ASSERT_EQ(std::bit_cast<uint32_t>(batch[n]), exact[n]) << r << " " << n << l;
                }
            }
            values += d.size();
        }
    }
    // Every width decides nearly all values itself; the rim's zero powers always fall back.
    for (const size_t f : fallbacks) {
        EXPECT_GT(f, 0u);
        EXPECT_LT(f * 50, values);
    }
}

TEST(BracketAbsPower, HoldsTheExtendedPower) {
    std::mt19937 gen(17);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int valid = 0;
    for (int i = 0; i < 200000; ++i) {
        // Bases from 1e-6 to 1e6 on both sides of 1, exponents 0 to 12.
        const double base = (i % 2 ? -1.0 : 1.0) * std::pow(10.0, 12.0 * unit(gen) - 6.0);
        const double p = 12.0 * unit(gen);
        const PowerBracket b = BracketAbsPower(base, p);
        if (!b.valid) continue;
        ++valid;
        const double exact = AbsPower(base, p);
        ASSERT_LE(b.lo, exact) << base << " " << p;
        ASSERT_GE(b.hi, exact) << base << " " << p;
        double y, e;  // the vector log and exp hold it too
        ScaledLogsAndExps(&base, p, &y, &e, 1);
        const PowerBracket v = BracketFromExp(base, y, e);
        ASSERT_TRUE(v.valid);
        ASSERT_LE(v.lo, exact) << base << " " << p;
        ASSERT_GE(v.hi, exact) << base << " " << p;
    }
    EXPECT_GT(valid, 190000);
    EXPECT_FALSE(BracketAbsPower(0.0, 3.0).valid);  // exactly 0: the exact path gives it
    EXPECT_FALSE(BracketAbsPower(1e300, 3.0).valid);
    EXPECT_FALSE(BracketAbsPower(NAN, 3.0).valid);
}

TEST(ChainedPower, DecidesFromTheBracketOnlyWhenItCannotMatter) {
    // A chain that rounds to a coarse grid: far from a step the bracket decides, at a step
    // the exact power must.
    int exactCalls = 0;
    const auto chain = [&](double power) {
        ++exactCalls;
        return std::floor(power * 4.0);
    };
    const double far = ChainedPower(3.0, 0.25, chain);  // 3^0.25 = 1.316...: far from 1.25
    EXPECT_EQ(far, std::floor(AbsPower(3.0, 0.25) * 4.0));
    EXPECT_EQ(exactCalls, 2);  // both ends of the bracket, no exact power
    exactCalls = 0;
    EXPECT_EQ(ChainedPower(4.0, 0.5, chain), 8.0);  // 4^0.5 = 2: exactly on a step
    EXPECT_EQ(exactCalls, 3);
}

}  // namespace globeforge
