#include "units/field_rotation.h"

#include <emmintrin.h>

#include "framework/portable_math.h"

namespace {

const DspPort portTemplate = makePortTemplate("Field Rotation Audio DSP");

// init and update: degrees to radians, each step rounded to single precision.
int32_t deriveAngle(void* block) {
    FieldRotationBlock* unit = static_cast<FieldRotationBlock*>(block);
    const double turns = static_cast<float>(static_cast<double>(unit->angleDegrees) / 180.0);
    const double pi = static_cast<double>(3.14159265358979f);
    unit->angleRadians = static_cast<float>(turns * pi);
    return 1;
}

// A plane rotation of each (left, right) pair; both outputs are formed from
// the input pair so that no channel is lost at any angle.
int32_t process(void* block) {
    FieldRotationBlock* unit = static_cast<FieldRotationBlock*>(block);
    const int32_t frames = unit->frames;
    float* samples = unit->samples;
    if (frames <= 0 || samples == nullptr) return frames;

    const double angle = unit->angleRadians;
    const double c = static_cast<float>(portableCos(angle));
    const double s = static_cast<float>(portableSin(angle));
    // One frame as the double lanes (left, right) and their swap: left * c -
    // right * s is formed as left * c + (-(right * s)), which is the same.
    const __m128d cosine = _mm_set1_pd(c);
    const __m128d sine = _mm_set_pd(s, -s);
    for (int32_t i = 0; i < frames; ++i) {
        float* frame = samples + 2 * static_cast<size_t>(i);
        const __m128d lr = _mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(frame)));
        const __m128d rl = _mm_shuffle_pd(lr, lr, 1);
        const __m128d rotated = _mm_add_pd(_mm_mul_pd(lr, cosine), _mm_mul_pd(rl, sine));
        _mm_storel_pi(reinterpret_cast<__m64*>(frame), _mm_cvtpd_ps(rotated));
    }
    return frames;
}

}  // namespace

const UnitEntries fieldRotationUnit = {&portTemplate, deriveAngle, noOpEntry, deriveAngle, process, nullptr, nullptr};
