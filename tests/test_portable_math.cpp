// Our own elementary functions against the C library, and their special cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "framework/portable_math.h"

namespace {

double ulpsApart(double a, double b) {
    if (a == b) return 0;
    double scale = std::max(std::fabs(a), std::fabs(b));
    int e;
    std::frexp(scale, &e);
    return std::fabs(a - b) / std::ldexp(1.0, e - 53);
}

TEST(PortableMath, AgreesWithTheLibraryWithinTwoUlps) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> angle(-40.0, 40.0), wide(-700.0, 700.0), positive(1e-300, 1e300);
    double worstSin = 0, worstCos = 0, worstExp = 0, worstLog = 0, worstAtan = 0;
    for (int i = 0; i < 200000; ++i) {
        double a = angle(random);
        // Results near zero have no meaningful relative error; compare absolutely there.
        double s = std::sin(a), c = std::cos(a);
        if (std::fabs(s) > 1e-3) worstSin = std::max(worstSin, ulpsApart(portableSin(a), s));
        if (std::fabs(c) > 1e-3) worstCos = std::max(worstCos, ulpsApart(portableCos(a), c));
        EXPECT_NEAR(portableSin(a), s, 2e-16);
        double w = wide(random);
        worstExp = std::max(worstExp, ulpsApart(portableExp(w), std::exp(w)));
        double p = std::exp(wide(random));
        worstLog = std::max(worstLog, std::fabs(portableLog(p) - std::log(p)) / std::max(1.0, std::fabs(std::log(p))) / 2.2e-16);
        worstAtan = std::max(worstAtan, ulpsApart(portableAtan(a), std::atan(a)));
    }
    EXPECT_LE(worstSin, 2.0);
    EXPECT_LE(worstCos, 2.0);
    EXPECT_LE(worstExp, 2.0);
    EXPECT_LE(worstLog, 2.0);
    EXPECT_LE(worstAtan, 2.0);
    (void)positive;
}

TEST(PortableMath, SpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(portableSin(0.0), 0.0);
    EXPECT_EQ(portableCos(0.0), 1.0);
    EXPECT_TRUE(std::isnan(portableSin(inf)));
    EXPECT_TRUE(std::isnan(portableCos(nan)));
    EXPECT_TRUE(std::isfinite(portableSin(3e38)));
    EXPECT_LE(std::fabs(portableCos(-1e300)), 1.0);
    EXPECT_EQ(portableAtan(1.0), std::atan(1.0));
    EXPECT_EQ(portableExp(0.0), 1.0);
    EXPECT_EQ(portableExp(1000.0), inf);
    EXPECT_EQ(portableExp(-1000.0), 0.0);
    EXPECT_EQ(portableLog(1.0), 0.0);
    EXPECT_TRUE(std::isnan(portableLog(-1.0)));
    EXPECT_EQ(portableLog(0.0), -inf);
    EXPECT_EQ(portablePow(2.0, 0.0), 1.0);
    EXPECT_NEAR(portablePow(2.0, 10.0), 1024.0, 1e-12);
    EXPECT_NEAR(portablePow(-2.0, 3.0), -8.0, 1e-14);
    EXPECT_TRUE(std::isnan(portablePow(-2.0, 0.5)));
    EXPECT_EQ(portablePow(0.0, 2.0), 0.0);
    EXPECT_NEAR(portablePow(10.0, 0.18), std::pow(10.0, 0.18), 1e-15);
}

}  // namespace
