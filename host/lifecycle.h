// The module's init, configuration and quit entries, and the sample entry.
#pragma once
#include <cstdint>

#include "host/winamp_dsp.h"

int32_t BRIMWELL_CDECL pluginInit(winampDSPModule* module);
void BRIMWELL_CDECL pluginConfig(winampDSPModule* module);
void BRIMWELL_CDECL pluginQuit(winampDSPModule* module);
int32_t BRIMWELL_CDECL ModifySamples(winampDSPModule* module, int16_t* samples, int32_t frames, int32_t bitsPerSample,
                                     int32_t channels, int32_t sampleRate);
