#include "units/limiter_engine.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

namespace {

constexpr double kInactiveTarget = 0.99989998340606689453125;  // 0.9999f
constexpr double kSmoothingKeep = 0.8999000191688538;          // 0.8999f
constexpr double kSmoothingTarget = 0.09989999979734421;       // 0.0999f
constexpr double kReleaseKeep = 0.9998999834060669;            // 0.9999f
constexpr double kReleaseStep = 0.00009999999747378752;        // 0.0001f

constexpr uint32_t kReservedChannels = 2;

// Stores `magnitude` at the state's leaf and returns the largest magnitude in
// the tree: every level keeps the larger of two children.
float insertPeak(LimiterChannelState& s, float magnitude) {
    float v = magnitude;
    uint32_t k = static_cast<uint32_t>(s.position);
    for (int level = 0; level < kPeakTreeLevels; ++level) {
        float* nodes = s.peakTree + kPeakTreeLevelStart[level];
        nodes[k] = v;
        const float sibling = nodes[k ^ 1u];
        if (!(sibling < v)) v = sibling;
        k >>= 1;
    }
    return v;
}

void discardStates(LimiterEngine& e) {
    if (e.states != e.reserve) delete[] e.states;
    e.states = nullptr;
    e.stateChannels = 0;
}

bool createStates(LimiterEngine& e, uint32_t channels) {
    LimiterChannelState* states = e.reserve;
    if (channels > kReservedChannels || states == nullptr) {
        if (channels > SIZE_MAX / sizeof(LimiterChannelState)) return false;
        states = new (std::nothrow) LimiterChannelState[channels];
        if (states == nullptr) return false;
    }
    for (uint32_t c = 0; c < channels; ++c) resetChannelState(states[c]);
    e.states = states;
    e.stateChannels = channels;
    e.warmUpCount = 0;
    return true;
}

}  // namespace

LimiterEngine* createLimiterEngine() {
    LimiterEngine* engine = new (std::nothrow) LimiterEngine{nullptr, 0, 0, 0, nullptr};
    LimiterChannelState* reserve = new (std::nothrow) LimiterChannelState[kReservedChannels];
    if (engine == nullptr || reserve == nullptr) {
        delete engine;
        delete[] reserve;
        return nullptr;
    }
    engine->reserve = reserve;
    return engine;
}

void destroyLimiterEngine(LimiterEngine* engine) {
    if (engine == nullptr) return;
    discardStates(*engine);
    delete[] engine->reserve;
    delete engine;
}

void resetChannelState(LimiterChannelState& s) {
    std::memset(&s, 0, sizeof s);
    s.gain = 1.0f;
    s.smoothedTarget = 1.0f;
    s.active = false;
}

float limitSample(LimiterChannelState& s, float x) {
    const float a = std::fabs(x);
    if (a > kLimiterThreshold) {
        // Clearing on the switch-on keeps old quiet magnitudes out of the peak.
        if (!s.active) std::memset(s.peakTree, 0, sizeof s.peakTree);
        s.active = true;
    }
    float peak = 0.0f;
    if (s.active) {
        peak = insertPeak(s, a);
        if (peak <= kLimiterThreshold) s.active = false;
    }
    s.delay[s.position] = x;
    s.position = (s.position + 1) & (kLimiterWindow - 1);
    const float item = s.delay[s.position];

    const double target =
        s.active ? static_cast<double>(static_cast<float>(kLimiterThreshold / peak)) : kInactiveTarget;
    s.smoothedTarget =
        static_cast<float>(static_cast<double>(s.smoothedTarget) * kSmoothingKeep + target * kSmoothingTarget);
    s.gain = static_cast<float>(static_cast<double>(s.gain) * kReleaseKeep + kReleaseStep);
    if (s.gain > s.smoothedTarget) s.gain = s.smoothedTarget;

    float y = item * s.gain;
    if (std::fabs(y) > kLimiterThreshold) {
        // Whatever the smoothing has not caught yet is corrected hard.
        s.gain = static_cast<float>(kLimiterThreshold / std::fabs(item));
        y = item * s.gain;
    }
    return y;
}

int32_t runLimiter(LimiterEngine& e, float* samples, int32_t channelCount, int32_t frames) {
    if (channelCount < 1) return 0;
    const uint32_t channels = static_cast<uint32_t>(channelCount);
    if (e.states != nullptr && channels != e.stateChannels) discardStates(e);
    if (e.states == nullptr && !createStates(e, channels)) {
        e.producedFrames = 0;
        return 0;
    }
    if (frames <= 0 || samples == nullptr) {
        e.producedFrames = 0;
        return 0;
    }
    const uint64_t total = static_cast<uint64_t>(channels) * static_cast<uint64_t>(frames);
    uint64_t out = 0;  // never passes the read index, so writing in place is safe
    uint32_t channel = 0;
    for (uint64_t j = 0; j < total; ++j) {
        const float y = limitSample(e.states[channel], samples[j]);
        if (e.warmUpCount == kLimiterWarmUp) {
            samples[out++] = y;
        } else if (channel == channels - 1) {
            ++e.warmUpCount;
        }
        if (++channel == channels) channel = 0;
    }
    e.producedFrames = static_cast<int32_t>(out / channels);
    return e.producedFrames;
}
