// The equaliser, the surround units, the reverb and the rotation over every
// sample rate the player could report, on full-scale noise.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "framework/dsp_services.h"
#include "host/context.h"
#include "tests/support/alloc_hook.h"
#include "tests/support/float_noise.h"

namespace {

// The units with their default parameters, initialised; rotation at 45 degrees.
struct Units {
    Units() : context(new DspArray{}), eq(context->eqBassBoost), realSurround(context->realSurround),
              surround(context->surround3D), reverb(context->digitalReverb), rotation(context->fieldRotation) {
        ApplyDefaults(context.get());
        DspServices* services = createServices();
        for (DspServices** slot : {&eq.services, &realSurround.services, &surround.services, &reverb.services,
                                   &rotation.services})
            *slot = services;
        rotation.angleDegrees = 45.0f;
        EXPECT_EQ(eqBassBoostUnit.init(&eq), 1);
        EXPECT_EQ(realSurroundUnit.init(&realSurround), 1);
        EXPECT_EQ(surround3DUnit.init(&surround), 1);
        EXPECT_EQ(digitalReverbUnit.init(&reverb), 1);
        EXPECT_EQ(fieldRotationUnit.init(&rotation), 1);
    }
    ~Units() {
        eqBassBoostUnit.quit(&eq);
        realSurroundUnit.quit(&realSurround);
        digitalReverbUnit.quit(&reverb);
    }

    // As the pipeline does: the equaliser on the bass stream, the surround
    // units and the reverb on the main stream, the rotation afterwards.
    void process(float* bass, float* main, int32_t frames, int32_t rate) {
        eq.sampleRate = rate;
        eq.frames = frames;
        eq.samples = bass;
        EXPECT_EQ(eqBassBoostUnit.process(&eq), frames);
        realSurround.frames = frames;
        realSurround.samples = main;
        EXPECT_EQ(realSurroundUnit.process(&realSurround), frames);
        surround.frames = frames;
        surround.samples = main;
        EXPECT_EQ(surround3DUnit.process(&surround), frames);
        reverb.sampleRate = rate;
        reverb.frames = frames;
        reverb.samples = main;
        EXPECT_EQ(digitalReverbUnit.process(&reverb), frames);
        for (float* stream : {bass, main}) {
            rotation.frames = frames;
            rotation.samples = stream;
            EXPECT_EQ(fieldRotationUnit.process(&rotation), frames);
        }
    }

    std::unique_ptr<DspArray> context;
    EqBassBoostBlock& eq;
    RealSurroundBlock& realSurround;
    Surround3DBlock& surround;
    DigitalReverbBlock& reverb;
    FieldRotationBlock& rotation;
};

// Includes the edges where a band edge meets half the rate (240 and 18000 Hz
// with the defaults) and the rates just above them, where the one-pole
// chains are stable but strongly resonant near half the rate.
TEST(UnitRateSweep, OutputsStayFiniteAtEveryRateWithoutAllocating) {
    const int32_t rates[] = {1,     2,     3,     7,     100,   239,    240,    241,    1000,   8000,
                             11025, 16000, 17999, 18000, 18001, 18100,  19000,  22050,  32000,  44100,
                             48000, 88200, 96000, 176400, 192000, 384000, 1000000, 44100};
    const int32_t pieces[] = {1152, 576, 4096, 1, 100, 4096};
    Units units;
    unsigned seed = 1;
    for (int32_t rate : rates) {
        SCOPED_TRACE(rate);
        float peak = 0.0f;
        for (int round = 0; round < 4; ++round) {
            for (int32_t frames : pieces) {
                std::vector<float> bass = fullScaleNoise(frames, seed++);
                std::vector<float> main = fullScaleNoise(frames, seed++);
                alloc_hook::arm(0);
                units.process(bass.data(), main.data(), frames, rate);
                EXPECT_EQ(alloc_hook::disarm(), 0);
                for (int32_t i = 0; i < 2 * frames; ++i) {
                    ASSERT_TRUE(std::isfinite(bass[i]) && std::isfinite(main[i])) << "sample " << i;
                    peak = std::fmax(peak, std::fmax(std::fabs(bass[i]), std::fabs(main[i])));
                }
            }
        }
        // Away from the resonant rates the level stays within a few times full scale.
        const bool resonant = (rate > 240 && rate < 1000) || (rate > 18000 && rate < 44100);
        if (!resonant) {
            EXPECT_LT(peak, 2e5f);
        }
    }
}

}  // namespace
