#include "units/reverb_engine.h"

#include <new>

namespace {

using reverb_tuning::kAllPassLengths;
using reverb_tuning::kCombLengths;
using reverb_tuning::kStereoSpread;

constexpr float kNormalInputGain = 0.015f;

}  // namespace

CReverbEngine* CReverbEngine::create() { return new (std::nothrow) CReverbEngine(); }

// Delay memory is laid out left comb 1, right comb 1, left comb 2, ..., then
// the all-passes the same way.
CReverbEngine::CReverbEngine() {
    float* next = delayMemory_;
    for (int k = 0; k < kCombCount; ++k) {
        combLeft_[k].setBuffer(next, kCombLengths[k]);
        next += kCombLengths[k];
        combRight_[k].setBuffer(next, kCombLengths[k] + kStereoSpread);
        next += kCombLengths[k] + kStereoSpread;
    }
    for (int k = 0; k < kAllPassCount; ++k) {
        allPassLeft_[k].setBuffer(next, kAllPassLengths[k]);
        next += kAllPassLengths[k];
        allPassRight_[k].setBuffer(next, kAllPassLengths[k] + kStereoSpread);
        next += kAllPassLengths[k] + kStereoSpread;
    }
    Mute();
}

void CReverbEngine::Update() {
    const double width = width_;
    wetSameSide_ = static_cast<float>(static_cast<double>(wet_) * (width * 0.5 + 0.5));
    wetCross_ = static_cast<float>(static_cast<double>(wet_) * ((1.0 - width) * 0.5));
    if (frozen()) {
        // Lossless, undamped loops that take no new input: the tail sustains.
        effectiveFeedback_ = 1.0f;
        effectiveDamp_ = 0.0f;
        inputGain_ = 0.0f;
    } else {
        effectiveFeedback_ = roomSize_;
        effectiveDamp_ = damp_;
        inputGain_ = kNormalInputGain;
    }
    for (int k = 0; k < kCombCount; ++k) {
        combLeft_[k].setFeedback(effectiveFeedback_);
        combLeft_[k].setDamp(effectiveDamp_);
        combRight_[k].setFeedback(effectiveFeedback_);
        combRight_[k].setDamp(effectiveDamp_);
    }
}

void CReverbEngine::Mute() {
    if (frozen()) return;
    for (int k = 0; k < kCombCount; ++k) {
        combLeft_[k].mute();
        combRight_[k].mute();
    }
    for (int k = 0; k < kAllPassCount; ++k) {
        allPassLeft_[k].mute();
        allPassRight_[k].mute();
    }
}

void CReverbEngine::Process(const float* inputLeft, const float* inputRight, float* outputLeft,
                            float* outputRight, int32_t count) {
    const double sameSide = wetSameSide_;
    const double cross = wetCross_;
    const double dry = dry_;
    for (int32_t i = 0; i < count; ++i) {
        const float input = static_cast<float>(
            (static_cast<double>(inputLeft[i]) + static_cast<double>(inputRight[i])) * inputGain_);
        float left = 0.0f;
        float right = 0.0f;
        for (int k = 0; k < kCombCount; ++k) {
            left = static_cast<float>(static_cast<double>(left) + combLeft_[k].process(input));
            right = static_cast<float>(static_cast<double>(right) + combRight_[k].process(input));
        }
        for (int k = 0; k < kAllPassCount; ++k) {
            left = allPassLeft_[k].process(left);
            right = allPassRight_[k].process(right);
        }
        outputLeft[i] = static_cast<float>(static_cast<double>(left) * sameSide + static_cast<double>(right) * cross +
                                           static_cast<double>(inputLeft[i]) * dry);
        outputRight[i] = static_cast<float>(static_cast<double>(right) * sameSide +
                                            static_cast<double>(left) * cross + static_cast<double>(inputRight[i]) * dry);
    }
}
