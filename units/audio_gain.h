// Audio Gain DSP
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"


struct AudioGainBlock {
    float gainLeft;
    float gainRight;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries audioGainUnit;
