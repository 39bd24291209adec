#include "generate/curves.h"

#include <gtest/gtest.h>

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

}  // namespace globeforge
