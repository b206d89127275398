#include "units/stream_combination.h"

#include <cstddef>

namespace {

const DspPort portTemplate = makePortTemplate("Stream Combination DSP");

constexpr double kOutputScale = static_cast<double>(0.9f);  // 0.8999999761581421

// out = 0.9 * (bass + weight * main), the inner sum rounded to float first.
inline float combine(float bass, float main, float weight) {
    const float sum = static_cast<float>(static_cast<double>(main) * weight + static_cast<double>(bass));
    return static_cast<float>(static_cast<double>(sum) * kOutputScale);
}

inline void combineFrame(const StreamCombinationBlock& b, size_t frame) {
    const size_t l = 2 * frame;
    b.outSamples[l] = combine(b.bassSamples[l], b.mainSamples[l], b.mainWeightLeft);
    b.outSamples[l + 1] = combine(b.bassSamples[l + 1], b.mainSamples[l + 1], b.mainWeightRight);
}

int32_t process(void* raw) {
    const StreamCombinationBlock& b = *static_cast<StreamCombinationBlock*>(raw);
    if (b.frames <= 0 || b.bassSamples == nullptr || b.mainSamples == nullptr || b.outSamples == nullptr) return 0;
    const size_t frames = static_cast<size_t>(b.frames);
    size_t frame = 0;
    for (; frame + 4 <= frames; frame += 4) {
        combineFrame(b, frame);
        combineFrame(b, frame + 1);
        combineFrame(b, frame + 2);
        combineFrame(b, frame + 3);
    }
    for (; frame < frames; ++frame) combineFrame(b, frame);
    return b.frames;
}

}  // namespace

const UnitEntries streamCombinationUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
