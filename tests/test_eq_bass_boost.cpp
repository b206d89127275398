// The three-band bass equaliser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "framework/dsp_services.h"
#include "tests/support/alloc_hook.h"
#include "tests/support/float_noise.h"
#include "units/eq_bass_boost.h"

namespace {

// Owns one initialised unit block with the default parameters.
struct Eq {
    explicit Eq(int32_t rate = 44100, float low = 3.2f, float mid = 0.7f, float high = 1.2f) {
        block.services = createServices();
        block.lowGain = low;
        block.midGain = mid;
        block.highGain = high;
        block.lowFrequency = 120;
        block.highFrequency = 9000;
        block.sampleRate = rate;
        initResult = eqBassBoostUnit.init(&block);
    }
    ~Eq() { eqBassBoostUnit.quit(&block); }

    int32_t process(std::vector<float>& samples, int32_t offsetFrames, int32_t frames) {
        block.channels = 2;
        block.frames = frames;
        block.samples = samples.data() + 2 * offsetFrames;
        return eqBassBoostUnit.process(&block);
    }
    // Whole stream in pieces of `piece` frames.
    void run(std::vector<float>& samples, int32_t piece) {
        const int32_t frames = static_cast<int32_t>(samples.size() / 2);
        for (int32_t start = 0; start < frames; start += piece)
            process(samples, start, frames - start < piece ? frames - start : piece);
    }

    EqBassBoostBlock block{};
    int32_t initResult = 0;
};

// Covers every design: all three bands, no high band (9000 Hz not below
// half the rate) and low band only (120 Hz not below half the rate).
const int32_t kRates[] = {44100, 96000, 22050, 18000, 8000, 240, 100};

TEST(EqBassBoost, UnitGainsDelayTheInputByThreeFrames) {
    for (int32_t rate : kRates) {
        SCOPED_TRACE(rate);
        Eq eq(rate, 1.0f, 1.0f, 1.0f);
        ASSERT_EQ(eq.initResult, 1);
        const std::vector<float> input = fullScaleNoise(3000, 7);
        std::vector<float> output = input;
        eq.run(output, 576);
        for (size_t i = 0; i < output.size(); ++i) {
            const double expected = i < 6 ? 0.0 : input[i - 6];
            ASSERT_NEAR(output[i], expected, 1e-3) << "sample " << i;
        }
    }
}

TEST(EqBassBoost, ConstantSettlesToLowGainTimesIt) {
    for (int32_t rate : kRates) {
        SCOPED_TRACE(rate);
        Eq eq(rate);
        std::vector<float> samples(2 * 20000, 1000.0f);
        eq.run(samples, 4096);
        EXPECT_NEAR(samples[samples.size() - 2], 3200.0f, 0.01);
        EXPECT_NEAR(samples[samples.size() - 1], 3200.0f, 0.01);
    }
}

TEST(EqBassBoost, ChannelsAreFilteredIndependently) {
    std::vector<float> leftOnly = fullScaleNoise(5000, 3);
    std::vector<float> both = fullScaleNoise(5000, 4);
    for (size_t i = 0; i < leftOnly.size(); i += 2) {
        leftOnly[i + 1] = 0.0f;
        both[i] = leftOnly[i];
    }
    Eq first;
    Eq second;
    first.run(leftOnly, 1152);
    second.run(both, 1152);
    for (size_t i = 0; i < leftOnly.size(); i += 2) {
        ASSERT_EQ(leftOnly[i], both[i]) << "frame " << i / 2;
        // Only the constant against denormals reaches the silent channel.
        ASSERT_LT(std::fabs(leftOnly[i + 1]), 1e-4f) << "frame " << i / 2;
    }
}

TEST(EqBassBoost, UpdateClearsHistoryAndTakesNewGains) {
    std::vector<float> fresh = fullScaleNoise(2000, 5);
    std::vector<float> afterUpdate = fresh;
    Eq reference(44100, 5.0f, 0.7f, 2.0f);
    reference.run(fresh, 576);

    Eq eq;
    std::vector<float> earlier = fullScaleNoise(3000, 6);
    eq.run(earlier, 576);
    eq.block.lowGain = 5.0f;
    eq.block.highGain = 2.0f;
    EXPECT_EQ(eqBassBoostUnit.update(&eq.block), 1);
    eq.run(afterUpdate, 576);
    EXPECT_EQ(std::memcmp(fresh.data(), afterUpdate.data(), fresh.size() * sizeof(float)), 0);
}

TEST(EqBassBoost, RateChangeRedesignsBeforeFiltering) {
    std::vector<float> fresh = fullScaleNoise(2000, 8);
    std::vector<float> afterChange = fresh;
    Eq reference(48000);
    reference.run(fresh, 1000);

    Eq eq(44100);
    std::vector<float> earlier = fullScaleNoise(3000, 9);
    eq.run(earlier, 1000);
    // The redesign happens even on an empty piece.
    eq.block.sampleRate = 48000;
    std::vector<float> none;
    EXPECT_EQ(eq.process(none, 0, 0), 0);
    eq.run(afterChange, 1000);
    EXPECT_EQ(std::memcmp(fresh.data(), afterChange.data(), fresh.size() * sizeof(float)), 0);
}

TEST(EqBassBoost, LongCallsMatchPiecewiseCalls) {
    std::vector<float> whole = fullScaleNoise(10000, 10);
    std::vector<float> pieces = whole;
    Eq first;
    Eq second;
    EXPECT_EQ(first.process(whole, 0, 10000), 10000);
    second.run(pieces, 576);
    EXPECT_EQ(std::memcmp(whole.data(), pieces.data(), whole.size() * sizeof(float)), 0);
}

// Both channels run together in SIMD lanes when both chains filter; the bits
// must be those of the per-channel recursion in double, run frame by frame.
TEST(EqBassBoost, StereoLanesMatchThePerChannelRecursion) {
    struct Channel {
        double k, c, p[4] = {0, 0, 0, 0}, q[4] = {0, 0, 0, 0}, h[3] = {0, 0, 0};
        double filter(double x, double lowGain, double midGain, double highGain) {
            const double tiny = 2.3283064370807974e-10;
            p[0] = p[0] + (k * (x - p[0]) + tiny);
            for (int s = 1; s < 4; ++s) p[s] = p[s] + k * (p[s - 1] - p[s]);
            q[0] = q[0] + (c * (x - q[0]) + tiny);
            for (int s = 1; s < 4; ++s) q[s] = q[s] + c * (q[s - 1] - q[s]);
            const double high = h[2] - q[3];
            const double mid = h[2] - (high + p[3]);
            h[2] = h[1];
            h[1] = h[0];
            h[0] = x;
            return (mid * midGain + p[3] * lowGain) + high * highGain;
        }
    };
    const double pi = static_cast<double>(3.14159265358979f);
    Channel reference[2];
    for (Channel& channel : reference) {
        channel.k = 2.0 * std::sin((120.0 / 44100.0) * pi);
        channel.c = 2.0 * std::sin((9000.0 / 44100.0) * pi);
    }
    std::vector<float> samples = fullScaleNoise(20000, 12);
    std::vector<float> expected = samples;
    for (size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<float>(reference[i % 2].filter(expected[i], 3.2f, 0.7f, 1.2f));
    Eq eq;
    const int32_t lengths[] = {1, 3, 4096, 577, 2};
    for (int32_t at = 0, call = 0; at < 20000; ++call) {
        const int32_t n = std::min(lengths[call % 5], 20000 - at);
        eq.process(samples, at, n);
        at += n;
    }
    EXPECT_EQ(std::memcmp(samples.data(), expected.data(), samples.size() * sizeof(float)), 0);
}

TEST(EqBassBoost, FailedStateAllocationIsReportedAndSafe) {
    for (long failing = 1; failing <= 2; ++failing) {
        SCOPED_TRACE(failing);
        alloc_hook::arm(failing);
        Eq eq;
        alloc_hook::disarm();
        EXPECT_EQ(eq.initResult, 0);
        std::vector<float> samples = fullScaleNoise(100, 11);
        const std::vector<float> before = samples;
        EXPECT_EQ(eq.process(samples, 0, 100), 100);
        EXPECT_EQ(samples, before);
        EXPECT_EQ(eqBassBoostUnit.quit(&eq.block), 1);
    }
    EqBassBoostBlock neverInitialised{};
    neverInitialised.services = createServices();
    EXPECT_EQ(eqBassBoostUnit.quit(&neverInitialised), 1);
}

}  // namespace
