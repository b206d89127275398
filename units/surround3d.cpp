#include "units/surround3d.h"

namespace {

const DspPort portTemplate = makePortTemplate("3D-Surround Audio DSP");

int32_t process(void* block) { return static_cast<Surround3DBlock*>(block)->frames; }

}  // namespace

const UnitEntries surround3DUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
