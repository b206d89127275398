#include "units/hard_limiter.h"

namespace {

const DspPort portTemplate = makePortTemplate("Audio Hard Limiter DSP");

int32_t process(void* block) { return static_cast<HardLimiterBlock*>(block)->frames; }

}  // namespace

const UnitEntries hardLimiterUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
