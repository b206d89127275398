// Plays blocks through the sample entry on one thread while another works
// the panel as a user would and a third reads the meters, in the spirit of a
// plug-in validator. Bounded by time (--seconds, default 5) and by count
// (--max-blocks). Reports the blocks and parameter changes made and the
// longest time the playback thread waited for the other threads.
//
//   stress_harness [--seconds N] [--max-blocks N] [--seed N]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/context.h"
#include "host/lifecycle.h"
#include "host/settings.h"
#include "platform/platform.h"
#include "tests/support/plugin_loader.h"
#include "ui/panel_ids.h"
#include "ui/panel_logic.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    double seconds = 5.0;
    long maxBlocks = 100000000;
    unsigned seed = 1;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        if (arg == "--seconds")
            options.seconds = std::atof(argv[++i]);
        else if (arg == "--max-blocks")
            options.maxBlocks = std::atol(argv[++i]);
        else if (arg == "--seed")
            options.seed = static_cast<unsigned>(std::atol(argv[++i]));
        else
            return false;
    }
    return options.seconds > 0 && options.maxBlocks > 0;
}

std::atomic<bool> stopping{false};
std::atomic<long> failures{0};

void fail(const char* what, long detail) {
    if (failures.fetch_add(1) < 20) std::fprintf(stderr, "FAIL %s (%ld)\n", what, detail);
}

struct PlaybackCounts {
    std::atomic<long> blocks{0};  // also read by the panel thread
    long processed = 0, passedThrough = 0, frames = 0;
};

// One thread: blocks of random sizes, rates and now and then another format.
void playback(winampDSPModule* module, unsigned seed, long maxBlocks, PlaybackCounts& counts) {
    std::mt19937 random(seed);
    const int32_t rates[] = {8000, 11025, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};
    const int32_t absurdRates[] = {1, 7, 799, 801, 1000000, 0, -44100};
    std::vector<int16_t> block(20000 * 6 + 16), original;
    while (!stopping.load(std::memory_order_relaxed) && counts.blocks < maxBlocks) {
        int32_t frames = static_cast<int32_t>(random() % 20001);
        if (random() % 8 == 0) frames = static_cast<int32_t>(random() % 600);
        int32_t rate = random() % 50 == 0 ? absurdRates[random() % 7] : rates[random() % 10];
        int32_t bits = 16, channels = 2;
        switch (random() % 40) {
            case 0: bits = 8; break;
            case 1: bits = 24; break;
            case 2: channels = 1; break;
            case 3: channels = 6; break;
            default: break;
        }
        size_t samples = static_cast<size_t>(frames) * static_cast<size_t>(channels) * (bits == 24 ? 2 : 1);
        for (size_t i = 0; i < samples; ++i) block[i] = static_cast<int16_t>(random());
        bool supported = bits == 16 && channels == 2 && rate > 0;
        if (!supported) original.assign(block.begin(), block.begin() + static_cast<long>(samples));
        int32_t produced = module->ModifySamples(module, block.data(), frames, bits, channels, rate);
        if (produced < 0 || produced > frames) fail("frame count out of range", produced);
        if (!supported) {
            if (produced != frames) fail("pass-through changed the frame count", produced);
            if (!std::equal(original.begin(), original.end(), block.begin())) fail("pass-through changed samples", frames);
            ++counts.passedThrough;
        } else {
            ++counts.processed;
        }
        counts.frames += produced;
        ++counts.blocks;
        if (random() % 4 == 0) std::this_thread::yield();
    }
}

// Another thread: reads the meters as the panel's timer would.
void meterReader(long& reads) {
    while (!stopping.load(std::memory_order_relaxed)) {
        {
            ChainLock lock(contextGuard());
            if (dspContext != nullptr) {
                int32_t left = dspContext->meterLeft, right = dspContext->meterRight;
                if (left < 0 || left > 32768 || right < 0 || right > 32768) fail("meter out of range", left);
            }
        }
        ++reads;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string writeSettings(const std::string& directory, const char* name, bool fftEqualiser, bool valid) {
    std::string path = directory + "/" + name;
    DspArray* context = new DspArray();
    ApplyDefaults(context);
    ApplyDefaultSwitchState(context);
    if (fftEqualiser) context->enableFlags.words[kEnableBassBoost] = kBassBoostEnableValue;
    context->enableFlags.words[kEnableHardLimiter] = 1;
    SettingsRecord record = GatherSettings(context);
    delete context;
    WriteSettingsFile(path.c_str(), &record);
    if (!valid) {
        if (std::FILE* file = std::fopen(path.c_str(), "r+b")) {
            std::fputc(0, file);  // breaks the magic
            std::fclose(file);
        }
    }
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: stress_harness [--seconds N] [--max-blocks N] [--seed N]\n");
        return 2;
    }
    std::string directory = makeTempDirectory();
    std::string library = directory + "/dsp_brimwell.so";
    platform::overrideModulePath(library.c_str());
    std::string plainFile = writeSettings(directory, "plain.cfg", false, true);
    std::string equaliserFile = writeSettings(directory, "equaliser.cfg", true, true);
    std::string brokenFile = writeSettings(directory, "broken.cfg", false, false);

    winampDSPModule* module = winampDSPGetHeader2()->getModule(0);
    if (module->Init(module) != 0) {
        std::fprintf(stderr, "init failed\n");
        return 1;
    }
    platform::WindowHandle panel = dspContext->panel;
    contextGuard().resetPlaybackWait();

    PlaybackCounts counts;
    long meterReads = 0;
    std::thread player(playback, module, options.seed, options.maxBlocks, std::ref(counts));
    std::thread meters(meterReader, std::ref(meterReads));

    // This thread is the user-interface thread: it works the panel.
    const int sliders[] = {kFieldSurroundSlider, kRealSurroundSlider, kBassSlider,     kSoftSlider,
                           kRotationSlider,      kGainLeftSlider,     kGainRightSlider, kLimitLeftSlider,
                           kLimitRightSlider,    kRoomSizeSlider,     kWetSlider,       kDrySlider,
                           kReverbWidthSlider};
    const int boxes[] = {kSuperBassBox, kReverbBox,   kRotationBox,  kHardLimiterBox,
                         kPowerOnBox,   kGainLinkBox, kLimitLinkBox, kShowAtStartupBox};
    std::mt19937 random(options.seed * 7919u + 1);
    long parameterChanges = 0, clicks = 0, loads = 0, defaults = 0, timerTicks = 0;
    const auto deadline = Clock::now() + std::chrono::duration<double>(options.seconds);
    auto send = [&](uint32_t message, uintptr_t wParam, platform::WindowHandle control) {
        platform::standInSend(panel, message, wParam, reinterpret_cast<intptr_t>(control));
    };
    // The longest each kind of panel action took (an upper bound on how long
    // it held the guard): sliders, boxes, timer, Load Config, Default.
    double longestAction[5] = {0, 0, 0, 0, 0};
    while (Clock::now() < deadline && counts.blocks < options.maxBlocks) {
        unsigned action = random() % 100;
        int kind = action < 60 ? 0 : action < 88 ? 1 : action < 93 ? 2 : action < 98 ? 3 : 4;
        auto actionStart = Clock::now();
        if (action < 60) {
            int id = sliders[random() % 13];
            platform::StandInControl control = platform::standInControl(panel, id);
            int32_t span = control.maximum - control.minimum + 1;
            platform::setSliderPosition(panel, id, control.minimum + static_cast<int32_t>(random() % static_cast<unsigned>(span)));
            send(platform::kMsgHScroll, 5, platform::dialogItem(panel, id));
            ++parameterChanges;
        } else if (action < 88) {
            int id = boxes[random() % 8];
            platform::setCheck(panel, id, platform::checkState(panel, id) != platform::CheckState::Checked);
            send(platform::kMsgCommand, static_cast<uintptr_t>(id), platform::dialogItem(panel, id));
            ++clicks;
            // Keep processing on most of the time.
            if (id == kPowerOnBox && dspContext->powerOn == 0 && random() % 2) {
                platform::setCheck(panel, id, true);
                send(platform::kMsgCommand, static_cast<uintptr_t>(id), platform::dialogItem(panel, id));
            }
        } else if (action < 93) {
            send(platform::kMsgTimer, 1, nullptr);
            ++timerTicks;
        } else if (action < 98) {
            const std::string* files[] = {&plainFile, &equaliserFile, &brokenFile};
            platform::standInAnswerFileDialog(files[random() % 3]->c_str());
            send(platform::kMsgCommand, kLoadConfigButton, platform::dialogItem(panel, kLoadConfigButton));
            ++loads;
            ++parameterChanges;
        } else {
            send(platform::kMsgCommand, kDefaultButton, platform::dialogItem(panel, kDefaultButton));
            ++defaults;
            ++parameterChanges;
        }
        double took = std::chrono::duration<double, std::milli>(Clock::now() - actionStart).count();
        if (took > longestAction[kind]) longestAction[kind] = took;
        if (random() % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stopping.store(true);
    player.join();
    meters.join();
    module->Quit(module);

    double longestWaitMs = static_cast<double>(contextGuard().longestPlaybackWait()) / 1e6;
    std::printf("blocks %ld (processed %ld, passed through %ld), frames out %ld\n", counts.blocks.load(), counts.processed,
                counts.passedThrough, counts.frames);
    std::printf("parameter changes %ld, box clicks %ld, loads %ld, defaults %ld, timer ticks %ld, meter reads %ld\n",
                parameterChanges, clicks, loads, defaults, timerTicks, meterReads);
    std::printf("longest playback wait %.3f ms\n", longestWaitMs);
    std::printf("longest panel action (ms): slider %.3f, box %.3f, timer %.3f, load %.3f, default %.3f\n",
                longestAction[0], longestAction[1], longestAction[2], longestAction[3], longestAction[4]);
    long failed = failures.load();
    std::printf("%d passed, %d failed\n", failed == 0 ? 1 : 0, failed == 0 ? 0 : 1);
    return failed == 0 ? 0 : 1;
}
