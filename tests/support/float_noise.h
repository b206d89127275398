// Full-scale white noise as the chain's float streams carry it: interleaved
// stereo, whole numbers in the 16-bit range.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

inline std::vector<float> fullScaleNoise(int32_t frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<float> samples(2 * static_cast<size_t>(frames));
    for (float& s : samples) s = static_cast<float>(sample(generator));
    return samples;
}
