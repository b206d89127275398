// A start-up from a fuzzed settings file, then the sample entry with a
// fuzzed format, frame count, sample rate and contents.
//
// Input layout: 2 bytes settings length L (little-endian, at most 136), L
// bytes of settings file, 16 bytes of bits, channels, rate and frames
// (int32 each), then the sample bytes (repeated to fill the block).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/context.h"
#include "host/lifecycle.h"
#include "platform/platform.h"

namespace {

int32_t readInt32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t settingsLength = static_cast<size_t>(data[0] | data[1] << 8);
    if (settingsLength > 136) settingsLength = 136;
    if (size < 2 + settingsLength + 16) return 0;
    const uint8_t* settings = data + 2;
    const uint8_t* format = settings + settingsLength;
    const uint8_t* samples = format + 16;
    size_t sampleBytes = size - (2 + settingsLength + 16);

    static const std::string directory = [] {
        char pattern[] = "/tmp/brimwell-fuzz-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    static const std::string library = directory + "/dsp_brimwell.so";
    static const std::string settingsPath = directory + "/QELTA.cfg";
    platform::overrideModulePath(library.c_str());
    if (std::FILE* file = std::fopen(settingsPath.c_str(), "wb")) {
        if (settingsLength > 0) std::fwrite(settings, 1, settingsLength, file);
        std::fclose(file);
    }

    winampDSPModule* module = winampDSPGetHeader2()->getModule(0);
    module->Init(module);
    int32_t bits = readInt32(format), channels = readInt32(format + 4);
    int32_t rate = readInt32(format + 8), frames = readInt32(format + 12);
    // The player always hands a buffer that holds the frames it announces;
    // keep the announced size within what this harness allocates.
    if (frames > 9000) frames %= 9001;
    int64_t bytesPerFrame = bits > 0 && bits <= 64 && channels > 0 && channels <= 16
                                ? (static_cast<int64_t>(bits) + 7) / 8 * channels
                                : 4;
    std::vector<uint8_t> block(static_cast<size_t>((frames > 0 ? frames : 0) * bytesPerFrame + 8));
    for (size_t i = 0; i < block.size(); ++i) block[i] = sampleBytes ? samples[i % sampleBytes] : 0;
    for (int call = 0; call < 3; ++call) {
        int32_t produced = module->ModifySamples(module, reinterpret_cast<int16_t*>(block.data()), frames, bits,
                                                 channels, rate);
        if (produced > frames || (frames >= 0 && produced < 0)) __builtin_trap();
    }
    module->Quit(module);
    return 0;
}
