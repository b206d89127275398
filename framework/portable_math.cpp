// Elementary functions in plain double arithmetic. Every step is an IEEE
// operation whose result is fixed by the standard (no library calls other
// than the exact fmod, frexp, ldexp, floor and sqrt), so every build that
// rounds doubles the same way gets the same bits.
#include "framework/portable_math.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979311600e+00;
constexpr double kHalfPi = 1.57079632679489655800e+00;
constexpr double kTwoOverPi = 6.36619772367581382433e-01;

// pi/2 split into pieces of 33 significant bits, so that k times a piece is
// exact for |k| < 2^20, plus the remainder after the third piece.
constexpr double kHalfPi1 = 1.57079632673412561417e+00;
constexpr double kHalfPi2 = 6.07710050630396597660e-11;
constexpr double kHalfPi3 = 2.02226624871116645580e-21;
constexpr double kHalfPi3Tail = 8.47842766036889956997e-32;

constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2, upper 32 bits
constexpr double kLn2Lo = 1.90821492927058770002e-10;  // ln 2 - kLn2Hi
constexpr double kInvLn2 = 1.44269504088896338700e+00;

double nan() { return std::numeric_limits<double>::quiet_NaN(); }

// sin(r) and cos(r) for |r| <= pi/4 by their Taylor series, written as
// r + r^3 * P(r^2) and 1 - r^2/2 + r^4 * Q(r^2) so the leading term is exact.
double sinKernel(double r) {
    double z = r * r;
    double p = -1.0 / 1307674368000.0 + z * (1.0 / 355687428096000.0);
    p = 1.0 / 6227020800.0 + z * p;
    p = -1.0 / 39916800.0 + z * p;
    p = 1.0 / 362880.0 + z * p;
    p = -1.0 / 5040.0 + z * p;
    p = 1.0 / 120.0 + z * p;
    p = -1.0 / 6.0 + z * p;
    return r + r * (z * p);
}

double cosKernel(double r) {
    double z = r * r;
    double q = 1.0 / 20922789888000.0 + z * (-1.0 / 6402373705728000.0);
    q = -1.0 / 87178291200.0 + z * q;
    q = 1.0 / 479001600.0 + z * q;
    q = -1.0 / 3628800.0 + z * q;
    q = 1.0 / 40320.0 + z * q;
    q = -1.0 / 720.0 + z * q;
    q = 1.0 / 24.0 + z * q;
    double half = 0.5 * z;
    double w = 1.0 - half;
    // (1 - w) - half recovers the rounding error of w.
    return w + (((1.0 - w) - half) + z * z * q);
}

// Reduces x to hi + lo in [-pi/4, pi/4] and the quadrant k mod 4.
int reduce(double x, double& hi, double& lo) {
    if (std::fabs(x) <= 0.78539816339744830962) {
        hi = x;
        lo = 0.0;
        return 0;
    }
    if (std::fabs(x) >= 1.0e6) {
        // Far outside any angle the system meaningfully uses: fold by an
        // exact remainder first, which keeps the result deterministic.
        x = std::fmod(x, 2.0 * kPi);
    }
    double k = std::floor(x * kTwoOverPi + 0.5);
    double y = x - k * kHalfPi1;
    double w = k * kHalfPi2;
    double t = y - w;
    double err = (y - t) - w;
    w = k * kHalfPi3;
    hi = t - w;
    lo = ((t - hi) - w) + err - k * kHalfPi3Tail;
    // |k| < 2^21 here, so the quadrant is its low two bits (two's complement
    // gives k mod 4 for negative k as well).
    return static_cast<int>(static_cast<int64_t>(k) & 3);
}

double sinReduced(double hi, double lo) { return sinKernel(hi) + lo * cosKernel(hi); }
double cosReduced(double hi, double lo) { return cosKernel(hi) - lo * sinKernel(hi); }

// atan for |x| <= 7/16 by its series.
double atanKernel(double x) {
    double z = x * x;
    double p = 0.0;
    for (int n = 47; n >= 3; n -= 2) p = (n % 4 == 1 ? 1.0 : -1.0) / n + z * p;
    return x + x * (z * p);
}

// atan at the reduction points 0.5, 1 and 1.5, as head and tail.
const double kAtanHead[3] = {0.4636476090008061, 0.7853981633974483, 0.982793723247329};
const double kAtanTail[3] = {2.2698777452961687e-17, 3.061616997868383e-17, 1.3903311031230998e-17};
const double kHalfPiTail = 6.123233995736766e-17;

}  // namespace

double portableSin(double x) {
    if (!std::isfinite(x)) return nan();
    double hi, lo;
    switch (reduce(x, hi, lo)) {
        case 0: return sinReduced(hi, lo);
        case 1: return cosReduced(hi, lo);
        case 2: return -sinReduced(hi, lo);
        default: return -cosReduced(hi, lo);
    }
}

double portableCos(double x) {
    if (!std::isfinite(x)) return nan();
    double hi, lo;
    switch (reduce(x, hi, lo)) {
        case 0: return cosReduced(hi, lo);
        case 1: return -sinReduced(hi, lo);
        case 2: return -cosReduced(hi, lo);
        default: return sinReduced(hi, lo);
    }
}

double portableAtan(double x) {
    if (x != x) return x;
    double sign = x < 0 ? -1.0 : 1.0;
    double a = std::fabs(x);
    double result;
    if (a < 0.4375) {
        result = atanKernel(a);
    } else if (a >= 2.4375) {
        // atan(a) = pi/2 - atan(1/a)
        result = kHalfPi + (kHalfPiTail - atanKernel(1.0 / a));
    } else {
        // atan(a) = atan(c) + atan((a - c) / (1 + a c))
        int i = a < 0.6875 ? 0 : (a < 1.1875 ? 1 : 2);
        double c = 0.5 * (i + 1);
        double t = (a - c) / (1.0 + a * c);
        result = kAtanHead[i] + (kAtanTail[i] + atanKernel(t));
    }
    return sign * result;
}

double portableExp(double x) {
    if (x != x) return x;
    if (x > 709.782712893384) return std::numeric_limits<double>::infinity();
    if (x < -745.1332191019412) return 0.0;
    double k = std::floor(x * kInvLn2 + 0.5);
    double hi = x - k * kLn2Hi;
    double lo = k * kLn2Lo;
    double r = hi - lo;
    // Taylor series of e^r for |r| <= ln2/2, to r^16.
    double p = 0.0;
    double reciprocalFactorial[17];
    reciprocalFactorial[0] = 1.0;
    double factorial = 1.0;
    for (int n = 1; n <= 16; ++n) {
        factorial *= n;
        reciprocalFactorial[n] = 1.0 / factorial;
    }
    for (int n = 16; n >= 0; --n) p = reciprocalFactorial[n] + r * p;
    return std::ldexp(p, static_cast<int>(k));
}

double portableLog(double x) {
    if (x != x || x < 0) return nan();
    if (x == 0) return -std::numeric_limits<double>::infinity();
    if (std::isinf(x)) return x;
    int e;
    double m = std::frexp(x, &e);  // m in [0.5, 1)
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        --e;
    }
    // log m = 2 atanh(s), s = (m - 1) / (m + 1), |s| <= 0.1716.
    double f = m - 1.0;
    double s = f / (2.0 + f);
    double z = s * s;
    double p = 0.0;
    for (int n = 25; n >= 3; n -= 2) p = 1.0 / n + z * p;
    double logM = 2.0 * s + 2.0 * s * (z * p);
    return e * kLn2Hi + (e * kLn2Lo + logM);
}

double portablePow(double base, double exponent) {
    if (exponent == 0.0 || base == 1.0) return 1.0;
    if (base != base || exponent != exponent) return nan();
    bool integral = std::floor(exponent) == exponent;
    bool odd = integral && std::fabs(exponent) < 9007199254740992.0 && std::fmod(exponent, 2.0) != 0.0;
    if (base == 0.0) {
        double result = exponent > 0 ? 0.0 : std::numeric_limits<double>::infinity();
        return (odd && std::signbit(base)) ? -result : result;
    }
    if (base < 0.0 && !integral) return nan();
    double magnitude = portableExp(exponent * portableLog(std::fabs(base)));
    return (base < 0.0 && odd) ? -magnitude : magnitude;
}
