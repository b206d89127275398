// The whole chain through the exported entry, as the player drives it, on the
// deterministic test signal: the stages switch on and off as the enable words
// say, the all-off chain is exactly the fixed stages in their order, and the
// output bits of each configuration are pinned by a checksum.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/dsp_services.h"
#include "host/context.h"
#include "host/pipeline.h"
#include "host/settings.h"
#include "tests/support/plugin_loader.h"
#include "tests/support/render_blocks.h"

namespace {

constexpr int32_t kFrames = 10 * 44100;

uint64_t fnv1a(const std::vector<int16_t>& samples) {
    uint64_t hash = 1469598103934665603ull;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(samples.data());
    for (size_t i = 0; i < samples.size() * 2; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

// Renders the test signal through a private copy of the plug-in started
// with the given enable words 0..3, a rotation of 30 degrees and hard limits
// of 12000 (so that neither stage is the identity), and the defaults for
// everything else.
std::vector<int16_t> render(const int32_t (&words)[4], bool shapedParameters = true) {
    std::string directory = makeTempDirectory();
    std::string library = copyPluginInto(directory);
    DspArray* context = new DspArray();
    ApplyDefaults(context);
    ApplyDefaultSwitchState(context);
    for (int w = 0; w < 4; ++w) context->enableFlags.words[w] = words[w];
    if (shapedParameters) {
        context->fieldRotation.angleDegrees = 30.0f;
        context->hardLimiter.limitLeft = 12000.0f;
        context->hardLimiter.limitRight = 12000.0f;
    }
    SettingsRecord record = GatherSettings(context);
    delete context;
    EXPECT_EQ(WriteSettingsFile((directory + "/QELTA.cfg").c_str(), &record), kWriteOk);
    LoadedPlugin plugin;
    EXPECT_TRUE(plugin.load(library));
    plugin.module->hDllInstance = plugin.library;
    EXPECT_EQ(plugin.module->Init(plugin.module), 0);
    std::vector<int16_t> output = renderThroughModule(plugin.module, makeTestSignal(kFrames), 44100);
    plugin.module->Quit(plugin.module);
    return output;
}

TEST(WholeChain, ChecksumsPinTheOutputOfEachConfiguration) {
    struct Case {
        const char* name;
        int32_t words[4];
        uint64_t checksum;
        bool shaped;
    } cases[] = {
        {"the defaults", {1, 1, 1, 0}, 0x593361ea0bd845e0ull, false},
        {"the default switches", {1, 1, 1, 0}, 0x9424d29ac8f3b037ull, true},
        {"no optional stage", {0, 0, 0, 0}, 0x5677da7b763af49aull, true},
        {"EQ only", {1, 0, 0, 0}, 0x60e89005a937fb24ull, true},
        {"reverb only", {0, 1, 0, 0}, 0x59dcbdb8d21307cbull, true},
        {"rotation only", {0, 0, 1, 0}, 0x798f43bb3273f51aull, true},
        {"hard limiter only", {0, 0, 0, 1}, 0xd8215e96d31141c7ull, true},
        {"every stage", {1, 1, 1, 1}, 0x567fcc97ea35898cull, true},
    };
    for (const Case& c : cases) {
        std::vector<int16_t> output = render(c.words, c.shaped);
        EXPECT_EQ(output.size(), 2u * (kFrames - 255)) << c.name;
        std::printf("  %-34s %016llx\n", c.name, static_cast<unsigned long long>(fnv1a(output)));
        EXPECT_EQ(fnv1a(output), c.checksum) << c.name;
    }
}

// A constant through the default chain, worked out by hand: the low band
// settles at 9983 (the crossover's integer arithmetic), the high band and
// with it the reverb die away, the bass EQ multiplies by 3.2, the mix by 0.9,
// the output scaling by 0.9999 and the idle limiter by 0.9979026317596436:
// 9983 x 3.2 x 0.9 x 0.9999 x 0.9979026 = 28687.8.
TEST(WholeChain, AConstantSettlesWhereTheGainsPutIt) {
    std::string directory = makeTempDirectory();
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.load(copyPluginInto(directory)));
    plugin.module->hDllInstance = plugin.library;
    ASSERT_EQ(plugin.module->Init(plugin.module), 0);
    std::vector<int16_t> block(2 * 4096, 10000);
    for (int i = 0; i < 200; ++i) {
        std::fill(block.begin(), block.end(), int16_t{10000});
        ASSERT_GE(plugin.module->ModifySamples(plugin.module, block.data(), 4096, 16, 2, 44100), 0);
    }
    plugin.module->Quit(plugin.module);
    EXPECT_NEAR(block[2 * 4095], 28687.8, 1.5);
    EXPECT_NEAR(block[2 * 4095 + 1], 28687.8, 1.5);
}

TEST(WholeChain, StagesSwitchAsTheirEnableWordsSay) {
    std::vector<int16_t> none = render({0, 0, 0, 0});
    // A word of 2 is not 1: the stage stays off.
    EXPECT_EQ(render({2, 2, 2, 2}), none);
    for (int word = 0; word < 4; ++word) {
        int32_t words[4] = {0, 0, 0, 0};
        words[word] = 1;
        EXPECT_NE(render(words), none) << word;
    }
}

// The chain with every optional stage off, built from the units' own entries
// in the fixed order, must equal what the plug-in produces.
TEST(WholeChain, FixedStagesRunInTheirOrder) {
    DspArray* c = new DspArray();
    DspServices* services = createServices();
    ServiceSettings settings{0, 0, 0, 1};
    services->configure(&settings);
    UnitChain chain = chainOf(c);
    for (const UnitSlot& slot : chain.slots) *const_cast<DspServices**>(slot.services) = services;
    ApplyDefaults(c);
    c->fieldRotation.angleDegrees = 30.0f;
    c->hardLimiter.limitLeft = 12000.0f;
    c->hardLimiter.limitRight = 12000.0f;
    for (const UnitSlot& slot : chain.slots) ASSERT_NE(slot.entries->init(slot.block), 0);

    std::vector<int16_t> input = makeTestSignal(kFrames), expected;
    std::vector<int16_t> piece(8192), low(8192), high(8192);
    std::vector<float> bass(8192), main(8192), out(8192);
    size_t position = 0;
    for (int32_t call = 0; position < static_cast<size_t>(kFrames); ++call) {
        int32_t blockFrames = std::min<int32_t>(testBlockSize(call), kFrames - static_cast<int32_t>(position));
        for (int32_t start = 0; start < blockFrames; start += 4096) {
            int32_t k = std::min(4096, blockFrames - start);
            std::memcpy(piece.data(), input.data() + 2 * (position + start), 4 * static_cast<size_t>(k));
            c->audioFilter = AudioFilterBlock{c->audioFilter.crossoverFrequency, c->audioFilter.q, c->audioFilter.lowPass,
                                              c->audioFilter.highPass, 2, 44100, k, piece.data(), low.data(),
                                              high.data(), nullptr, services};
            int32_t n = audioFilterUnit.process(&c->audioFilter);
            ToFloat(low.data(), bass.data(), n);
            ToFloat(high.data(), main.data(), n);
            c->realSurround.frames = n;
            c->realSurround.samples = main.data();
            n = realSurroundUnit.process(&c->realSurround);
            c->surround3D.frames = n;
            c->surround3D.samples = main.data();
            n = surround3DUnit.process(&c->surround3D);
            c->streamCombination.frames = n;
            c->streamCombination.bassSamples = bass.data();
            c->streamCombination.mainSamples = main.data();
            c->streamCombination.outSamples = out.data();
            n = streamCombinationUnit.process(&c->streamCombination);
            for (int32_t i = 0; i < 2 * n; ++i) out[i] = out[i] * 0.9999f;
            c->audioGain.frames = n;
            c->audioGain.samples = out.data();
            n = audioGainUnit.process(&c->audioGain);
            c->dynamicLimiter.channels = 2;
            c->dynamicLimiter.frames = n;
            c->dynamicLimiter.samples = out.data();
            n = dynamicLimiterUnit.process(&c->dynamicLimiter);
            ToShort(out.data(), piece.data(), n);
            expected.insert(expected.end(), piece.begin(), piece.begin() + 2 * n);
        }
        position += static_cast<size_t>(blockFrames);
    }
    for (const UnitSlot& slot : chain.slots) slot.entries->quit(slot.block);
    delete c;
    EXPECT_EQ(render({0, 0, 0, 0}), expected);
}

}  // namespace
