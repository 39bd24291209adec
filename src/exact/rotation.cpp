#include "exact/rotation.h"

#include <cmath>

#include "exact/decide.h"

namespace globeforge {

Turn TurnOf(Extended degrees) {
    const Extended a = DegToRad(degrees);
    return {std::cos(a), std::sin(a)};
}

double TurnRadians(Extended degrees) {
    return static_cast<double>(DegToRad(degrees));
}

bool RoundedRotationOfEstimate(double x, double y, double slack, Extended degrees, int64_t& rx,
                               int64_t& ry) {
    const double ad = TurnRadians(degrees);
    return RoundedRotationOfTurn(x, y, slack, ad, std::sin(ad), std::cos(ad), rx, ry);
}

bool RoundedRotationOfTurn(double x, double y, double slack, double ad, double s, double c,
                           int64_t& rx, int64_t& ry) {
    if (!(std::fabs(ad) < 1e6) || !(slack >= 0 && slack < 1e-6)) return false;
    // The double angle is within 2^-53 |a| of a; double sine and cosine are within an ulp
    // (four for the vector forms); so each component lies within (|x| + |y|)(|a| + 6) 2^-52
    // of the exact one, plus (|x| + |y|) slack (1 + 2^-20) for the estimates. The bound
    // below allows more than fifty times the first term.
    const double tx = x * c - y * s;
    const double ty = x * s + y * c;
    const double size = std::fabs(x) + std::fabs(y);
    const double error = size * ((std::fabs(ad) + 3.0) * 1e-13 + slack * 2) + 1e-300;
    int32_t x0, y0;
    if (DecideRound({tx, error}, x0) && DecideRound({ty, error}, y0) && std::fabs(tx) < 1e9 &&
        std::fabs(ty) < 1e9) {
        rx = x0;
        ry = y0;
        return true;
    }
    return false;
}

void RoundedRotation(double x, double y, Extended degrees, int64_t& rx, int64_t& ry) {
    if (RoundedRotationOfEstimate(x, y, 0.0, degrees, rx, ry)) return;
    const Vector2 turned = RotateVector(x, y, degrees);
    rx = Round(turned.x);
    ry = Round(turned.y);
}

}  // namespace globeforge
