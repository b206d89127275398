// Field Rotation Audio DSP
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"


struct FieldRotationBlock {
    float angleDegrees;
    float angleRadians;
    int32_t channels;
    int32_t sampleRate;
    int32_t frames;
    float* samples;
    DspPort* port;
    DspServices* services;
};

extern const UnitEntries fieldRotationUnit;
