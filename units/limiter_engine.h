// The look-ahead peak limiter behind the Dynamic Audio Limiter unit: per
// channel a 256-sample delay line, a maximum tree over the magnitudes in the
// window, and a gain that is pulled down before a peak leaves the delay line.
#pragma once
#include <cstdint>

constexpr int kLimiterWindow = 256;       // samples per channel
constexpr int32_t kLimiterWarmUp = 255;   // frames swallowed while the delay lines fill
constexpr int kPeakTreeLevels = 8;        // 256, 128, ..., 2 nodes
constexpr int kPeakTreeLevelStart[kPeakTreeLevels] = {0, 256, 384, 448, 480, 496, 504, 508};
constexpr double kLimiterThreshold = 32763.72265625;  // 0.9999 of 32767, as a float

struct LimiterChannelState {
    int32_t position;                 // write index into delay
    float delay[kLimiterWindow];
    float peakTree[2 * kLimiterWindow];  // the levels one after another; the last 2 unused
    float gain;
    float smoothedTarget;
    bool active;
};

struct LimiterEngine {
    LimiterChannelState* states;  // null until the first run
    uint32_t stateChannels;
    int32_t producedFrames;
    int32_t warmUpCount;
    LimiterChannelState* reserve;  // stereo states owned for the engine's life
};

// Null when memory is short. Stereo states are made here, so a stereo stream
// never allocates while it runs; other channel counts allocate on first use.
LimiterEngine* createLimiterEngine();
void destroyLimiterEngine(LimiterEngine* engine);

void resetChannelState(LimiterChannelState& state);

// One input sample of one channel in, the sample entered 255 calls earlier
// out, scaled to stay at or below the threshold.
float limitSample(LimiterChannelState& state, float sample);

// Limits `frames` interleaved frames in place and returns the frames written
// from the start of the buffer. Fewer come out during the warm-up; none when
// `channels` < 1 or the channel states cannot be made.
int32_t runLimiter(LimiterEngine& engine, float* samples, int32_t channels, int32_t frames);
