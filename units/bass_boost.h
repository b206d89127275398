// BASS Boost Audio DSP
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"

struct FftConvolver;

struct BassBoostBlock {
    int32_t bass;
    int32_t treble;
    float gains0[11];
    float gains1[11];
    FftConvolver* engine;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries bassBoostUnit;
