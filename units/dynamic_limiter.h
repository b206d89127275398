// Dynamic Audio Limiter
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"

struct LimiterEngine;

struct DynamicLimiterBlock {
    LimiterEngine* engine;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries dynamicLimiterUnit;
