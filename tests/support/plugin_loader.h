// Loads the built plug-in library the way the player does: through its one
// exported function.
#pragma once
#include <string>

#include "host/winamp_dsp.h"

struct LoadedPlugin {
    void* library = nullptr;
    winampDSPHeader* header = nullptr;
    winampDSPModule* module = nullptr;

    LoadedPlugin() = default;
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;
    ~LoadedPlugin();

    // Opens `path` (default: the plug-in built beside the tests); false with
    // a message in `error` on failure.
    bool load(const std::string& path = BRIMWELL_PLUGIN_PATH, std::string* error = nullptr);
};

// A fresh private copy of the plug-in in `directory`, so that its settings
// file lives there (the library derives the path from itself).
std::string copyPluginInto(const std::string& directory);

// A new empty directory under the system's temporary directory.
std::string makeTempDirectory();
