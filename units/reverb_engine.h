// The reverberator behind the Digital Reverb unit: per channel eight damped
// feedback combs in parallel on a mono input, then four all-passes in series.
#pragma once
#include <cstdint>

#include "framework/numeric.h"

// Zero and denormal values become 0, so decaying tails end at exactly zero
// instead of crawling through the slow denormal range. Infinities and NaN
// become 0 as well: one bad sample must not circulate in the loops forever.
inline float flushToZero(float value) {
    const uint32_t exponent = floatBits(value) & 0x7F800000u;
    return exponent == 0 || exponent == 0x7F800000u ? 0.0f : value;
}

// A circular delay line over memory owned by the engine.
struct DelayLine {
    float* buffer = nullptr;
    int32_t size = 0;
    int32_t index = 0;  // next position

    void attach(float* memory, int32_t length) {
        buffer = memory;
        size = length;
    }
    void clear() {
        for (int32_t i = 0; i < size; ++i) buffer[i] = 0.0f;
    }
    float read() const { return flushToZero(buffer[index]); }
    void writeAndAdvance(float value) {
        buffer[index] = value;
        if (++index >= size) index = 0;
    }
};

// Feedback comb with a one-pole low-pass in its loop. process() is the
// per-sample definition; the engine runs the same arithmetic on blocks.
class CCombFilter {
public:
    void setBuffer(float* buffer, int32_t size) { line_.attach(buffer, size); }
    void mute() { line_.clear(); }
    void setFeedback(float value) { feedback_ = value; }
    // damp1 weights the loop filter's memory, damp2 the new sample.
    void setDamp(float value) {
        damp1_ = value;
        damp2_ = static_cast<float>(1.0 - static_cast<double>(value));
    }
    float feedback() const { return feedback_; }
    float damp1() const { return damp1_; }
    float damp2() const { return damp2_; }

    float process(float input) {
        const float output = line_.read();
        filterStore_ = flushToZero(static_cast<float>(static_cast<double>(output) * damp2_ +
                                                      static_cast<double>(filterStore_) * damp1_));
        line_.writeAndAdvance(static_cast<float>(static_cast<double>(input) + static_cast<double>(filterStore_) * feedback_));
        return output;
    }

private:
    friend class CReverbEngine;
    float feedback_ = 0.0f;
    float filterStore_ = 0.0f;
    float damp1_ = 0.0f;
    float damp2_ = 0.0f;
    DelayLine line_;
};

// Schroeder all-pass (the approximate form: output = delayed - input).
class CAllPassFilter {
public:
    void setBuffer(float* buffer, int32_t size) { line_.attach(buffer, size); }
    void mute() { line_.clear(); }
    float process(float input) {
        const float delayed = line_.read();
        const float output = static_cast<float>(static_cast<double>(delayed) - static_cast<double>(input));
        line_.writeAndAdvance(static_cast<float>(static_cast<double>(input) + static_cast<double>(delayed) * feedback_));
        return output;
    }

private:
    friend class CReverbEngine;
    float feedback_ = 0.5f;
    DelayLine line_;
};

namespace reverb_tuning {

constexpr int kCombCount = 8;
constexpr int kAllPassCount = 4;
// Delay lengths in samples, fixed whatever the sample rate; the right
// channel's are kStereoSpread longer.
constexpr int32_t kCombLengths[kCombCount] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr int32_t kAllPassLengths[kAllPassCount] = {556, 441, 341, 225};
constexpr int32_t kStereoSpread = 23;
// Frames the engine takes at a time: at most the shortest delay line, so
// that within a block every read of a line sees what earlier blocks wrote.
constexpr int32_t kBlockFrames = 128;

constexpr int32_t delayMemorySamples() {
    int32_t total = 0;
    for (int32_t length : kCombLengths) total += 2 * length + kStereoSpread;
    for (int32_t length : kAllPassLengths) total += 2 * length + kStereoSpread;
    return total;
}

}  // namespace reverb_tuning

// Whether Process may run its loops on 256-bit registers where the
// processor has AVX2 (the default); off, it keeps to SSE2 like the 32-bit
// build. Both give the same bits; tests compare them.
void setReverbWideLoops(bool enabled);

// One heap object holding the parameters, the 24 filters and all their delay
// memory. The setters store already scaled values; Update derives the rest.
class CReverbEngine {
public:
    static constexpr int kCombCount = reverb_tuning::kCombCount;
    static constexpr int kAllPassCount = reverb_tuning::kAllPassCount;

    // Null when the memory cannot be had.
    static CReverbEngine* create();

    CReverbEngine(const CReverbEngine&) = delete;
    CReverbEngine& operator=(const CReverbEngine&) = delete;

    void setRoomSize(float value) { roomSize_ = value; }
    void setDamp(float value) { damp_ = value; }
    void setWet(float value) { wet_ = value; }
    void setDry(float value) { dry_ = value; }
    void setWidth(float value) { width_ = value; }
    void setMode(float value) { mode_ = value; }

    void Update();
    // Clears every delay line, except in freeze mode where the tail is kept.
    void Mute();
    void Process(const float* inputLeft, const float* inputRight, float* outputLeft, float* outputRight,
                 int32_t count);

    const CCombFilter& leftComb(int k) const { return combLeft_[k]; }
    const CCombFilter& rightComb(int k) const { return combRight_[k]; }
    float sameSideWetGain() const { return wetSameSide_; }
    float crossWetGain() const { return wetCross_; }

private:
    CReverbEngine();
    bool frozen() const { return mode_ >= 0.5f; }
    void processBlock(const float* inputLeft, const float* inputRight, float* outputLeft, float* outputRight,
                      int32_t count);

    float inputGain_ = 0.0f;
    float roomSize_ = 0.0f;
    float effectiveFeedback_ = 0.0f;
    float damp_ = 0.0f;
    float effectiveDamp_ = 0.0f;
    float wet_ = 0.0f;
    float wetSameSide_ = 0.0f;
    float wetCross_ = 0.0f;
    float dry_ = 0.0f;
    float width_ = 0.0f;
    float mode_ = 0.0f;
    CCombFilter combLeft_[kCombCount];
    CCombFilter combRight_[kCombCount];
    CAllPassFilter allPassLeft_[kAllPassCount];
    CAllPassFilter allPassRight_[kAllPassCount];
    float delayMemory_[reverb_tuning::delayMemorySamples()];
};
