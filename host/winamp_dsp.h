// The player's DSP plug-in interface: the header record the one export
// returns and the module record it leads to, in the published field order.
// Every entry uses the C calling convention.
#pragma once
#include <cstdint>

#include "platform/platform.h"

#if defined(_WIN32)
#define BRIMWELL_EXPORT extern "C" __declspec(dllexport)
#define BRIMWELL_CDECL __cdecl
#else
#define BRIMWELL_EXPORT extern "C" __attribute__((visibility("default")))
#define BRIMWELL_CDECL
#endif

struct winampDSPModule {
    const char* description;
    platform::WindowHandle hwndParent;   // filled by the player before init
    platform::ModuleHandle hDllInstance; // filled by the player before init
    void(BRIMWELL_CDECL* Config)(winampDSPModule* module);
    int32_t(BRIMWELL_CDECL* Init)(winampDSPModule* module);
    int32_t(BRIMWELL_CDECL* ModifySamples)(winampDSPModule* module, int16_t* samples, int32_t frames,
                                           int32_t bitsPerSample, int32_t channels, int32_t sampleRate);
    void(BRIMWELL_CDECL* Quit)(winampDSPModule* module);
    void* userData;
};

struct winampDSPHeader {
    int32_t version;  // 0x20
    const char* description;
    winampDSPModule*(BRIMWELL_CDECL* getModule)(int32_t index);
};

constexpr int32_t kDspHeaderVersion = 0x20;

typedef winampDSPHeader*(BRIMWELL_CDECL* GetHeaderEntry)();
BRIMWELL_EXPORT winampDSPHeader* BRIMWELL_CDECL winampDSPGetHeader2();
