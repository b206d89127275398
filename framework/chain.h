// Chain assembly: acquiring the eleven ports, listing them, and running the
// init, update and quit entries in their fixed orders. The operations work on
// a table of unit slots so that they need not know the context's layout.
#pragma once
#include <cstdint>

#include "framework/dsp_port.h"

struct DspServices;

constexpr int kUnitCount = 11;

// Port indices, which are also the order of the blocks in the context.
enum UnitIndex : int {
    kAudioFilter = 0,
    kSurround3D = 1,
    kStreamCombination = 2,
    kRealSurround = 3,
    kBassBoost = 4,
    kEqBassBoost = 5,
    kFieldRotation = 6,
    kAudioGain = 7,
    kHardLimiter = 8,
    kDynamicLimiter = 9,
    kDigitalReverb = 10,
};

struct UnitSlot {
    void* block;
    DspPort** port;              // the block's own `port` field
    DspServices* const* services; // the block's own `services` field
    const UnitEntries* entries;
};

struct UnitChain {
    UnitSlot slots[kUnitCount];  // by port index
    DspPort** portTable;         // the context's table of kUnitCount ports
};

int acquirePorts(const UnitChain& chain);
void buildPortTable(const UnitChain& chain);
int initAll(const UnitChain& chain);
void updateAll(const UnitChain& chain);
int quitAll(const UnitChain& chain);
void releasePorts(const UnitChain& chain);

// The same walk as updateAll for a caller that holds the chain guard: units
// with a split update only capture here; finishDeferredUpdates, called after
// the guard is released, completes them in the same order.
void updateAllGuarded(const UnitChain& chain);
void finishDeferredUpdates(const UnitChain& chain);

// One unit's update under the guard, and its deferred part afterwards.
void updateUnitGuarded(const UnitChain& chain, int index);
void finishDeferredUpdate(const UnitChain& chain, int index);
