#include "fft/fft_convolver.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "fft/real_fft.h"
#include "framework/numeric.h"
#include "framework/portable_math.h"

namespace {

constexpr int32_t L = kConvolverBlockLength;
constexpr int32_t N = kConvolverFftLength;
constexpr int32_t kCentre = kConvolverCentreTap;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
const float kBandEdges[kConvolverBandCount - 1] = {44, 87, 173, 345, 690, 1379, 2757, 5513, 8372, 11839};

// Floats of each buffer in the one allocation; every buffer starts on 64
// bytes (16 floats), and 16 more floats leave room to align the first.
constexpr size_t kSpectrumFloats = N;
constexpr size_t kInputFloats = (2 * L + 15) / 16 * 16;
constexpr size_t kTotalFloats = 4 * kSpectrumFloats + 2 * N + kInputFloats + 2 * N + 16;

uint32_t packBanks(uint32_t active, uint32_t pending) { return active | pending << 8; }
uint32_t activeOf(uint32_t state) { return state & 0xff; }
uint32_t pendingOf(uint32_t state) { return state >> 8; }

float powerBySquaring(float base, int exponent) {
    float result = 1.0f;
    while (exponent > 0) {
        if (exponent & 1) result = result * base;
        base = base * base;
        exponent >>= 1;
    }
    return result;
}

// One band's part of BandTap, with what LowpassTap forms from the cutoff
// alone worked out once: the same operations in the same order.
struct BandTerm {
    double twoPiCutoff;  // 2 pi x fc
    double scale;        // 2 fc / fs
    double gain;
    bool top;            // the band that reaches the Nyquist frequency
};

double lowpassTerm(const BandTerm& term, int32_t offset, double inverseRate) {
    const float x = narrowToFloat(term.twoPiCutoff * offset * inverseRate);
    if (x == 0.0f) return term.scale;
    return term.scale * portableSin(x) / static_cast<double>(x);
}

// Taps 0..4095 of the centred half (offset n at index n) of the windowed
// response: BandTap(n) x KaiserWindow(n), rounded once, computed exactly as
// BandTap and LowpassTap do. Every step is odd or even in n exactly (-n
// gives exactly -x, and sin(-x)/-x = sin(x)/x), so the negative offsets are
// the same taps; the window depends only on n and was tabulated at creation.
void designHalf(const FftConvolver* e, const float gains[kConvolverBandCount], float sampleRate, float* half) {
    BandNode storage[kConvolverBandCount];
    const BandNode* bands = BuildBandList(e->bandEdges, gains, sampleRate, storage);
    const double inverseRate = 1.0 / static_cast<double>(sampleRate);
    BandTerm terms[kConvolverBandCount];
    int32_t count = 0;
    for (const BandNode* band = bands; band != nullptr; band = band->next) {
        const bool top = count > 0 && (band->next == nullptr || band->upperEdge >= sampleRate * 0.5f);
        terms[count++] = BandTerm{kTwoPi * band->upperEdge, 2.0 * band->upperEdge * inverseRate,
                                  static_cast<double>(band->gain), top};
        if (top) break;
    }
    for (int32_t n = 0; n <= kCentre; ++n) {
        double b = lowpassTerm(terms[0], n, inverseRate);
        double acc = terms[0].gain * b;
        for (int32_t k = 1; k < count; ++k) {
            if (terms[k].top) {
                acc = acc + terms[k].gain * ((n == 0 ? 1.0 : 0.0) - b);
                break;
            }
            double next = lowpassTerm(terms[k], n, inverseRate);
            acc = acc + terms[k].gain * (next - b);
            b = next;
        }
        half[n] = narrowToFloat(acc * static_cast<double>(e->window[n]));
    }
}

// The centred, zero-padded response of one channel, transformed.
bool designSpectrum(const FftConvolver* e, const float gains[kConvolverBandCount], float sampleRate, float* buffer) {
    float half[kCentre + 1];
    designHalf(e, gains, sampleRate, half);
    for (int32_t n = 0; n <= kCentre; ++n) {
        buffer[kCentre + n] = half[n];
        buffer[kCentre - n] = half[n];
    }
    std::memset(buffer + L, 0, sizeof(float) * (N - L));
    return RealFft(N, 1, buffer);
}

// Applies a requested reset; only the processing thread calls this.
void applyReset(FftConvolver* e) {
    if (!e->resetRequested.exchange(false, std::memory_order_acq_rel)) return;
    e->fill = 0;
    std::memset(e->overlapBuffer, 0, sizeof(float) * 2 * N);
}

// Picks up a published design and returns the bank to use for this call.
uint32_t switchToPending(FftConvolver* e) {
    uint32_t state = e->bankState.load(std::memory_order_acquire);
    for (;;) {
        uint32_t pending = pendingOf(state);
        if (pending == 0) return activeOf(state);
        if (e->bankState.compare_exchange_weak(state, packBanks(pending, 0), std::memory_order_acq_rel,
                                               std::memory_order_acquire))
            return pending;
    }
}

// Moves `count` floats of input into the block and the pending output into
// their place in the caller's buffer.
void exchange(float* buffer, float* block, const float* output, int32_t count) {
    for (int32_t j = 0; j < count; ++j) {
        block[j] = buffer[j];
        buffer[j] = output[j];
    }
}

// Filters channel c of the completed block with spectrum h and adds it to
// the overlap buffer.
void filterChannel(FftConvolver* e, int32_t c, int32_t channels, const float* h) {
    float* w = e->workBuffer;
    for (int32_t i = 0; i < L; ++i) w[i] = e->inputBlock[c + i * channels];
    std::memset(w + L, 0, sizeof(float) * (N - L));
    bool transformed = RealFft(N, 1, w);
    if (transformed) {
        w[0] = w[0] * h[0];
        w[1] = w[1] * h[1];
        for (int32_t k = 1; k < N / 2; ++k) {
            double xr = w[2 * k];
            double xi = w[2 * k + 1];
            double hr = h[2 * k];
            double hi = h[2 * k + 1];
            w[2 * k] = narrowToFloat(xr * hr - xi * hi);
            w[2 * k + 1] = narrowToFloat(hi * xr + xi * hr);
        }
        transformed = RealFft(N, -1, w);
    }
    // Without tables (memory gone after a release) the block comes out silent.
    if (!transformed) std::memset(w, 0, sizeof(float) * N);
    const float scale = 1.0f / N;
    float* out = e->overlapBuffer + c;
    for (int32_t i = 0; i < L; ++i) out[i * channels] += (w[i] * scale) * 2.0f;
    for (int32_t i = L; i < N; ++i) out[i * channels] = (w[i] * scale) * 2.0f;
}

}  // namespace

float KaiserBeta(float attenuationDb) {
    double a = attenuationDb;
    if (a <= 21.0) return 0.0f;
    if (a <= 50.0)
        return narrowToFloat(0.5842 * portablePow(a - 21.0, static_cast<double>(0.4f)) + 0.07886 * (a - 21.0));
    return narrowToFloat(0.1102 * (a - 8.7));
}

void FillFactorialTable(float table[16]) {
    table[0] = 1.0f;
    for (int k = 1; k < 16; ++k) table[k] = table[k - 1] * static_cast<float>(k);
}

float BesselI0(float x, const float factorialTable[16]) {
    const float half = x * 0.5f;
    float sum = 1.0f;
    for (int k = 1; k <= 15; ++k) {
        float term = powerBySquaring(half, k) / factorialTable[k];
        sum = sum + term * term;
    }
    return sum;
}

float KaiserWindow(int32_t offset, float beta, float windowNorm, const float factorialTable[16]) {
    const double n = offset;
    const double span = static_cast<double>(L - 1);
    double r = 1.0 - 4.0 * n * n / (span * span);
    if (r < 0.0) r = 0.0;  // outside the window's span
    float argument = narrowToFloat(static_cast<double>(beta) * std::sqrt(r));
    return BesselI0(argument, factorialTable) / windowNorm;
}

double LowpassTap(int32_t offset, float cutoff, float sampleRate) {
    const double inverseRate = 1.0 / static_cast<double>(sampleRate);
    const double scale = 2.0 * cutoff * inverseRate;
    const float x = narrowToFloat(kTwoPi * cutoff * offset * inverseRate);
    if (x == 0.0f) return scale;
    return scale * portableSin(x) / static_cast<double>(x);
}

BandNode* BuildBandList(const float bandEdges[kConvolverBandCount - 1], const float gains[kConvolverBandCount],
                        float sampleRate, BandNode storage[kConvolverBandCount]) {
    for (int32_t i = 0; i < kConvolverBandCount; ++i) {
        storage[i].next = i + 1 < kConvolverBandCount ? &storage[i + 1] : nullptr;
        storage[i].lowerEdge = i == 0 ? 0.0f : bandEdges[i - 1];
        storage[i].upperEdge = i == kConvolverBandCount - 1 ? sampleRate : bandEdges[i];
        storage[i].gain = gains[i];
    }
    return storage;
}

double BandTap(int32_t offset, const BandNode* bands, float sampleRate) {
    const BandNode* band = bands;
    double b = LowpassTap(offset, band->upperEdge, sampleRate);
    double acc = band->gain * b;
    for (band = band->next; band != nullptr; band = band->next) {
        if (band->next == nullptr || band->upperEdge >= sampleRate * 0.5f) {
            double delta = offset == 0 ? 1.0 : 0.0;
            acc = acc + band->gain * (delta - b);
            break;
        }
        double e = LowpassTap(offset, band->upperEdge, sampleRate);
        acc = acc + band->gain * (e - b);
        b = e;
    }
    return acc;
}

void FftConvolverDesignTaps(const FftConvolver* engine, const float gains[kConvolverBandCount], float sampleRate,
                            float taps[kConvolverBlockLength]) {
    float half[kCentre + 1];
    designHalf(engine, gains, sampleRate, half);
    for (int32_t n = 0; n <= kCentre; ++n) {
        taps[kCentre + n] = half[n];
        taps[kCentre - n] = half[n];
    }
}

FftConvolver* FftConvolverCreate() {
    FftConvolver* e = new (std::nothrow) FftConvolver();
    float* memory = e != nullptr ? new (std::nothrow) float[kTotalFloats] : nullptr;
    if (memory == nullptr || !RealFftReserve(N)) {
        delete[] memory;
        delete e;
        RealFft(0, 1, nullptr);
        return nullptr;
    }
    e->memory = memory;
    float* p = reinterpret_cast<float*>((reinterpret_cast<uintptr_t>(memory) + 63) & ~static_cast<uintptr_t>(63));
    for (int channel = 0; channel < 2; ++channel)
        for (int bank = 0; bank < 2; ++bank) {
            e->spectrumBanks[channel][bank] = p;
            p += kSpectrumFloats;
        }
    e->designBuffer = p;
    p += N;
    e->workBuffer = p;
    p += N;
    e->inputBlock = p;
    p += kInputFloats;
    e->overlapBuffer = p;
    // A spectrum of zeros until the first design: silence, never garbage.
    std::memset(e->spectrumBanks[0][0], 0, sizeof(float) * 4 * kSpectrumFloats);
    std::memset(e->inputBlock, 0, sizeof(float) * 2 * L);
    std::memset(e->overlapBuffer, 0, sizeof(float) * 2 * N);

    e->bankState.store(packBanks(1, 0));
    e->resetRequested.store(false);
    e->blockLength = L;
    e->fftLength = N;
    e->fill = 0;
    e->bandCount = kConvolverBandCount;
    std::memcpy(e->bandEdges, kBandEdges, sizeof kBandEdges);
    FillFactorialTable(e->factorialTable);
    e->beta = KaiserBeta(kDesignAttenuation);
    e->windowNorm = BesselI0(e->beta, e->factorialTable);
    for (int32_t n = 0; n <= kCentre; ++n) e->window[n] = KaiserWindow(n, e->beta, e->windowNorm, e->factorialTable);
    return e;
}

void FftConvolverDesign(FftConvolver* engine, const float gains0[kConvolverBandCount],
                        const float gains1[kConvolverBandCount], float sampleRate) {
    if (engine == nullptr || gains0 == nullptr || gains1 == nullptr) return;
    if (!(sampleRate > 0.0f) || !std::isfinite(sampleRate)) return;
    std::lock_guard<std::mutex> serial(engine->designMutex);

    // Claim the bank processing is not using: withdraw any publication of it
    // first, so that processing cannot switch to it while it is rewritten.
    uint32_t state = engine->bankState.load(std::memory_order_acquire);
    uint32_t active;
    do {
        active = activeOf(state);
    } while (!engine->bankState.compare_exchange_weak(state, packBanks(active, 0), std::memory_order_acq_rel,
                                                      std::memory_order_acquire));
    const uint32_t earlierPending = pendingOf(state);
    const uint32_t target = active == 1 ? 2 : 1;
    // Processing changes the state only while something is pending, so from
    // here on it stays (active, none) until we publish.

    float* buffer = engine->designBuffer;
    bool designed = designSpectrum(engine, gains0, sampleRate, buffer);
    if (designed) {
        std::memcpy(engine->spectrumBanks[0][target - 1], buffer, sizeof(float) * N);
        if (std::memcmp(gains0, gains1, sizeof(float) * kConvolverBandCount) != 0)
            designed = designSpectrum(engine, gains1, sampleRate, buffer);
        if (designed) std::memcpy(engine->spectrumBanks[1][target - 1], buffer, sizeof(float) * N);
    }
    // A failed transform (no memory for the tables) publishes nothing new.
    uint32_t publish = designed ? target : (earlierPending == target ? 0 : earlierPending);
    engine->bankState.store(packBanks(active, publish), std::memory_order_release);
}

int32_t FftConvolverProcess(FftConvolver* engine, int32_t channels, float* buffer, int32_t frames) {
    if (engine == nullptr || channels < 1 || channels > 2 || frames <= 0 || frames > INT32_MAX / 2 ||
        buffer == nullptr)
        return 0;
    FftConvolver* e = engine;
    applyReset(e);
    const uint32_t bank = switchToPending(e);
    const float* h0 = e->spectrumBanks[0][bank - 1];
    const float* h1 = e->spectrumBanks[1][bank - 1];

    int32_t consumed = 0;
    int32_t remaining = frames;
    while (e->fill + remaining >= L) {
        const int32_t take = L - e->fill;
        exchange(buffer + consumed * channels, e->inputBlock + e->fill * channels,
                 e->overlapBuffer + e->fill * channels, take * channels);
        std::memmove(e->overlapBuffer, e->overlapBuffer + L * channels, sizeof(float) * (N - L) * channels);
        consumed += take;
        remaining -= take;
        e->fill = 0;
        for (int32_t c = 0; c < channels; ++c) filterChannel(e, c, channels, c == 0 ? h0 : h1);
    }
    exchange(buffer + consumed * channels, e->inputBlock + e->fill * channels,
             e->overlapBuffer + e->fill * channels, remaining * channels);
    e->fill += remaining;
    return consumed + remaining;
}

void FftConvolverReset(FftConvolver* engine) {
    if (engine != nullptr) engine->resetRequested.store(true, std::memory_order_release);
}

void FftConvolverDestroy(FftConvolver* engine) {
    if (engine != nullptr) {
        delete[] engine->memory;
        delete engine;
    }
    RealFft(0, 1, nullptr);
}

int32_t FftConvolverActiveBank(const FftConvolver* engine) {
    if (engine == nullptr) return 0;
    return static_cast<int32_t>(activeOf(engine->bankState.load(std::memory_order_acquire)));
}

int32_t FftConvolverPendingBank(const FftConvolver* engine) {
    if (engine == nullptr) return 0;
    return static_cast<int32_t>(pendingOf(engine->bankState.load(std::memory_order_acquire)));
}
