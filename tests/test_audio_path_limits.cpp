// The audio path with every stage on, on a thread with a 256 KiB stack, at
// blocks of 20000 frames: no overflow, and no heap allocation after the
// first block.
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <vector>

#include "host/context.h"
#include "host/lifecycle.h"
#include "platform/platform.h"
#include "tests/support/alloc_hook.h"
#include "tests/support/plugin_loader.h"
#include "tests/support/test_signal.h"

namespace {

struct PlaybackRun {
    winampDSPModule* module;
    int blocks;
    long allocationsAfterFirst = -1;
    long framesOut = 0;
};

void* playback(void* argument) {
    PlaybackRun* run = static_cast<PlaybackRun*>(argument);
    std::vector<int16_t> signal = makeTestSignal(20000 * 4);
    std::vector<int16_t> block(signal.begin(), signal.begin() + 40000);
    run->framesOut += run->module->ModifySamples(run->module, block.data(), 20000, 16, 2, 44100);
    alloc_hook::arm(0);
    for (int i = 1; i < run->blocks; ++i) {
        std::copy(signal.begin() + 40000 * (i % 4), signal.begin() + 40000 * (i % 4 + 1), block.begin());
        run->framesOut += run->module->ModifySamples(run->module, block.data(), 20000, 16, 2, 44100);
    }
    run->allocationsAfterFirst = alloc_hook::disarm();
    return nullptr;
}

TEST(AudioPathLimits, EveryStageOnA256KiBStackWithoutAllocation) {
    std::string directory = makeTempDirectory();
    std::string library = directory + "/dsp_brimwell.so";
    platform::overrideModulePath(library.c_str());
    winampDSPModule* module = winampDSPGetHeader2()->getModule(0);
    ASSERT_EQ(module->Init(module), 0);
    {
        ChainLock lock(contextGuard());
        for (int word = 0; word < 4; ++word) dspContext->enableFlags.words[word] = 1;
        dspContext->enableFlags.words[kEnableBassBoost] = kBassBoostEnableValue;
    }
    PlaybackRun run{module, 12};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, playback, &run), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(run.allocationsAfterFirst, 0);
    EXPECT_EQ(run.framesOut, 12 * 20000 - 255);
    module->Quit(module);
    platform::overrideModulePath(nullptr);
}

}  // namespace
