#include "units/eq_bass_boost.h"

#include "framework/dsp_services.h"
#include "framework/portable_math.h"

// One channel's filter state; the two chain modes (ChainMode) follow the
// fields the filter arithmetic uses.
struct EqBandState {
    int32_t sampleRate;
    double lowCoefficient;
    double p0, p1, p2, p3;
    double highCoefficient;
    double q0, q1, q2, q3;
    double h1, h2, h3;
    double lowGain, midGain, highGain;
    int32_t lowMode;
    int32_t highMode;
};

namespace {

// How one four-stage chain behaves at the current rate.
enum ChainMode : int32_t {
    kChainFilters = 0,  // edge below half the rate: the one-pole stages run
    kChainPassesAll,    // edge at or above half the rate: the whole band lies below it
    kChainPassesNone,   // edge at or below 0 Hz: nothing lies below it
};

const DspPort portTemplate = makePortTemplate("EQ-Bass Boost");

constexpr double kTiny = 2.3283064370807974e-10;  // 1 / 4294967295
constexpr int32_t kWorkFrames = 4096;

// Above half the rate the one-pole coefficient 2 sin(pi f / rate) reaches 2
// and beyond, where the stages stop decaying or diverge; such an edge lies
// above every frequency the signal can hold.
ChainMode chainMode(int32_t frequency, int32_t rate) {
    if (frequency <= 0) return kChainPassesNone;
    if (2 * static_cast<int64_t>(frequency) >= rate) return kChainPassesAll;
    return kChainFilters;
}

double stageCoefficient(int32_t frequency, int32_t rate, ChainMode mode) {
    if (mode != kChainFilters) return 0.0;
    const double ratio = static_cast<double>(frequency) / static_cast<double>(rate);
    return 2.0 * portableSin(ratio * static_cast<double>(3.14159265358979f));
}

void DesignBands(EqBandState* state, const EqBassBoostBlock* unit) {
    *state = EqBandState{};
    const int32_t rate = unit->sampleRate;
    const ChainMode lowMode = chainMode(unit->lowFrequency, rate);
    const ChainMode highMode = chainMode(unit->highFrequency, rate);
    state->lowCoefficient = stageCoefficient(unit->lowFrequency, rate, lowMode);
    state->highCoefficient = stageCoefficient(unit->highFrequency, rate, highMode);
    state->lowMode = lowMode;
    state->highMode = highMode;
    state->sampleRate = rate;
    state->lowGain = unit->lowGain;
    state->midGain = unit->midGain;
    state->highGain = unit->highGain;
}

// The output of a chain in a mode other than kChainFilters, given the input
// delayed by three samples.
double wholeOrNothing(int32_t mode, double delayed) { return mode == kChainPassesAll ? delayed : 0.0; }

double FilterSample(EqBandState* s, double x) {
    double low;
    if (s->lowMode == kChainFilters) {
        const double k = s->lowCoefficient;
        s->p0 = s->p0 + (k * (x - s->p0) + kTiny);
        s->p1 = s->p1 + k * (s->p0 - s->p1);
        s->p2 = s->p2 + k * (s->p1 - s->p2);
        s->p3 = s->p3 + k * (s->p2 - s->p3);
        low = s->p3;
    } else {
        low = wholeOrNothing(s->lowMode, s->h3);
    }
    double belowHigh;
    if (s->highMode == kChainFilters) {
        const double k = s->highCoefficient;
        s->q0 = s->q0 + (k * (x - s->q0) + kTiny);
        s->q1 = s->q1 + k * (s->q0 - s->q1);
        s->q2 = s->q2 + k * (s->q1 - s->q2);
        s->q3 = s->q3 + k * (s->q2 - s->q3);
        belowHigh = s->q3;
    } else {
        belowHigh = wholeOrNothing(s->highMode, s->h3);
    }
    const double high = s->h3 - belowHigh;
    const double mid = s->h3 - (high + low);
    s->h3 = s->h2;
    s->h2 = s->h1;
    s->h1 = x;
    return (mid * s->midGain + low * s->lowGain) + high * s->highGain;
}

// update: redesigns both channels, which clears their history.
int32_t redesign(void* block) {
    EqBassBoostBlock* unit = static_cast<EqBassBoostBlock*>(block);
    if (unit->leftState == nullptr || unit->rightState == nullptr) return 0;
    DesignBands(unit->leftState, unit);
    DesignBands(unit->rightState, unit);
    return 1;
}

// A state that could not be had is left null; quit releases whatever exists.
int32_t init(void* block) {
    EqBassBoostBlock* unit = static_cast<EqBassBoostBlock*>(block);
    DspServices* services = unit->services;
    if (services == nullptr) return 0;
    unit->leftState = static_cast<EqBandState*>(services->alloc(sizeof(EqBandState)));
    unit->rightState = static_cast<EqBandState*>(services->alloc(sizeof(EqBandState)));
    return redesign(unit);
}

int32_t quit(void* block) {
    EqBassBoostBlock* unit = static_cast<EqBassBoostBlock*>(block);
    DspServices* services = unit->services;
    if (services != nullptr) {
        if (unit->leftState != nullptr) services->free(unit->leftState);
        if (unit->rightState != nullptr) services->free(unit->rightState);
    }
    // Cleared so that a second quit, or a process after quit, finds nothing.
    unit->leftState = nullptr;
    unit->rightState = nullptr;
    return 1;
}

int32_t process(void* block) {
    EqBassBoostBlock* unit = static_cast<EqBassBoostBlock*>(block);
    EqBandState* left = unit->leftState;
    EqBandState* right = unit->rightState;
    const int32_t frames = unit->frames;
    if (left == nullptr || right == nullptr) return frames;
    if (unit->sampleRate != left->sampleRate || unit->sampleRate != right->sampleRate) redesign(unit);

    float* samples = unit->samples;
    if (frames <= 0 || samples == nullptr) return frames;
    double work[kWorkFrames][2];
    for (int32_t done = 0; done < frames; done += kWorkFrames) {
        const int32_t count = frames - done < kWorkFrames ? frames - done : kWorkFrames;
        float* piece = samples + 2 * done;
        for (int32_t i = 0; i < count; ++i) {
            work[i][0] = piece[2 * i];
            work[i][1] = piece[2 * i + 1];
        }
        for (int32_t i = 0; i < count; ++i) {
            work[i][0] = FilterSample(left, work[i][0]);
            work[i][1] = FilterSample(right, work[i][1]);
        }
        for (int32_t i = 0; i < count; ++i) {
            piece[2 * i] = static_cast<float>(work[i][0]);
            piece[2 * i + 1] = static_cast<float>(work[i][1]);
        }
    }
    return frames;
}

}  // namespace

const UnitEntries eqBassBoostUnit = {&portTemplate, init, quit, redesign, process, nullptr, nullptr};
