#include "host/context.h"

#include <cstring>

DspArray* dspContext = nullptr;

ChainGuard& contextGuard() {
    static ChainGuard guard;
    return guard;
}

void ApplyDefaults(DspArray* context) {
    context->audioFilter.crossoverFrequency = 400;
    context->audioFilter.q = 1.0f;
    context->surround3D.width = 1.33f;
    context->streamCombination.mainWeightLeft = 0.7f;
    context->streamCombination.mainWeightRight = 0.7f;
    context->realSurround.amount = 0.2f;
    context->bassBoost.bass = 130;
    context->bassBoost.treble = 35;
    context->bassBoost.channels = 2;
    context->bassBoost.sampleRate = 44100;
    context->eqBassBoost.lowGain = 3.2f;
    context->eqBassBoost.midGain = 0.7f;
    context->eqBassBoost.highGain = 1.2f;
    context->eqBassBoost.lowFrequency = 120;
    context->eqBassBoost.highFrequency = 9000;
    context->eqBassBoost.sampleRate = 44100;
    context->fieldRotation.angleDegrees = 0.0f;
    context->audioGain.gainLeft = 1.0f;
    context->audioGain.gainRight = 1.0f;
    context->hardLimiter.limitLeft = 32767.0f;
    context->hardLimiter.limitRight = 32767.0f;
    context->digitalReverb.roomSize = 0.4f;
    context->digitalReverb.damping = 0.5f;
    context->digitalReverb.wet = 0.35f;
    context->digitalReverb.dry = 0.77f;
    context->digitalReverb.width = 0.5f;
    context->digitalReverb.freeze = 0.0f;
}

void ApplyDefaultSwitchState(DspArray* context) {
    for (int32_t& word : context->enableFlags.words) word = 1;
    context->enableFlags.words[kEnableHardLimiter] = 0;
    context->powerOn = 1;
    context->showAtStartup = 1;
}

void ClearUnitBlocks(DspArray* context) {
    std::memset(&context->audioFilter, 0, sizeof context->audioFilter);
    std::memset(&context->surround3D, 0, sizeof context->surround3D);
    std::memset(&context->streamCombination, 0, sizeof context->streamCombination);
    std::memset(&context->realSurround, 0, sizeof context->realSurround);
    std::memset(&context->bassBoost, 0, sizeof context->bassBoost);
    std::memset(&context->eqBassBoost, 0, sizeof context->eqBassBoost);
    std::memset(&context->fieldRotation, 0, sizeof context->fieldRotation);
    std::memset(&context->audioGain, 0, sizeof context->audioGain);
    std::memset(&context->hardLimiter, 0, sizeof context->hardLimiter);
    std::memset(&context->dynamicLimiter, 0, sizeof context->dynamicLimiter);
    std::memset(&context->digitalReverb, 0, sizeof context->digitalReverb);
}

namespace {
template <typename Block>
UnitSlot slotOf(Block& block, const UnitEntries& entries) {
    return UnitSlot{&block, &block.port, &block.services, &entries};
}
}  // namespace

UnitChain chainOf(DspArray* context) {
    DspArray& c = *context;
    return UnitChain{{slotOf(c.audioFilter, audioFilterUnit), slotOf(c.surround3D, surround3DUnit),
                      slotOf(c.streamCombination, streamCombinationUnit), slotOf(c.realSurround, realSurroundUnit),
                      slotOf(c.bassBoost, bassBoostUnit), slotOf(c.eqBassBoost, eqBassBoostUnit),
                      slotOf(c.fieldRotation, fieldRotationUnit), slotOf(c.audioGain, audioGainUnit),
                      slotOf(c.hardLimiter, hardLimiterUnit), slotOf(c.dynamicLimiter, dynamicLimiterUnit),
                      slotOf(c.digitalReverb, digitalReverbUnit)},
                     c.ports};
}
