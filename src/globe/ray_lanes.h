// Lanes of doubles for tracing the globe's rays, and the vector arithmetic and atan2 on them.
#pragma once

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "globe/sphere_geometry.h"

namespace globeforge::globe_detail {

// Lanes of doubles for tracing rays: a plain double traces one pixel, D2 two pixels in an SSE2
// register. One template traces both with the same operations in the same order, so a pixel
// gets the same bytes whichever way it was traced.
template <class V>
V Splat(double s);
template <>
inline double Splat<double>(double s) {
    return s;
}
inline double Sqrt(double a) {
    return std::sqrt(a);
}
inline double Min(double a, double b) {
    return a < b ? a : b;
}
inline double Max(double a, double b) {
    return a > b ? a : b;
}
inline double Abs(double a) {
    return std::fabs(a);
}
inline double Select(bool m, double a, double b) {
    return m ? a : b;
}
inline bool AnyLane(bool m) {
    return m;
}
inline double LaneOf(double a, int) {
    return a;
}

#if defined(__SSE2__)
struct D2 {
    __m128d v;
};
struct M2 {
    __m128d m;
};
template <>
inline D2 Splat<D2>(double s) {
    return {_mm_set1_pd(s)};
}
inline D2 operator+(D2 a, D2 b) {
    return {_mm_add_pd(a.v, b.v)};
}
inline D2 operator-(D2 a, D2 b) {
    return {_mm_sub_pd(a.v, b.v)};
}
inline D2 operator*(D2 a, D2 b) {
    return {_mm_mul_pd(a.v, b.v)};
}
inline D2 operator/(D2 a, D2 b) {
    return {_mm_div_pd(a.v, b.v)};
}
inline D2 Sqrt(D2 a) {
    return {_mm_sqrt_pd(a.v)};
}
inline D2 Min(D2 a, D2 b) {
    return {_mm_min_pd(a.v, b.v)};
}
inline D2 Max(D2 a, D2 b) {
    return {_mm_max_pd(a.v, b.v)};
}
inline D2 Abs(D2 a) {
    return {_mm_andnot_pd(_mm_set1_pd(-0.0), a.v)};
}
inline M2 operator<(D2 a, D2 b) {
    return {_mm_cmplt_pd(a.v, b.v)};
}
inline M2 operator>(D2 a, D2 b) {
    return {_mm_cmpgt_pd(a.v, b.v)};
}
inline M2 operator>=(D2 a, D2 b) {
    return {_mm_cmpge_pd(a.v, b.v)};
}
inline D2 Select(M2 m, D2 a, D2 b) {
    return {_mm_or_pd(_mm_and_pd(m.m, a.v), _mm_andnot_pd(m.m, b.v))};
}
inline bool AnyLane(M2 m) {
    return _mm_movemask_pd(m.m) != 0;
}
inline double LaneOf(D2 a, int i) {
    return _mm_cvtsd_f64(i == 0 ? a.v : _mm_unpackhi_pd(a.v, a.v));
}
#endif

template <class V>
struct V3 {
    V x, y, z;
};
template <class V>
inline V3<V> Splat3(const Vec3& a) {
    return {Splat<V>(a.x), Splat<V>(a.y), Splat<V>(a.z)};
}
template <class V>
inline V Dot(const V3<V>& a, const V3<V>& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
// a x + b y + c z, as Vec3 sums it.
template <class V>
inline V3<V> Combine(const Vec3& a, V x, const Vec3& b, V y, const Vec3& c, V z) {
    return {Splat<V>(a.x) * x + Splat<V>(b.x) * y + Splat<V>(c.x) * z,
            Splat<V>(a.y) * x + Splat<V>(b.y) * y + Splat<V>(c.y) * z,
            Splat<V>(a.z) * x + Splat<V>(b.z) * y + Splat<V>(c.z) * z};
}

// atan2 within 1e-10 radians, far below a texel of any map: an odd polynomial once the angle is
// folded to within pi/8 of 0 or pi/4. It costs a fraction of the library's, which is exact to
// the last bit, and every lit pixel takes two. 0 where both arguments are 0.
template <class V>
V Atan2(V y, V x) {
    const V zero = Splat<V>(0.0);
    const V ax = Abs(x);
    const V ay = Abs(y);
    const V lo = Min(ax, ay);
    const V hi = Max(ax, ay);
    const auto fold = lo > Splat<V>(0.41421356237309503) * hi;  // tan(pi/8)
    const V a = Select(fold, lo - hi, lo) / Select(fold, lo + hi, hi);
    const V s = a * a;
    const V p =
        Splat<V>(-0.3333333327925298) +
        s * (Splat<V>(0.19999977258511561) +
             s * (Splat<V>(-0.14284151188664146) +
                  s * (Splat<V>(0.11071364962298416) +
                       s * (Splat<V>(-0.08624675822412099) + s * Splat<V>(0.050481378629274716)))));
    V r = Select(fold, Splat<V>(kPi / 4), zero) + (a + a * s * p);
    r = Select(ay > ax, Splat<V>(kPi / 2) - r, r);
    r = Select(x < zero, Splat<V>(kPi) - r, r);
    r = Select(y < zero, zero - r, r);
    return Select(hi > zero, r, zero);
}

}  // namespace globeforge::globe_detail
