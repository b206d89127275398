// ModifySamples: the one place where audio moves.
#include "host/pipeline.h"

#include "framework/dsp_services.h"
#include "framework/numeric.h"
#include "host/context.h"
#include "host/lifecycle.h"

namespace {

// 0.9999 in single precision (0x3f7ff972).
const float kOutputScale = 0.9999f;

struct PieceBuffers {
    int16_t piece[kPieceFrames * 2];
    int16_t low[kPieceFrames * 2];
    int16_t high[kPieceFrames * 2];
    float bass[kPieceFrames * 2];
    float main[kPieceFrames * 2];
    float out[kPieceFrames * 2];
};

int32_t runProcess(DspArray& c, int index, void* block) { return c.ports[index]->process(block); }

bool enabled(const DspArray& c, int word, int32_t value) { return c.enableFlags.words[word] == value; }

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
    int32_t n = runProcess(c, kAudioFilter, &filter);

    ToFloat(b.low, b.bass, n);
    ToFloat(b.high, b.main, n);

    // Read once per piece: the main stream is delayed on exactly the pieces
    // whose bass stream went through the FFT equaliser.
    const bool bassBoostRuns = enabled(c, kEnableBassBoost, kBassBoostEnableValue);
    if (bassBoostRuns) {
        BassBoostBlock& unit = c.bassBoost;
        unit.channels = 2;
        unit.sampleRate = sampleRate;
        unit.frames = n;
        unit.samples = b.bass;
        n = runProcess(c, kBassBoost, &unit);
    }
    if (enabled(c, kEnableEqBassBoost, 1)) {
        EqBassBoostBlock& unit = c.eqBassBoost;
        unit.channels = 2;
        unit.sampleRate = sampleRate;
        unit.frames = n;
        unit.samples = b.bass;
        n = runProcess(c, kEqBassBoost, &unit);
    }
    {
        RealSurroundBlock& unit = c.realSurround;
        unit.channels = 2;
        unit.frames = n;
        unit.samples = b.main;
        n = runProcess(c, kRealSurround, &unit);
    }
    {
        Surround3DBlock& unit = c.surround3D;
        unit.channels = 2;
        unit.frames = n;
        unit.samples = b.main;
        n = runProcess(c, kSurround3D, &unit);
    }
    if (enabled(c, kEnableDigitalReverb, 1)) {
        DigitalReverbBlock& unit = c.digitalReverb;
        unit.channels = 2;
        unit.sampleRate = sampleRate;
        unit.frames = n;
        unit.samples = b.main;
        n = runProcess(c, kDigitalReverb, &unit);
    }
    if (bassBoostRuns) BassBoostAlignMain(&c.bassBoost, b.main, n);
    {
        StreamCombinationBlock& unit = c.streamCombination;
        unit.channels = 2;
        unit.frames = n;
        unit.bassSamples = b.bass;
        unit.mainSamples = b.main;
        unit.outSamples = b.out;
        n = runProcess(c, kStreamCombination, &unit);
    }
    if (enabled(c, kEnableFieldRotation, 1)) {
        FieldRotationBlock& unit = c.fieldRotation;
        unit.frames = n;
        unit.samples = b.out;
        n = runProcess(c, kFieldRotation, &unit);
    }
    for (int32_t i = 0; i < n * 2; ++i) b.out[i] = b.out[i] * kOutputScale;
    {
        AudioGainBlock& unit = c.audioGain;
        unit.frames = n;
        unit.samples = b.out;
        n = runProcess(c, kAudioGain, &unit);
    }
    if (enabled(c, kEnableHardLimiter, 1)) {
        HardLimiterBlock& unit = c.hardLimiter;
        unit.channels = 2;
        unit.frames = n;
        unit.samples = b.out;
        n = runProcess(c, kHardLimiter, &unit);
    }
    {
        DynamicLimiterBlock& unit = c.dynamicLimiter;
        unit.channels = 2;
        unit.frames = n;
        unit.samples = b.out;
        n = runProcess(c, kDynamicLimiter, &unit);
    }
    // A unit never produces more than it was given; guard the copy anyway.
    if (n < 0) n = 0;
    if (n > k) n = k;
    ToShort(b.out, b.piece, n);
    services->copy(destination, b.piece, n * 4);
    return n;
}

}  // namespace

void ToFloat(const int16_t* source, float* destination, int32_t frames) {
    for (int32_t i = 0; i < frames * 2; ++i) destination[i] = static_cast<float>(source[i]);
}

void ToShort(const float* source, int16_t* destination, int32_t frames) {
    for (int32_t i = 0; i < frames * 2; ++i)
        destination[i] = static_cast<int16_t>(truncClamp(source[i], -32768, 32767, 0));
}

void MeasurePeaks(const int16_t* source, int32_t frames, int32_t* leftPeak, int32_t* rightPeak) {
    int32_t left = 0;
    int32_t right = 0;
    for (int32_t i = 0; i < frames; ++i) {
        int32_t l = source[2 * i];
        int32_t r = source[2 * i + 1];
        if (l < 0) l = -l;
        if (r < 0) r = -r;
        if (l > left) left = l;
        if (r > right) right = r;
    }
    *leftPeak = left;
    *rightPeak = right;
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
        total += processPiece(c, buffers, samples + 2 * start, samples + 2 * total, k, sampleRate);
    }

    int32_t leftPeak;
    int32_t rightPeak;
    MeasurePeaks(samples, total, &leftPeak, &rightPeak);
    c.meterLeft = nextMeterValue(c.meterLeft, leftPeak);
    c.meterRight = nextMeterValue(c.meterRight, rightPeak);
    return total;
}
