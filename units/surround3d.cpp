#include "units/surround3d.h"

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
    for (int32_t i = 0; i < frames; ++i) {
        const double left = samples[2 * i];
        const double right = samples[2 * i + 1];
        const double mid = static_cast<float>((left + right) * 0.5);
        const double side = static_cast<float>((right - left) * halfWidth);
        samples[2 * i] = static_cast<float>(mid - side);
        samples[2 * i + 1] = static_cast<float>(mid + side);
    }
    return frames;
}

}  // namespace

const UnitEntries surround3DUnit = {&portTemplate, checkWidth, noOpEntry, checkWidth, process, nullptr, nullptr};
