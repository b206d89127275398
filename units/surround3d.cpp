#include "units/surround3d.h"

#include <emmintrin.h>

namespace {

const DspPort portTemplate = makePortTemplate("3D-Surround Audio DSP");

// init and update: a negative width can only come from a settings file and
// is refused; NaN is let through like any other non-negative value.
int32_t checkWidth(void* block) {
    const Surround3DBlock* unit = static_cast<const Surround3DBlock*>(block);
    return unit->width < 0.0f ? 0 : 1;
}

// Mid/side: the side signal is scaled by width against the unchanged mid.
int32_t process(void* block) {
    Surround3DBlock* unit = static_cast<Surround3DBlock*>(block);
    const int32_t frames = unit->frames;
    float* samples = unit->samples;
    if (frames <= 0 || samples == nullptr) return frames;

    const double halfWidth = static_cast<float>(static_cast<double>(unit->width) * 0.5);
    // One frame as the double lanes (left, right): the sum and the difference
    // come from the lanes and their swap, mid and side are rounded to float,
    // and the two outputs are single float operations (mid - side, and
    // mid - (-side), the same as mid + side).
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d width = _mm_set1_pd(halfWidth);
    for (int32_t i = 0; i < frames; ++i) {
        float* frame = samples + 2 * static_cast<size_t>(i);
        const __m128d lr = _mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(frame)));
        const __m128d rl = _mm_shuffle_pd(lr, lr, 1);
        const __m128 mid = _mm_cvtpd_ps(_mm_mul_pd(_mm_add_pd(lr, rl), half));    // mid, mid
        const __m128 side = _mm_cvtpd_ps(_mm_mul_pd(_mm_sub_pd(rl, lr), width));  // side, -side
        _mm_storel_pi(reinterpret_cast<__m64*>(frame), _mm_sub_ps(mid, side));
    }
    return frames;
}

}  // namespace

const UnitEntries surround3DUnit = {&portTemplate, checkWidth, noOpEntry, checkWidth, process, nullptr, nullptr};
