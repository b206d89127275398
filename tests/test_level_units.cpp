// Stream Combination, Audio Gain and the hard limiter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "framework/numeric.h"
#include "units/audio_gain.h"
#include "units/hard_limiter.h"
#include "units/stream_combination.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(StreamCombination, MixesBassWithWeightedMainAndLeavesInputs) {
    struct Case {
        float bass, main, expected;
    } cases[] = {{1000, 1000, 1530.0f}, {0, 1000, 630.0f}, {30000, -20000, 14400.0f}};
    // Seven frames so both the grouped passes and the remainder are exercised.
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bass << " + " << c.main);
        std::vector<float> bass(14, c.bass), main(14, c.main), out(16, -1.0f);
        StreamCombinationBlock block{};
        block.mainWeightLeft = 0.7f;
        block.mainWeightRight = 0.7f;
        block.channels = 2;
        block.frames = 7;
        block.bassSamples = bass.data();
        block.mainSamples = main.data();
        block.outSamples = out.data();
        ASSERT_EQ(streamCombinationUnit.process(&block), 7);
        for (int i = 0; i < 14; ++i) EXPECT_EQ(out[i], c.expected) << i;
        EXPECT_EQ(out[14], -1.0f);
        EXPECT_EQ(bass, std::vector<float>(14, c.bass));
        EXPECT_EQ(main, std::vector<float>(14, c.main));

        block.frames = 0;
        out.assign(16, -1.0f);
        EXPECT_EQ(streamCombinationUnit.process(&block), 0);
        EXPECT_EQ(out, std::vector<float>(16, -1.0f));
    }
}

// Grouped frames and the remainder, with a weight of its own per channel,
// against the formula frame by frame.
TEST(StreamCombination, EachChannelTakesItsOwnWeightInEveryFrame) {
    uint32_t noise = 3;
    auto next = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(noise >> 8) - 8388608) / 256.0f;
    };
    for (int32_t frames = 1; frames <= 9; ++frames) {
        std::vector<float> bass(2 * frames), main(2 * frames), out(2 * frames);
        for (int32_t i = 0; i < 2 * frames; ++i) {
            bass[i] = next();
            main[i] = next();
        }
        StreamCombinationBlock block{};
        block.mainWeightLeft = 0.7f;
        block.mainWeightRight = 0.3f;
        block.frames = frames;
        block.bassSamples = bass.data();
        block.mainSamples = main.data();
        block.outSamples = out.data();
        ASSERT_EQ(streamCombinationUnit.process(&block), frames);
        for (int32_t i = 0; i < 2 * frames; ++i) {
            const double weight = i % 2 == 0 ? 0.7f : 0.3f;
            const float sum = static_cast<float>(main[i] * weight + bass[i]);
            EXPECT_EQ(floatBits(out[i]), floatBits(static_cast<float>(sum * static_cast<double>(0.9f))))
                << frames << " frames, sample " << i;
        }
    }
}

TEST(StreamCombination, RoundsTheWeightedSumToFloatBeforeScaling) {
    // 1 * 0.7 + 2^24 rounds to 2^24 as a float; scaling the unrounded double
    // would give 15099495 instead of 15099494.
    float bass[2] = {16777216.0f, 16777216.0f}, main[2] = {1.0f, 1.0f}, out[2];
    StreamCombinationBlock block{};
    block.mainWeightLeft = 0.7f;
    block.mainWeightRight = 0.7f;
    block.frames = 1;
    block.bassSamples = bass;
    block.mainSamples = main;
    block.outSamples = out;
    streamCombinationUnit.process(&block);
    EXPECT_EQ(out[0], 15099494.0f);
    EXPECT_EQ(out[1], 15099494.0f);
}

TEST(AudioGain, ScalesEachChannelByItsGain) {
    std::vector<float> samples = {100.0f, 100.0f, -32768.0f, 0.1f, 12345.678f, -0.0f, kNaN, 7.0f};
    const std::vector<float> original = samples;
    AudioGainBlock block{};
    block.gainLeft = 1.0f;
    block.gainRight = 1.0f;
    block.frames = 4;
    block.samples = samples.data();
    ASSERT_EQ(audioGainUnit.process(&block), 4);
    for (size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(floatBits(samples[i]), floatBits(original[i])) << i;

    block.gainLeft = 2.0f;
    block.gainRight = 0.5f;
    block.frames = 1;
    ASSERT_EQ(audioGainUnit.process(&block), 1);
    EXPECT_EQ(samples[0], 200.0f);
    EXPECT_EQ(samples[1], 50.0f);
    EXPECT_EQ(samples[2], -32768.0f);  // beyond `frames`

    block.frames = 0;
    samples = original;
    EXPECT_EQ(audioGainUnit.process(&block), 0);
    EXPECT_EQ(samples[0], 100.0f);
}

struct LimitCase {
    float limit;
    float input;
    float expected;
};

TEST(HardLimiter, ClipsEachChannelToItsOwnLimit) {
    const LimitCase cases[] = {
        {32767.0f, 40000.0f, 32767.0f},  {32767.0f, -40000.0f, -32767.0f}, {32767.0f, 1234.5f, 1234.5f},
        {32767.0f, -32768.0f, -32767.0f}, {0.0f, 5.0f, 0.0f},              {0.0f, -5.0f, -0.0f},
        {-100.0f, 5.0f, 100.0f},          {-100.0f, -30000.0f, 100.0f},     {-100.0f, 30000.0f, 100.0f},
        {32767.0f, kNaN, kNaN},           {kNaN, 40000.0f, 40000.0f},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "limit " << c.limit << ", sample " << c.input);
        // The case's limit on one channel, an untouched 32767 limit on the other.
        float samples[4] = {c.input, 40000.0f, 20000.0f, c.input};
        HardLimiterBlock block{};
        block.limitLeft = c.limit;
        block.limitRight = 32767.0f;
        block.channels = 2;
        block.frames = 1;
        block.samples = samples;
        ASSERT_EQ(hardLimiterUnit.process(&block), 1);
        EXPECT_EQ(floatBits(samples[0]), floatBits(c.expected));
        EXPECT_EQ(samples[1], 32767.0f);
        EXPECT_EQ(samples[2], 20000.0f);  // beyond `frames`

        block.limitLeft = 32767.0f;
        block.limitRight = c.limit;
        block.samples = samples + 2;
        samples[2] = 40000.0f;
        hardLimiterUnit.process(&block);
        EXPECT_EQ(samples[2], 32767.0f);
        EXPECT_EQ(floatBits(samples[3]), floatBits(c.expected));
    }
}

TEST(HardLimiter, FrameCountZeroTouchesNothing) {
    float samples[2] = {40000.0f, -40000.0f};
    HardLimiterBlock block{};
    block.limitLeft = 0.0f;
    block.limitRight = 0.0f;
    block.samples = samples;
    EXPECT_EQ(hardLimiterUnit.process(&block), 0);
    EXPECT_EQ(samples[0], 40000.0f);
    EXPECT_EQ(samples[1], -40000.0f);
}

TEST(HardLimiter, InitAndUpdateAcceptOnlyLimitsWithinTheSixteenBitScale) {
    struct Case {
        float left, right;
        int32_t expected;
    } cases[] = {
        {32767.0f, 32767.0f, 1}, {32768.0f, -32768.0f, 1}, {0.0f, 0.0f, 1},        {kNaN, 100.0f, 1},
        {32768.5f, 0.0f, 0},     {0.0f, -32769.0f, 0},     {-1e30f, 0.0f, 0},       {0.0f, INFINITY, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << ", " << c.right);
        HardLimiterBlock block{};
        block.limitLeft = c.left;
        block.limitRight = c.right;
        EXPECT_EQ(hardLimiterUnit.init(&block), c.expected);
        EXPECT_EQ(hardLimiterUnit.update(&block), c.expected);
        EXPECT_EQ(floatBits(block.limitLeft), floatBits(c.left));
        EXPECT_EQ(hardLimiterUnit.quit(&block), 1);
    }
}

}  // namespace
