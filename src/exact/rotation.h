// Turning a vector by an angle in degrees: the extended steps that define it, and the
// integers Round gives of its components, decided from double sines and cosines wherever
// their error bound allows.
#pragma once

#include <cstdint>

#include "exact/extended.h"

namespace globeforge {

struct Vector2 {
    Extended x;
    Extended y;
};

// degrees * pi / 180.
inline Extended DegToRad(Extended degrees) {
    return degrees * 0.017453292519943295L;
}

// The cosine and sine of an angle given in degrees, for turning many vectors by one angle.
struct Turn {
    Extended c;
    Extended s;
};
Turn TurnOf(Extended degrees);

// (x, y) turned: (x cos a - y sin a, x sin a + y cos a).
inline Vector2 Rotate(Extended x, Extended y, const Turn& turn) {
    return {x * turn.c - y * turn.s, x * turn.s + y * turn.c};
}

// (x, y) turned by degrees.
inline Vector2 RotateVector(Extended x, Extended y, Extended degrees) {
    return Rotate(x, y, TurnOf(degrees));
}

// Round of both components of RotateVector(x, y, degrees), for x and y in double: the same
// integers, mostly without the extended-precision sine and cosine (double-precision ones
// bracket the result, and the exact turn decides only where the bracket spans a rounding
// boundary).
void RoundedRotation(double x, double y, Extended degrees, int64_t& rx, int64_t& ry);
// The same from estimates x and y of the components, each within slack times its size of
// the true one: true when the double bracket decides both integers for every pair within
// that slack, false (nothing set) when the exact components must decide.
bool RoundedRotationOfEstimate(double x, double y, double slack, Extended degrees, int64_t& rx,
                               int64_t& ry);
// The angle of a turn by degrees in radians, rounded to double, and the estimate above for
// callers that take its sine s and cosine c themselves (within 4 ulp), many at once.
double TurnRadians(Extended degrees);
bool RoundedRotationOfTurn(double x, double y, double slack, double ad, double s, double c,
                           int64_t& rx, int64_t& ry);

}  // namespace globeforge
