// Stream Combination DSP
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"


struct StreamCombinationBlock {
    float mainWeightLeft;
    float mainWeightRight;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* bassSamples;
    float* mainSamples;
    float* outSamples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries streamCombinationUnit;
