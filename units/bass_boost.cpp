#include "units/bass_boost.h"

namespace {

const DspPort portTemplate = makePortTemplate("BASS Boost Audio DSP");

int32_t process(void* block) { return static_cast<BassBoostBlock*>(block)->frames; }

}  // namespace

const UnitEntries bassBoostUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
