// The sample entry: which blocks are processed, how they are cut into
// pieces, the conversions and the meters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "framework/numeric.h"
#include "host/context.h"
#include "host/lifecycle.h"
#include "host/pipeline.h"
#include "platform/platform.h"
#include "tests/support/alloc_hook.h"
#include "tests/support/plugin_loader.h"

namespace {

std::vector<int16_t> testBlock(int frames, int seed = 1) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2 + 2);
    uint32_t state = 0x9e3779b9u * static_cast<uint32_t>(seed);
    for (int16_t& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<int16_t>(static_cast<int32_t>(state >> 16) - 32768);
    }
    return samples;
}

// Runs the plug-in in-process with its settings file in a private directory.
class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = makeTempDirectory();
        library_ = directory_ + "/dsp_brimwell.so";
        platform::overrideModulePath(library_.c_str());
        module_ = winampDSPGetHeader2()->getModule(0);
        ASSERT_EQ(module_->Init(module_), 0);
    }
    void TearDown() override {
        alloc_hook::disarm();
        module_->Quit(module_);
        platform::overrideModulePath(nullptr);
    }
    int32_t run(std::vector<int16_t>& block, int32_t frames, int32_t bits = 16, int32_t channels = 2,
                int32_t rate = 44100) {
        return module_->ModifySamples(module_, block.data(), frames, bits, channels, rate);
    }
    std::string directory_, library_;
    winampDSPModule* module_ = nullptr;
};

TEST_F(PipelineTest, UnsupportedBlocksPassThroughUntouched) {
    struct Case { int32_t bits, channels, rate, frames; bool nullSamples; } cases[] = {
        {8, 2, 44100, 576, false}, {24, 2, 44100, 576, false}, {16, 1, 44100, 576, false},
        {16, 6, 44100, 576, false}, {16, 2, 0, 576, false},    {16, 2, -44100, 576, false},
        {16, 2, 44100, -5, false},  {16, 2, 44100, 576, true},
    };
    dspContext->meterLeft = 777;
    dspContext->meterRight = 555;
    for (const Case& c : cases) {
        std::vector<int16_t> block = testBlock(576), original = block;
        int16_t* samples = c.nullSamples ? nullptr : block.data();
        EXPECT_EQ(module_->ModifySamples(module_, samples, c.frames, c.bits, c.channels, c.rate), c.frames);
        EXPECT_EQ(block, original);
    }
    EXPECT_EQ(dspContext->meterLeft, 777);
    EXPECT_EQ(dspContext->meterRight, 555);

    dspContext->powerOn = 0;
    std::vector<int16_t> block = testBlock(576), original = block;
    EXPECT_EQ(run(block, 576), 576);
    EXPECT_EQ(block, original);
    EXPECT_EQ(dspContext->meterLeft, 777);
}

// Records the frame counts AudioFilter is called with, passing audio on.
std::vector<int32_t> pieceSizes;
UnitEntry realAudioFilterProcess = nullptr;
int32_t recordingProcess(void* block) {
    pieceSizes.push_back(static_cast<AudioFilterBlock*>(block)->frames);
    return realAudioFilterProcess(block);
}

TEST_F(PipelineTest, BlocksAreCutIntoPiecesOfAtMost4096Frames) {
    realAudioFilterProcess = dspContext->ports[kAudioFilter]->process;
    dspContext->ports[kAudioFilter]->process = recordingProcess;
    struct Case { int32_t frames; std::vector<int32_t> pieces; } cases[] = {
        {0, {0}}, {576, {576}}, {4096, {4096}}, {4097, {4096, 1}}, {8192, {4096, 4096}},
        {2 * 4096 + 1808, {4096, 4096, 1808}},
    };
    for (const Case& c : cases) {
        pieceSizes.clear();
        std::vector<int16_t> block = testBlock(c.frames);
        run(block, c.frames);
        EXPECT_EQ(pieceSizes, c.pieces) << c.frames;
    }
    dspContext->ports[kAudioFilter]->process = realAudioFilterProcess;
}

// Stands in for the last stage: drops the first 100 frames of every piece, as
// the limiter's warm-up does, and labels each produced frame with its piece
// number (left) and its index in the piece (right).
int32_t pieceNumber = 0;
int32_t labellingProcess(void* block) {
    DynamicLimiterBlock* b = static_cast<DynamicLimiterBlock*>(block);
    ++pieceNumber;
    int32_t keep = b->frames > 100 ? b->frames - 100 : 0;
    for (int32_t i = 0; i < keep; ++i) {
        b->samples[2 * i] = static_cast<float>(pieceNumber);
        b->samples[2 * i + 1] = static_cast<float>(i);
    }
    return keep;
}

TEST_F(PipelineTest, ShortPiecesFormOneRunFromTheStartOfTheBlock) {
    UnitEntry saved = dspContext->ports[kDynamicLimiter]->process;
    dspContext->ports[kDynamicLimiter]->process = labellingProcess;
    pieceNumber = 0;
    const int32_t frames = 2 * 4096 + 1808;
    std::vector<int16_t> block = testBlock(frames);
    int32_t total = run(block, frames);
    dspContext->ports[kDynamicLimiter]->process = saved;
    ASSERT_EQ(total, 3996 + 3996 + 1708);
    for (int32_t f = 0; f < total; ++f) {
        int32_t piece = f < 3996 ? 1 : (f < 7992 ? 2 : 3);
        int32_t index = f - (piece - 1) * 3996;
        ASSERT_EQ(block[2 * f], piece) << f;
        ASSERT_EQ(block[2 * f + 1], index) << f;
    }
}

TEST_F(PipelineTest, ZeroFramesRunOneEmptyPieceAndTheMetersFall) {
    dspContext->meterLeft = 150;
    dspContext->meterRight = 50;
    std::vector<int16_t> block(2);
    EXPECT_EQ(run(block, 0), 0);
    EXPECT_EQ(dspContext->meterLeft, 50);
    EXPECT_EQ(dspContext->meterRight, 0);
}

TEST_F(PipelineTest, NoHeapAllocationAfterTheFirstBlock) {
    std::vector<int16_t> block = testBlock(20000);
    run(block, 576);
    for (int32_t frames : {576, 4096, 4097, 20000, 0, 1}) {
        block = testBlock(20000, frames);
        alloc_hook::arm(0);
        run(block, frames);
        EXPECT_EQ(alloc_hook::disarm(), 0) << frames;
    }
}

TEST_F(PipelineTest, EveryPositiveSampleRateGivesBoundedOutput) {
    DspArray& c = *dspContext;
    c.enableFlags.words[kEnableHardLimiter] = 1;
    for (int32_t rate : {1, 2, 3, 100, 799, 800, 801, 1000, 4000, 8000, 11025, 22050, 44100, 48000, 96000, 192000,
                         384000, 1000000, std::numeric_limits<int32_t>::max()}) {
        for (int round = 0; round < 8; ++round) {
            std::vector<int16_t> block = testBlock(4096, (rate % 1000) + round);
            int32_t produced = run(block, 4096, 16, 2, rate);
            EXPECT_GE(produced, 0);
            EXPECT_LE(produced, 4096);
        }
    }
}

TEST(SampleConversions, ToShortTruncatesSaturatesAndZeroesNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    float source[] = {1.9f, -1.9f, -0.5f, std::nextafter(32768.0f, 0.0f), 32768.0f, 40000.0f,
                      -32768.0f, -32769.0f, -1e30f, nan, inf, -inf};
    const int16_t expected[] = {1, -1, 0, 32767, 32767, 32767, -32768, -32768, -32768, 0, 32767, -32768};
    int16_t out[12];
    ToShort(source, out, 6);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i], expected[i]) << i;

    int16_t in[4] = {-32768, 5, 3, -7};
    float back[4];
    ToFloat(in, back, 2);
    EXPECT_EQ(back[0], -32768.0f);
    EXPECT_EQ(back[3], -7.0f);
}

// The conversions and the peaks take groups of samples at a time and the
// rest one by one; every sample must come out as the one-by-one rule says
// wherever it sits, for every length.
TEST(SampleConversions, GroupsAndRemaindersFollowTheSampleRules) {
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), 32767.99f, 32768.0f, -32768.99f,
                              -32769.0f, 3e9f, -3e9f, -0.0f, 0.99f, -0.99f, 1e-40f};
    for (int32_t frames = 0; frames <= 13; ++frames) {
        for (int32_t at = 0; at < 2 * frames; ++at) {
            std::vector<float> source(2 * frames, 1234.5f);
            source[at] = specials[at % 13];
            if (at + 1 < 2 * frames) source[at + 1] = specials[(at + 5) % 13];
            std::vector<int16_t> out(2 * frames + 1, 77);
            ToShort(source.data(), out.data(), frames);
            for (int32_t i = 0; i < 2 * frames; ++i)
                ASSERT_EQ(out[i], static_cast<int16_t>(truncClamp(source[i], -32768, 32767, 0))) << frames << " " << i;
            EXPECT_EQ(out[2 * frames], 77);

            std::vector<int16_t> shorts(2 * frames, 100);
            shorts[at] = at % 2 ? -32768 : 32767;
            if (at + 1 < 2 * frames) shorts[at + 1] = static_cast<int16_t>(-300 - at);
            std::vector<float> floats(2 * frames + 1, -5.0f);
            ToFloat(shorts.data(), floats.data(), frames);
            for (int32_t i = 0; i < 2 * frames; ++i) ASSERT_EQ(floats[i], static_cast<float>(shorts[i]));
            EXPECT_EQ(floats[2 * frames], -5.0f);

            int32_t expected[2] = {0, 0};
            for (int32_t i = 0; i < 2 * frames; ++i)
                expected[i % 2] = std::max(expected[i % 2], std::abs(static_cast<int32_t>(shorts[i])));
            int32_t left = -1, right = -1;
            MeasurePeaks(shorts.data(), frames, &left, &right);
            EXPECT_EQ(left, expected[0]) << frames << " frames, extreme at " << at;
            EXPECT_EQ(right, expected[1]) << frames << " frames, extreme at " << at;
        }
    }
}

TEST(SampleConversions, PeaksAndTheMeterLaw) {
    int16_t frames[] = {-32768, 10, 300, -400, 5, 399};
    int32_t left = -1, right = -1;
    MeasurePeaks(frames, 3, &left, &right);
    EXPECT_EQ(left, 32768);
    EXPECT_EQ(right, 400);
    MeasurePeaks(frames, 0, &left, &right);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, 0);
    struct Case { int32_t meter, peak, next; } cases[] = {
        {150, 120, 50}, {50, 0, 0}, {100, 100, 100}, {0, 32768, 32768}, {99, 0, 0}};
    for (const Case& c : cases) EXPECT_EQ(nextMeterValue(c.meter, c.peak), c.next);
}

}  // namespace
