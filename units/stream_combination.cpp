#include "units/stream_combination.h"

namespace {

const DspPort portTemplate = makePortTemplate("Stream Combination DSP");

int32_t process(void* block) { return static_cast<StreamCombinationBlock*>(block)->frames; }

}  // namespace

const UnitEntries streamCombinationUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
