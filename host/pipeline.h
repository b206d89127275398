// The sample entry's building blocks: conversions between the host's 16-bit
// samples and the chain's float streams, and the peak measurement.
#pragma once
#include <cstdint>

constexpr int32_t kPieceFrames = 4096;
constexpr int32_t kMeterDecay = 100;

void ToFloat(const int16_t* source, float* destination, int32_t frames);
// Truncates toward zero and saturates to the 16-bit range; NaN becomes 0.
void ToShort(const float* source, int16_t* destination, int32_t frames);
void MeasurePeaks(const int16_t* source, int32_t frames, int32_t* leftPeak, int32_t* rightPeak);
// The meter law: rise to the peak at once, otherwise fall by 100, never below 0.
int32_t nextMeterValue(int32_t meter, int32_t peak);
