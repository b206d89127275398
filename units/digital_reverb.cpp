#include "units/digital_reverb.h"

#include <emmintrin.h>

#include "units/reverb_engine.h"

namespace {

const DspPort portTemplate = makePortTemplate("Digital Reverb Audio DSP");

// Frames per engine call: the longest piece the pipeline passes. Longer
// calls are taken in steps of this size.
constexpr int32_t kWorkFrames = 4096;
constexpr double kOutputScale = static_cast<double>(0.5999f);

// Scales the block's 0..1 parameters into the engine's ranges.
void applyParameters(const DigitalReverbBlock& unit, CReverbEngine& engine) {
    engine.setDamp(static_cast<float>(static_cast<double>(unit.damping) * static_cast<double>(0.4f)));
    engine.setDry(static_cast<float>(static_cast<double>(unit.dry) * 2.0));
    // Room size 0..1 becomes a comb feedback of 0.7..0.98.
    engine.setRoomSize(static_cast<float>(static_cast<double>(unit.roomSize) * static_cast<double>(0.28f) +
                                          static_cast<double>(0.7f)));
    engine.setWet(static_cast<float>(static_cast<double>(unit.wet) * 3.0));
    engine.setWidth(unit.width);
    engine.setMode(unit.freeze);
    engine.Update();
}

int32_t init(void* block) {
    DigitalReverbBlock* unit = static_cast<DigitalReverbBlock*>(block);
    CReverbEngine* engine = CReverbEngine::create();
    if (engine == nullptr) return 0;
    applyParameters(*unit, *engine);
    unit->engine = engine;
    return 1;
}

// The delay lines are kept: the tail goes on with the new settings.
int32_t update(void* block) {
    DigitalReverbBlock* unit = static_cast<DigitalReverbBlock*>(block);
    if (unit->engine == nullptr) return 0;
    applyParameters(*unit, *unit->engine);
    return 1;
}

int32_t quit(void* block) {
    DigitalReverbBlock* unit = static_cast<DigitalReverbBlock*>(block);
    delete unit->engine;
    // Cleared so that a second quit, or a process after quit, finds nothing.
    unit->engine = nullptr;
    return 1;
}

int32_t process(void* block) {
    DigitalReverbBlock* unit = static_cast<DigitalReverbBlock*>(block);
    CReverbEngine* engine = unit->engine;
    const int32_t frames = unit->frames;
    float* samples = unit->samples;
    if (engine == nullptr || frames <= 0 || samples == nullptr) return frames;

    float inputLeft[kWorkFrames];
    float inputRight[kWorkFrames];
    float outputLeft[kWorkFrames];
    float outputRight[kWorkFrames];
    for (int32_t done = 0; done < frames; done += kWorkFrames) {
        const int32_t count = frames - done < kWorkFrames ? frames - done : kWorkFrames;
        float* piece = samples + 2 * done;
        int32_t i = 0;
        for (; i + 4 <= count; i += 4) {
            const __m128 a = _mm_loadu_ps(piece + 2 * i);
            const __m128 b = _mm_loadu_ps(piece + 2 * i + 4);
            _mm_storeu_ps(inputLeft + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
            _mm_storeu_ps(inputRight + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        }
        for (; i < count; ++i) {
            inputLeft[i] = piece[2 * i];
            inputRight[i] = piece[2 * i + 1];
        }
        engine->Process(inputLeft, inputRight, outputLeft, outputRight, count);
        // The scaling applies to the direct part too. One product of two
        // floats rounds to the same float in single precision as in double.
        const __m128 scale = _mm_set1_ps(static_cast<float>(kOutputScale));
        for (i = 0; i + 4 <= count; i += 4) {
            const __m128 l = _mm_mul_ps(_mm_loadu_ps(outputLeft + i), scale);
            const __m128 r = _mm_mul_ps(_mm_loadu_ps(outputRight + i), scale);
            _mm_storeu_ps(piece + 2 * i, _mm_unpacklo_ps(l, r));
            _mm_storeu_ps(piece + 2 * i + 4, _mm_unpackhi_ps(l, r));
        }
        for (; i < count; ++i) {
            piece[2 * i] = static_cast<float>(static_cast<double>(outputLeft[i]) * kOutputScale);
            piece[2 * i + 1] = static_cast<float>(static_cast<double>(outputRight[i]) * kOutputScale);
        }
    }
    return frames;
}

}  // namespace

const UnitEntries digitalReverbUnit = {&portTemplate, init, quit, update, process, nullptr, nullptr};
