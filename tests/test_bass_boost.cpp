// The BASS Boost unit: band gains from bass and treble, its entries around
// the engine, the main-stream alignment line, updates racing playback, and
// the whole chain with the equaliser switched on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fft/fft_convolver.h"
#include "fft/real_fft.h"
#include "framework/chain_guard.h"
#include "host/context.h"
#include "host/settings.h"
#include "tests/support/alloc_hook.h"
#include "tests/support/plugin_loader.h"
#include "units/bass_boost.h"

namespace {

// A band value v as a gain: v/50 up to 50, above it a boost of (v-50)/50 * 12 dB.
double gainOf(int v) { return v <= 50 ? v / 50.0 : std::pow(10.0, (v - 50) * 0.24 / 20.0); }

TEST(BassBoostGains, FollowBassAndTreble) {
    struct Case {
        int32_t bass, treble;
        int v[11];
    } cases[] = {
        {130, 35, {65, 65, 21, 50, 50, 50, 50, 48, 47, 43, 35}},
        {0, 0, {50, 50, 50, 50, 50, 50, 50, 42, 38, 25, 0}},
        {120, 50, {60, 60, 20, 50, 50, 50, 50, 50, 50, 50, 50}},
        {119, 50, {50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50}},
        {130, 100, {65, 65, 21, 50, 50, 50, 50, 58, 62, 75, 100}},
        {165, 50, {82, 82, 27, 50, 50, 50, 50, 50, 50, 50, 50}},
        {215, 50, {107, 107, 35, 0, 0, 0, 0, 50, 50, 50, 50}},
        {300, 50, {150, 150, 50, -85, -85, -85, -85, 50, 50, 50, 50}},
        {119, -13, {50, 50, 50, 50, 50, 50, 50, 40, 35, 19, -13}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bass << "/" << c.treble);
        float gains[11];
        ComputeBandGains(c.bass, c.treble, gains);
        for (int k = 0; k < 11; ++k) EXPECT_NEAR(gains[k], gainOf(c.v[k]), 2e-7 * std::fabs(gainOf(c.v[k])) + 1e-9) << k;
    }
    // The worked values, as printed.
    float gains[11];
    ComputeBandGains(130, 35, gains);
    EXPECT_NEAR(gains[0], 1.5136, 1e-4);
    EXPECT_EQ(gains[2], 0.42f);
    EXPECT_EQ(gains[10], 0.7f);
    ComputeBandGains(120, 50, gains);
    EXPECT_NEAR(gains[1], 1.3183, 1e-4);
    ComputeBandGains(130, 100, gains);
    EXPECT_NEAR(gains[10], 3.981, 1e-3);  // +12 dB
    EXPECT_NEAR(20 * std::log10(gains[7]), 1.92, 1e-4);
    // No setting overflows or fails.
    for (int32_t bass : {INT32_MIN, -1, INT32_MAX})
        for (int32_t treble : {INT32_MIN, INT32_MAX}) ComputeBandGains(bass, treble, gains);
}

std::vector<float> noise16(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(-20000, 20000);
    std::vector<float> v(count);
    for (float& x : v) x = static_cast<float>(value(rng));
    return v;
}

class BassBoostUnitTest : public ::testing::Test {
protected:
    void SetUp() override {
        unit_.bass = 119;  // every gain 1
        unit_.treble = 50;
        unit_.channels = 2;
        unit_.sampleRate = 44100;
        ASSERT_EQ(bassBoostUnit.init(&unit_), 1);
        ASSERT_NE(unit_.engine, nullptr);
    }
    void TearDown() override {
        alloc_hook::disarm();
        bassBoostUnit.quit(&unit_);
    }
    // Runs the bass stream through process and the main stream through the
    // alignment line, piece by piece as the pipeline does.
    void runPieces(std::vector<float>& bass, std::vector<float>* main, int32_t piece = 4096) {
        const int32_t frames = static_cast<int32_t>(bass.size() / 2);
        for (int32_t start = 0; start < frames; start += piece) {
            int32_t k = std::min(piece, frames - start);
            unit_.frames = k;
            unit_.samples = bass.data() + 2 * start;
            ASSERT_EQ(bassBoostUnit.process(&unit_), k);
            if (main != nullptr) BassBoostAlignMain(&unit_, main->data() + 2 * start, k);
        }
    }
    BassBoostBlock unit_{};
};

// With every gain 1 both streams come out exactly 12286 frames late: the
// bass through the engine (to single-precision accuracy in the 16-bit
// scale), the main stream through the line (exactly).
TEST_F(BassBoostUnitTest, BothStreamsDelayedBy12286Frames) {
    const int32_t frames = 40000;
    const std::vector<float> input = noise16(2 * frames, 1);
    std::vector<float> bass = input;
    std::vector<float> main = input;
    runPieces(bass, &main, 1152);
    for (int32_t i = 0; i < 2 * frames; ++i) {
        float expected = i < 2 * kConvolverDelay ? 0.0f : input[i - 2 * kConvolverDelay];
        ASSERT_EQ(main[i], expected) << i;
        ASSERT_NEAR(bass[i], expected, 0.1) << i;
    }
    unit_.frames = 0;
    EXPECT_EQ(bassBoostUnit.process(&unit_), 0);
}

// An update drops what both streams hold, so that they restart together:
// the next 8191 bass frames are zeros, and after it only new input appears,
// 12286 frames late in both.
TEST_F(BassBoostUnitTest, UpdateRestartsBothStreamsTogether) {
    std::vector<float> before = noise16(2 * 20000, 2);
    std::vector<float> beforeMain = before;
    runPieces(before, &beforeMain);
    ASSERT_EQ(bassBoostUnit.update(&unit_), 1);
    const int32_t frames = 30000;
    const std::vector<float> input = noise16(2 * frames, 3);
    std::vector<float> bass = input;
    std::vector<float> main = input;
    runPieces(bass, &main, 1000);
    for (int32_t i = 0; i < 2 * kConvolverBlockLength; ++i) ASSERT_EQ(bass[i], 0.0f) << i;
    for (int32_t i = 0; i < 2 * frames; ++i) {
        float expected = i < 2 * kConvolverDelay ? 0.0f : input[i - 2 * kConvolverDelay];
        ASSERT_EQ(main[i], expected) << i;
        ASSERT_NEAR(bass[i], expected, 0.1) << i;
    }
}

// update designs from bass, treble and the sample rate as they stand then:
// the result has the same bits as an engine designed with those gains
// directly, fed the same scaled samples.
TEST_F(BassBoostUnitTest, UpdateDesignsForTheCurrentSettings) {
    struct {
        int32_t bass, treble, rate;
    } cases[] = {{0, 0, 44100}, {215, 100, 22050}, {130, 35, 8000}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.rate);
        unit_.bass = c.bass;
        unit_.treble = c.treble;
        unit_.sampleRate = c.rate;
        ASSERT_EQ(bassBoostUnit.update(&unit_), 1);
        float gains[11];
        ComputeBandGains(c.bass, c.treble, gains);
        EXPECT_EQ(std::memcmp(gains, unit_.gains0, sizeof gains), 0);
        EXPECT_EQ(std::memcmp(gains, unit_.gains1, sizeof gains), 0);

        FftConvolver* reference = FftConvolverCreate();
        ASSERT_NE(reference, nullptr);
        FftConvolverDesign(reference, gains, gains, static_cast<float>(c.rate));
        std::vector<float> input = noise16(2 * 20000, 4);
        std::vector<float> expected = input;
        for (float& x : expected) x *= 0x1p-15f;
        for (int32_t start = 0; start < 20000; start += 4096)
            FftConvolverProcess(reference, 2, expected.data() + 2 * start, std::min(4096, 20000 - start));
        for (float& x : expected) x *= 32768.0f;
        FftConvolverDestroy(reference);

        runPieces(input, nullptr);
        EXPECT_EQ(std::memcmp(input.data(), expected.data(), input.size() * sizeof(float)), 0);
    }
}

// The guarded half of update only captures; the design happens in the
// half that runs after the guard is released, and only once per capture.
TEST_F(BassBoostUnitTest, CaptureDefersTheDesignToFinish) {
    float frame[2] = {0, 0};
    unit_.frames = 1;
    unit_.samples = frame;
    bassBoostUnit.process(&unit_);  // picks up the design of init
    ASSERT_EQ(FftConvolverPendingBank(unit_.engine), 0);
    unit_.bass = 0;
    ASSERT_EQ(bassBoostUnit.captureUpdate(&unit_), 1);
    EXPECT_EQ(FftConvolverPendingBank(unit_.engine), 0);
    float gains[11];
    ComputeBandGains(0, 50, gains);
    EXPECT_EQ(std::memcmp(gains, unit_.gains0, sizeof gains), 0);
    ASSERT_EQ(bassBoostUnit.finishUpdate(&unit_), 1);
    EXPECT_EQ(FftConvolverPendingBank(unit_.engine), 1);
    bassBoostUnit.process(&unit_);
    ASSERT_EQ(bassBoostUnit.finishUpdate(&unit_), 1);  // nothing captured since
    EXPECT_EQ(FftConvolverPendingBank(unit_.engine), 0);
}

TEST(BassBoostLifecycle, FailedInitIsReportedAndQuitCleansUp) {
    int failures = 0;
    bool started = false;
    for (long failAt = 1; failAt < 40 && !started; ++failAt) {
        BassBoostBlock unit{};
        unit.bass = 130;
        unit.treble = 35;
        unit.channels = 2;
        unit.sampleRate = 44100;
        RealFft(0, 1, nullptr);  // every attempt builds the tables anew
        alloc_hook::arm(failAt, true);
        int32_t result = bassBoostUnit.init(&unit);
        alloc_hook::disarm();
        if (result == 0)
            ++failures;
        else
            started = unit.engine != nullptr;
        EXPECT_EQ(bassBoostUnit.quit(&unit), 1);
        EXPECT_EQ(unit.engine, nullptr);
    }
    EXPECT_GT(failures, 2);
    EXPECT_TRUE(started);
}

TEST(BassBoostLifecycle, NeverInitialisedBlockIsHarmless) {
    BassBoostBlock unit{};
    float samples[4] = {1, 2, 3, 4};
    unit.channels = 2;
    unit.frames = 2;
    unit.samples = samples;
    EXPECT_EQ(bassBoostUnit.process(&unit), 0);
    EXPECT_EQ(bassBoostUnit.update(&unit), 1);
    BassBoostAlignMain(&unit, samples, 2);
    EXPECT_EQ(samples[3], 4.0f);
    EXPECT_EQ(bassBoostUnit.quit(&unit), 1);
    EXPECT_EQ(bassBoostUnit.quit(&unit), 1);
}

// Playback and the panel as in the plug-in: the playback thread processes
// piece after piece under the guard, the panel thread captures updates
// under it and finishes them outside. Afterwards one more update must give
// exactly what a fresh unit gives.
TEST_F(BassBoostUnitTest, UpdateRaceWithPlayback) {
    ChainGuard guard;
    std::atomic<bool> done{false};
    std::thread panel([&] {
        for (int round = 0; !done.load(); ++round) {
            {
                ChainLock lock(guard);
                unit_.bass = round % 2 == 0 ? 215 : 119;
                unit_.treble = round % 3 == 0 ? 0 : 100;
                bassBoostUnit.captureUpdate(&unit_);
            }
            bassBoostUnit.finishUpdate(&unit_);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const std::vector<float> source = noise16(2 * 4096, 5);
    std::vector<float> bass;
    std::vector<float> main;
    for (int piece = 0; piece < 120; ++piece) {
        bass = source;
        main = source;
        ChainLock lock(guard);
        unit_.frames = 4096;
        unit_.samples = bass.data();
        unit_.sampleRate = piece % 2 == 0 ? 44100 : 48000;
        ASSERT_EQ(bassBoostUnit.process(&unit_), 4096);
        BassBoostAlignMain(&unit_, main.data(), 4096);
        for (float x : bass) ASSERT_TRUE(std::fabs(x) < 1e6f) << x;
    }
    done = true;
    panel.join();

    unit_.bass = 130;
    unit_.treble = 35;
    unit_.sampleRate = 44100;
    bassBoostUnit.update(&unit_);
    BassBoostBlock fresh{};
    fresh.bass = 130;
    fresh.treble = 35;
    fresh.channels = 2;
    fresh.sampleRate = 44100;
    ASSERT_EQ(bassBoostUnit.init(&fresh), 1);
    std::vector<float> input = noise16(2 * 30000, 6);
    std::vector<float> raced = input;
    std::vector<float> racedMain = input;
    runPieces(raced, &racedMain);
    std::vector<float> clean = input;
    std::vector<float> cleanMain = input;
    for (int32_t start = 0; start < 30000; start += 4096) {
        fresh.frames = std::min(4096, 30000 - start);
        fresh.samples = clean.data() + 2 * start;
        bassBoostUnit.process(&fresh);
        BassBoostAlignMain(&fresh, cleanMain.data() + 2 * start, fresh.frames);
    }
    bassBoostUnit.quit(&fresh);
    EXPECT_EQ(std::memcmp(raced.data(), clean.data(), raced.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(racedMain.data(), cleanMain.data(), racedMain.size() * sizeof(float)), 0);
}

// ---------------------------------------------------------------------------
// The whole chain through the exported entry, started from a settings file
// whose word 15 holds 38.

std::vector<int16_t> renderChain(const std::vector<int16_t>& input, int32_t word15) {
    std::string directory = makeTempDirectory();
    std::string library = copyPluginInto(directory);
    DspArray* context = new DspArray();
    ApplyDefaults(context);
    ApplyDefaultSwitchState(context);
    context->enableFlags.words[kEnableBassBoost] = word15;
    SettingsRecord record = GatherSettings(context);
    delete context;
    EXPECT_EQ(WriteSettingsFile((directory + "/QELTA.cfg").c_str(), &record), kWriteOk);
    LoadedPlugin plugin;
    std::string error;
    EXPECT_TRUE(plugin.load(library, &error)) << error;
    if (plugin.module == nullptr) return {};
    plugin.module->hDllInstance = plugin.library;
    EXPECT_EQ(plugin.module->Init(plugin.module), 0);
    std::vector<int16_t> output;
    std::vector<int16_t> block;
    const int32_t frames = static_cast<int32_t>(input.size() / 2);
    for (int32_t start = 0; start < frames; start += 1152) {
        int32_t k = std::min(1152, frames - start);
        block.assign(input.begin() + 2 * start, input.begin() + 2 * (start + k));
        int32_t produced = plugin.module->ModifySamples(plugin.module, block.data(), k, 16, 2, 44100);
        output.insert(output.end(), block.begin(), block.begin() + 2 * produced);
    }
    plugin.module->Quit(plugin.module);
    return output;
}

// Where a click arrives in the output's left channel: its sharp part (the
// main stream, above the 400 Hz crossover) by the largest step between
// frames, its smooth part (the bass stream) by the largest average over 129
// frames.
struct Arrival {
    int32_t sharp;
    int32_t smooth;
};

Arrival arrivalOf(const std::vector<int16_t>& output) {
    const int32_t frames = static_cast<int32_t>(output.size() / 2);
    Arrival a{0, 0};
    double steepest = 0;
    double strongest = 0;
    for (int32_t t = 1; t < frames; ++t) {
        double step = std::fabs(static_cast<double>(output[2 * t]) - output[2 * (t - 1)]);
        if (step > steepest) {
            steepest = step;
            a.sharp = t;
        }
    }
    for (int32_t t = 64; t + 64 < frames; ++t) {
        double sum = 0;
        for (int32_t i = t - 64; i <= t + 64; ++i) sum += output[2 * i];
        if (std::fabs(sum) > strongest) {
            strongest = std::fabs(sum);
            a.smooth = t;
        }
    }
    return a;
}

// A click reaches the output in the bass and in the main stream at the same
// frame. Without the equaliser, both parts of it come out as the crossover
// and the bass equaliser shape them (the smooth part some 200 frames after
// the sharp one). With the equaliser running, both come exactly 12286
// frames later than that, and nothing of the click leaves before.
TEST(BassBoostChain, ClickReachesTheMixAlignedInBothStreams) {
    const int32_t frames = 60000;
    const int32_t click = 20000;
    std::vector<int16_t> input(2 * frames, 0);
    input[2 * click] = 20000;
    input[2 * click + 1] = 20000;

    std::vector<int16_t> plainOutput = renderChain(input, 1);
    std::vector<int16_t> boosted = renderChain(input, kBassBoostEnableValue);
    ASSERT_EQ(plainOutput.size(), input.size() - 2 * 255);  // the limiter keeps 255 frames
    ASSERT_EQ(boosted.size(), plainOutput.size());
    Arrival plain = arrivalOf(plainOutput);
    Arrival a = arrivalOf(boosted);
    EXPECT_NEAR(plain.sharp, click, 2);
    EXPECT_NEAR(plain.smooth, plain.sharp, 400);

    EXPECT_EQ(a.sharp, plain.sharp + kConvolverDelay);
    EXPECT_NEAR(a.smooth, plain.smooth + kConvolverDelay, 20);
    int32_t early = 0;
    for (int32_t t = 0; t < a.sharp - kConvolverCentreTap - 400; ++t)
        early = std::max<int32_t>(early, std::abs(boosted[2 * t]));
    EXPECT_LE(early, 2) << "something of the click left before the aligned frame";
}

}  // namespace
