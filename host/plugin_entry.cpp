// The records the player reaches through the one exported function.
#include "host/lifecycle.h"

namespace {

char description[] = "Brimwell";

winampDSPModule module = {description, nullptr, nullptr, pluginConfig, pluginInit, ModifySamples, pluginQuit,
                          nullptr};

winampDSPModule* BRIMWELL_CDECL getModule(int32_t index) { return index == 0 ? &module : nullptr; }

winampDSPHeader header = {kDspHeaderVersion, description, getModule};

}  // namespace

BRIMWELL_EXPORT winampDSPHeader* BRIMWELL_CDECL winampDSPGetHeader2() { return &header; }
