// Audio Filter
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"

class CLowPassFilter;
class CHighPassFilter;

struct AudioFilterBlock {
    int32_t crossoverFrequency;
    float q;
    CLowPassFilter* lowPass;
    CHighPassFilter* highPass;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    int16_t* input;
    int16_t* lowOutput;
    int16_t* highOutput;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries audioFilterUnit;
