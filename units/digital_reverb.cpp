#include "units/digital_reverb.h"

namespace {

const DspPort portTemplate = makePortTemplate("Digital Reverb Audio DSP");

int32_t process(void* block) { return static_cast<DigitalReverbBlock*>(block)->frames; }

}  // namespace

const UnitEntries digitalReverbUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
