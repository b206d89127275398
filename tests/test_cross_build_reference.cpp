// Renders the fixed test signal through private copies of the native
// plug-in, checks a second instance gives the same bits, and leaves the
// outputs (and the settings files used) for the Windows build's comparison.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>

#include "host/context.h"
#include "host/settings.h"
#include "tests/support/plugin_loader.h"
#include "tests/support/render_blocks.h"

namespace {

SettingsRecord everyStageRecord() {
    DspArray* context = new DspArray();
    ApplyDefaults(context);
    ApplyDefaultSwitchState(context);
    for (int word = 0; word < 4; ++word) context->enableFlags.words[word] = 1;
    context->enableFlags.words[kEnableBassBoost] = kBassBoostEnableValue;
    SettingsRecord record = GatherSettings(context);
    delete context;
    return record;
}

std::vector<int16_t> renderCase(const CrossBuildCase& c, const std::string& settingsFile) {
    std::string directory = makeTempDirectory();
    std::string library = copyPluginInto(directory);
    if (!settingsFile.empty()) {
        std::ifstream in(settingsFile, std::ios::binary);
        std::ofstream out(directory + "/QELTA.cfg", std::ios::binary);
        out << in.rdbuf();
    }
    LoadedPlugin plugin;
    std::string error;
    EXPECT_TRUE(plugin.load(library, &error)) << error;
    if (plugin.module == nullptr) return {};
    plugin.module->hDllInstance = plugin.library;
    EXPECT_EQ(plugin.module->Init(plugin.module), 0) << c.name;
    std::vector<int16_t> output = renderThroughModule(plugin.module, makeTestSignal(kCrossBuildFrames), 44100);
    plugin.module->Quit(plugin.module);
    return output;
}

TEST(CrossBuildReference, RendersAreRepeatableAndSaved) {
    std::string directory = BRIMWELL_CROSS_BUILD_DIR;
    mkdir(directory.c_str(), 0755);
    for (const CrossBuildCase& c : kCrossBuildCases) {
        std::string settingsFile;
        if (c.everyStage) {
            settingsFile = directory + "/" + c.name + ".cfg";
            SettingsRecord record = everyStageRecord();
            ASSERT_EQ(WriteSettingsFile(settingsFile.c_str(), &record), kWriteOk);
        }
        std::vector<int16_t> first = renderCase(c, settingsFile);
        std::vector<int16_t> second = renderCase(c, settingsFile);
        ASSERT_GT(first.size(), 0u) << c.name;
        EXPECT_EQ(first, second) << c.name;
        std::ofstream out(directory + "/" + c.name + ".raw", std::ios::binary);
        out.write(reinterpret_cast<const char*>(first.data()), static_cast<std::streamsize>(first.size() * 2));
    }
}

}  // namespace
