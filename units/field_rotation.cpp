#include "units/field_rotation.h"

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
    for (int32_t i = 0; i < frames; ++i) {
        const double left = samples[2 * i];
        const double right = samples[2 * i + 1];
        samples[2 * i] = static_cast<float>(left * c - right * s);
        samples[2 * i + 1] = static_cast<float>(right * c + left * s);
    }
    return frames;
}

}  // namespace

const UnitEntries fieldRotationUnit = {&portTemplate, deriveAngle, noOpEntry, deriveAngle, process, nullptr, nullptr};
