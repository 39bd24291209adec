// The turn of the warp: the angle, in degrees, by which a warp-map pixel turns its
// displacement, from the extended steps; and its estimate in radians from double steps, with
// a bound on the estimate's distance from the exact angle, for one pixel or many at a time.
#pragma once

#include <cstdint>

namespace globeforge::warp_turn {

constexpr double kEps = 0x1p-52;  // 2^-52: an ulp of doubles in [1, 2)

// CurveOut(-720, 720, 0, 512, qR, p) step for step.
double TurnAngle(double qR, double p);

// The turn of a pixel in radians, estimated, with its error bound; valid is false where
// no estimate is made.
struct TurnEstimate {
    double a, error;
    bool valid;
};

// The estimate for m = 512 - R of the warp-map pixel and p its steer's exponent.
TurnEstimate EstimateTurn(double m, double p);

// The turns of count pixels, m[i] and p[i] as above, and the turns' sines and cosines (those
// of 0 where no estimate is made), in the widest lanes the processor has (or one pixel at a
// time, the sines and cosines still in lanes, when not widest).
void EstimateTurns(const double* m, const double* p, TurnEstimate* turns, double* sines,
                   double* cosines, int32_t count, bool widest = true);

}  // namespace globeforge::warp_turn
