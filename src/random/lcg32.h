// The planet's random generator: a 32-bit linear congruential generator.
// Every draw first advances the state: state := state * 134775813 + 1 (mod 2^32).
// The same seed must give the same planet forever, so the draw formulas and the
// order of draws in every stage are part of the settings-file format.
#pragma once

#include <cstdint>

namespace globeforge {

class Lcg32 {
  public:
    static constexpr uint32_t kMultiplier = 134775813u;  // 0x08088405
    static constexpr uint32_t kIncrement = 1u;

    constexpr Lcg32() = default;
    constexpr explicit Lcg32(int32_t seed) : state(static_cast<uint32_t>(seed)) {}

    // Integer draw in [0, n): the upper 32 bits of the 64-bit product of the new
    // state and n (n taken as unsigned). Random(0) returns 0 and still advances.
    constexpr int32_t Random(int32_t n) {
        Next();
        const uint64_t product = uint64_t{state} * uint64_t{static_cast<uint32_t>(n)};
        return static_cast<int32_t>(static_cast<uint32_t>(product >> 32));
    }

    // Real draw in [0, 1): the new state times 2^-32.
    constexpr double RandomReal() {
        Next();
        return static_cast<double>(state) * (1.0 / 4294967296.0);
    }

    // Jumps ahead n draws in O(log n), so a band of rows can start with exactly
    // the state the serial loop would have there.
    constexpr void Advance(uint64_t n) {
        uint32_t accMul = 1, accAdd = 0;
        uint32_t curMul = kMultiplier, curAdd = kIncrement;
        while (n > 0) {
            if (n & 1u) {
                accMul = accMul * curMul;
                accAdd = accAdd * curMul + curAdd;
            }
            curAdd = (curMul + 1u) * curAdd;
            curMul = curMul * curMul;
            n >>= 1;
        }
        state = accMul * state + accAdd;
    }

    uint32_t state = 0;

  private:
    constexpr void Next() { state = state * kMultiplier + kIncrement; }
};

}  // namespace globeforge
