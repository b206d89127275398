#include "units/real_surround.h"

#include "framework/dsp_services.h"
#include "framework/numeric.h"

namespace {

const DspPort portTemplate = makePortTemplate("Dolby Surround Audio DSP");

constexpr int32_t kLineFloats = static_cast<int32_t>(sizeof(RealSurroundBlock::delayLine) / sizeof(float));
// Frames handled per steady-state step, so that the stored frames plus those
// of one step never exceed the line.
constexpr int32_t kStepFrames = kLineFloats / 2 - kRealSurroundMaxDelay;

// trunc(amount x 800) frames; NaN and negative amounts give no delay, and the
// delay is clamped so that it always fits the line.
int32_t delayFrames(float amount) {
    return truncClamp(static_cast<double>(amount) * 800.0, 0, kRealSurroundMaxDelay, 0);
}

// init and update: an empty line, so the delay restarts from silence.
int32_t reset(void* block) {
    RealSurroundBlock* unit = static_cast<RealSurroundBlock*>(block);
    unit->storedCount = 0;
    for (float& slot : unit->delayLine) slot = 0.0f;
    return 1;
}

int32_t quit(void* block) {
    static_cast<RealSurroundBlock*>(block)->storedCount = 0;
    return 1;
}

// Moves `count` floats from `from` to the front of the line (from >= 0).
void moveToFront(RealSurroundBlock& unit, int32_t from, int32_t count) {
    if (count <= 0 || from == 0) return;
    unit.services->copy(unit.delayLine, unit.delayLine + from, count * static_cast<int32_t>(sizeof(float)));
}

// Makes the line hold exactly `delay` frames: silence is added after what is
// stored (after a reset that is the whole delay), and when the delay was
// shortened without a reset the oldest frames are dropped.
void holdExactly(RealSurroundBlock& unit, int32_t delay) {
    int32_t stored = unit.storedCount;
    if (stored < 0 || stored > kLineFloats || stored % 2 != 0) stored = 0;
    const int32_t wanted = 2 * delay;
    if (stored > wanted) {
        moveToFront(unit, stored - wanted, wanted);
    } else {
        for (int32_t i = stored; i < wanted; ++i) unit.delayLine[i] = 0.0f;
    }
    unit.storedCount = wanted;
}

// One step of at most kStepFrames frames with the line holding S floats:
// append the piece's right samples, take the piece's output from the front,
// and move the S floats that remain to the front.
void delayStep(RealSurroundBlock& unit, float* samples, int32_t frames) {
    int32_t stored = unit.storedCount;
    for (int32_t i = 0; i < frames; ++i) {
        unit.delayLine[stored + 1] = samples[2 * i + 1];
        stored += 2;
    }
    for (int32_t i = 0; i < frames; ++i) {
        samples[2 * i + 1] = unit.delayLine[2 * i + 1];
        stored -= 2;
    }
    moveToFront(unit, 2 * frames, stored);
    unit.storedCount = stored;
}

int32_t process(void* block) {
    RealSurroundBlock* unit = static_cast<RealSurroundBlock*>(block);
    const int32_t frames = unit->frames;
    float* samples = unit->samples;
    const int32_t delay = delayFrames(unit->amount);
    if (delay == 0) {
        // Nothing is delayed; forget what was stored so that a later delay
        // starts from silence rather than from stale audio.
        unit->storedCount = 0;
        return frames;
    }
    if (frames <= 0 || samples == nullptr || unit->services == nullptr) return frames;

    if (unit->storedCount != 2 * delay) holdExactly(*unit, delay);
    for (int32_t done = 0; done < frames; done += kStepFrames) {
        const int32_t step = frames - done < kStepFrames ? frames - done : kStepFrames;
        delayStep(*unit, samples + 2 * done, step);
    }
    return frames;
}

}  // namespace

const UnitEntries realSurroundUnit = {&portTemplate, reset, quit, reset, process, nullptr, nullptr};
