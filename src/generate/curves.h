// Shaping curves: each maps an input interval [x0, x1] onto an output interval [y0, y1]
// along a power curve. They decide where stamps land, how large they are, how domes and
// rings fall off and how colours ramp. Intermediates run in extended precision and are
// rounded to double exactly where the generators have always rounded them, because the
// last bit of a stamp size can move a whole mountain range.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "exact/bracket.h"
#include "exact/extended.h"

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

// static_cast<float>(CurveOut(...)) when out, else of CurveIn(...): the same float, mostly
// from double brackets of both powers (see BracketAbsPower) instead of extended ones. In
// gives y0 + P q and Out y0 + (y1 - (y0 + P q)): both are affine in the product of the
// power P and the quotient q = (y1 - y0) / P_d, so over the box of their brackets the
// extremes lie at the corners (DecideAffineBracket).
float CurveFloat(bool out, double y0, double y1, double x0, double x1, double x, double p);

// CurveOut with exponent bias + 1 for bias >= 0, CurveIn with |bias| + 1 below: the
// exponent never drops under 1 and a bias of 0 is the straight line.
inline double CurveBias(double y0, double y1, double x0, double x1, double x, double bias) {
    if (bias >= 0) return CurveOut(y0, y1, x0, x1, x, bias + 1);
    return CurveIn(y0, y1, x0, x1, x, std::fabs(bias) + 1);
}

// Bounds lo <= AbsPower(base, exponent) <= hi from double-precision exp and log, a few times
// cheaper than the extended-precision power. valid is false where no such bound holds
// cheaply: a zero base (the power is exactly 0 then, which the exact path gives), results
// near the ends of the double range, and non-finite values.
struct PowerBracket {
    double lo, hi;
    bool valid;
};
// The relative width of a bracket, per unit of |y| + 1 for y = exponent ln|base|. The double
// log within 4 ulp (the vector forms; the scalar ones are within 2) and the product put y
// within 2^-49.8 |y| of the real exponent, which exp turns into a relative error, and exp adds
// 4 ulp (2^-50); the extended power errs by 2^-61 (|y| + 1) before its rounding to double
// (2^-53). Together e lies within 2^-49.7 (|y| + 1) of the exact power, relative; the width
// is over six times that (|y| < 600, so exp of the error is linear to far below that).
constexpr double kPowerTolerance = 0x1p-47;
// The bracket from y = exponent ln|base| and e = exp(y), each as accurate as the C library's
// log and exp (or their vector forms, at most 4 ulp off).
inline PowerBracket BracketFromExp(double base, double y, double e) {
    if (!(std::fabs(y) < 600.0)) return {0.0, 0.0, false};
    const double tolerance = (std::fabs(y) + 1.0) * kPowerTolerance;
    return {e * (1.0 - tolerance), e * (1.0 + tolerance), base != 0.0};
}
inline PowerBracket BracketAbsPower(double base, double exponent) {
    const double y = exponent * std::log(std::fabs(base));
    if (!(std::fabs(y) < 600.0)) return {0.0, 0.0, false};
    return BracketFromExp(base, y, std::exp(y));
}

// y[i] = exponent ln|base[i]| and e[i] = exp(y[i]) for count bases, with the C library's
// vector log and exp where the processor has them: what BracketFromExp needs, a few times
// faster than one value at a time.
void ScaledLogsAndExps(const double* base, double exponent, double* y, double* e, size_t count);

// s[i] = sin a[i] and c[i] = cos a[i] for count angles, with the C library's vector forms
// (at most 4 ulp off) where the processor has them.
void SinesAndCosines(const double* a, double* s, double* c, size_t count);

// A value of a chain of rounding steps that is monotonic in the power fed into it (a float,
// or an array of floats each monotonic), taken from the bracket when both ends give the
// same bits, else from the exact power. The result is always
// chain(AbsPower(base, exponent)), bit for bit: a monotonic function that agrees at both
// ends of an interval is constant on it.
template <typename Chain>
inline auto ChainedPower(double base, double exponent, Chain&& chain) {
    const PowerBracket b = BracketAbsPower(base, exponent);
    if (b.valid) {
        const auto lo = chain(b.lo);
        const auto hi = chain(b.hi);
        if (std::memcmp(&lo, &hi, sizeof lo) == 0) return lo;
    }
    return chain(AbsPower(base, exponent));
}

// The logarithm inside AbsPower(base, exponent), for a base used with many exponents.
inline Extended AbsPowerLog(double base) {
    return std::log(std::fabs(static_cast<Extended>(base)));
}
// AbsPower(base, exponent) from AbsPowerLog(base): the same value, one logarithm fewer.
inline double AbsPowerFromLog(double base, Extended logBase, double exponent) {
    if (base == 0.0) return 0.0;
    return static_cast<double>(std::exp(static_cast<Extended>(exponent) * logBase));
}

// CurveIn or CurveOut for many x with y0, y1, x0, x1 and p fixed, as the generators and map
// builders need them per pixel: the power of the interval is computed once. The arithmetic
// is the curve's step for step, so the results are identical.
class FixedCurve {
  public:
    enum class Kind : bool { In, Out };
    FixedCurve(Kind kind, double y0, double y1, double x0, double x1, double p)
        : y0_(y0),
          y1_(y1),
          x0_(x0),
          x1_(x1),
          p_(p),
          out_(kind == Kind::Out),
          empty_(x1 - x0 == 0.0) {
        if (!empty_) {
            const double d = x1 - x0;
            q_ = static_cast<double>((static_cast<Extended>(y1) - y0) / AbsPower(d, p));
        }
    }

    double operator()(double x) const {
        if (empty_) return y1_;
        if (!out_) return Power(x - x0_);
        const double t = x - x0_;
        const double m = x1_ - t;
        const double r = Power(m - x0_);
        return static_cast<double>(static_cast<Extended>(y0_) + (static_cast<Extended>(y1_) - r));
    }

    // The curve's value rounded to float, as a pixel stores it: the same float as
    // static_cast<float>((*this)(x)), mostly without the extended-precision power.
    float Float(double x) const {
        if (empty_ || !std::isfinite(q_)) return static_cast<float>((*this)(x));
        const double base = PowerBase(x);
        float f;
        const PowerBracket bracket = BracketAbsPower(base, p_);
        if (FloatFromBracket(bracket, f)) return f;
        return FallbackFloat(x, bracket);
    }

    // Float for count values of x at once, the same floats: the logarithms and exponentials
    // of the brackets are taken several at a time, in the widest lanes the processor offers
    // or narrower ones (a test asks for each it can run). Returns how many of the values
    // took the fallback of the exact steps.
    enum class Lanes { Widest, Four, One };
    size_t Floats(const double* x, float* out, size_t count, Lanes lanes = Lanes::Widest) const;

    // The base of the curve's power term for the x given, and the exponent: the same for
    // every curve that shares x0, x1 and p, whatever y0 and y1 (see Apply).
    double PowerBase(double x) const { return out_ ? (x1_ - (x - x0_)) - x0_ : x - x0_; }
    double Exponent() const { return p_; }
    double PowerTerm(double x) const { return empty_ ? 0.0 : AbsPower(PowerBase(x), p_); }
    // The curve's value from a PowerTerm of a curve with the same x0, x1 and p.
    double Apply(double powerTerm) const {
        if (empty_) return y1_;
        const double r = static_cast<double>(static_cast<Extended>(powerTerm) * q_ + y0_);
        if (!out_) return r;
        return static_cast<double>(static_cast<Extended>(y0_) + (static_cast<Extended>(y1_) - r));
    }

  private:
    // Floats four values at a time in AVX2 lanes, or eight in AVX-512 ones, where the
    // processor has them.
    size_t FloatsAvx2(const double* x, float* out, size_t count) const;
    size_t FloatsAvx512(const double* x, float* out, size_t count) const;
    // Floats deciding one value at a time, their logarithms and exponentials taken together.
    size_t FloatsOneByOne(const double* x, float* out, size_t count) const;

    double Power(double t) const {
        return static_cast<double>(static_cast<Extended>(AbsPower(t, p_)) * q_ + y0_);
    }

    // The float of the value when a bracket of its power decides it, without extended
    // arithmetic. The steps of ExactFloat (four in extended precision, two in double) and the
    // same steps done in double (four roundings) work on values under 2m, so each rounding
    // errs by at most 2^-52 m and together they stay under 2^-49 m: the value before the
    // final rounding to float lies within slack (2^-46 m) of the double estimate.
    bool FloatFromBracket(const PowerBracket& bracket, float& f) const {
        if (!bracket.valid) return false;
        return DecideAffineBracket(out_, y0_, y1_, {bracket.lo, bracket.hi}, {&q_, 1}, 0x1p-46, f);
    }

    // static_cast<float>((*this)(x)), through ChainedPower.
    float ExactFloat(double x) const {
        return ChainedPower(PowerBase(x), p_, [this](double power) { return FloatOfPower(power); });
    }

    // ExactFloat(x) for a lane whose double decision failed, from the lane's bracket of the
    // power when it has one: the exact chain at both ends, the exact power only when they give
    // two floats.
    float FallbackFloat(double x, const PowerBracket& bracket) const {
        if (!bracket.valid) return ExactFloat(x);
        const float lo = FloatOfPower(bracket.lo);
        const float hi = FloatOfPower(bracket.hi);
        if (std::bit_cast<uint32_t>(lo) == std::bit_cast<uint32_t>(hi)) return lo;
        return FloatOfPower(AbsPower(PowerBase(x), p_));
    }

    // The chain of extended steps from the power term to the float, monotonic in the power.
    // The curve's value is a double before a pixel stores it: rounding the extended sum
    // straight to float would differ where it lies next to a float's midpoint.
    float FloatOfPower(double power) const {
        const double r = static_cast<double>(static_cast<Extended>(power) * q_ + y0_);
        if (!out_) return static_cast<float>(r);
        return static_cast<float>(
            static_cast<double>(static_cast<Extended>(y0_) + (static_cast<Extended>(y1_) - r)));
    }

    double y0_, y1_, x0_, x1_, p_;
    bool out_;
    bool empty_;
    double q_ = 0;  // (y1 - y0) / |x1 - x0|^p, rounded as CurveIn rounds it
};

// CurveInOut for many x with the other arguments fixed.
class FixedInOutCurve {
  public:
    FixedInOutCurve(double y0, double y1, double x0, double x1, double p)
        : xm_(Mid(x0, x1)),
          in_(FixedCurve::Kind::In, y0, Mid(y0, y1), x0, xm_, p),
          out_(FixedCurve::Kind::Out, Mid(y0, y1), y1, xm_, x1, p) {}
    double operator()(double x) const { return x < xm_ ? in_(x) : out_(x); }
    float Float(double x) const { return CurveAt(x).Float(x); }
    // The half that serves x.
    const FixedCurve& CurveAt(double x) const { return x < xm_ ? in_ : out_; }

  private:
    static double Mid(double a, double b) {
        const double s = a + b;
        return s / 2;
    }
    double xm_;
    FixedCurve in_;
    FixedCurve out_;
};

}  // namespace globeforge
