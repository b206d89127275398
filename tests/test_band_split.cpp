// The biquad filter classes and the Audio Filter unit that splits the input
// into a low and a high band at the crossover.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "framework/dsp_services.h"
#include "tests/support/alloc_hook.h"
#include "units/audio_filter.h"
#include "units/biquad_filters.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Runs the unit as the pipeline does and keeps both bands of every piece.
class BandSplit {
public:
    explicit BandSplit(int32_t crossover = 400, float q = 1.0f) {
        block_ = AudioFilterBlock{};
        block_.crossoverFrequency = crossover;
        block_.q = q;
        block_.services = createServices();
        initResult_ = audioFilterUnit.init(&block_);
    }
    ~BandSplit() { audioFilterUnit.quit(&block_); }

    int32_t run(std::vector<int16_t>& input, int32_t rate, int32_t channels = 2) {
        const int32_t frames = static_cast<int32_t>(input.size()) / channels;
        low.assign(input.size(), 0);
        high.assign(input.size(), 0);
        block_.channels = channels;
        block_.sampleRate = rate;
        block_.frames = frames;
        block_.input = input.data();
        block_.lowOutput = low.data();
        block_.highOutput = high.data();
        return audioFilterUnit.process(&block_);
    }

    AudioFilterBlock& block() { return block_; }
    int32_t initResult() const { return initResult_; }
    std::vector<int16_t> low, high;

private:
    AudioFilterBlock block_;
    int32_t initResult_ = 0;
};

std::vector<int16_t> stereoSine(double frequency, double amplitude, int32_t rate, int frames, int start = 0) {
    std::vector<int16_t> out(2 * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const int16_t v = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * kPi * frequency * (start + i) / rate)));
        out[2 * i] = v;
        out[2 * i + 1] = v;
    }
    return out;
}

int peakMagnitude(const std::vector<int16_t>& samples, size_t from) {
    int peak = 0;
    for (size_t i = from; i < samples.size(); ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    return peak;
}

struct Coefficients {
    double b0, b1, b2, a1, a2;
};

// The cookbook sections evaluated in double, for comparison with the float design.
Coefficients idealDesign(bool lowPass, double frequency, double q, double rate) {
    const double w0 = 2 * kPi * frequency / rate;
    const double c = std::cos(w0), alpha = std::sin(w0) / (2 * q), a0 = 1 + alpha;
    const double b1 = lowPass ? (1 - c) : -(1 + c);
    return {std::fabs(b1) / 2 / a0, b1 / a0, std::fabs(b1) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
}

void designFor(CFilter& filter, int32_t rate, int32_t frequency = 400, float q = 1.0f) {
    filter.frequency = frequency;
    filter.q = q;
    filter.sampleRate = rate;
    filter.ComputeCoefficients();
}

void expectSameCoefficients(const CFilter& a, const CFilter& b) {
    EXPECT_EQ(a.b0, b.b0);
    EXPECT_EQ(a.b1, b.b1);
    EXPECT_EQ(a.b2, b.b2);
    EXPECT_EQ(a.a1, b.a1);
    EXPECT_EQ(a.a2, b.a2);
}

TEST(BiquadDesign, MatchesCookbookSectionsAcrossSupportedRates) {
    for (int32_t rate : {8000, 22050, 44100, 48000, 96000, 192000, 384000}) {
        SCOPED_TRACE(rate);
        CLowPassFilter low;
        CHighPassFilter high;
        designFor(low, rate);
        designFor(high, rate);
        for (int band = 0; band < 2; ++band) {
            const CFilter& f = band == 0 ? static_cast<const CFilter&>(low) : high;
            const Coefficients ideal = idealDesign(band == 0, 400, 1.0, rate);
            // Float rounding of cos(w0) near 1 limits the agreement at high rates.
            EXPECT_NEAR(f.b0, ideal.b0, 1e-6);
            EXPECT_NEAR(f.b1, ideal.b1, 1e-6);
            EXPECT_EQ(f.b2, f.b0);
            EXPECT_NEAR(f.a1, ideal.a1, 1e-6);
            EXPECT_NEAR(f.a2, ideal.a2, 1e-6);
        }
    }
}

// Both bands run in one pass in the unit; that pass must give the bits of
// one Process after the other, including the stereo history's unclamped
// outputs, and truncClamp's rule for outputs beyond the int32 range and NaN.
TEST(BiquadProcess, PairedPassMatchesSeparateProcessCalls) {
    std::vector<int16_t> input(2 * 20000);
    uint32_t noise = 7;
    for (size_t i = 0; i < input.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        // Full-scale square bursts with noise: the resonant sections overshoot.
        const int16_t square = (i / 90) % 2 ? 32767 : -32768;
        input[i] = (i / 3000) % 2 ? square : static_cast<int16_t>(noise >> 16);
    }
    struct Case {
        int32_t frequency;
        float q;
        float pokedB0;  // 0: as designed
    } cases[] = {{400, 1.0f, 0.0f}, {3000, 30.0f, 0.0f}, {400, 1.0f, 1e6f}, {400, 1.0f, -1e6f}, {400, 1.0f, NAN}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frequency << " Hz, q " << c.q << ", b0 " << c.pokedB0);
        CLowPassFilter lowA, lowB;
        CHighPassFilter highA, highB;
        for (CFilter* f : {static_cast<CFilter*>(&lowA), static_cast<CFilter*>(&lowB),
                           static_cast<CFilter*>(&highA), static_cast<CFilter*>(&highB)})
            designFor(*f, 44100, c.frequency, c.q);
        if (c.pokedB0 != 0.0f) lowA.b0 = lowB.b0 = highA.b0 = highB.b0 = c.pokedB0;
        std::vector<int16_t> lowSeparate = input, highSeparate = input, lowPaired = input, highPaired = input;
        size_t at = 0;
        for (int32_t call = 0; at < input.size() / 2; ++call) {
            const int32_t n = std::min<int32_t>(call % 3 == 0 ? 1 : 1000 + call, static_cast<int32_t>(input.size() / 2 - at));
            lowA.Process(lowSeparate.data() + 2 * at, n, 2, 44100);
            highA.Process(highSeparate.data() + 2 * at, n, 2, 44100);
            CFilter::ProcessStereoPair(lowB, lowPaired.data() + 2 * at, highB, highPaired.data() + 2 * at, n);
            at += n;
        }
        EXPECT_EQ(lowPaired, lowSeparate);
        EXPECT_EQ(highPaired, highSeparate);
        const CFilter* separateFilters[2] = {&lowA, &highA};
        const CFilter* pairedFilters[2] = {&lowB, &highB};
        for (int band = 0; band < 2; ++band) {
            const FilterHistory* separate[2] = {&separateFilters[band]->left, &separateFilters[band]->right};
            const FilterHistory* paired[2] = {&pairedFilters[band]->left, &pairedFilters[band]->right};
            for (int side = 0; side < 2; ++side) {
                EXPECT_EQ(paired[side]->x1, separate[side]->x1);
                EXPECT_EQ(paired[side]->x2, separate[side]->x2);
                EXPECT_EQ(paired[side]->y1, separate[side]->y1);
                EXPECT_EQ(paired[side]->y2, separate[side]->y2);
            }
        }
    }
}

TEST(BandSplit, DcSettlesInLowBandAndVanishesFromHighBand) {
    BandSplit split;
    ASSERT_EQ(split.initResult(), 1);
    std::vector<int16_t> dc(2 * 4096, 10000);
    ASSERT_EQ(split.run(dc, 44100), 4096);
    ASSERT_EQ(split.run(dc, 44100), 4096);
    const size_t tail = split.low.size() - 200;
    for (size_t i = tail; i < split.low.size(); ++i) {
        EXPECT_LE(std::abs(split.high[i]), 1) << i;
        // Truncation toward zero leaves the low band a little short of the input.
        EXPECT_NEAR(split.low[i], 10000, 350) << i;
    }
    EXPECT_TRUE(std::all_of(dc.begin(), dc.end(), [](int16_t v) { return v == 10000; }));
}

TEST(BandSplit, CrossoverSinePassesBothBandsAtAboutUnity) {
    BandSplit split;
    std::vector<int16_t> sine = stereoSine(400, 16000, 44100, 4096);
    ASSERT_EQ(split.run(sine, 44100), 4096);
    const int lowPeak = peakMagnitude(split.low, 4096);
    const int highPeak = peakMagnitude(split.high, 4096);
    EXPECT_NEAR(lowPeak, 16000, 16000 * 0.03);
    EXPECT_NEAR(highPeak, 16000, 16000 * 0.03);
    EXPECT_NEAR(lowPeak, highPeak, 16000 * 0.02);
}

TEST(BiquadProcess, OvershootIsClampedWhileStereoHistoryKeepsTheTrueOutput) {
    // A full-scale 220 Hz square: the Q 1 low-pass rings past full scale.
    auto square = [](int i) -> int16_t { return (i / 100) % 2 == 0 ? 32767 : -32768; };
    CLowPassFilter stereo, mono;
    designFor(stereo, 44100);
    designFor(mono, 44100);
    int32_t stereoHistoryMax = 0, stereoHistoryMin = 0, monoHistoryMax = 0, monoHistoryMin = 0;
    int written[2] = {0, 0};
    int monoWritten[2] = {0, 0};
    for (int i = 0; i < 2000; ++i) {
        int16_t frame[2] = {square(i), square(i)};
        stereo.Process(frame, 1, 2, 44100);
        written[0] = std::min<int>(written[0], frame[0]);
        written[1] = std::max<int>(written[1], frame[0]);
        EXPECT_EQ(frame[0], frame[1]);
        stereoHistoryMax = std::max(stereoHistoryMax, stereo.left.y1);
        stereoHistoryMin = std::min(stereoHistoryMin, stereo.left.y1);
        EXPECT_EQ(stereo.left.y1, stereo.right.y1);

        int16_t sample = square(i);
        mono.Process(&sample, 1, 1, 44100);
        monoWritten[0] = std::min<int>(monoWritten[0], sample);
        monoWritten[1] = std::max<int>(monoWritten[1], sample);
        monoHistoryMax = std::max(monoHistoryMax, mono.left.y1);
        monoHistoryMin = std::min(monoHistoryMin, mono.left.y1);
    }
    EXPECT_EQ(written[0], -32768);
    EXPECT_EQ(written[1], 32767);
    EXPECT_GT(stereoHistoryMax, 32767);
    EXPECT_LT(stereoHistoryMin, -32768);
    EXPECT_EQ(monoWritten[0], -32768);
    EXPECT_EQ(monoWritten[1], 32767);
    EXPECT_EQ(monoHistoryMax, 32767);
    EXPECT_EQ(monoHistoryMin, -32768);
    EXPECT_EQ(mono.right.y1, 0);
}

TEST(BiquadProcess, RateChangeRedesignsThroughTheDerivedClassEvenWithoutFrames) {
    struct Case {
        int32_t frames;
        int32_t channels;
    } cases[] = {{0, 2}, {-5, 2}, {0, 1}, {4, 3}, {4, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames, " << c.channels << " channels");
        CHighPassFilter high;
        designFor(high, 44100);
        CHighPassFilter expected;
        designFor(expected, 48000);
        int16_t samples[12] = {1000, -1000, 2000, -2000, 3000, -3000, 4000, -4000, 5000, -5000, 6000, -6000};
        CFilter& filter = high;
        filter.Process(samples, c.frames, c.channels, 48000);
        EXPECT_EQ(high.sampleRate, 48000);
        expectSameCoefficients(high, expected);
        if (c.frames <= 0 || c.channels == 3) {
            EXPECT_EQ(samples[0], 1000);
            EXPECT_EQ(samples[11], -6000);
            EXPECT_EQ(high.left.x1, 0);
            EXPECT_EQ(high.left.y1, 0);
        } else {
            EXPECT_NE(high.left.x1, 0);
        }
    }
}

TEST(BandSplit, UpdateRedesignsAtTheCurrentRateAndKeepsHistory) {
    BandSplit split;
    std::vector<int16_t> sine = stereoSine(1000, 12000, 48000, 300);
    split.run(sine, 48000);
    CLowPassFilter& low = *split.block().lowPass;
    const FilterHistory before = low.left;
    ASSERT_NE(before.y1, 0);

    split.block().crossoverFrequency = 1500;
    split.block().q = 0.5f;
    ASSERT_EQ(audioFilterUnit.update(&split.block()), 1);

    CLowPassFilter expectedLow;
    designFor(expectedLow, 48000, 1500, 0.5f);
    EXPECT_EQ(low.sampleRate, 48000);
    EXPECT_EQ(low.frequency, 1500);
    expectSameCoefficients(low, expectedLow);
    EXPECT_EQ(low.left.x1, before.x1);
    EXPECT_EQ(low.left.y1, before.y1);
    EXPECT_EQ(low.left.y2, before.y2);
    EXPECT_EQ(split.block().highPass->frequency, 1500);
    EXPECT_EQ(split.block().highPass->q, 0.5f);
}

TEST(BandSplit, FirstPieceAtAnotherRateRedesignsBeforeFiltering) {
    BandSplit split;
    ASSERT_EQ(split.block().lowPass->sampleRate, 44100);
    std::vector<int16_t> none;
    EXPECT_EQ(split.run(none, 96000), 0);
    CLowPassFilter expected;
    designFor(expected, 96000);
    EXPECT_EQ(split.block().lowPass->sampleRate, 96000);
    EXPECT_EQ(split.block().highPass->sampleRate, 96000);
    expectSameCoefficients(*split.block().lowPass, expected);
}

TEST(BandSplit, InitFailureIsReportedAndQuitAcceptsAnyBlock) {
    for (long failAt : {1L, 2L}) {
        SCOPED_TRACE(failAt);
        AudioFilterBlock block{};
        block.crossoverFrequency = 400;
        block.q = 1.0f;
        alloc_hook::arm(failAt);
        const int32_t result = audioFilterUnit.init(&block);
        alloc_hook::disarm();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(block.lowPass, nullptr);
        EXPECT_EQ(block.highPass, nullptr);
        EXPECT_EQ(audioFilterUnit.update(&block), 0);
        EXPECT_EQ(audioFilterUnit.quit(&block), 1);
    }
    AudioFilterBlock never{};
    EXPECT_EQ(audioFilterUnit.quit(&never), 1);
    EXPECT_EQ(audioFilterUnit.quit(&never), 1);
}

TEST(BandSplit, ProcessDoesNotAllocate) {
    BandSplit split;
    std::vector<int16_t> sine = stereoSine(300, 20000, 44100, 4096);
    split.run(sine, 44100);  // sizes the output vectors
    alloc_hook::arm(0);
    split.run(sine, 44100);
    split.run(sine, 48000);
    const long allocations = alloc_hook::count();
    alloc_hook::disarm();
    EXPECT_EQ(allocations, 0);
}

// Any host rate gives bounded output and history. Where the crossover is not
// below half the rate, all of the signal lies below it: the low band is the
// input and the high band is silent.
TEST(BandSplit, EveryRateFromOneHertzToOneMegahertzStaysBounded) {
    std::srand(7);
    std::vector<int16_t> noise(2 * 4096);
    for (int16_t& v : noise) v = static_cast<int16_t>((std::rand() & 0xffff) - 32768);
    noise[0] = -32768;
    noise[1] = 32767;
    for (int32_t rate : {1, 2, 100, 799, 800, 801, 1000, 8000, 44100, 384000, 1000000}) {
        SCOPED_TRACE(rate);
        BandSplit split;
        for (int piece = 0; piece < 8; ++piece) {
            ASSERT_EQ(split.run(noise, rate), 4096);
            for (const CFilter* f : {static_cast<const CFilter*>(split.block().lowPass),
                                     static_cast<const CFilter*>(split.block().highPass)}) {
                for (const FilterHistory& h : {f->left, f->right}) {
                    EXPECT_LE(std::llabs(h.y1), 1 << 20);
                    EXPECT_LE(std::llabs(h.y2), 1 << 20);
                }
            }
        }
        if (rate <= 800) {
            EXPECT_EQ(split.low, noise);
            EXPECT_TRUE(std::all_of(split.high.begin(), split.high.end(), [](int16_t v) { return v == 0; }));
        }
    }
}

TEST(BiquadDesign, UnusableParametersGiveAStableEdgeResponse) {
    const float nan = std::nanf("");
    struct Case {
        int32_t frequency;
        float q;
        int32_t rate;
        bool lowPasses;  // else the high-pass passes
        bool designed;   // a regular section rather than an edge response
    } cases[] = {
        {400, 0.0f, 44100, true, false},   {400, -1.0f, 44100, true, false}, {400, nan, 44100, true, false},
        {400, 1e-30f, 44100, true, true},  {0, 1.0f, 44100, false, false},   {-400, 1.0f, 44100, false, false},
        {400, 1.0f, 0, true, false},       {400, 1.0f, -44100, false, false}, {0, 1.0f, 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frequency << " Hz, q " << c.q << ", " << c.rate << " Hz");
        CLowPassFilter low;
        CHighPassFilter high;
        designFor(low, c.rate, c.frequency, c.q);
        designFor(high, c.rate, c.frequency, c.q);
        for (const CFilter* f : {static_cast<const CFilter*>(&low), static_cast<const CFilter*>(&high)}) {
            EXPECT_TRUE(std::isfinite(f->b0) && std::isfinite(f->b1) && std::isfinite(f->b2));
            EXPECT_LT(std::fabs(f->a2), 1.0f);
            EXPECT_LT(std::fabs(f->a1), 1.0f + f->a2);
        }
        if (!c.designed) {
            EXPECT_EQ(low.b0, c.lowPasses ? 1.0f : 0.0f);
            EXPECT_EQ(high.b0, c.lowPasses ? 0.0f : 1.0f);
            EXPECT_EQ(low.a1, 0.0f);
            EXPECT_EQ(high.a2, 0.0f);
        }
    }
}

TEST(BandSplit, ReturningToANormalRateAfterADegenerateOneFiltersAgain) {
    BandSplit split;
    std::vector<int16_t> sine = stereoSine(400, 16000, 44100, 4096);
    split.run(sine, 400);
    EXPECT_EQ(split.low, sine);
    split.run(sine, 44100);
    split.run(sine, 44100);
    EXPECT_NEAR(peakMagnitude(split.high, 4096), 16000, 16000 * 0.03);
}

}  // namespace
