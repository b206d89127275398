#include "units/dynamic_limiter.h"

#include "units/limiter_engine.h"

namespace {

const DspPort portTemplate = makePortTemplate("Dynamic Audio Limiter");

int32_t init(void* raw) {
    DynamicLimiterBlock* block = static_cast<DynamicLimiterBlock*>(raw);
    block->engine = createLimiterEngine();
    return block->engine != nullptr ? 1 : 0;
}

// Accepts a block whose init failed or never ran.
int32_t quit(void* raw) {
    DynamicLimiterBlock* block = static_cast<DynamicLimiterBlock*>(raw);
    destroyLimiterEngine(block->engine);
    block->engine = nullptr;
    return 1;
}

// Without an engine nothing is produced: the output never carries samples
// the limiter has not seen.
int32_t process(void* raw) {
    DynamicLimiterBlock* block = static_cast<DynamicLimiterBlock*>(raw);
    if (block->engine == nullptr) return 0;
    return runLimiter(*block->engine, block->samples, block->channels, block->frames);
}

}  // namespace

const UnitEntries dynamicLimiterUnit = {&portTemplate, init, quit, noOpEntry, process, nullptr, nullptr};
