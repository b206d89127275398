// EQ-Bass Boost
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"

struct EqBandState;

struct EqBassBoostBlock {
    EqBandState* leftState;
    EqBandState* rightState;
    float lowGain;
    float midGain;
    float highGain;
    int32_t lowFrequency;
    int32_t highFrequency;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries eqBassBoostUnit;
