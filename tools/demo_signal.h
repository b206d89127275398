// The built-in test signal of brimwell-render --demo: eight seconds of
// music-like stereo material, generated the same way on every run.
#pragma once
#include <cstdint>
#include <vector>

namespace demo {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kFrames = 8 * kSampleRate;

// Interleaved 16-bit stereo, left first, kFrames frames: a bass line, a
// chord pad that drifts across the stereo field, kick, snare and hi-hats.
std::vector<int16_t> demoSignal();

}  // namespace demo
