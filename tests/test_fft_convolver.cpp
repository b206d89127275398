// The FFT convolution engine: timing and delay, band layout against the
// sample rate, the bank cycle, reset, the design against its formulas and its
// measured response, failures, and a design thread racing a processing one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "fft/fft_convolver.h"
#include "fft/real_fft.h"
#include "tests/support/alloc_hook.h"

namespace {

constexpr int32_t kBands = kConvolverBandCount;

struct Gains {
    float g[kBands];
};

Gains uniform(float value) {
    Gains gains;
    for (float& g : gains.g) g = value;
    return gains;
}

std::vector<float> noise(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> v(count);
    for (float& x : v) x = value(rng);
    return v;
}

// Feeds `input` (interleaved) through the engine in calls of the given sizes,
// cycling through them, and returns what comes back.
std::vector<float> run(FftConvolver* e, const std::vector<float>& input, int32_t channels,
                       const std::vector<int32_t>& sizes) {
    std::vector<float> out = input;
    const int32_t total = static_cast<int32_t>(input.size()) / channels;
    int32_t position = 0;
    for (size_t call = 0; position < total; ++call) {
        int32_t frames = std::min(sizes[call % sizes.size()], total - position);
        int32_t returned = FftConvolverProcess(e, channels, out.data() + position * channels, frames);
        EXPECT_EQ(returned, frames);
        position += frames;
    }
    return out;
}

class ConvolverTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_ = FftConvolverCreate();
        ASSERT_NE(engine_, nullptr);
    }
    void TearDown() override {
        alloc_hook::disarm();
        FftConvolverDestroy(engine_);
    }
    void design(const Gains& gains, float rate = 44100.0f) { FftConvolverDesign(engine_, gains.g, gains.g, rate); }
    FftConvolver* engine_ = nullptr;
};

// With all gains 1 the response is one tap of 1 at 4095: every frame comes
// back exactly 12286 frames later, the first 8191 frames are exact zeros, and
// call sizes (including 0 and more than a block) do not matter.
TEST_F(ConvolverTest, UnitGainsDelayByExactly12286Frames) {
    for (int32_t channels : {2, 1}) {
        SCOPED_TRACE(channels);
        design(uniform(1.0f));
        FftConvolverReset(engine_);
        const int32_t frames = 45000;
        std::vector<float> input = noise(static_cast<size_t>(frames) * channels, 1);
        std::vector<float> out = run(engine_, input, channels, {4096, 1, 0, 100, 8191, 9000, 4000, 3});
        for (int32_t t = 0; t < kConvolverBlockLength * channels; ++t) ASSERT_EQ(out[t], 0.0f) << t;
        for (int32_t t = kConvolverBlockLength; t < frames; ++t)
            for (int32_t c = 0; c < channels; ++c) {
                float expected = t < kConvolverDelay ? 0.0f : input[(t - kConvolverDelay) * channels + c];
                ASSERT_NEAR(out[t * channels + c], expected, 2e-6) << "frame " << t << " channel " << c;
            }
    }
}

TEST_F(ConvolverTest, ZeroGainsGiveSilence) {
    design(uniform(0.0f));
    std::vector<float> out = run(engine_, noise(2 * 30000, 2), 2, {4096});
    for (float x : out) ASSERT_EQ(x, 0.0f);
}

TEST_F(ConvolverTest, NothingHappensWithoutWork) {
    float buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(FftConvolverProcess(engine_, 2, buffer, 0), 0);
    EXPECT_EQ(FftConvolverProcess(engine_, 2, buffer, -5), 0);
    EXPECT_EQ(FftConvolverProcess(engine_, 3, buffer, 1), 0);
    EXPECT_EQ(FftConvolverProcess(engine_, 0, buffer, 1), 0);
    EXPECT_EQ(FftConvolverProcess(engine_, 2, nullptr, 1), 0);
    EXPECT_EQ(FftConvolverProcess(nullptr, 2, buffer, 2), 0);
    const float expected[4] = {1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof buffer), 0);
    FftConvolverDesign(nullptr, uniform(1).g, uniform(1).g, 44100.0f);
    FftConvolverReset(nullptr);
}

// Every design writes the bank not in use and marks it pending; processing
// switches at the start of its next call; two designs in a row write the
// same bank and the later one is used.
TEST_F(ConvolverTest, BankCycleAndLaterDesignWins) {
    EXPECT_EQ(FftConvolverActiveBank(engine_), 1);
    design(uniform(1.0f));
    EXPECT_EQ(FftConvolverPendingBank(engine_), 2);
    float frame[2] = {0, 0};
    FftConvolverProcess(engine_, 2, frame, 1);
    EXPECT_EQ(FftConvolverActiveBank(engine_), 2);
    EXPECT_EQ(FftConvolverPendingBank(engine_), 0);

    design(uniform(0.0f));
    EXPECT_EQ(FftConvolverPendingBank(engine_), 1);
    design(uniform(1.0f));
    EXPECT_EQ(FftConvolverPendingBank(engine_), 1);
    FftConvolverReset(engine_);
    std::vector<float> input = noise(2 * 20000, 3);
    std::vector<float> out = run(engine_, input, 2, {4096});
    EXPECT_EQ(FftConvolverActiveBank(engine_), 1);
    for (int32_t t = kConvolverDelay; t < 20000; ++t)
        ASSERT_NEAR(out[2 * t], input[2 * (t - kConvolverDelay)], 2e-6) << t;
}

TEST_F(ConvolverTest, DesignWithoutAValidRateChangesNothing) {
    design(uniform(1.0f));
    float frame[2] = {0, 0};
    FftConvolverProcess(engine_, 2, frame, 1);
    std::vector<float> banks(4 * kConvolverFftLength);
    for (int i = 0; i < 4; ++i)
        std::memcpy(&banks[i * kConvolverFftLength], engine_->spectrumBanks[i / 2][i % 2],
                    sizeof(float) * kConvolverFftLength);
    for (float rate : {0.0f, -44100.0f, NAN, INFINITY}) {
        design(uniform(0.5f), rate);
        EXPECT_EQ(FftConvolverPendingBank(engine_), 0) << rate;
        EXPECT_EQ(FftConvolverActiveBank(engine_), 2) << rate;
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::memcmp(&banks[i * kConvolverFftLength], engine_->spectrumBanks[i / 2][i % 2],
                              sizeof(float) * kConvolverFftLength),
                  0);
}

// After a reset the next 8191 frames are zeros and nothing collected before
// it ever comes out: what follows is the new input alone, delayed.
TEST_F(ConvolverTest, ResetDropsCollectedAndPendingFrames) {
    design(uniform(1.0f));
    run(engine_, noise(2 * 21000, 4), 2, {4096});  // leaves a part-filled block and pending output
    FftConvolverReset(engine_);
    std::vector<float> after = noise(2 * 30000, 5);
    std::vector<float> out = run(engine_, after, 2, {1000, 4096});
    for (int32_t i = 0; i < 2 * kConvolverBlockLength; ++i) ASSERT_EQ(out[i], 0.0f) << i;
    for (int32_t t = kConvolverBlockLength; t < 30000; ++t) {
        float expected = t < kConvolverDelay ? 0.0f : after[2 * (t - kConvolverDelay)];
        ASSERT_NEAR(out[2 * t], expected, 2e-6) << t;
    }
}

TEST_F(ConvolverTest, WindowConstants) {
    EXPECT_NEAR(engine_->beta, 9.62046, 1e-5);
    EXPECT_NEAR(engine_->windowNorm, 1965.166, 1e-3);
    EXPECT_EQ(engine_->window[0], 1.0f);
    EXPECT_NEAR(engine_->window[kConvolverCentreTap], 5.0886e-4, 1e-7);
    EXPECT_EQ(KaiserWindow(-4095, engine_->beta, engine_->windowNorm, engine_->factorialTable),
              engine_->window[4095]);
    EXPECT_EQ(engine_->factorialTable[0], 1.0f);
    EXPECT_NEAR(engine_->factorialTable[15], 1307674368000.0, 1307674368000.0 * 1e-6);
    struct {
        float attenuation;
        double beta;
    } betas[] = {{10, 0}, {21, 0}, {30, 2.11662}, {50, 4.53351}, {60, 5.65326}, {96, 9.62046}};
    for (auto& b : betas) EXPECT_NEAR(KaiserBeta(b.attenuation), b.beta, 1e-5) << b.attenuation;
}

// The design against BandTap * KaiserWindow evaluated as written for every
// one of the 8191 taps (the negative offsets included): the same bits.
TEST_F(ConvolverTest, DesignIsTheFormulasBitForBit) {
    const Gains sets[] = {{{1.5136f, 1.5136f, 0.42f, 1, 1, 1, 1, 0.96f, 0.94f, 0.86f, 0.7f}},
                          {{3.98f, 0, 2, 0.5f, 1, 4, 0.1f, 2, 3, 0, 1}},
                          {{1, 1, 1, 1, 0, 0, 0, 0, -0.4f, 1, 1}}};
    for (float rate : {8000.0f, 22050.0f, 44100.0f, 96000.0f})
        for (const Gains& gains : sets) {
            SCOPED_TRACE(rate);
            float taps[kConvolverBlockLength];
            FftConvolverDesignTaps(engine_, gains.g, rate, taps);
            BandNode storage[kBands];
            const BandNode* bands = BuildBandList(engine_->bandEdges, gains.g, rate, storage);
            for (int32_t i = 0; i < kConvolverBlockLength; ++i) {
                int32_t n = i - kConvolverCentreTap;
                double window = KaiserWindow(n, engine_->beta, engine_->windowNorm, engine_->factorialTable);
                float literal = static_cast<float>(BandTap(n, bands, rate) * window);
                ASSERT_EQ(std::memcmp(&taps[i], &literal, sizeof literal), 0)
                    << "tap " << i << ": " << taps[i] << " against " << literal;
            }
        }
}

// Sets one band's gain apart from the rest.
Gains withBand(Gains gains, int band, float value) {
    gains.g[band] = value;
    return gains;
}

// Bands at or above the top band (the first whose upper edge reaches the
// Nyquist frequency) have no effect; the top band's gain does.
TEST_F(ConvolverTest, TopBandFollowsTheNyquistFrequency) {
    struct {
        float rate;
        int topBand;
    } cases[] = {{44100.0f, 10}, {22050.0f, 9}, {8000.0f, 7}};
    const Gains base = {{0.5f, 1.5f, 1, 2, 0.7f, 1, 1.2f, 0.9f, 1.1f, 0.6f, 1.3f}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.rate);
        float reference[kConvolverBlockLength];
        float changed[kConvolverBlockLength];
        FftConvolverDesignTaps(engine_, base.g, c.rate, reference);
        for (int band = c.topBand + 1; band < kBands; ++band) {
            FftConvolverDesignTaps(engine_, withBand(base, band, 7.0f).g, c.rate, changed);
            EXPECT_EQ(std::memcmp(reference, changed, sizeof reference), 0) << "band " << band;
        }
        FftConvolverDesignTaps(engine_, withBand(base, c.topBand, 7.0f).g, c.rate, changed);
        EXPECT_NE(std::memcmp(reference, changed, sizeof reference), 0) << "top band " << c.topBand;
    }
}

// Tones through the engine, one per band and away from the band edges, come
// out with their band's gain (0.2% or better) and the 12286-frame delay.
TEST_F(ConvolverTest, MeasuredResponseFollowsTheBandGains) {
    const Gains gains = {{2.0f, 0.5f, 1.5f, 0.25f, 3.0f, 1.0f, 0.75f, 2.5f, 0.1f, 1.25f, 0.6f}};
    struct {
        float rate;
        std::vector<std::pair<double, int>> tones;  // Hz, band
    } cases[] = {
        {44100.0f,
         {{16, 0}, {65, 1}, {130, 2}, {260, 3}, {520, 4}, {1000, 5}, {2000, 6}, {4000, 7}, {7000, 8},
          {10000, 9}, {15000, 10}, {21000, 10}}},
        {22050.0f, {{16, 0}, {65, 1}, {3000, 7}, {6500, 8}, {9500, 9}, {10800, 9}}},
        {8000.0f, {{130, 2}, {2000, 6}, {3300, 7}, {3900, 7}}},
    };
    const int32_t analysis = 16384;
    const int32_t start = kConvolverDelay + kConvolverBlockLength;  // past the response's own start-up
    const int32_t frames = start + analysis;
    for (auto& c : cases) {
        SCOPED_TRACE(c.rate);
        FftConvolverReset(engine_);
        design(gains, c.rate);
        // Each tone on a whole number of cycles of the analysis span.
        std::vector<int32_t> bins;
        for (auto& tone : c.tones) bins.push_back(static_cast<int32_t>(std::lround(tone.first * analysis / c.rate)));
        std::vector<float> input(2 * static_cast<size_t>(frames));
        for (int32_t t = 0; t < frames; ++t) {
            double sum = 0;
            for (size_t i = 0; i < bins.size(); ++i)
                sum += 0.05 * std::sin(6.283185307179586 * bins[i] * t / analysis + i);
            input[2 * t] = static_cast<float>(sum);
            input[2 * t + 1] = static_cast<float>(-sum);
        }
        std::vector<float> out = run(engine_, input, 2, {4096});
        std::vector<float> spectrumIn(analysis), spectrumOut(analysis);
        for (int32_t t = 0; t < analysis; ++t) {
            spectrumIn[t] = input[2 * (start - kConvolverDelay + t)];
            spectrumOut[t] = out[2 * (start + t)];
        }
        ASSERT_TRUE(RealFft(analysis, 1, spectrumIn.data()));
        ASSERT_TRUE(RealFft(analysis, 1, spectrumOut.data()));
        for (size_t i = 0; i < bins.size(); ++i) {
            int32_t k = bins[i];
            std::complex<double> in(spectrumIn[2 * k], spectrumIn[2 * k + 1]);
            std::complex<double> outValue(spectrumOut[2 * k], spectrumOut[2 * k + 1]);
            std::complex<double> ratio = outValue / in;  // real when the delay is exactly 12286
            double gain = gains.g[c.tones[i].second];
            EXPECT_NEAR(ratio.real(), gain, 2e-3 * std::max(gain, 0.5)) << c.tones[i].first << " Hz";
            EXPECT_NEAR(ratio.imag(), 0.0, 2e-3) << c.tones[i].first << " Hz";
        }
    }
}

TEST(ConvolverLifecycle, FailedCreationReleasesEverything) {
    for (long failAt : {1L, 2L, 3L}) {
        SCOPED_TRACE(failAt);
        RealFft(0, 1, nullptr);
        alloc_hook::arm(failAt);
        FftConvolver* engine = FftConvolverCreate();
        alloc_hook::disarm();
        EXPECT_EQ(engine, nullptr);
        EXPECT_EQ(RealFftWorkspaceStatus().coveredLength, 0);
    }
    FftConvolver* engine = FftConvolverCreate();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(RealFftWorkspaceStatus().coveredLength, kConvolverFftLength);
    FftConvolverDestroy(engine);
    EXPECT_EQ(RealFftWorkspaceStatus().coveredLength, 0);
    RealFftReserve(1024);
    FftConvolverDestroy(nullptr);  // releases the workspace too
    EXPECT_EQ(RealFftWorkspaceStatus().coveredLength, 0);
}

TEST_F(ConvolverTest, ProcessingAllocatesNothing) {
    design(uniform(1.0f));
    std::vector<float> input = noise(2 * 4096, 6);
    alloc_hook::arm(0);
    for (int call = 0; call < 5; ++call) FftConvolverProcess(engine_, 2, input.data(), 4096);
    EXPECT_EQ(alloc_hook::disarm(), 0);
}

// One thread processes continuously while another keeps designing, in
// turn, gain 1 and gain 0.5 for every band (responses of one tap of 1 or
// 0.5). A bank read while written, or switched to before it is complete,
// would give frames that are neither the input nor half of it.
TEST_F(ConvolverTest, DesignRaceWithProcessingNeverTearsTheResponse) {
    design(uniform(1.0f));
    const int32_t chunk = 4096;
    const int32_t calls = 160;
    const int32_t frames = chunk * calls;
    const std::vector<float> input = noise(2 * static_cast<size_t>(frames), 7);
    std::vector<float> out = input;
    FftConvolverProcess(engine_, 2, out.data(), chunk);  // takes up the first design
    std::atomic<bool> done{false};
    std::thread designer([&] {
        const Gains one = uniform(1.0f);
        const Gains half = uniform(0.5f);
        // Pauses of about one processing call let processing pick up both.
        for (int round = 0; !done.load(); ++round) {
            const Gains& gains = round % 2 == 0 ? half : one;
            FftConvolverDesign(engine_, gains.g, gains.g, 44100.0f);
            std::this_thread::sleep_for(std::chrono::microseconds(round % 3 == 0 ? 0 : 300));
        }
    });
    for (int32_t call = 1; call < calls; ++call)
        FftConvolverProcess(engine_, 2, out.data() + 2 * static_cast<size_t>(call) * chunk, chunk);
    done = true;
    designer.join();

    int32_t ones = 0;
    int32_t halves = 0;
    for (int32_t t = kConvolverDelay; t < frames; ++t)
        for (int32_t c = 0; c < 2; ++c) {
            float x = input[2 * (t - kConvolverDelay) + c];
            float y = out[2 * t + c];
            bool isOne = std::fabs(y - x) <= 2e-6f;
            bool isHalf = std::fabs(y - 0.5f * x) <= 2e-6f;
            ASSERT_TRUE(isOne || isHalf) << "frame " << t << " channel " << c << ": " << y << " for " << x;
            if (std::fabs(x) > 1e-3f) (isOne ? ones : halves)++;
        }
    EXPECT_GT(ones, 0);
    EXPECT_GT(halves, 0);
}

}  // namespace
