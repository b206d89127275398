// The real transform: packing, signs, scaling, accuracy against a direct DFT,
// the shared workspace's growth and release, and use from two threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "fft/real_fft.h"
#include "tests/support/alloc_hook.h"

namespace {

constexpr double kEpsilon = 5.9604644775390625e-08;  // 2^-24
constexpr double kTwoPi = 6.283185307179586;

std::vector<float> randomSignal(int32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> a(static_cast<size_t>(n));
    for (float& x : a) x = value(rng);
    return a;
}

// cos and sin of 2 pi i / n for i < n.
void unitCircle(int64_t n, std::vector<double>* cosine, std::vector<double>* sine) {
    cosine->resize(static_cast<size_t>(n));
    sine->resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        (*cosine)[i] = std::cos(kTwoPi * static_cast<double>(i) / static_cast<double>(n));
        (*sine)[i] = std::sin(kTwoPi * static_cast<double>(i) / static_cast<double>(n));
    }
}

// The packed forward transform evaluated directly in double precision.
std::vector<double> directForward(const std::vector<float>& a) {
    const int64_t n = static_cast<int64_t>(a.size());
    std::vector<double> cosine, sine;
    unitCircle(n, &cosine, &sine);
    std::vector<double> packed(static_cast<size_t>(n));
    for (int64_t k = 0; k <= n / 2; ++k) {
        double re = 0.0;
        double im = 0.0;
        for (int64_t j = 0; j < n; ++j) {
            int64_t index = (j * k) % n;
            re += a[j] * cosine[index];
            im += a[j] * sine[index];
        }
        if (k == 0)
            packed[0] = re;
        else if (k == n / 2)
            packed[1] = re;
        else {
            packed[2 * k] = re;
            packed[2 * k + 1] = im;
        }
    }
    return packed;
}

// The unnormalised inverse evaluated directly in double precision.
std::vector<double> directInverse(const std::vector<float>& x) {
    const int64_t n = static_cast<int64_t>(x.size());
    std::vector<double> cosine, sine;
    unitCircle(n, &cosine, &sine);
    std::vector<double> a(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) {
        double sum = (x[0] + x[1] * (k % 2 == 0 ? 1.0 : -1.0)) / 2.0;
        for (int64_t j = 1; j < n / 2; ++j) {
            int64_t index = (j * k) % n;
            sum += x[2 * j] * cosine[index] + x[2 * j + 1] * sine[index];
        }
        a[k] = sum;
    }
    return a;
}

double norm2(const std::vector<float>& a) {
    double sum = 0.0;
    for (float x : a) sum += static_cast<double>(x) * x;
    return std::sqrt(sum);
}

class RealFftTest : public ::testing::Test {
protected:
    void TearDown() override { alloc_hook::disarm(); }
};

// Inputs with known transforms, at scalar and vector lengths of both parities.
TEST_F(RealFftTest, KnownTransforms) {
    for (int32_t n : {4, 8, 16, 32, 64, 2048, 16384}) {
        SCOPED_TRACE(n);
        const double tolerance = 1e-6 * n;
        struct Case {
            const char* name;
            float (*input)(int32_t j, int32_t n);
            std::vector<float> (*expected)(int32_t n);
        };
        const Case cases[] = {
            {"impulse", [](int32_t j, int32_t) { return j == 0 ? 1.0f : 0.0f; },
             [](int32_t n) {
                 std::vector<float> e(static_cast<size_t>(n), 0.0f);
                 e[0] = 1.0f;
                 e[1] = 1.0f;
                 for (int32_t k = 1; k < n / 2; ++k) e[2 * k] = 1.0f;
                 return e;
             }},
            {"constant", [](int32_t, int32_t) { return 1.0f; },
             [](int32_t n) {
                 std::vector<float> e(static_cast<size_t>(n), 0.0f);
                 e[0] = static_cast<float>(n);
                 return e;
             }},
            {"one sine period",
             [](int32_t j, int32_t n) { return static_cast<float>(std::sin(kTwoPi * j / n)); },
             [](int32_t n) {
                 std::vector<float> e(static_cast<size_t>(n), 0.0f);
                 e[3] = static_cast<float>(n / 2);  // I[1] = +n/2
                 return e;
             }},
            {"alternating", [](int32_t j, int32_t) { return j % 2 == 0 ? 1.0f : -1.0f; },
             [](int32_t n) {
                 std::vector<float> e(static_cast<size_t>(n), 0.0f);
                 e[1] = static_cast<float>(n);
                 return e;
             }},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            std::vector<float> a(static_cast<size_t>(n));
            for (int32_t j = 0; j < n; ++j) a[j] = c.input(j, n);
            std::vector<float> original = a;
            ASSERT_TRUE(RealFft(n, 1, a.data()));
            std::vector<float> expected = c.expected(n);
            for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(a[i], expected[i], tolerance) << "position " << i;
            // The inverse restores the input times n/2.
            ASSERT_TRUE(RealFft(n, -1, a.data()));
            for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(a[i] * (2.0 / n), original[i], 1e-5) << "sample " << i;
        }
    }
}

// Against a double-precision DFT. Bound: every output within
// 2 * 2^-24 * log2(n) * ||input||_2 of the exact value (the observed error
// is about a quarter of that); the round trip within 2 * 2^-24 * log2(n) of
// the input, which is in [-1, 1].
TEST_F(RealFftTest, MatchesDirectTransformOnRandomData) {
    for (int32_t n : {2, 8, 32, 64, 1024, 2048, 16384}) {
        SCOPED_TRACE(n);
        const double log2n = std::log2(static_cast<double>(n));
        std::vector<float> input = randomSignal(n, static_cast<uint32_t>(n));

        std::vector<float> a = input;
        ASSERT_TRUE(RealFft(n, 1, a.data()));
        std::vector<double> exact = directForward(input);
        double bound = 2.0 * kEpsilon * log2n * norm2(input);
        for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(a[i], exact[i], bound) << "position " << i;

        std::vector<float> spectrum = input;  // any packed spectrum will do
        std::vector<float> b = spectrum;
        ASSERT_TRUE(RealFft(n, -1, b.data()));
        std::vector<double> exactInverse = directInverse(spectrum);
        bound = 2.0 * kEpsilon * log2n * norm2(spectrum);
        for (int32_t i = 0; i < n; ++i) ASSERT_NEAR(b[i], exactInverse[i], bound) << "sample " << i;

        ASSERT_TRUE(RealFft(n, -1, a.data()));
        for (int32_t i = 0; i < n; ++i)
            ASSERT_NEAR(a[i] * (2.0 / n), input[i], 2.0 * kEpsilon * (log2n + 1)) << "sample " << i;
    }
}

// The product of two transforms is the transform of the circular convolution.
TEST_F(RealFftTest, ProductOfTransformsIsCircularConvolution) {
    const int32_t n = 64;
    std::vector<float> x = randomSignal(n, 7);
    std::vector<float> h = randomSignal(n, 8);
    std::vector<float> X = x;
    std::vector<float> H = h;
    ASSERT_TRUE(RealFft(n, 1, X.data()));
    ASSERT_TRUE(RealFft(n, 1, H.data()));
    std::vector<float> y(static_cast<size_t>(n));
    y[0] = X[0] * H[0];
    y[1] = X[1] * H[1];
    for (int32_t k = 1; k < n / 2; ++k) {
        y[2 * k] = X[2 * k] * H[2 * k] - X[2 * k + 1] * H[2 * k + 1];
        y[2 * k + 1] = X[2 * k] * H[2 * k + 1] + X[2 * k + 1] * H[2 * k];
    }
    ASSERT_TRUE(RealFft(n, -1, y.data()));
    for (int32_t i = 0; i < n; ++i) {
        double expected = 0.0;
        for (int32_t j = 0; j < n; ++j) expected += static_cast<double>(x[j]) * h[(i - j + n) % n];
        EXPECT_NEAR(y[i] * (2.0 / n), expected, 1e-5) << i;
    }
}

TEST_F(RealFftTest, InvalidRequestsChangeNothing) {
    std::vector<float> a = randomSignal(16, 3);
    const std::vector<float> original = a;
    for (int32_t n : {1, 3, 12, -4, -16, INT32_MIN})
        EXPECT_FALSE(RealFft(n, 1, a.data())) << n;
    EXPECT_FALSE(RealFft(16, 1, nullptr));
    EXPECT_EQ(std::memcmp(a.data(), original.data(), a.size() * sizeof(float)), 0);
}

TEST_F(RealFftTest, ReleaseEmptiesAndRebuildGivesTheSameBits) {
    std::vector<float> first = randomSignal(16384, 11);
    std::vector<float> second = first;
    ASSERT_TRUE(RealFft(16384, 1, first.data()));

    ASSERT_TRUE(RealFft(0, 1, nullptr));
    FftWorkspaceStatus empty = RealFftWorkspaceStatus();
    EXPECT_EQ(empty.coveredLength, 0);
    EXPECT_EQ(empty.tableFloats, 0);

    ASSERT_TRUE(RealFft(16384, 1, second.data()));
    FftWorkspaceStatus rebuilt = RealFftWorkspaceStatus();
    EXPECT_EQ(rebuilt.coveredLength, 16384);
    EXPECT_GT(rebuilt.levelsBuilt, empty.levelsBuilt);
    EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(float)), 0);
}

TEST_F(RealFftTest, ShorterTransformReusesTablesWithoutAllocating) {
    std::vector<float> big = randomSignal(16384, 12);
    ASSERT_TRUE(RealFft(16384, 1, big.data()));
    FftWorkspaceStatus before = RealFftWorkspaceStatus();

    std::vector<float> small = randomSignal(1024, 13);
    std::vector<float> expected = small;
    alloc_hook::arm(0);
    ASSERT_TRUE(RealFft(1024, 1, small.data()));
    ASSERT_TRUE(RealFft(16384, -1, big.data()));
    EXPECT_EQ(alloc_hook::disarm(), 0);

    FftWorkspaceStatus after = RealFftWorkspaceStatus();
    EXPECT_EQ(after.coveredLength, 16384);
    EXPECT_EQ(after.levelsBuilt, before.levelsBuilt);
    EXPECT_EQ(after.tableFloats, before.tableFloats);

    // The same bits as with tables built for 1024 alone.
    ASSERT_TRUE(RealFft(0, 1, nullptr));
    ASSERT_TRUE(RealFft(1024, 1, expected.data()));
    EXPECT_EQ(RealFftWorkspaceStatus().coveredLength, 1024);
    EXPECT_EQ(std::memcmp(small.data(), expected.data(), small.size() * sizeof(float)), 0);
}

TEST_F(RealFftTest, FailedGrowthIsReportedAndLeavesDataUntouched) {
    ASSERT_TRUE(RealFft(0, 1, nullptr));
    std::vector<float> a = randomSignal(16384, 14);
    const std::vector<float> original = a;
    for (long failAt : {1L, 3L, 9L}) {
        SCOPED_TRACE(failAt);
        alloc_hook::arm(failAt, true);
        EXPECT_FALSE(RealFft(16384, 1, a.data()));
        EXPECT_FALSE(RealFftReserve(16384));
        alloc_hook::disarm();
        EXPECT_EQ(std::memcmp(a.data(), original.data(), a.size() * sizeof(float)), 0);
        EXPECT_LT(RealFftWorkspaceStatus().coveredLength, 16384);
    }
    // Nothing half-built is left behind: with memory back, the result is right.
    ASSERT_TRUE(RealFft(16384, 1, a.data()));
    std::vector<float> clean = original;
    ASSERT_TRUE(RealFft(0, 1, nullptr));
    ASSERT_TRUE(RealFft(16384, 1, clean.data()));
    EXPECT_EQ(std::memcmp(a.data(), clean.data(), a.size() * sizeof(float)), 0);
}

// One thread transforms continuously while another transforms other data and
// keeps releasing and rebuilding the workspace: every result keeps its bits.
TEST_F(RealFftTest, ConcurrentTransformsAndReleases) {
    const int32_t n = 16384;
    const std::vector<float> inputA = randomSignal(n, 21);
    const std::vector<float> inputB = randomSignal(n, 22);
    std::vector<float> expectedA = inputA;
    std::vector<float> expectedB = inputB;
    ASSERT_TRUE(RealFft(n, 1, expectedA.data()));
    ASSERT_TRUE(RealFft(n, -1, expectedB.data()));

    auto worker = [&](const std::vector<float>& input, const std::vector<float>& expected, int32_t direction,
                      bool releasing, int* mismatches) {
        std::vector<float> a;
        for (int round = 0; round < 150; ++round) {
            a = input;
            if (releasing && round % 10 == 0) RealFft(0, 1, nullptr);
            if (!RealFft(n, direction, a.data()) ||
                std::memcmp(a.data(), expected.data(), a.size() * sizeof(float)) != 0)
                ++*mismatches;
        }
    };
    int mismatchesA = 0;
    int mismatchesB = 0;
    std::thread other(worker, std::cref(inputB), std::cref(expectedB), -1, true, &mismatchesB);
    worker(inputA, expectedA, 1, false, &mismatchesA);
    other.join();
    EXPECT_EQ(mismatchesA, 0);
    EXPECT_EQ(mismatchesB, 0);
}

}  // namespace
