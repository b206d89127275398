#include "units/dynamic_limiter.h"

namespace {

const DspPort portTemplate = makePortTemplate("Dynamic Audio Limiter");

int32_t process(void* block) { return static_cast<DynamicLimiterBlock*>(block)->frames; }

}  // namespace

const UnitEntries dynamicLimiterUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
