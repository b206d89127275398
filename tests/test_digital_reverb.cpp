// The reverberator unit and its engine.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "framework/numeric.h"
#include "tests/support/alloc_hook.h"
#include "tests/support/float_noise.h"
#include "units/digital_reverb.h"
#include "units/reverb_engine.h"

namespace {

// Owns one initialised unit block, by default with the default parameters.
struct Reverb {
    Reverb() {
        block.roomSize = 0.4f;
        block.damping = 0.5f;
        block.wet = 0.35f;
        block.dry = 0.77f;
        block.width = 0.5f;
        block.freeze = 0.0f;
    }
    ~Reverb() { digitalReverbUnit.quit(&block); }
    int32_t init() { return digitalReverbUnit.init(&block); }

    int32_t process(std::vector<float>& samples, int32_t offsetFrames, int32_t frames) {
        block.channels = 2;
        block.frames = frames;
        block.samples = samples.data() + 2 * offsetFrames;
        return digitalReverbUnit.process(&block);
    }
    void run(std::vector<float>& samples, int32_t piece = 1152) {
        const int32_t frames = static_cast<int32_t>(samples.size() / 2);
        for (int32_t start = 0; start < frames; start += piece)
            ASSERT_EQ(process(samples, start, frames - start < piece ? frames - start : piece),
                      frames - start < piece ? frames - start : piece);
    }

    DigitalReverbBlock block{};
};

bool allExactlyZero(const std::vector<float>& samples) {
    for (float s : samples)
        if (floatBits(s) != 0) return false;
    return true;
}

double energy(const std::vector<float>& samples) {
    double sum = 0.0;
    for (float s : samples) sum += static_cast<double>(s) * s;
    return sum;
}

// The direct part alone: input x dry x 2 x 0.5999, rounded where stored.
float directPart(float input, float dry) {
    const float scaledDry = static_cast<float>(static_cast<double>(dry) * 2.0);
    const float mixed = static_cast<float>(static_cast<double>(input) * scaledDry);
    return static_cast<float>(static_cast<double>(mixed) * 0.5999000072479248);
}

// Both channels' combs hear a mono sum, so an impulse on either input
// reaches the left output through the shortest left comb (1116 frames). The
// right output hears it there through the cross gain, or, at width 1, only
// through its own shortest comb (1139 frames).
TEST(DigitalReverb, ImpulseReachesTheOutputsAfterTheShortestCombs) {
    struct Case {
        float width;
        int impulseChannel;
        int32_t firstLeft, firstRight;
    } cases[] = {{0.5f, 0, 1116, 1116}, {0.5f, 1, 1116, 1116}, {1.0f, 0, 1116, 1139},
                 {1.0f, 1, 1116, 1139}, {0.0f, 1, 1116, 1116}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "width " << c.width << ", impulse on channel " << c.impulseChannel);
        Reverb reverb;
        reverb.block.width = c.width;
        ASSERT_EQ(reverb.init(), 1);
        std::vector<float> samples(2 * 3000, 0.0f);
        samples[c.impulseChannel] = 10000.0f;
        reverb.run(samples, 576);

        EXPECT_EQ(samples[c.impulseChannel], directPart(10000.0f, 0.77f));
        EXPECT_EQ(floatBits(samples[1 - c.impulseChannel]), 0u);
        const int32_t first[2] = {c.firstLeft, c.firstRight};
        for (int channel = 0; channel < 2; ++channel) {
            for (int32_t i = 1; i < first[channel]; ++i)
                ASSERT_EQ(floatBits(samples[2 * i + channel]), 0u) << "channel " << channel << ", frame " << i;
            EXPECT_NE(samples[2 * first[channel] + channel], 0.0f) << "channel " << channel;
        }
    }
}

TEST(DigitalReverb, WithoutWetOnlyTheScaledDirectSignalLeaves) {
    Reverb reverb;
    reverb.block.wet = 0.0f;
    reverb.block.dry = 0.5f;
    ASSERT_EQ(reverb.init(), 1);
    const std::vector<float> input = fullScaleNoise(20000, 1);
    std::vector<float> samples = input;
    reverb.run(samples);
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], directPart(input[i], 0.5f)) << i;
}

TEST(DigitalReverb, SilenceStaysExactlyZeroAfterInitAndAfterTheTailDies) {
    Reverb reverb;
    ASSERT_EQ(reverb.init(), 1);
    std::vector<float> silence(2 * 20000, 0.0f);
    reverb.run(silence);
    EXPECT_TRUE(allExactlyZero(silence));

    std::vector<float> loud = fullScaleNoise(4096, 2);
    reverb.run(loud);
    int32_t silentFrames = 0;
    int32_t firstZeroPiece = -1;
    for (int32_t piece = 0; piece < 2000 && firstZeroPiece < 0; ++piece) {
        std::vector<float> samples(2 * 4096, 0.0f);
        reverb.run(samples, 4096);
        silentFrames += 4096;
        if (allExactlyZero(samples)) firstZeroPiece = piece;
    }
    ASSERT_GE(firstZeroPiece, 1) << "the tail never ended at exactly zero";
    for (int piece = 0; piece < 20; ++piece) {
        std::vector<float> samples(2 * 4096, 0.0f);
        reverb.run(samples, 4096);
        ASSERT_TRUE(allExactlyZero(samples)) << "piece " << piece << " after the tail ended";
    }
    RecordProperty("framesUntilExactSilence", silentFrames);
}

// Two units with the default parameters that heard the same noise.
struct TwoTails {
    explicit TwoTails(unsigned seed) {
        EXPECT_EQ(first.init(), 1);
        EXPECT_EQ(second.init(), 1);
        std::vector<float> a = fullScaleNoise(8192, seed);
        std::vector<float> b = a;
        first.run(a);
        second.run(b);
    }
    Reverb first;
    Reverb second;
};

void setFreeze(Reverb& reverb, float freeze) {
    reverb.block.freeze = freeze;
    ASSERT_EQ(digitalReverbUnit.update(&reverb.block), 1);
}

// Runs `frames` of silence and returns the energy that comes out.
double tailEnergy(Reverb& reverb, int32_t frames) {
    std::vector<float> samples(2 * static_cast<size_t>(frames), 0.0f);
    reverb.run(samples);
    return energy(samples);
}

TEST(DigitalReverb, FreezeSustainsTheTail) {
    TwoTails tails(3);
    setFreeze(tails.first, 1.0f);
    for (Reverb* reverb : {&tails.first, &tails.second}) {
        const bool frozen = reverb == &tails.first;
        SCOPED_TRACE(frozen ? "frozen" : "not frozen");
        // About 10 seconds of silence at 44100 Hz between the two windows.
        const double start = tailEnergy(*reverb, 8192);
        tailEnergy(*reverb, 440000);
        const double late = tailEnergy(*reverb, 8192);
        EXPECT_GT(start, 0.0);
        if (frozen) {
            EXPECT_GT(late, 0.5 * start);
            EXPECT_LT(late, 2.0 * start);
        } else {
            EXPECT_LT(late, 1e-6 * start);
        }
    }
}

// Frozen loops take no new input, and Mute leaves them alone: a frozen unit
// fed loud input and muted keeps exactly the tail of one fed silence.
TEST(DigitalReverb, FrozenLoopsIgnoreInputAndMute) {
    TwoTails tails(4);
    setFreeze(tails.first, 0.5f);
    setFreeze(tails.second, 0.5f);
    tails.first.block.engine->Mute();
    std::vector<float> loud = fullScaleNoise(4096, 5);
    std::vector<float> silence(2 * 4096, 0.0f);
    tails.first.run(loud);
    tails.second.run(silence);

    std::vector<float> tailFed(2 * 8192, 0.0f);
    std::vector<float> tailQuiet = tailFed;
    tails.first.run(tailFed);
    tails.second.run(tailQuiet);
    EXPECT_GT(energy(tailQuiet), 0.0);
    EXPECT_EQ(std::memcmp(tailFed.data(), tailQuiet.data(), tailFed.size() * sizeof(float)), 0);
}

// Parameter mapping: room size 0..1 gives comb feedback 0.7..0.98, damping
// 0..1 gives damp1 0..0.4, width sets the same-side and cross wet gains, and
// freeze makes the loops lossless and undamped.
TEST(DigitalReverb, ParametersMapOntoTheEngine) {
    struct Case {
        float roomSize, damping, wet, width, freeze;
        float feedback, damp1, damp2, sameSide, cross;
    } cases[] = {
        {1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.98f, 0.0f, 1.0f, 3.0f, 0.0f},
        {0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.7f, 0.4f, 0.6f, 1.5f, 1.5f},
        {0.4f, 0.5f, 0.35f, 0.5f, 0.0f, 0.812f, 0.2f, 0.8f, 0.7875f, 0.2625f},
        {0.4f, 0.5f, 0.35f, 0.5f, 0.5f, 1.0f, 0.0f, 1.0f, 0.7875f, 0.2625f},
        {0.4f, 0.5f, 0.35f, 0.5f, 0.49f, 0.812f, 0.2f, 0.8f, 0.7875f, 0.2625f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "room " << c.roomSize << ", damping " << c.damping << ", freeze "
                                        << c.freeze);
        Reverb reverb;
        reverb.block.roomSize = c.roomSize;
        reverb.block.damping = c.damping;
        reverb.block.wet = c.wet;
        reverb.block.width = c.width;
        reverb.block.freeze = c.freeze;
        ASSERT_EQ(reverb.init(), 1);
        const CReverbEngine& engine = *reverb.block.engine;
        for (int k = 0; k < CReverbEngine::kCombCount; ++k) {
            for (const CCombFilter* comb : {&engine.leftComb(k), &engine.rightComb(k)}) {
                EXPECT_FLOAT_EQ(comb->feedback(), c.feedback);
                EXPECT_FLOAT_EQ(comb->damp1(), c.damp1);
                EXPECT_FLOAT_EQ(comb->damp2(), c.damp2);
            }
        }
        EXPECT_FLOAT_EQ(engine.sameSideWetGain(), c.sameSide);
        EXPECT_FLOAT_EQ(engine.crossWetGain(), c.cross);
    }
}

TEST(DigitalReverb, LongCallsMatchPiecewiseCalls) {
    Reverb whole;
    Reverb pieces;
    ASSERT_EQ(whole.init(), 1);
    ASSERT_EQ(pieces.init(), 1);
    std::vector<float> a = fullScaleNoise(10000, 6);
    std::vector<float> b = a;
    EXPECT_EQ(whole.process(a, 0, 10000), 10000);
    pieces.run(b, 333);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
}

// One bad sample (from a non-finite parameter upstream) passes once and
// leaves nothing behind in the loops.
TEST(DigitalReverb, NonFiniteInputDoesNotStayInTheLoops) {
    Reverb reverb;
    ASSERT_EQ(reverb.init(), 1);
    std::vector<float> samples(2 * 20000, 0.0f);
    samples[0] = std::numeric_limits<float>::quiet_NaN();
    samples[3] = std::numeric_limits<float>::infinity();
    reverb.run(samples);
    EXPECT_TRUE(std::isnan(samples[0]));
    EXPECT_TRUE(std::isinf(samples[3]));
    EXPECT_TRUE(allExactlyZero(std::vector<float>(samples.begin() + 4, samples.end())));
}

// The engine runs its combs and all-passes a block at a time; it must give
// the bits of the per-sample filters run one frame after another, for calls
// of every length (block tails, line wraps), on the default and on the SSE2
// comb loops, on full-scale noise and on noise so small that the lines
// reach the lowest normal exponent and the flush.
TEST(CReverbEngine, BlocksMatchThePerSampleFilters) {
    using namespace reverb_tuning;
    struct Reference {
        std::vector<float> memory = std::vector<float>(delayMemorySamples(), 0.0f);
        CCombFilter combs[2][kCombCount];
        CAllPassFilter allPasses[2][kAllPassCount];
        Reference(const CReverbEngine& engine) {
            float* next = memory.data();
            for (int k = 0; k < kCombCount; ++k) {
                for (int side = 0; side < 2; ++side) {
                    const CCombFilter& model = side == 0 ? engine.leftComb(k) : engine.rightComb(k);
                    combs[side][k].setBuffer(next, kCombLengths[k] + side * kStereoSpread);
                    next += kCombLengths[k] + side * kStereoSpread;
                    combs[side][k].setFeedback(model.feedback());
                    combs[side][k].setDamp(model.damp1());
                }
            }
            for (int k = 0; k < kAllPassCount; ++k) {
                for (int side = 0; side < 2; ++side) {
                    allPasses[side][k].setBuffer(next, kAllPassLengths[k] + side * kStereoSpread);
                    next += kAllPassLengths[k] + side * kStereoSpread;
                }
            }
        }
        void run(const float* inL, const float* inR, float* outL, float* outR, int32_t count, double sameSide,
                 double cross, double dry) {
            for (int32_t i = 0; i < count; ++i) {
                const float input =
                    static_cast<float>((static_cast<double>(inL[i]) + static_cast<double>(inR[i])) * 0.015f);
                float acc[2] = {0.0f, 0.0f};
                for (int k = 0; k < kCombCount; ++k)
                    for (int side = 0; side < 2; ++side) acc[side] += combs[side][k].process(input);
                for (int k = 0; k < kAllPassCount; ++k)
                    for (int side = 0; side < 2; ++side) acc[side] = allPasses[side][k].process(acc[side]);
                outL[i] = static_cast<float>(acc[0] * sameSide + acc[1] * cross + inL[i] * dry);
                outR[i] = static_cast<float>(acc[1] * sameSide + acc[0] * cross + inR[i] * dry);
            }
        }
    };
    for (int run = 0; run < 4; ++run) {
        const bool wide = run % 2 == 0;
        const float scale = run < 2 ? 1.0f : 1e-40f;  // down to the lowest normal exponent
        setReverbWideLoops(wide);
        Reverb reverb;
        reverb.block.roomSize = 0.9f;
        ASSERT_EQ(reverb.init(), 1);
        CReverbEngine& engine = *reverb.block.engine;
        Reference reference(engine);
        const double dry = static_cast<float>(static_cast<double>(reverb.block.dry) * 2.0);
        std::vector<float> noise = fullScaleNoise(20000, 9);
        for (float& sample : noise) sample *= scale;
        const int32_t lengths[] = {1, 3, 128, 129, 5, 4096, 127, 1000, 2, 255, 4095};
        size_t at = 0;
        for (int call = 0; at < noise.size() / 2; ++call) {
            const int32_t n = std::min<int32_t>(lengths[call % 11], static_cast<int32_t>(noise.size() / 2 - at));
            std::vector<float> inL(n), inR(n), outL(n), outR(n), refL(n), refR(n);
            for (int32_t i = 0; i < n; ++i) {
                inL[i] = noise[2 * (at + i)];
                inR[i] = noise[2 * (at + i) + 1];
            }
            engine.Process(inL.data(), inR.data(), outL.data(), outR.data(), n);
            reference.run(inL.data(), inR.data(), refL.data(), refR.data(), n, engine.sameSideWetGain(),
                          engine.crossWetGain(), dry);
            ASSERT_EQ(std::memcmp(outL.data(), refL.data(), n * sizeof(float)), 0) << "run " << run << ", call " << call;
            ASSERT_EQ(std::memcmp(outR.data(), refR.data(), n * sizeof(float)), 0) << "run " << run << ", call " << call;
            at += n;
        }
    }
    setReverbWideLoops(true);
}

TEST(DigitalReverb, FailedEngineIsReportedAndSafe) {
    Reverb reverb;
    alloc_hook::arm(1);
    const int32_t result = reverb.init();
    alloc_hook::disarm();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(reverb.block.engine, nullptr);
    EXPECT_EQ(digitalReverbUnit.update(&reverb.block), 0);
    std::vector<float> samples = fullScaleNoise(100, 7);
    const std::vector<float> before = samples;
    EXPECT_EQ(reverb.process(samples, 0, 100), 100);
    EXPECT_EQ(samples, before);
    EXPECT_EQ(digitalReverbUnit.quit(&reverb.block), 1);
    EXPECT_EQ(digitalReverbUnit.quit(&reverb.block), 1);
}

TEST(DigitalReverb, EmptyPieceTouchesNothing) {
    Reverb reverb;
    ASSERT_EQ(reverb.init(), 1);
    std::vector<float> samples = fullScaleNoise(10, 8);
    const std::vector<float> before = samples;
    EXPECT_EQ(reverb.process(samples, 0, 0), 0);
    EXPECT_EQ(samples, before);
}

}  // namespace
