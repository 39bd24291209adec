// Shaping curves: each maps an input interval [x0, x1] onto an output interval [y0, y1]
// along a power curve. They decide where stamps land, how large they are, how domes and
// rings fall off and how colours ramp. Intermediates run in extended precision and are
// rounded to double exactly where the generators have always rounded them, because the
// last bit of a stamp size can move a whole mountain range.
#pragma once

#include <cmath>

#include "image/extended.h"

namespace globeforge {

// |base|^exponent, exactly 0 when base is 0 (also for exponents 0 and below).
inline double AbsPower(double base, double exponent) {
    if (base == 0.0) return 0.0;
    const Extended logBase = std::log(std::fabs(static_cast<Extended>(base)));
    return static_cast<double>(std::exp(static_cast<Extended>(exponent) * logBase));
}

// Power curve through (x0, y0) and (x1, y1), flat at x0 for p > 1. x may lie outside the
// interval and x1 may be below x0. An empty interval (x1 == x0) gives y1 instead of a
// division by zero.
inline double CurveIn(double y0, double y1, double x0, double x1, double x, double p) {
    const double d = x1 - x0;
    if (d == 0.0) return y1;
    const double t = x - x0;
    const double q = static_cast<double>((static_cast<Extended>(y1) - y0) / AbsPower(d, p));
    return static_cast<double>(static_cast<Extended>(AbsPower(t, p)) * q + y0);
}

// The mirror image of CurveIn, flat at x1 for p > 1, computed through CurveIn. An empty
// interval gives y1, as in CurveIn.
inline double CurveOut(double y0, double y1, double x0, double x1, double x, double p) {
    if (x1 - x0 == 0.0) return y1;
    const double t = x - x0;
    const double m = x1 - t;
    const double r = CurveIn(y0, y1, x0, x1, m, p);
    return static_cast<double>(static_cast<Extended>(y0) + (static_cast<Extended>(y1) - r));
}

// S-curve: CurveIn on the first half, CurveOut on the second; the midpoint belongs to the
// second half.
inline double CurveInOut(double y0, double y1, double x0, double x1, double x, double p) {
    const double xs = x0 + x1;
    const double xm = xs / 2;
    const double ys = y0 + y1;
    const double ym = ys / 2;
    if (x < xm) return CurveIn(y0, ym, x0, xm, x, p);
    return CurveOut(ym, y1, xm, x1, x, p);
}

// CurveOut with exponent bias + 1 for bias >= 0, CurveIn with |bias| + 1 below: the
// exponent never drops under 1 and a bias of 0 is the straight line.
inline double CurveBias(double y0, double y1, double x0, double x1, double x, double bias) {
    if (bias >= 0) return CurveOut(y0, y1, x0, x1, x, bias + 1);
    return CurveIn(y0, y1, x0, x1, x, std::fabs(bias) + 1);
}

}  // namespace globeforge
