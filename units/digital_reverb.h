// Digital Reverb Audio DSP
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"

class CReverbEngine;

struct DigitalReverbBlock {
    float roomSize;
    float damping;
    float wet;
    float dry;
    float width;
    float freeze;
    CReverbEngine* engine;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries digitalReverbUnit;
