#include "units/stream_combination.h"

#include <emmintrin.h>

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
    // Two frames per step: the weighted sum in double lanes, rounded to
    // float; the scaling is one float product, the same in float as in double.
    const __m128d weights = _mm_set_pd(b.mainWeightRight, b.mainWeightLeft);
    const __m128 scale = _mm_set1_ps(static_cast<float>(kOutputScale));
    for (; frame + 4 <= frames; frame += 4) {
        for (size_t pair = frame; pair < frame + 4; pair += 2) {
            const __m128 main = _mm_loadu_ps(b.mainSamples + 2 * pair);
            const __m128 bass = _mm_loadu_ps(b.bassSamples + 2 * pair);
            const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(main), weights), _mm_cvtps_pd(bass));
            const __m128d hi = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(main, main)), weights),
                                          _mm_cvtps_pd(_mm_movehl_ps(bass, bass)));
            _mm_storeu_ps(b.outSamples + 2 * pair,
                          _mm_mul_ps(_mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)), scale));
        }
    }
    for (; frame < frames; ++frame) combineFrame(b, frame);
    return b.frames;
}

}  // namespace

const UnitEntries streamCombinationUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
