// Runs a whole signal through a loaded module's sample entry, block by block
// as a player would, and collects exactly the frames it returns.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "host/winamp_dsp.h"
#include "tests/support/test_signal.h"

inline std::vector<int16_t> renderThroughModule(winampDSPModule* module, const std::vector<int16_t>& input,
                                                int32_t sampleRate) {
    std::vector<int16_t> output;
    output.reserve(input.size());
    std::vector<int16_t> block;
    const size_t totalFrames = input.size() / 2;
    size_t position = 0;
    for (int32_t call = 0; position < totalFrames; ++call) {
        size_t frames = std::min<size_t>(static_cast<size_t>(testBlockSize(call)), totalFrames - position);
        block.assign(input.begin() + 2 * position, input.begin() + 2 * (position + frames));
        int32_t produced =
            module->ModifySamples(module, block.data(), static_cast<int32_t>(frames), 16, 2, sampleRate);
        if (produced < 0) produced = 0;
        if (static_cast<size_t>(produced) > frames) produced = static_cast<int32_t>(frames);
        output.insert(output.end(), block.begin(), block.begin() + 2 * produced);
        position += frames;
    }
    return output;
}

// The renders compared between the two builds.
struct CrossBuildCase {
    const char* name;
    bool everyStage;  // enable words 0..3 at 1 and word 15 at 38
};
inline const CrossBuildCase kCrossBuildCases[] = {{"defaults", false}, {"every-stage", true}};
constexpr int32_t kCrossBuildFrames = 5 * 44100;
