// The look-ahead peak limiter: warm-up, delay, gain laws, the peak tree and
// the unit's lifecycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "framework/numeric.h"
#include "tests/support/alloc_hook.h"
#include "units/dynamic_limiter.h"
#include "units/limiter_engine.h"

namespace {

constexpr float kSettledGain = 0.9979026317596436f;
constexpr float kThresholdPlusStep = 32763.724609375f;

class LimiterUnit {
public:
    LimiterUnit() { initResult = dynamicLimiterUnit.init(&block); }
    ~LimiterUnit() { dynamicLimiterUnit.quit(&block); }

    int32_t run(float* samples, int32_t frames, int32_t channels = 2) {
        block.channels = channels;
        block.frames = frames;
        block.samples = samples;
        return dynamicLimiterUnit.process(&block);
    }

    DynamicLimiterBlock block{};
    int32_t initResult = 0;
};

// The gain while nothing exceeds the threshold, one entry per sample call of
// a channel: the release law held under the smoothed inactive target.
std::vector<float> quietGains(size_t calls) {
    std::vector<float> gains;
    float smoothed = 1.0f, gain = 1.0f;
    for (size_t i = 0; i < calls; ++i) {
        smoothed = static_cast<float>(static_cast<double>(smoothed) * 0.8999000191688538 +
                                      0.99989998340606689453125 * 0.09989999979734421);
        gain = static_cast<float>(static_cast<double>(gain) * 0.9998999834060669 + 0.00009999999747378752);
        if (gain > smoothed) gain = smoothed;
        gains.push_back(gain);
    }
    return gains;
}

TEST(DynamicLimiter, WarmUpSwallowsTheFirst255Frames) {
    struct Case {
        int32_t firstFrames, firstProduced;
    } cases[] = {{576, 321}, {200, 0}, {255, 0}, {256, 1}, {1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firstFrames);
        LimiterUnit unit;
        ASSERT_EQ(unit.initResult, 1);
        std::vector<float> samples(2 * 4096, 1000.0f);
        EXPECT_EQ(unit.run(samples.data(), c.firstFrames), c.firstProduced);
        // Whatever was swallowed so far, the rest of the warm-up follows.
        const int32_t remaining = 255 - std::min(c.firstFrames, 255);
        EXPECT_EQ(unit.run(samples.data(), 300), 300 - remaining);
        EXPECT_EQ(unit.run(samples.data(), 4096), 4096);
    }
}

TEST(DynamicLimiter, QuietMaterialComesOutDelayedAndScaledByTheReleaseLaw) {
    // Never above the threshold; left and right differ so a swap would show.
    const int total = 3000;
    std::vector<float> input(2 * total);
    for (int i = 0; i < total; ++i) {
        input[2 * i] = static_cast<float>(32763.0 * std::sin(i * 0.05));
        input[2 * i + 1] = static_cast<float>(-20000.0 * std::cos(i * 0.013));
    }
    LimiterUnit unit;
    std::vector<float> output;
    int position = 0;
    for (int frames : {576, 7, 1000, 1, 1416}) {
        std::vector<float> piece(input.begin() + 2 * position, input.begin() + 2 * (position + frames));
        const int32_t produced = unit.run(piece.data(), frames);
        output.insert(output.end(), piece.begin(), piece.begin() + 2 * produced);
        position += frames;
    }
    ASSERT_EQ(output.size(), 2u * (total - 255));
    // Frame i leaves at the channel's call i + 255, with that call's gain.
    const std::vector<float> gains = quietGains(total);
    for (size_t i = 0; i < output.size(); ++i) {
        const float expected = input[i] * gains[i / 2 + 255];
        ASSERT_EQ(floatBits(output[i]), floatBits(expected)) << i;
    }
    EXPECT_EQ(gains[255], kSettledGain);
    EXPECT_EQ(quietGains(100).back(), kSettledGain);
}

TEST(DynamicLimiter, StereoPeaksOf60000NeverLeaveAboveTheThreshold) {
    std::srand(11);
    LimiterUnit unit;
    float largest = 0.0f;
    long produced = 0, given = 0;
    for (int piece = 0; piece < 40; ++piece) {
        const int frames = 1 + std::rand() % 4096;
        std::vector<float> samples(2 * frames);
        for (float& v : samples) {
            const int r = std::rand() % 1000;
            v = r < 5 ? (r % 2 ? 60000.0f : -60000.0f) : static_cast<float>(std::rand() % 80001 - 40000);
        }
        const int32_t out = unit.run(samples.data(), frames);
        for (int i = 0; i < 2 * out; ++i) largest = std::max(largest, std::fabs(samples[i]));
        produced += out;
        given += frames;
    }
    EXPECT_EQ(produced, given - 255);
    EXPECT_LE(largest, kThresholdPlusStep);
    EXPECT_GT(largest, 32000.0f);
}

TEST(DynamicLimiter, LoneLoudSampleIsAnticipatedAndChannelsStayIndependent) {
    // Left: 100s with one 40000 at frame 1000. Right: 100s throughout.
    const int total = 4000;
    std::vector<float> samples(2 * total, 100.0f);
    samples[2 * 1000] = 40000.0f;
    LimiterUnit unit;
    ASSERT_EQ(unit.run(samples.data(), total), total - 255);
    auto left = [&](int frame) { return samples[2 * frame]; };

    EXPECT_NEAR(left(1000), 32698.0f, 5.0f);
    EXPECT_LE(left(1000), 32763.72265625f);
    // The peak enters the window 255 frames ahead and pulls the gain down.
    EXPECT_EQ(left(744), 100.0f * kSettledGain);
    EXPECT_LT(left(745), 99.0f);
    EXPECT_NEAR(left(999), 81.7f, 0.1f);
    // Afterwards the gain recovers slowly.
    EXPECT_NEAR(left(1001), 81.7f, 0.1f);
    EXPECT_GT(left(3000), left(1500));
    EXPECT_LT(left(3000), 100.0f * kSettledGain);

    const std::vector<float> gains = quietGains(total);
    for (int i = 0; i < total - 255; ++i) ASSERT_EQ(samples[2 * i + 1], 100.0f * gains[i + 255]) << i;
}

// Warm stereo material that leaves the limiter settled (inactive, gain at its
// fixed point) is scaled four frames at a time; every other frame goes
// sample by sample. Both must give the bits of limitSample applied to every
// sample in turn, across quiet runs, loud bursts, delay-line wraps and
// pieces of every length.
TEST(DynamicLimiter, SettledRunsMatchTheSampleLaw) {
    // Quiet, a burst above the threshold, a quiet stretch long enough for the
    // gain to recover and settle again, a lone peak, quiet.
    constexpr int32_t kFrames = 120000;
    std::vector<float> input(2 * kFrames);
    uint32_t noise = 99;
    for (size_t i = 0; i < input.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float white = static_cast<float>(static_cast<int32_t>(noise >> 16) - 32768);
        const size_t frame = i / 2;
        float scale = frame >= 15000 && frame < 18000 ? 2.0f : 0.5f;
        if (frame == 100000) scale = 3.0f;
        input[i] = white * scale;
    }
    LimiterChannelState reference[2];
    resetChannelState(reference[0]);
    resetChannelState(reference[1]);
    std::vector<float> expected;
    for (size_t i = 0; i < input.size(); ++i) {
        const float y = limitSample(reference[i % 2], input[i]);
        if (i >= 2 * static_cast<size_t>(kLimiterWarmUp)) expected.push_back(y);
    }
    LimiterUnit unit;
    std::vector<float> produced;
    const int32_t lengths[] = {1, 3, 4096, 255, 5, 1152, 2, 4093};
    for (int32_t at = 0, call = 0; at < kFrames; ++call) {
        const int32_t n = std::min(lengths[call % 8], kFrames - at);
        std::vector<float> piece(input.begin() + 2 * at, input.begin() + 2 * (at + n));
        const int32_t out = unit.run(piece.data(), n);
        produced.insert(produced.end(), piece.begin(), piece.begin() + 2 * out);
        at += n;
    }
    ASSERT_EQ(produced.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(floatBits(produced[i]), floatBits(expected[i])) << "sample " << i;
}

TEST(DynamicLimiter, EmptyCallsChangeNothing) {
    std::vector<float> input(2 * 1500);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>((i * 7919) % 90000) - 45000.0f;
    std::vector<float> plain = input, interrupted = input;
    LimiterUnit a, b;
    ASSERT_EQ(a.run(plain.data(), 1500), 1245);

    float untouched[2] = {5.0f, 6.0f};
    EXPECT_EQ(b.run(untouched, 0), 0);
    EXPECT_EQ(b.run(interrupted.data(), 700), 445);
    EXPECT_EQ(b.run(untouched, 0), 0);
    EXPECT_EQ(b.run(untouched, -3), 0);
    EXPECT_EQ(b.run(untouched, 5, 0), 0);   // no channels: states kept
    EXPECT_EQ(b.run(untouched, 5, -2), 0);
    EXPECT_EQ(untouched[0], 5.0f);
    EXPECT_EQ(untouched[1], 6.0f);
    std::vector<float> rest(interrupted.begin() + 1400, interrupted.end());
    EXPECT_EQ(b.run(rest.data(), 800), 800);

    std::vector<float> joined(interrupted.begin(), interrupted.begin() + 2 * 445);
    joined.insert(joined.end(), rest.begin(), rest.end());
    ASSERT_EQ(joined.size(), 2u * 1245);
    for (size_t i = 0; i < joined.size(); ++i) ASSERT_EQ(floatBits(joined[i]), floatBits(plain[i])) << i;
}

TEST(DynamicLimiter, ChannelCountChangeStartsAFreshWarmUp) {
    LimiterUnit unit;
    std::vector<float> samples(3 * 600, 50000.0f);
    ASSERT_EQ(unit.run(samples.data(), 600, 2), 345);
    EXPECT_EQ(unit.run(samples.data(), 600, 3), 345);
    EXPECT_EQ(unit.block.engine->stateChannels, 3u);
    EXPECT_EQ(unit.run(samples.data(), 300, 1), 45);
    EXPECT_EQ(unit.run(samples.data(), 300, 1), 300);
    for (int i = 0; i < 300; ++i) EXPECT_LE(std::fabs(samples[i]), kThresholdPlusStep);
}

TEST(LimiterEngine, PeakTreeLevelsHoldTheMaximaOfTheirChildren) {
    LimiterChannelState s;
    resetChannelState(s);
    limitSample(s, -40000.0f);  // leaf 0, switches limiting on
    ASSERT_TRUE(s.active);
    for (int start : kPeakTreeLevelStart) EXPECT_EQ(s.peakTree[start], 40000.0f) << start;
    for (int i = 1; i < 255; ++i) limitSample(s, 100.0f);
    limitSample(s, 41000.0f);  // leaf 255
    const int lastPath[] = {255, 256 + 127, 384 + 63, 448 + 31, 480 + 15, 496 + 7, 504 + 3, 508 + 1};
    for (int node : lastPath) EXPECT_EQ(s.peakTree[node], 41000.0f) << node;
    EXPECT_EQ(s.peakTree[508], 40000.0f);
    EXPECT_EQ(s.peakTree[510], 0.0f);
    EXPECT_EQ(s.peakTree[511], 0.0f);

    limitSample(s, 100.0f);  // overwrites leaf 0: the left half now holds only 100s
    EXPECT_EQ(s.peakTree[0], 100.0f);
    EXPECT_EQ(s.peakTree[508], 100.0f);
    EXPECT_TRUE(s.active);
    for (int i = 0; i < 254; ++i) limitSample(s, 100.0f);
    EXPECT_TRUE(s.active);
    limitSample(s, 100.0f);  // the 41000 leaves the window
    EXPECT_FALSE(s.active);
}

TEST(LimiterEngine, GainRecoversByTheReleaseLawOnceThePeakHasLeft) {
    LimiterChannelState s;
    resetChannelState(s);
    for (int i = 0; i < 300; ++i) limitSample(s, 100.0f);
    ASSERT_FALSE(s.active);
    ASSERT_EQ(s.smoothedTarget, kSettledGain);
    s.gain = 0.5f;
    for (int i = 0; i < 6931; ++i) limitSample(s, 100.0f);
    // A time constant of 10000 samples: half way back from 0.5 after 10000 ln 2.
    EXPECT_NEAR(s.gain, 0.75f, 0.001f);
    for (int i = 0; i < 100000; ++i) limitSample(s, 100.0f);
    EXPECT_EQ(s.gain, kSettledGain);
}

TEST(DynamicLimiter, LifecycleSurvivesFailedAndMissingInit) {
    for (long failAt : {1L, 2L}) {
        SCOPED_TRACE(failAt);
        DynamicLimiterBlock block{};
        alloc_hook::arm(failAt);
        EXPECT_EQ(dynamicLimiterUnit.init(&block), 0);
        alloc_hook::disarm();
        EXPECT_EQ(block.engine, nullptr);
        float samples[2] = {40000.0f, 1.0f};
        block.channels = 2;
        block.frames = 1;
        block.samples = samples;
        EXPECT_EQ(dynamicLimiterUnit.process(&block), 0);
        EXPECT_EQ(samples[0], 40000.0f);
        EXPECT_EQ(dynamicLimiterUnit.quit(&block), 1);
    }
    DynamicLimiterBlock never{};
    EXPECT_EQ(dynamicLimiterUnit.quit(&never), 1);
    EXPECT_EQ(dynamicLimiterUnit.quit(&never), 1);
}

TEST(DynamicLimiter, StereoProcessingNeverAllocates) {
    LimiterUnit unit;
    std::vector<float> samples(2 * 4096, 45000.0f);
    alloc_hook::arm(0);
    unit.run(samples.data(), 4096);
    unit.run(samples.data(), 4096);
    const long allocations = alloc_hook::count();
    alloc_hook::disarm();
    EXPECT_EQ(allocations, 0);
}

}  // namespace
