#include "units/bass_boost.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "fft/fft_convolver.h"
#include "framework/numeric.h"
#include "framework/portable_math.h"

struct BassBoostState {
    float line[2 * kConvolverDelay];  // main-stream delay, interleaved stereo
    int32_t linePosition;             // next float of `line` to give back
    // Set by update, applied by the next process call: a reset of the engine
    // and of the line together, on the playback thread, between two pieces.
    std::atomic<bool> resetRequested;
    // The design update captured and finishUpdate carries out. Processing
    // never takes either lock.
    std::mutex requestMutex;
    std::mutex finishMutex;  // one design at a time, always of the latest request
    bool requestPending;
    float requestGains0[11];
    float requestGains1[11];
    float requestRate;
};

namespace {

const DspPort portTemplate = makePortTemplate("BASS Boost Audio DSP");

// Full scale 1.0 for the engine, and back to the 16-bit scale.
const float kToEngine = 3.0517578125e-05f;  // 2^-15
const float kFromEngine = 32768.0f;
// More frames than this cannot be counted in 32-bit floats of stereo.
constexpr int32_t kMaxFrames = INT32_MAX / 2;

BassBoostBlock* unitOf(void* block) { return static_cast<BassBoostBlock*>(block); }

float bandGain(int64_t v) {
    if (v <= 50) return narrowToFloat(static_cast<double>(v) / 50.0);
    return narrowToFloat(portablePow(10.0, static_cast<double>(v - 50) / 50.0 * 12.0 / 20.0));
}

void clearLine(BassBoostState* state) {
    std::memset(state->line, 0, sizeof state->line);
    state->linePosition = 0;
}

void deriveGains(BassBoostBlock* unit) {
    ComputeBandGains(unit->bass, unit->treble, unit->gains0);
    std::memcpy(unit->gains1, unit->gains0, sizeof unit->gains1);
}

int32_t init(void* block) {
    BassBoostBlock* unit = unitOf(block);
    if (unit->engine == nullptr) unit->engine = FftConvolverCreate();
    if (unit->engine == nullptr) return 0;
    if (unit->state == nullptr) unit->state = new (std::nothrow) BassBoostState();
    if (unit->state == nullptr) return 0;
    clearLine(unit->state);
    unit->state->resetRequested.store(false);
    DeriveBandGains(unit);
    return 1;
}

// The part of update that must not overlap processing (the chain guard is
// held): the gains, and what the design will need, captured; the reset
// handed to the next processing call.
int32_t captureUpdate(void* block) {
    BassBoostBlock* unit = unitOf(block);
    deriveGains(unit);
    BassBoostState* state = unit->state;
    if (state == nullptr) return 1;
    state->resetRequested.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> request(state->requestMutex);
    std::memcpy(state->requestGains0, unit->gains0, sizeof state->requestGains0);
    std::memcpy(state->requestGains1, unit->gains1, sizeof state->requestGains1);
    state->requestRate = static_cast<float>(unit->sampleRate);
    state->requestPending = true;
    return 1;
}

// The design, outside the guard: it writes only the bank processing is not
// using and publishes it for the next processing call.
int32_t finishUpdate(void* block) {
    BassBoostBlock* unit = unitOf(block);
    BassBoostState* state = unit->state;
    if (state == nullptr || unit->engine == nullptr) return 1;
    std::lock_guard<std::mutex> serial(state->finishMutex);
    float gains0[11];
    float gains1[11];
    float rate;
    {
        std::lock_guard<std::mutex> request(state->requestMutex);
        if (!state->requestPending) return 1;  // an earlier finish designed it already
        std::memcpy(gains0, state->requestGains0, sizeof gains0);
        std::memcpy(gains1, state->requestGains1, sizeof gains1);
        rate = state->requestRate;
        state->requestPending = false;
    }
    FftConvolverDesign(unit->engine, gains0, gains1, rate);
    return 1;
}

int32_t update(void* block) {
    captureUpdate(block);
    return finishUpdate(block);
}

int32_t process(void* block) {
    BassBoostBlock* unit = unitOf(block);
    float* samples = unit->samples;
    const int32_t frames = unit->frames;
    const int32_t channels = unit->channels;
    if (unit->engine == nullptr || samples == nullptr || frames <= 0 || frames > kMaxFrames || channels < 1 ||
        channels > 2)
        return 0;
    BassBoostState* state = unit->state;
    if (state != nullptr && state->resetRequested.exchange(false, std::memory_order_acq_rel)) {
        FftConvolverReset(unit->engine);
        clearLine(state);
    }
    const int32_t count = frames * channels;
    for (int32_t i = 0; i < count; ++i) samples[i] = samples[i] * kToEngine;
    const int32_t n = FftConvolverProcess(unit->engine, channels, samples, frames);
    for (int32_t i = 0; i < n * channels; ++i) samples[i] = samples[i] * kFromEngine;
    return n;
}

int32_t quit(void* block) {
    BassBoostBlock* unit = unitOf(block);
    FftConvolverDestroy(unit->engine);
    unit->engine = nullptr;
    delete unit->state;
    unit->state = nullptr;
    return 1;
}

}  // namespace

void ComputeBandGains(int32_t bass, int32_t treble, float gains[11]) {
    // 64-bit, so that no setting can overflow.
    const int64_t b = bass;
    const int64_t t = treble;
    int64_t v[11];
    v[0] = v[1] = b >= 120 ? static_cast<int64_t>(static_cast<double>(b) * 0.5) : 50;
    v[2] = b >= 120 ? static_cast<int64_t>(static_cast<double>(b) / 6.0) : 50;
    for (int k = 3; k <= 6; ++k) v[k] = 215 - b < 50 ? 215 - b : 50;
    v[7] = (t - 50) / 6 + 50;
    v[8] = (t - 50) / 4 + 50;
    v[9] = (t - 50) / 2 + 50;
    v[10] = t;
    for (int k = 0; k < 11; ++k) gains[k] = bandGain(v[k]);
}

void DeriveBandGains(BassBoostBlock* block) {
    deriveGains(block);
    FftConvolverDesign(block->engine, block->gains0, block->gains1, static_cast<float>(block->sampleRate));
}

void BassBoostAlignMain(BassBoostBlock* block, float* mainSamples, int32_t frames) {
    if (block == nullptr || block->state == nullptr || mainSamples == nullptr || frames <= 0 || frames > kMaxFrames)
        return;
    BassBoostState* state = block->state;
    const int32_t size = 2 * kConvolverDelay;
    int32_t position = state->linePosition;
    for (int32_t i = 0; i < 2 * frames; ++i) {
        float delayed = state->line[position];
        state->line[position] = mainSamples[i];
        mainSamples[i] = delayed;
        if (++position == size) position = 0;
    }
    state->linePosition = position;
}

const UnitEntries bassBoostUnit = {&portTemplate, init, quit, update, process, captureUpdate, finishUpdate};
