#include "framework/portable_math.h"

#include <cmath>

double portableSin(double x) { return std::sin(x); }
double portableCos(double x) { return std::cos(x); }
double portableAtan(double x) { return std::atan(x); }
double portableExp(double x) { return std::exp(x); }
double portableLog(double x) { return std::log(x); }
double portablePow(double base, double exponent) { return std::pow(base, exponent); }
