// sin, cos, atan, exp, log and pow computed by our own code in plain double
// arithmetic, so that the Linux and Windows builds (whose maths libraries
// differ in the last bit) give the same results bit for bit. Accurate to
// about one unit in the last place; sqrt is exact everywhere and needs no
// replacement.
#pragma once

double portableSin(double x);
double portableCos(double x);
double portableAtan(double x);
double portableExp(double x);
double portableLog(double x);
double portablePow(double base, double exponent);
