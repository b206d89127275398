// Stand-in plug-ins for the renderer's error paths. One variant per build:
//   FAKE_PLUGIN_INIT_FAILS  init reports a fatal error and returns -1
//   FAKE_PLUGIN_NO_ENTRY    the library lacks winampDSPGetHeader2
//   FAKE_PLUGIN_SWALLOWS    the sample entry never returns a frame
//   FAKE_PLUGIN_BAD_COUNT   the sample entry returns three times the frames given
//   FAKE_PLUGIN_HANGS       the sample entry never returns (until a signal ends the process)
#include <unistd.h>

#include <cstdio>

#include "host/winamp_dsp.h"

namespace {

int32_t fakeInit(winampDSPModule*) {
#if defined(FAKE_PLUGIN_INIT_FAILS)
    std::fprintf(stderr, "Fatal Error: Can't INIT DSP Array, 2 errors!\n");
    return -1;
#else
    return 0;
#endif
}

int32_t fakeModifySamples(winampDSPModule*, int16_t*, int32_t frames, int32_t, int32_t, int32_t) {
#if defined(FAKE_PLUGIN_SWALLOWS)
    (void)frames;
    return 0;
#elif defined(FAKE_PLUGIN_BAD_COUNT)
    return frames * 3;
#elif defined(FAKE_PLUGIN_HANGS)
    for (;;) pause();
    return frames;
#else
    return frames;
#endif
}

void fakeConfig(winampDSPModule*) {}
void fakeQuit(winampDSPModule*) {}

char description[] = "fake";
winampDSPModule module = {description, nullptr, nullptr, fakeConfig, fakeInit, fakeModifySamples, fakeQuit, nullptr};
winampDSPModule* getModule(int32_t index) { return index == 0 ? &module : nullptr; }
winampDSPHeader header = {kDspHeaderVersion, description, getModule};

}  // namespace

#if defined(FAKE_PLUGIN_NO_ENTRY)
extern "C" __attribute__((visibility("default"))) winampDSPHeader* somethingElse() { return &header; }
#else
BRIMWELL_EXPORT winampDSPHeader* winampDSPGetHeader2() { return &header; }
#endif
