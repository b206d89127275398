// BASS Boost Audio DSP: the eleven-band linear-phase equaliser of the bass
// stream, run through the FFT convolution engine.
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"

struct FftConvolver;
struct BassBoostState;

struct BassBoostBlock {
    int32_t bass;
    int32_t treble;
    float gains0[11];
    float gains1[11];
    FftConvolver* engine;
    BassBoostState* state;  // private: main-stream delay line and the captured design request
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries bassBoostUnit;

// The eleven band gains that `bass` and `treble` stand for.
void ComputeBandGains(int32_t bass, int32_t treble, float gains[11]);

// Writes the gains of `bass` and `treble` to gains0 and gains1 and designs
// the engine (if there is one) for `sampleRate`.
void DeriveBandGains(BassBoostBlock* block);

// Delays the main stream (interleaved stereo, `frames` frames, in place) by
// the engine's 12286 frames, so that it meets the bass stream aligned. The
// pipeline calls it on exactly the pieces the unit processes; init and
// update clear the line together with the engine.
void BassBoostAlignMain(BassBoostBlock* block, float* mainSamples, int32_t frames);
