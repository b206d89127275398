#include "units/real_surround.h"

namespace {

const DspPort portTemplate = makePortTemplate("Dolby Surround Audio DSP");

int32_t process(void* block) { return static_cast<RealSurroundBlock*>(block)->frames; }

}  // namespace

const UnitEntries realSurroundUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
