#include "units/audio_filter.h"

namespace {

const DspPort portTemplate = makePortTemplate("Audio Filter");

int32_t process(void* block) { return static_cast<AudioFilterBlock*>(block)->frames; }

}  // namespace

const UnitEntries audioFilterUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
