#include "units/eq_bass_boost.h"

namespace {

const DspPort portTemplate = makePortTemplate("EQ-Bass Boost");

int32_t process(void* block) { return static_cast<EqBassBoostBlock*>(block)->frames; }

}  // namespace

const UnitEntries eqBassBoostUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
