// Dolby Surround Audio DSP
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"

// The right channel is delayed against the left by amount x 800 frames.
struct RealSurroundBlock {
    float amount;
    float delayLine[32768];  // interleaved frames; only the right slots carry samples
    int32_t storedCount;     // floats held at the front of delayLine, two per frame
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

// The longest delay in frames: with the longest piece (4096 frames) it fills
// the line exactly, whatever amount a settings file holds.
constexpr int32_t kRealSurroundMaxDelay = 12288;

extern const UnitEntries realSurroundUnit;
