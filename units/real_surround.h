// Dolby Surround Audio DSP
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"


struct RealSurroundBlock {
    float amount;
    float delayLine[32768];
    int32_t storedCount;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries realSurroundUnit;
