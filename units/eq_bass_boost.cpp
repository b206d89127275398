#include "units/eq_bass_boost.h"

#include <emmintrin.h>

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

// Both channels at once, left and right as double lanes, while both chains
// filter (the case at every rate above twice the high edge); the same
// operations in the same order as FilterSample.
struct StereoBands {
    __m128d lowCoefficient, highCoefficient, lowGain, midGain, highGain;
    __m128d p0, p1, p2, p3, q0, q1, q2, q3, h1, h2, h3;

    StereoBands(const EqBandState& l, const EqBandState& r)
        : lowCoefficient(_mm_set_pd(r.lowCoefficient, l.lowCoefficient)),
          highCoefficient(_mm_set_pd(r.highCoefficient, l.highCoefficient)),
          lowGain(_mm_set_pd(r.lowGain, l.lowGain)),
          midGain(_mm_set_pd(r.midGain, l.midGain)),
          highGain(_mm_set_pd(r.highGain, l.highGain)),
          p0(_mm_set_pd(r.p0, l.p0)), p1(_mm_set_pd(r.p1, l.p1)), p2(_mm_set_pd(r.p2, l.p2)),
          p3(_mm_set_pd(r.p3, l.p3)), q0(_mm_set_pd(r.q0, l.q0)), q1(_mm_set_pd(r.q1, l.q1)),
          q2(_mm_set_pd(r.q2, l.q2)), q3(_mm_set_pd(r.q3, l.q3)), h1(_mm_set_pd(r.h1, l.h1)),
          h2(_mm_set_pd(r.h2, l.h2)), h3(_mm_set_pd(r.h3, l.h3)) {}

    __m128d filter(__m128d x) {
        const __m128d tiny = _mm_set1_pd(kTiny);
        p0 = _mm_add_pd(p0, _mm_add_pd(_mm_mul_pd(lowCoefficient, _mm_sub_pd(x, p0)), tiny));
        p1 = _mm_add_pd(p1, _mm_mul_pd(lowCoefficient, _mm_sub_pd(p0, p1)));
        p2 = _mm_add_pd(p2, _mm_mul_pd(lowCoefficient, _mm_sub_pd(p1, p2)));
        p3 = _mm_add_pd(p3, _mm_mul_pd(lowCoefficient, _mm_sub_pd(p2, p3)));
        q0 = _mm_add_pd(q0, _mm_add_pd(_mm_mul_pd(highCoefficient, _mm_sub_pd(x, q0)), tiny));
        q1 = _mm_add_pd(q1, _mm_mul_pd(highCoefficient, _mm_sub_pd(q0, q1)));
        q2 = _mm_add_pd(q2, _mm_mul_pd(highCoefficient, _mm_sub_pd(q1, q2)));
        q3 = _mm_add_pd(q3, _mm_mul_pd(highCoefficient, _mm_sub_pd(q2, q3)));
        const __m128d high = _mm_sub_pd(h3, q3);
        const __m128d mid = _mm_sub_pd(h3, _mm_add_pd(high, p3));
        h3 = h2;
        h2 = h1;
        h1 = x;
        return _mm_add_pd(_mm_add_pd(_mm_mul_pd(mid, midGain), _mm_mul_pd(p3, lowGain)), _mm_mul_pd(high, highGain));
    }

    void store(EqBandState& l, EqBandState& r) const {
        const __m128d* fields[] = {&p0, &p1, &p2, &p3, &q0, &q1, &q2, &q3, &h1, &h2, &h3};
        double* left[] = {&l.p0, &l.p1, &l.p2, &l.p3, &l.q0, &l.q1, &l.q2, &l.q3, &l.h1, &l.h2, &l.h3};
        double* right[] = {&r.p0, &r.p1, &r.p2, &r.p3, &r.q0, &r.q1, &r.q2, &r.q3, &r.h1, &r.h2, &r.h3};
        for (int f = 0; f < 11; ++f) {
            _mm_storel_pd(left[f], *fields[f]);
            _mm_storeh_pd(right[f], *fields[f]);
        }
    }
};

void filterStereo(EqBandState& left, EqBandState& right, float* samples, int32_t frames) {
    StereoBands bands(left, right);
    for (int32_t i = 0; i < frames; ++i) {
        float* frame = samples + 2 * static_cast<size_t>(i);
        const __m128d x = _mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(frame)));
        _mm_storel_pi(reinterpret_cast<__m64*>(frame), _mm_cvtpd_ps(bands.filter(x)));
    }
    bands.store(left, right);
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
    if (left->lowMode == kChainFilters && left->highMode == kChainFilters && right->lowMode == kChainFilters &&
        right->highMode == kChainFilters) {
        filterStereo(*left, *right, samples, frames);
        return frames;
    }
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
