#include "random/lcg32.h"

#include <gtest/gtest.h>

namespace globeforge {

TEST(Lcg32, KnownSequenceFromSeed) {
    Lcg32 rng(65536);
    rng.RandomReal();
    EXPECT_EQ(rng.state, 2214920193u);
    rng.RandomReal();
    EXPECT_EQ(rng.state, 807502854u);
    rng.RandomReal();
    EXPECT_EQ(rng.state, 2297080863u);

    Lcg32 other(12345);
    EXPECT_EQ(other.Random(100), 38);  // upper 32 bits of 1655067934 * 100
    EXPECT_EQ(other.state, 1655067934u);
    EXPECT_DOUBLE_EQ(other.RandomReal(), 1242767767.0 / 4294967296.0);
}

TEST(Lcg32, RandomZeroStillAdvancesAndNegativeSeedsWrap) {
    Lcg32 rng(7);
    Lcg32 reference(7);
    EXPECT_EQ(rng.Random(0), 0);
    reference.RandomReal();
    EXPECT_EQ(rng.state, reference.state);

    EXPECT_EQ(Lcg32(-1).state, 0xFFFFFFFFu);
}

TEST(Lcg32, RealDrawsStayBelowOne) {
    Lcg32 rng(0);
    rng.state = 0xFFFFFFFFu - 134775813u;  // next state is the largest possible
    for (int i = 0; i < 1000; ++i) {
        const double r = rng.RandomReal();
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
    }
}

TEST(Lcg32, AdvanceMatchesSerialDraws) {
    for (uint64_t n : {0ull, 1ull, 2ull, 3ull, 17ull, 1000ull, 65537ull}) {
        Lcg32 serial(424242);
        for (uint64_t i = 0; i < n; ++i) serial.RandomReal();
        Lcg32 jumped(424242);
        jumped.Advance(n);
        EXPECT_EQ(jumped.state, serial.state) << n;
    }
    // The period is 2^32: a full cycle returns to the start.
    Lcg32 cycle(99);
    cycle.Advance(uint64_t{1} << 32);
    EXPECT_EQ(cycle.state, 99u);
}

}  // namespace globeforge
