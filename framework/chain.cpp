#include "framework/chain.h"

#include "framework/dsp_services.h"

namespace {

const int acquireOrder[kUnitCount] = {kDynamicLimiter, kAudioFilter,  kHardLimiter, kFieldRotation,
                                      kRealSurround,   kStreamCombination, kSurround3D, kAudioGain,
                                      kBassBoost,      kEqBassBoost,  kDigitalReverb};
// initAll, quitAll and releasePorts share one order.
const int initOrder[kUnitCount] = {kStreamCombination, kRealSurround, kBassBoost,      kEqBassBoost,
                                   kFieldRotation,     kAudioFilter,  kAudioGain,      kHardLimiter,
                                   kDynamicLimiter,    kDigitalReverb, kSurround3D};
const int updateOrder[kUnitCount] = {kAudioFilter,  kEqBassBoost, kStreamCombination, kRealSurround,
                                     kBassBoost,    kFieldRotation, kAudioGain,       kHardLimiter,
                                     kDynamicLimiter, kDigitalReverb, kSurround3D};

bool acquireOne(const UnitSlot& slot) {
    DspServices* services = *slot.services;
    if (services == nullptr) return false;
    void* memory = services->alloc(static_cast<int32_t>(sizeof(DspPort)));
    if (memory == nullptr) return false;
    DspPort* port = static_cast<DspPort*>(memory);
    services->copy(port, slot.entries->portTemplate, static_cast<int32_t>(sizeof(DspPort)));
    port->init = slot.entries->init;
    port->quit = slot.entries->quit;
    port->update = slot.entries->update;
    port->process = slot.entries->process;
    port->getVersionText = getVersionText;
    *slot.port = port;
    return true;
}

// Walks the port table in `order`, calling the entry `pick` selects; returns
// how many calls returned 0. Empty table entries are skipped.
template <typename Pick>
int walkTable(const UnitChain& chain, const int (&order)[kUnitCount], Pick pick) {
    int failures = 0;
    for (int index : order) {
        DspPort* port = chain.portTable[index];
        if (port == nullptr) continue;
        UnitEntry entry = pick(*port);
        if (entry != nullptr && entry(chain.slots[index].block) == 0) ++failures;
    }
    return failures;
}

}  // namespace

int acquirePorts(const UnitChain& chain) {
    int failures = 0;
    for (int index : acquireOrder) {
        const UnitSlot& slot = chain.slots[index];
        *slot.port = nullptr;
        if (!acquireOne(slot)) ++failures;
    }
    return failures;
}

void buildPortTable(const UnitChain& chain) {
    for (int index = 0; index < kUnitCount; ++index) chain.portTable[index] = *chain.slots[index].port;
}

int initAll(const UnitChain& chain) {
    return walkTable(chain, initOrder, [](const DspPort& port) { return port.init; });
}

void updateAll(const UnitChain& chain) {
    walkTable(chain, updateOrder, [](const DspPort& port) { return port.update; });
}

int quitAll(const UnitChain& chain) {
    return walkTable(chain, initOrder, [](const DspPort& port) { return port.quit; });
}

void releasePorts(const UnitChain& chain) {
    for (int index : initOrder) {
        const UnitSlot& slot = chain.slots[index];
        DspServices* services = *slot.services;
        if (services != nullptr) services->free(*slot.port);
        *slot.port = nullptr;
    }
}

void updateUnitGuarded(const UnitChain& chain, int index) {
    if (index < 0 || index >= kUnitCount) return;
    DspPort* port = chain.portTable[index];
    if (port == nullptr) return;
    const UnitSlot& slot = chain.slots[index];
    if (slot.entries->captureUpdate != nullptr)
        slot.entries->captureUpdate(slot.block);
    else if (port->update != nullptr)
        port->update(slot.block);
}

void finishDeferredUpdate(const UnitChain& chain, int index) {
    if (index < 0 || index >= kUnitCount) return;
    if (chain.portTable[index] == nullptr) return;
    const UnitSlot& slot = chain.slots[index];
    if (slot.entries->finishUpdate != nullptr) slot.entries->finishUpdate(slot.block);
}

void updateAllGuarded(const UnitChain& chain) {
    for (int index : updateOrder) updateUnitGuarded(chain, index);
}

void finishDeferredUpdates(const UnitChain& chain) {
    for (int index : updateOrder) finishDeferredUpdate(chain, index);
}
