#include "units/field_rotation.h"

namespace {

const DspPort portTemplate = makePortTemplate("Field Rotation Audio DSP");

int32_t process(void* block) { return static_cast<FieldRotationBlock*>(block)->frames; }

}  // namespace

const UnitEntries fieldRotationUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
