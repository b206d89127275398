#include "units/hard_limiter.h"

#include <cmath>
#include <cstddef>

namespace {

const DspPort portTemplate = makePortTemplate("Audio Hard Limiter DSP");

constexpr float kLargestLimit = 32768.0f;

// Init and update: both limits within the 16-bit scale. A NaN limit passes.
int32_t checkLimits(void* raw) {
    const HardLimiterBlock& b = *static_cast<HardLimiterBlock*>(raw);
    return std::fabs(b.limitLeft) > kLargestLimit || std::fabs(b.limitRight) > kLargestLimit ? 0 : 1;
}

// Clips from above, then from below against the already clipped value, so a
// negative limit forces every sample to its magnitude. NaN samples pass.
inline float clip(float sample, float limit, float negatedLimit) {
    if (sample > limit) sample = limit;
    if (sample < negatedLimit) sample = negatedLimit;
    return sample;
}

int32_t process(void* raw) {
    const HardLimiterBlock& b = *static_cast<HardLimiterBlock*>(raw);
    if (b.frames <= 0 || b.samples == nullptr) return 0;
    const float limitLeft = b.limitLeft;
    const float limitRight = b.limitRight;
    const float negatedLeft = -limitLeft;
    const float negatedRight = -limitRight;
    const size_t count = 2 * static_cast<size_t>(b.frames);
    for (size_t i = 0; i < count; i += 2) {
        b.samples[i] = clip(b.samples[i], limitLeft, negatedLeft);
        b.samples[i + 1] = clip(b.samples[i + 1], limitRight, negatedRight);
    }
    return b.frames;
}

}  // namespace

const UnitEntries hardLimiterUnit = {&portTemplate, checkLimits, noOpEntry, checkLimits, process, nullptr, nullptr};
