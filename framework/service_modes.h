// The implementations behind the services table, selected by the mode words
// that configure stored. Each takes its mode explicitly so it can be tested
// without touching the process-wide settings.
#pragma once
#include <cstdint>

void* serviceCopy(int32_t copyMode, void* destination, const void* source, int32_t bytes);
void* serviceAlloc(int32_t allocMode, int32_t bytes);
void serviceFree(int32_t allocMode, void* block);
float servicePower(int32_t mathMode, float base, float exponent);
float serviceRoot(int32_t mathMode, float value, float degree);
int32_t serviceRoundToInt(int32_t roundMode, float value);
void serviceFloatToShort(int32_t roundMode, const float* source, int16_t* destination, int32_t count);
void serviceFloatToShortSaturating(float* source, int16_t* destination, int32_t count);
