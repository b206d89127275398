#include "units/audio_gain.h"

namespace {

const DspPort portTemplate = makePortTemplate("Audio Gain DSP");

int32_t process(void* block) { return static_cast<AudioGainBlock*>(block)->frames; }

}  // namespace

const UnitEntries audioGainUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
