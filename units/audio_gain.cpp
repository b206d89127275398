#include "units/audio_gain.h"

#include <cstddef>

namespace {

const DspPort portTemplate = makePortTemplate("Audio Gain DSP");

// Always interleaved stereo; single-precision products.
int32_t process(void* raw) {
    const AudioGainBlock& b = *static_cast<AudioGainBlock*>(raw);
    if (b.frames <= 0 || b.samples == nullptr) return 0;
    const size_t count = 2 * static_cast<size_t>(b.frames);
    for (size_t i = 0; i < count; i += 2) {
        b.samples[i] = b.samples[i] * b.gainLeft;
        b.samples[i + 1] = b.samples[i + 1] * b.gainRight;
    }
    return b.frames;
}

}  // namespace

const UnitEntries audioGainUnit = {&portTemplate, noOpEntry, noOpEntry, noOpEntry, process, nullptr, nullptr};
