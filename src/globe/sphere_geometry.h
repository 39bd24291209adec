// Angles and vectors in the planet's frame, as the globe's camera, rays and shading share them.
#pragma once

#include <cmath>
#include <numbers>

namespace globeforge::globe_detail {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180.0;
constexpr double kInvPi = 1.0 / kPi;
constexpr double kInvTwoPi = 0.5 / kPi;

struct Vec3 {
    double x, y, z;
};
inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double Dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Normalized(Vec3 a) {
    return a * (1.0 / std::sqrt(Dot(a, a)));
}

}  // namespace globeforge::globe_detail
