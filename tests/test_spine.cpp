// The plug-in's entry, records, lifecycle and chain assembly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/chain.h"
#include "framework/dsp_services.h"
#include "host/context.h"
#include "host/lifecycle.h"
#include "platform/platform.h"
#include "tests/support/alloc_hook.h"
#include "tests/support/plugin_loader.h"

namespace {

// A module record as the player fills it before init.
winampDSPModule* playerModule() {
    winampDSPModule* module = winampDSPGetHeader2()->getModule(0);
    module->hwndParent = reinterpret_cast<platform::WindowHandle>(0x1234);
    module->hDllInstance = nullptr;
    return module;
}

class SpineTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = makeTempDirectory();
        libraryPath_ = directory_ + "/dsp_brimwell.so";
        platform::overrideModulePath(libraryPath_.c_str());
        platform::clearRecordedMessages();
    }
    void TearDown() override {
        if (dspContext != nullptr) pluginQuit(playerModule());
        alloc_hook::disarm();
        platform::overrideModulePath(nullptr);
    }
    std::string directory_;
    std::string libraryPath_;
};

TEST_F(SpineTest, HeaderLeadsToOneModule) {
    winampDSPHeader* header = winampDSPGetHeader2();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->version, 0x20);
    EXPECT_STREQ(header->description, "Brimwell");
    winampDSPModule* first = header->getModule(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(header->getModule(0), first);
    EXPECT_EQ(header->getModule(1), nullptr);
    EXPECT_EQ(header->getModule(-1), nullptr);
    EXPECT_STREQ(first->description, "Brimwell");
    EXPECT_EQ(first->userData, nullptr);
    EXPECT_NE(first->Init, nullptr);
    EXPECT_NE(first->Config, nullptr);
    EXPECT_NE(first->ModifySamples, nullptr);
    EXPECT_NE(first->Quit, nullptr);
}

TEST_F(SpineTest, InitWithoutSettingsFileAppliesDefaultsSilently) {
    winampDSPModule* module = playerModule();
    ASSERT_EQ(module->Init(module), 0);
    ASSERT_NE(dspContext, nullptr);
    DspArray& c = *dspContext;
    EXPECT_TRUE(platform::recordedMessages().empty());
    EXPECT_EQ(c.initialised, 1);
    EXPECT_EQ(c.powerOn, 1);
    EXPECT_EQ(c.showAtStartup, 1);
    const int32_t expectedFlags[16] = {1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(std::memcmp(c.enableFlags.words, expectedFlags, sizeof expectedFlags), 0);
    // Exact bits of the defaults.
    struct Expected { float value; uint32_t bits; } floats[] = {
        {c.surround3D.width, 0x3faa3d71}, {c.streamCombination.mainWeightLeft, 0x3f333333},
        {c.realSurround.amount, 0x3e4ccccd}, {c.eqBassBoost.lowGain, 0x404ccccd},
        {c.eqBassBoost.midGain, 0x3f333333}, {c.eqBassBoost.highGain, 0x3f99999a},
        {c.hardLimiter.limitLeft, 0x46fffe00}, {c.digitalReverb.roomSize, 0x3ecccccd},
        {c.digitalReverb.wet, 0x3eb33333}, {c.digitalReverb.dry, 0x3f451eb8},
        {c.digitalReverb.width, 0x3f000000}, {c.audioGain.gainRight, 0x3f800000},
    };
    for (const Expected& e : floats) {
        uint32_t bits;
        std::memcpy(&bits, &e.value, 4);
        EXPECT_EQ(bits, e.bits);
    }
    EXPECT_EQ(c.audioFilter.crossoverFrequency, 400);
    EXPECT_EQ(c.bassBoost.bass, 130);
    EXPECT_EQ(c.bassBoost.treble, 35);
    EXPECT_EQ(c.eqBassBoost.lowFrequency, 120);
    EXPECT_EQ(c.eqBassBoost.highFrequency, 9000);
    // The panel exists, is shown, and its meter timer runs.
    ASSERT_NE(c.panel, nullptr);
    EXPECT_TRUE(platform::standInWindowVisible(c.panel));
    EXPECT_EQ(platform::standInTimers(c.panel), std::vector<uintptr_t>{1});
    // Every port is listed, filled from its template.
    for (int i = 0; i < kUnitCount; ++i) {
        ASSERT_NE(c.ports[i], nullptr);
        EXPECT_EQ(c.ports[i]->interfaceVersion, 2);
        EXPECT_EQ(c.ports[i]->reserved, nullptr);
        EXPECT_STREQ(c.ports[i]->author, "Umbrik304");
        EXPECT_EQ(c.ports[i]->getVersionText, &getVersionText);
    }
    const char* names[kUnitCount] = {"Audio Filter", "3D-Surround Audio DSP", "Stream Combination DSP",
                                     "Dolby Surround Audio DSP", "BASS Boost Audio DSP", "EQ-Bass Boost",
                                     "Field Rotation Audio DSP", "Audio Gain DSP", "Audio Hard Limiter DSP",
                                     "Dynamic Audio Limiter", "Digital Reverb Audio DSP"};
    for (int i = 0; i < kUnitCount; ++i) EXPECT_STREQ(c.ports[i]->name, names[i]);
}

TEST_F(SpineTest, SharedEntriesFollowThePortTable) {
    winampDSPModule* module = playerModule();
    ASSERT_EQ(module->Init(module), 0);
    DspPort** p = dspContext->ports;
    for (int i : {kSurround3D, kFieldRotation, kRealSurround, kHardLimiter}) EXPECT_EQ(p[i]->init, p[i]->update) << i;
    for (int i : {kStreamCombination, kAudioGain}) {
        EXPECT_EQ(p[i]->init, &noOpEntry);
        EXPECT_EQ(p[i]->quit, &noOpEntry);
        EXPECT_EQ(p[i]->update, &noOpEntry);
    }
    for (int i : {kSurround3D, kFieldRotation, kHardLimiter}) EXPECT_EQ(p[i]->quit, &noOpEntry);
    EXPECT_EQ(p[kDynamicLimiter]->update, &noOpEntry);
}

TEST_F(SpineTest, ConfigurationAndQuitWithoutContextDoNothing) {
    winampDSPModule* module = playerModule();
    module->Config(module);
    module->Quit(module);
    EXPECT_EQ(dspContext, nullptr);
}

TEST_F(SpineTest, ContextAllocationFailureIsReported) {
    winampDSPModule* module = playerModule();
    alloc_hook::arm(1);
    EXPECT_EQ(module->Init(module), -1);
    alloc_hook::disarm();
    EXPECT_EQ(dspContext, nullptr);
    auto messages = platform::recordedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Fatal Error");
    EXPECT_EQ(messages[0].text, "Can't allocate memory space for DSP Array!");
    EXPECT_EQ(messages[0].owner, module->hwndParent);
    EXPECT_EQ(messages[0].icon, platform::MessageIcon::Error);
}

TEST_F(SpineTest, SecondInitWithoutQuitShutsDownTheFirst) {
    winampDSPModule* module = playerModule();
    ASSERT_EQ(module->Init(module), 0);
    platform::WindowHandle firstPanel = dspContext->panel;
    ASSERT_EQ(module->Init(module), 0);
    EXPECT_FALSE(platform::standInWindowExists(firstPanel));
    EXPECT_TRUE(platform::standInWindowExists(dspContext->panel));
    EXPECT_EQ(dspContext->initialised, 1);
}

// A chain over a stand-alone context, to count what the operations do.
class ChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = new DspArray();
        services_ = createServices();
        ServiceSettings settings{0, 0, 0, 1};
        services_->configure(&settings);
        context_->services = services_;
        chain_ = chainOf(context_);
        for (const UnitSlot& slot : chain_.slots) *const_cast<DspServices**>(slot.services) = services_;
        ApplyDefaults(context_);
    }
    void TearDown() override {
        alloc_hook::disarm();
        delete context_;
    }
    DspArray* context_ = nullptr;
    DspServices* services_ = nullptr;
    UnitChain chain_{};
};

TEST_F(ChainTest, FailedAcquisitionsAreCountedAndTheWalkContinues) {
    for (long failAt = 1; failAt <= kUnitCount; ++failAt) {
        alloc_hook::arm(failAt);
        EXPECT_EQ(acquirePorts(chain_), 1) << failAt;
        EXPECT_EQ(alloc_hook::disarm(), kUnitCount);
        int present = 0;
        for (const UnitSlot& slot : chain_.slots) present += *slot.port != nullptr;
        EXPECT_EQ(present, kUnitCount - 1);
        // No table was built, so quit visits no unit.
        EXPECT_EQ(quitAll(chain_), 0);
        for (DspPort* port : context_->ports) EXPECT_EQ(port, nullptr);
        releasePorts(chain_);
        for (const UnitSlot& slot : chain_.slots) EXPECT_EQ(*slot.port, nullptr);
    }
    alloc_hook::arm(1, true);
    EXPECT_EQ(acquirePorts(chain_), kUnitCount);
    alloc_hook::disarm();
    // A block without services fails too.
    context_->audioGain.services = nullptr;
    EXPECT_EQ(acquirePorts(chain_), 1);
    releasePorts(chain_);
}

int initCalls[kUnitCount];
int callSequence = 0;
int32_t failingInit(void*) {
    initCalls[callSequence++ % kUnitCount] = 1;
    return 0;
}
int32_t countingInit(void*) {
    initCalls[callSequence++ % kUnitCount] = 1;
    return 1;
}

TEST_F(ChainTest, FailedInitsAreCountedAndTheRestStillRun) {
    ASSERT_EQ(acquirePorts(chain_), 0);
    buildPortTable(chain_);
    for (DspPort* port : context_->ports) port->init = countingInit;
    // The second and fourth in init order: RealSurround and EqBassBoost.
    context_->ports[kRealSurround]->init = failingInit;
    context_->ports[kEqBassBoost]->init = failingInit;
    callSequence = 0;
    std::memset(initCalls, 0, sizeof initCalls);
    EXPECT_EQ(initAll(chain_), 2);
    EXPECT_EQ(callSequence, kUnitCount);
    releasePorts(chain_);
}

TEST(VersionText, NeedsSixteenBytes) {
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getVersionText(buffer, 15), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(getVersionText(buffer, 16), 1);
    EXPECT_STREQ(buffer, "1.0.1");
}

TEST(Services, TableAndModeZeroEntries) {
    DspServices* services = createServices();
    ServiceSettings settings{0, 0, 0, 1};
    EXPECT_EQ(services->configure(&settings), 1);
    ASSERT_NE(services->versionText, nullptr);
    EXPECT_STREQ(services->versionText, "1.1.2");
    EXPECT_EQ(createServices(), services);
    // The overlap the delay-line shift relies on: destination 8 bytes before source.
    unsigned char buffer[64], expected[64];
    for (int i = 0; i < 64; ++i) buffer[i] = expected[i] = static_cast<unsigned char>(i * 7);
    for (int i = 0; i < 48; ++i) expected[i] = expected[i + 8];
    services->copy(buffer, buffer + 8, 48);
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof buffer), 0);
    services->free(nullptr);
    void* block = services->alloc(100);
    ASSERT_NE(block, nullptr);
    services->free(block);
}

}  // namespace
