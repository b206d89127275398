// The uniform record through which every unit is reached, and the table of a
// unit's entries that chain assembly copies into it.
#pragma once
#include <cstdint>

struct DspServices;

// Every unit entry takes the unit's block and returns a 32-bit result:
// init/quit/update 1 for success (any non-zero), 0 for failure; process the
// number of frames it leaves in its buffer.
typedef int32_t (*UnitEntry)(void* block);
typedef int32_t (*VersionTextEntry)(char* buffer, int32_t capacity);

struct DspPort {
    const char* name;
    const char* author;
    int32_t interfaceVersion;
    VersionTextEntry getVersionText;
    UnitEntry init;
    UnitEntry quit;
    UnitEntry update;
    UnitEntry process;
    void* reserved;
};

extern const char kPortAuthor[];          // "Umbrik304", shared by every unit
constexpr int32_t kPortInterfaceVersion = 2;

// The entry shared by every unit that needs nothing at a stage.
int32_t noOpEntry(void* block);

// Formats the unit version 1.0.1; writes nothing and returns 0 below 16 bytes.
int32_t getVersionText(char* buffer, int32_t capacity);

// What a unit source offers the chain: its constant port template and the
// four entries acquisition writes into the port.
//
// A unit whose update does heavy work that is safe to run beside its own
// process call (the FFT equaliser's design) splits it: `captureUpdate` is the
// short part that must not overlap process (run under the chain guard) and
// `finishUpdate` the long part run after the guard is released. `update`
// remains the whole thing for callers that need no guard.
struct UnitEntries {
    const DspPort* portTemplate;
    UnitEntry init;
    UnitEntry quit;
    UnitEntry update;
    UnitEntry process;
    UnitEntry captureUpdate;   // optional
    UnitEntry finishUpdate;    // optional, present exactly when captureUpdate is
};

// Builds a constant port template: entries and reserved are null until the
// port is acquired.
constexpr DspPort makePortTemplate(const char* name) {
    return DspPort{name, kPortAuthor, kPortInterfaceVersion, nullptr,
                   nullptr, nullptr, nullptr, nullptr, nullptr};
}
