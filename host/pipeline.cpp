// ModifySamples: the one place where audio moves.
#include "host/pipeline.h"

#include <emmintrin.h>

#include "framework/dsp_services.h"
#include "framework/numeric.h"
#include "host/context.h"
#include "host/lifecycle.h"

namespace {

// 0.9999 in single precision (0x3f7ff972).
const float kOutputScale = 0.9999f;

// count samples times kOutputScale, each product rounded to float.
void scaleOutput(float* samples, int32_t count) {
    const __m128 scale = _mm_set1_ps(kOutputScale);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) _mm_storeu_ps(samples + i, _mm_mul_ps(_mm_loadu_ps(samples + i), scale));
    for (; i < count; ++i) samples[i] = samples[i] * kOutputScale;
}

struct PieceBuffers {
    int16_t piece[kPieceFrames * 2];
    int16_t low[kPieceFrames * 2];
    int16_t high[kPieceFrames * 2];
    float bass[kPieceFrames * 2];
    float main[kPieceFrames * 2];
    float out[kPieceFrames * 2];
};

bool enabled(const DspArray& c, int word, int32_t value) { return c.enableFlags.words[word] == value; }

// What an in-place stage is given besides its frame count and buffer.
enum class Given { framesOnly, channels, channelsAndRate };

// Fills a unit's input/output fields and runs its port's process entry on a
// stream in place; returns the frames it leaves.
template <typename Block>
int32_t runInPlace(DspArray& c, int index, Block& unit, float* samples, int32_t n, Given given,
                   int32_t sampleRate) {
    if (given != Given::framesOnly) unit.channels = 2;
    if (given == Given::channelsAndRate) unit.sampleRate = sampleRate;
    unit.frames = n;
    unit.samples = samples;
    return c.ports[index]->process(&unit);
}

// Runs one piece of k frames through the chain; writes the produced frames to
// `destination` and returns how many there are.
int32_t processPiece(DspArray& c, PieceBuffers& b, const int16_t* source, int16_t* destination, int32_t k,
                     int32_t sampleRate) {
    DspServices* services = c.services;
    services->copy(b.piece, source, k * 4);

    AudioFilterBlock& filter = c.audioFilter;
    filter.channels = 2;
    filter.sampleRate = sampleRate;
    filter.frames = k;
    filter.input = b.piece;
    filter.lowOutput = b.low;
    filter.highOutput = b.high;
    int32_t n = c.ports[kAudioFilter]->process(&filter);

    ToFloat(b.low, b.bass, n);
    ToFloat(b.high, b.main, n);

    const int32_t rate = sampleRate;
    // Read once per piece: the main stream is delayed on exactly the pieces
    // whose bass stream went through the FFT equaliser.
    const bool bassBoostRuns = enabled(c, kEnableBassBoost, kBassBoostEnableValue);
    if (bassBoostRuns) n = runInPlace(c, kBassBoost, c.bassBoost, b.bass, n, Given::channelsAndRate, rate);
    if (enabled(c, kEnableEqBassBoost, 1))
        n = runInPlace(c, kEqBassBoost, c.eqBassBoost, b.bass, n, Given::channelsAndRate, rate);
    n = runInPlace(c, kRealSurround, c.realSurround, b.main, n, Given::channels, rate);
    n = runInPlace(c, kSurround3D, c.surround3D, b.main, n, Given::channels, rate);
    if (enabled(c, kEnableDigitalReverb, 1))
        n = runInPlace(c, kDigitalReverb, c.digitalReverb, b.main, n, Given::channelsAndRate, rate);
    if (bassBoostRuns) BassBoostAlignMain(&c.bassBoost, b.main, n);

    StreamCombinationBlock& mix = c.streamCombination;
    mix.channels = 2;
    mix.frames = n;
    mix.bassSamples = b.bass;
    mix.mainSamples = b.main;
    mix.outSamples = b.out;
    n = c.ports[kStreamCombination]->process(&mix);

    if (enabled(c, kEnableFieldRotation, 1))
        n = runInPlace(c, kFieldRotation, c.fieldRotation, b.out, n, Given::framesOnly, rate);
    scaleOutput(b.out, n * 2);
    n = runInPlace(c, kAudioGain, c.audioGain, b.out, n, Given::framesOnly, rate);
    if (enabled(c, kEnableHardLimiter, 1))
        n = runInPlace(c, kHardLimiter, c.hardLimiter, b.out, n, Given::channels, rate);
    n = runInPlace(c, kDynamicLimiter, c.dynamicLimiter, b.out, n, Given::channels, rate);
    // A unit never produces more than it was given; guard the copy anyway.
    if (n < 0) n = 0;
    if (n > k) n = k;
    ToShort(b.out, b.piece, n);
    services->copy(destination, b.piece, n * 4);
    return n;
}

}  // namespace

void ToFloat(const int16_t* source, float* destination, int32_t frames) {
    const int32_t count = frames * 2;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        // Each 16-bit sample in the high half of a 32-bit lane, shifted down with its sign.
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(words, words), 16);
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(words, words), 16);
        _mm_storeu_ps(destination + i, _mm_cvtepi32_ps(lo));
        _mm_storeu_ps(destination + i + 4, _mm_cvtepi32_ps(hi));
    }
    for (; i < count; ++i) destination[i] = static_cast<float>(source[i]);
}

void ToShort(const float* source, int16_t* destination, int32_t frames) {
    const int32_t count = frames * 2;
    // truncClamp to the 16-bit range: clamp first (maxps and minps return
    // their second operand, the sample, when it is NaN), truncate, zero the
    // NaN lanes, pack.
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i words[2];
        for (int half = 0; half < 2; ++half) {
            const __m128 x = _mm_loadu_ps(source + i + 4 * half);
            const __m128 clamped = _mm_min_ps(high, _mm_max_ps(low, x));
            words[half] = _mm_and_si128(_mm_cvttps_epi32(clamped), _mm_castps_si128(_mm_cmpord_ps(x, x)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), _mm_packs_epi32(words[0], words[1]));
    }
    for (; i < count; ++i) destination[i] = static_cast<int16_t>(truncClamp(source[i], -32768, 32767, 0));
}

void MeasurePeaks(const int16_t* source, int32_t frames, int32_t* leftPeak, int32_t* rightPeak) {
    // The largest and smallest sample of each channel (even lanes left, odd
    // lanes right); the peak magnitude is the larger of the largest and the
    // negated smallest, taken in 32 bits so that -32768 gives 32768.
    __m128i largest = _mm_setzero_si128();
    __m128i smallest = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * i));
        largest = _mm_max_epi16(largest, words);
        smallest = _mm_min_epi16(smallest, words);
    }
    alignas(16) int16_t most[8];
    alignas(16) int16_t least[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(most), largest);
    _mm_store_si128(reinterpret_cast<__m128i*>(least), smallest);
    int32_t peaks[2] = {0, 0};
    for (int lane = 0; lane < 8; ++lane) {
        const int32_t magnitude = most[lane] > -least[lane] ? most[lane] : -least[lane];
        if (magnitude > peaks[lane % 2]) peaks[lane % 2] = magnitude;
    }
    for (; i < frames; ++i) {
        for (int channel = 0; channel < 2; ++channel) {
            int32_t v = source[2 * i + channel];
            if (v < 0) v = -v;
            if (v > peaks[channel]) peaks[channel] = v;
        }
    }
    *leftPeak = peaks[0];
    *rightPeak = peaks[1];
}

int32_t nextMeterValue(int32_t meter, int32_t peak) {
    if (peak > meter)
        meter = peak;
    else if (peak < meter)
        meter -= kMeterDecay;
    return meter < 0 ? 0 : meter;
}

int32_t BRIMWELL_CDECL ModifySamples(winampDSPModule*, int16_t* samples, int32_t frames, int32_t bitsPerSample,
                                     int32_t channels, int32_t sampleRate) {
    // Unsupported formats and nonsense from the host pass through untouched.
    if (bitsPerSample != 16 || channels != 2 || samples == nullptr || frames < 0 || sampleRate <= 0) return frames;

    PlaybackLock lock(contextGuard());
    DspArray* context = dspContext;
    if (context == nullptr || context->initialised == 0 || context->powerOn == 0) return frames;
    DspArray& c = *context;

    PieceBuffers buffers;
    int32_t pieces = frames < kPieceFrames ? 1 : frames / kPieceFrames + (frames % kPieceFrames != 0 ? 1 : 0);
    int32_t total = 0;
    for (int32_t p = 0; p < pieces; ++p) {
        int32_t start = p * kPieceFrames;
        int32_t k = frames - start < kPieceFrames ? frames - start : kPieceFrames;
        // Produced frames always form one run from the start of the block.
        total += processPiece(c, buffers, samples + 2 * static_cast<ptrdiff_t>(start),
                              samples + 2 * static_cast<ptrdiff_t>(total), k, sampleRate);
    }

    int32_t leftPeak;
    int32_t rightPeak;
    MeasurePeaks(samples, total, &leftPeak, &rightPeak);
    c.meterLeft = nextMeterValue(c.meterLeft, leftPeak);
    c.meterRight = nextMeterValue(c.meterRight, rightPeak);
    return total;
}
