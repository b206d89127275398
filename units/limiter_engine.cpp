#include "units/limiter_engine.h"

#include "framework/numeric.h"

#include <emmintrin.h>

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

namespace {

// True when the state is inactive and one more sample that does not switch
// it on leaves its smoothed target and gain as they are: from then on every
// such sample only passes through the delay line and is scaled by the gain.
bool settled(const LimiterChannelState& s) {
    if (s.active) return false;
    const float target =
        static_cast<float>(static_cast<double>(s.smoothedTarget) * kSmoothingKeep + kInactiveTarget * kSmoothingTarget);
    float gain = static_cast<float>(static_cast<double>(s.gain) * kReleaseKeep + kReleaseStep);
    if (gain > target) gain = target;
    return floatBits(target) == floatBits(s.smoothedTarget) && floatBits(gain) == floatBits(s.gain);
}

// limitSample of a settled state for a sample at or below the threshold
// whose output stays at or below it.
inline float settledSample(LimiterChannelState& s, float x) {
    s.delay[s.position] = x;
    s.position = (s.position + 1) & (kLimiterWindow - 1);
    return s.delay[s.position] * s.gain;
}

// Warm stereo frames from `i` on while both states stay settled: four
// frames at a time where neither delay line wraps inside the group. Returns
// the first frame not taken (a sample above the threshold, an output that
// would need the hard correction, or the end).
int32_t settledRun(LimiterChannelState& l, LimiterChannelState& r, float* samples, int32_t i, int32_t frames) {
    const __m128 threshold = _mm_set1_ps(static_cast<float>(kLimiterThreshold));
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 gains = _mm_set_ps(r.gain, l.gain, r.gain, l.gain);
    while (i < frames) {
        float* frame = samples + 2 * static_cast<size_t>(i);
        const int32_t p = l.position;
        if (i + 4 <= frames && p + 4 < kLimiterWindow) {
            const __m128 in0 = _mm_loadu_ps(frame);      // l0 r0 l1 r1
            const __m128 in1 = _mm_loadu_ps(frame + 4);  // l2 r2 l3 r3
            const __m128 itemsL = _mm_loadu_ps(l.delay + p + 1);
            const __m128 itemsR = _mm_loadu_ps(r.delay + p + 1);
            const __m128 out0 = _mm_mul_ps(_mm_unpacklo_ps(itemsL, itemsR), gains);
            const __m128 out1 = _mm_mul_ps(_mm_unpackhi_ps(itemsL, itemsR), gains);
            const __m128 loud = _mm_or_ps(_mm_or_ps(_mm_cmpgt_ps(_mm_and_ps(in0, magnitude), threshold),
                                                    _mm_cmpgt_ps(_mm_and_ps(in1, magnitude), threshold)),
                                          _mm_or_ps(_mm_cmpgt_ps(_mm_and_ps(out0, magnitude), threshold),
                                                    _mm_cmpgt_ps(_mm_and_ps(out1, magnitude), threshold)));
            if (_mm_movemask_ps(loud) != 0) return i;
            _mm_storeu_ps(l.delay + p, _mm_shuffle_ps(in0, in1, _MM_SHUFFLE(2, 0, 2, 0)));
            _mm_storeu_ps(r.delay + p, _mm_shuffle_ps(in0, in1, _MM_SHUFFLE(3, 1, 3, 1)));
            l.position = r.position = p + 4;
            _mm_storeu_ps(frame, out0);
            _mm_storeu_ps(frame + 4, out1);
            i += 4;
            continue;
        }
        const int32_t next = (p + 1) & (kLimiterWindow - 1);
        const float yl = l.delay[next] * l.gain;
        const float yr = r.delay[next] * r.gain;
        if (std::fabs(frame[0]) > kLimiterThreshold || std::fabs(frame[1]) > kLimiterThreshold ||
            std::fabs(yl) > kLimiterThreshold || std::fabs(yr) > kLimiterThreshold)
            return i;
        frame[0] = settledSample(l, frame[0]);
        frame[1] = settledSample(r, frame[1]);
        ++i;
    }
    return i;
}

// The warm stereo case: frame by frame through limitSample, and in settled
// runs through settledRun; the output index equals the input index.
void runWarmStereo(LimiterEngine& e, float* samples, int32_t from, int32_t frames) {
    LimiterChannelState& l = e.states[0];
    LimiterChannelState& r = e.states[1];
    for (int32_t i = from; i < frames;) {
        if (l.position == r.position && settled(l) && settled(r)) {
            i = settledRun(l, r, samples, i, frames);
            if (i >= frames) break;
        }
        float* frame = samples + 2 * static_cast<size_t>(i);
        frame[0] = limitSample(l, frame[0]);
        frame[1] = limitSample(r, frame[1]);
        ++i;
    }
}

}  // namespace

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
        if (channels == 2 && channel == 0 && e.warmUpCount == kLimiterWarmUp && out == j) {
            // Warm stereo with every sample written where it was read.
            runWarmStereo(e, samples, static_cast<int32_t>(j / 2), frames);
            out = total;
            break;
        }
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
