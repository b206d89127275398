// Start-up and shut-down, over and over, with each allocation of a start-up
// failing in turn: every cycle either starts or reports why, and shut-down
// frees what start-up made (the sanitizer build checks for leaks).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "host/context.h"
#include "host/lifecycle.h"
#include "host/settings.h"
#include "platform/platform.h"
#include "tests/support/alloc_hook.h"
#include "tests/support/plugin_loader.h"
#include "tests/support/test_signal.h"

namespace {

bool isStartupMessage(const std::string& text) {
    return text == "Can't allocate memory space for DSP Array!" ||
           text.rfind("Can't get the port of DSP Array, ", 0) == 0 || text.rfind("Can't INIT DSP Array, ", 0) == 0;
}

void writeSettings(const std::string& path, bool fftEqualiser) {
    DspArray* context = new DspArray();
    ApplyDefaults(context);
    ApplyDefaultSwitchState(context);
    if (fftEqualiser) context->enableFlags.words[kEnableBassBoost] = kBassBoostEnableValue;
    SettingsRecord record = GatherSettings(context);
    delete context;
    ASSERT_EQ(WriteSettingsFile(path.c_str(), &record), kWriteOk);
}

TEST(StartupCycles, EveryFailingAllocationIsReportedAndNothingLeaks) {
    std::string directory = makeTempDirectory();
    std::string library = directory + "/dsp_brimwell.so";
    std::string settings = directory + "/QELTA.cfg";
    platform::overrideModulePath(library.c_str());
    winampDSPModule* module = winampDSPGetHeader2()->getModule(0);
    std::vector<int16_t> block = makeTestSignal(1024);

    int cycles = 0, started = 0, reported = 0;
    enum Settings { kNoFile, kDefaultsFile, kEqualiserFile };
    for (int round = 0; cycles < 1000; ++round) {
        Settings which = static_cast<Settings>(round % 3);
        std::remove(settings.c_str());
        if (which != kNoFile) writeSettings(settings, which == kEqualiserFile);
        // How many allocations a clean start-up makes with these settings.
        alloc_hook::arm(0);
        ASSERT_EQ(module->Init(module), 0);
        long allocations = alloc_hook::disarm();
        module->Quit(module);
        for (long failAt = 1; failAt <= allocations + 1 && cycles < 1000; ++failAt, ++cycles) {
            if (which != kNoFile) writeSettings(settings, which == kEqualiserFile);
            platform::clearRecordedMessages();
            alloc_hook::arm(failAt);
            int32_t result = module->Init(module);
            alloc_hook::disarm();
            auto messages = platform::recordedMessages();
            if (result == 0) {
                ++started;
                EXPECT_TRUE(messages.empty());
            } else {
                ++reported;
                ASSERT_EQ(messages.size(), 1u) << failAt;
                EXPECT_TRUE(isStartupMessage(messages[0].text)) << messages[0].text;
                EXPECT_EQ(messages[0].caption, "Fatal Error");
            }
            // Failed or not, the audio path is safe and shut-down is clean.
            std::vector<int16_t> copy = block;
            int32_t produced = module->ModifySamples(module, copy.data(), 512, 16, 2, 44100);
            EXPECT_GE(produced, 0);
            if (result != 0) {
                EXPECT_EQ(copy, block);
            }
            module->Quit(module);
            EXPECT_EQ(dspContext, nullptr);
        }
    }
    EXPECT_GT(reported, 0);
    EXPECT_GT(started, 0);
    platform::overrideModulePath(nullptr);
}

}  // namespace
